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

// The data type a parameter of this field type carries (dtUnknown for types without one).
TDataType FieldTypeToDataType(TFieldType type);
// The field type a parameter of this data type is given back (the first one mapping to it).
TFieldType DataTypeToFieldType(TDataType type);

}  // namespace calvoro::dac
