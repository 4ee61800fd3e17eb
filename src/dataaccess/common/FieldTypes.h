#pragma once
// Field types of the data-set framework, in the framework's order (ranges such as
// ftSmallint..ftAutoInc depend on it), and their mapping to record-store data types.

#include "DataTypes.h"

namespace calvoro::dac {

enum TFieldType {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
    ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
    ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
    ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
    ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd, ftFixedWideChar, ftWideMemo,
    ftOraTimeStamp, ftOraInterval, ftLongWord, ftShortint, ftByte, ftExtended, ftConnection,
    ftParams, ftStream, ftTimeStampOffset, ftObject, ftSingle,
};

// The one mapping between the two, for field objects, the grid and parameters alike.
// The data type a value of this field type is held as (dtUnknown for types without one).
TDataType FieldTypeToDataType(TFieldType type);
// The field type a value of this data type shows as (ftUnknown for dtUnknown and codes the
// store does not have). The round trip gives a data type that holds every value: dtSmallint
// for dtInt8, dtLargeint for dtUInt32, and the base type of an extended one (dtString for
// dtExtString, dtVarBytes for dtExtVarBytes, dtWideString for dtExtWideString).
TFieldType DataTypeToFieldType(TDataType type);

}  // namespace calvoro::dac
