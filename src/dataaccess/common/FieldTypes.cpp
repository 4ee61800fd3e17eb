#include "FieldTypes.h"

namespace calvoro::dac {

namespace {

struct TTypePair {
    TDataType Data;
    TFieldType Field;
};

// Every record-store data type and the field type it shows as, for field objects, the grid
// and parameters alike. A kind the framework's fields lack shows as the field kind that holds
// all its values (TINYINT as a 16-bit, INT UNSIGNED as a 64-bit integer), and the extended
// types, the same values held out of line, as their base type. Where rows share a field type,
// the first gives the data type back.
constexpr TTypePair TypeTable[] = {
    {dtString, ftString},         {dtExtString, ftString},      {dtSmallint, ftSmallint},
    {dtInt8, ftSmallint},         {dtInteger, ftInteger},       {dtWord, ftWord},
    {dtLargeint, ftLargeint},     {dtUInt32, ftLargeint},       {dtBoolean, ftBoolean},
    {dtFloat, ftFloat},           {dtCurrency, ftCurrency},     {dtBCD, ftBCD},
    {dtFMTBCD, ftFMTBcd},         {dtDate, ftDate},             {dtTime, ftTime},
    {dtDateTime, ftDateTime},     {dtBytes, ftBytes},           {dtVarBytes, ftVarBytes},
    {dtExtVarBytes, ftVarBytes},  {dtBlob, ftBlob},             {dtMemo, ftMemo},
    {dtWideString, ftWideString}, {dtExtWideString, ftWideString}, {dtWideMemo, ftWideMemo},
    {dtGuid, ftGuid},             {dtVariant, ftVariant},       {dtCursor, ftCursor},
    {dtObject, ftADT},            {dtArray, ftArray},           {dtReference, ftReference},
    {dtTable, ftDataSet},
};

// Field types no data type shows as (parameters may carry them), held as their data type.
constexpr TTypePair FieldTypeAliases[] = {
    {dtString, ftFixedChar}, {dtWideString, ftFixedWideChar}, {dtInt8, ftShortint}, {dtSmallint, ftByte},
    {dtUInt32, ftLongWord},  {dtInteger, ftAutoInc},           {dtFloat, ftExtended}, {dtFloat, ftSingle},
};

}  // namespace

TDataType FieldTypeToDataType(TFieldType type) {
    for (const TTypePair& p : TypeTable)
        if (p.Field == type) return p.Data;
    for (const TTypePair& p : FieldTypeAliases)
        if (p.Field == type) return p.Data;
    return dtUnknown;
}

TFieldType DataTypeToFieldType(TDataType type) {
    for (const TTypePair& p : TypeTable)
        if (p.Data == type) return p.Field;
    return ftUnknown;
}

}  // namespace calvoro::dac
