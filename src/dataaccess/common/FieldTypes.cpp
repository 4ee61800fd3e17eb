#include "FieldTypes.h"

namespace calvoro::dac {

namespace {

struct TTypePair {
    TDataType Data;
    TFieldType Field;
};

// Every record-store data type and the field type it shows as, for field objects, the grid
// and parameters alike. The extended types are the same values held out of line, so they
// show as their base type; where rows share a field type, the first gives the data type back.
constexpr TTypePair TypeTable[] = {
    {dtString, ftString},         {dtExtString, ftString},      {dtInt8, ftShortint},
    {dtSmallint, ftSmallint},     {dtInteger, ftInteger},       {dtWord, ftWord},
    {dtUInt32, ftLongWord},       {dtLargeint, ftLargeint},     {dtBoolean, ftBoolean},
    {dtFloat, ftFloat},           {dtCurrency, ftCurrency},     {dtBCD, ftBCD},
    {dtFMTBCD, ftFMTBcd},         {dtDate, ftDate},             {dtTime, ftTime},
    {dtDateTime, ftDateTime},     {dtBytes, ftBytes},           {dtVarBytes, ftVarBytes},
    {dtExtVarBytes, ftVarBytes},  {dtBlob, ftBlob},             {dtMemo, ftMemo},
    {dtWideString, ftWideString}, {dtExtWideString, ftWideString}, {dtWideMemo, ftWideMemo},
    {dtGuid, ftGuid},             {dtVariant, ftVariant},       {dtCursor, ftCursor},
    {dtObject, ftADT},            {dtArray, ftArray},           {dtReference, ftReference},
    {dtTable, ftDataSet},
};

// Field types no data type shows as, carried as the nearest data type.
constexpr TTypePair FieldTypeAliases[] = {
    {dtString, ftFixedChar}, {dtWideString, ftFixedWideChar}, {dtSmallint, ftByte},
    {dtInteger, ftAutoInc},  {dtFloat, ftExtended},           {dtFloat, ftSingle},
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
