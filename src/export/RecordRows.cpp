#include "RecordRows.h"

#include "dataaccess/common/MemBlob.h"
#include "dataaccess/common/MemDS.h"
#include "dataaccess/mysql/MySqlValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace calvoro::exporting {

using namespace dac;
using namespace protocol;

namespace {

bool IsBinaryDataType(TDataType t) { return t == dtBlob || t == dtBytes || t == dtVarBytes || t == dtExtVarBytes; }

// The kind from the record layout alone, for fields that carry no MySQL type.
TExportKind KindOfDataType(const TFieldDesc& f) {
    switch (f.FDataType) {
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint: case dtBoolean:
            return TExportKind::Integer;
        case dtFMTBCD: case dtBCD: case dtCurrency: return TExportKind::Decimal;
        case dtFloat: return TExportKind::Float;
        case dtDate: case dtTime: case dtDateTime: return TExportKind::Temporal;
        default: return f.FBinaryData || IsBinaryDataType(f.FDataType) ? TExportKind::Binary : TExportKind::Text;
    }
}

void PutNumber(QByteArray& out, auto value) {
    char digits[32];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
}

// The shortest text of a float or double with its exponent as the server writes it: "1e300",
// "-1.5e-7" rather than "1e+300", "-1.5e-07".
void PutFloat(QByteArray& out, auto value) {
    char text[40];
    char* end = std::to_chars(text, text + sizeof text, value).ptr;
    char* e = std::find(text, end, 'e');
    if (e == end) {
        out.append(text, end - text);
        return;
    }
    out.append(text, e + 1 - text);
    const char* digits = e + 1;
    if (*digits == '-') out += *digits++;
    else if (*digits == '+') ++digits;
    while (digits + 1 < end && *digits == '0') ++digits;
    out.append(digits, end - digits);
}

// A date or time of the record in the server's text form: through the binary protocol's
// layout, whose text the layer makes as the server would.
std::string TemporalText(const TMySQLFieldDesc* my, TDataType dataType, TDateTime value) {
    uint8_t v[12] = {};
    const unsigned decimals = my ? my->FDecimals : 3;
    if (dataType == dtTime) {
        const Duration d = DecodeDuration(value);
        v[0] = d.Negative ? 1 : 0;
        const uint32_t days = uint32_t(d.Hours / 24);
        v[1] = uint8_t(days), v[2] = uint8_t(days >> 8), v[3] = uint8_t(days >> 16), v[4] = uint8_t(days >> 24);
        v[5] = uint8_t(d.Hours % 24), v[6] = uint8_t(d.Minutes), v[7] = uint8_t(d.Seconds);
        const uint32_t micro = uint32_t(d.MSecs) * 1000;
        v[8] = uint8_t(micro), v[9] = uint8_t(micro >> 8), v[10] = uint8_t(micro >> 16), v[11] = uint8_t(micro >> 24);
        return MySqlBinaryTemporalToText(FIELD_TYPE_TIME, decimals, v, 12);
    }
    CalendarDate date;
    TimeOfDay time;
    DecodeDateTime(value, date, time);
    v[0] = uint8_t(date.Year), v[1] = uint8_t(date.Year >> 8), v[2] = uint8_t(date.Month), v[3] = uint8_t(date.Day);
    v[4] = uint8_t(time.Hour), v[5] = uint8_t(time.Minute), v[6] = uint8_t(time.Second);
    const uint32_t micro = uint32_t(time.MSec) * 1000;
    v[7] = uint8_t(micro), v[8] = uint8_t(micro >> 8), v[9] = uint8_t(micro >> 16), v[10] = uint8_t(micro >> 24);
    const TMySqlFieldType type = my ? my->FMySQLType : TMySqlFieldType(dataType == dtDate ? FIELD_TYPE_DATE : FIELD_TYPE_DATETIME);
    return MySqlBinaryTemporalToText(type, decimals, v, 11);
}

}  // namespace

TExportKind ExportKindOf(const TFieldDesc& field) {
    const auto* my = dynamic_cast<const TMySQLFieldDesc*>(&field);
    if (!my) return KindOfDataType(field);
    switch (my->FMySQLType) {
        case FIELD_TYPE_TINY: case FIELD_TYPE_SHORT: case FIELD_TYPE_LONG: case FIELD_TYPE_LONGLONG:
        case FIELD_TYPE_INT24: case FIELD_TYPE_YEAR:
            return TExportKind::Integer;
        case FIELD_TYPE_DECIMAL: case FIELD_TYPE_NEWDECIMAL: return TExportKind::Decimal;
        case FIELD_TYPE_FLOAT: case FIELD_TYPE_DOUBLE: return TExportKind::Float;
        case FIELD_TYPE_BIT: return TExportKind::Bit;
        case FIELD_TYPE_DATE: case FIELD_TYPE_NEWDATE: case FIELD_TYPE_TIME: case FIELD_TYPE_DATETIME:
        case FIELD_TYPE_TIMESTAMP:
            return TExportKind::Temporal;
        case FIELD_TYPE_NULL: return TExportKind::Text;
        default:
            // Strings, BLOBs, ENUM, SET, JSON, GEOMETRY: bytes when of the binary character set.
            return my->FCharsetNr == 63 && my->FMySQLType != FIELD_TYPE_JSON ? TExportKind::Binary
                                                                             : TExportKind::Text;
    }
}

TRecordRowReader::TRecordRowReader(const TData& store) : FStore(store) {
    for (int i = 1; i <= store.FieldCount(); ++i) AddField(store.Field(i));
}

TRecordRowReader::TRecordRowReader(TMemDataSet& dataSet) : FStore(dataSet.Data()) {
    for (const auto& field : dataSet.Fields()) AddField(field->Desc());
}

void TRecordRowReader::AddField(const TFieldDesc& desc) {
    FFields.push_back(&desc);
    FColumns.push_back({desc.FName, ExportKindOf(desc)});
    FCells.emplace_back();
    FScratch.emplace_back();
}

TExportRow TRecordRowReader::Read(const uint8_t* record) {
    for (size_t i = 0; i < FFields.size(); ++i) {
        const TFieldDesc& f = *FFields[i];
        const auto* my = dynamic_cast<const TMySQLFieldDesc*>(&f);
        TExportCell& cell = FCells[i];
        QByteArray& scratch = FScratch[i];
        cell.Null = FStore.GetNull(f.FFieldNo, record);
        cell.Bytes = {};
        if (cell.Null) continue;
        scratch.clear();
        switch (f.FDataType) {
            case dtString: case dtExtString: case dtBytes: case dtVarBytes: case dtExtVarBytes: case dtFMTBCD:
            case dtGuid: {
                const QByteArrayView bytes = FStore.GetFieldBytes(f, record);
                if (my && my->FMySQLType == FIELD_TYPE_BIT) {
                    // BIT read as bytes: the number they make, big-endian.
                    PutNumber(scratch, MySqlBitsToUInt(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                       size_t(bytes.size())));
                    break;
                }
                cell.Bytes = bytes;
                continue;
            }
            case dtWideString: case dtExtWideString: {
                scratch = FStore.GetFieldWide(f, record).toUtf8();
                break;
            }
            case dtBlob: case dtMemo:
                if (const TBlob* blob = FStore.GetBlob(f, record))
                    blob->ForEachPiece([&](std::span<const uint8_t> piece) {
                        scratch.append(reinterpret_cast<const char*>(piece.data()), qsizetype(piece.size()));
                    });
                break;
            case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint: case dtBoolean: {
                const int64_t v = FStore.GetFieldInt(f, record);
                if (my && my->FIsUnsigned && f.FDataType == dtLargeint) PutNumber(scratch, uint64_t(v));
                else PutNumber(scratch, v);
                break;
            }
            case dtFloat: {
                // The shortest text that reads back to the value held; a FLOAT column's
                // value is the float the double came from.
                const double v = FStore.GetFieldFloat(f, record);
                if (!std::isfinite(v)) scratch = FStore.GetFieldText(f.FFieldNo, record).toUtf8();
                else if (my && my->FMySQLType == FIELD_TYPE_FLOAT) PutFloat(scratch, float(v));
                else PutFloat(scratch, v);
                break;
            }
            case dtDate: case dtTime: case dtDateTime:
                scratch = QByteArray::fromStdString(TemporalText(my, f.FDataType, FStore.GetFieldFloat(f, record)));
                break;
            default:
                scratch = FStore.GetFieldText(f.FFieldNo, record).toUtf8();
        }
        cell.Bytes = scratch;
    }
    return FCells;
}

}  // namespace calvoro::exporting
