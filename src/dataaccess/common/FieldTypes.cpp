#include "FieldTypes.h"

namespace calvoro::dac {

TDataType FieldTypeToDataType(TFieldType type) {
    switch (type) {
        case ftString: case ftFixedChar: return dtString;
        case ftShortint: return dtInt8;
        case ftSmallint: case ftByte: return dtSmallint;
        case ftInteger: case ftAutoInc: return dtInteger;
        case ftWord: return dtWord;
        case ftLongWord: return dtUInt32;
        case ftLargeint: return dtLargeint;
        case ftBoolean: return dtBoolean;
        case ftFloat: case ftExtended: case ftSingle: return dtFloat;
        case ftCurrency: return dtCurrency;
        case ftBCD: return dtBCD;
        case ftFMTBcd: return dtFMTBCD;
        case ftDate: return dtDate;
        case ftTime: return dtTime;
        case ftDateTime: return dtDateTime;
        case ftBytes: return dtBytes;
        case ftVarBytes: return dtVarBytes;
        case ftBlob: return dtBlob;
        case ftMemo: return dtMemo;
        case ftWideString: case ftFixedWideChar: return dtWideString;
        case ftWideMemo: return dtWideMemo;
        case ftGuid: return dtGuid;
        case ftVariant: return dtVariant;
        case ftCursor: return dtCursor;
        case ftADT: return dtObject;
        case ftArray: return dtArray;
        case ftReference: return dtReference;
        case ftDataSet: return dtTable;
        default: return dtUnknown;
    }
}

TFieldType DataTypeToFieldType(TDataType type) {
    switch (type) {
        case dtString: return ftString;
        case dtInt8: return ftShortint;
        case dtSmallint: return ftSmallint;
        case dtInteger: return ftInteger;
        case dtWord: return ftWord;
        case dtUInt32: return ftLongWord;
        case dtLargeint: return ftLargeint;
        case dtBoolean: return ftBoolean;
        case dtFloat: return ftFloat;
        case dtCurrency: return ftCurrency;
        case dtBCD: return ftBCD;
        case dtFMTBCD: return ftFMTBcd;
        case dtDate: return ftDate;
        case dtTime: return ftTime;
        case dtDateTime: return ftDateTime;
        case dtBytes: return ftBytes;
        case dtVarBytes: return ftVarBytes;
        case dtBlob: return ftBlob;
        case dtMemo: return ftMemo;
        case dtWideString: return ftWideString;
        case dtWideMemo: return ftWideMemo;
        case dtGuid: return ftGuid;
        case dtVariant: return ftVariant;
        case dtCursor: return ftCursor;
        case dtObject: return ftADT;
        case dtArray: return ftArray;
        case dtReference: return ftReference;
        case dtTable: return ftDataSet;
        default: return ftUnknown;
    }
}

}  // namespace calvoro::dac
