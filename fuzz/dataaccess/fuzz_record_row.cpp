// The record set's row conversion on arbitrary rows: a fixed set of columns (one of every
// conversion), the input's first byte choosing the protocol and the options, the rest a row
// packet. Decoding and converting end, raising at most the documented errors of malformed
// packets and values; what converts reads back, and text that went into an out-of-line
// UTF-16 field comes back as the very bytes that arrived.
#include "FuzzCheck.h"
#include "dataaccess/mysql/MyRecordset.h"
#include "dataaccess/mysql/MySqlValues.h"
#include "dataaccess/support/MyColumns.h"
#include "protocol/MySqlErrors.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using namespace calvoro;
using namespace calvoro::dac;
using namespace calvoro::protocol;
using calvoro::fuzz::Check;

namespace {

TMYSQL_FIELD Column(TMySqlFieldType type, uint32_t length, uint32_t flags, int32_t charset, uint32_t decimals = 0) {
    return calvoro::test::MyColumn(type, length, flags, charset, decimals,
                                   "c" + std::to_string(int(type)) + "_" + std::to_string(length));
}

const std::vector<TMYSQL_FIELD>& Columns() {
    static const std::vector<TMYSQL_FIELD> columns = {
        Column(FIELD_TYPE_TINY, 1, 0, 63),
        Column(FIELD_TYPE_LONG, 11, 0, 63),
        Column(FIELD_TYPE_LONGLONG, 20, UNSIGNED_FLAG, 63),
        Column(FIELD_TYPE_DOUBLE, 22, 0, 63, 31),
        Column(FIELD_TYPE_FLOAT, 12, 0, 63, 31),
        Column(FIELD_TYPE_NEWDECIMAL, 12, 0, 63, 2),
        Column(FIELD_TYPE_DATE, 10, 0, 63),
        Column(FIELD_TYPE_DATETIME, 26, 0, 63, 6),
        Column(FIELD_TYPE_TIMESTAMP, 19, 0, 63),
        Column(FIELD_TYPE_TIME, 14, 0, 63, 3),
        Column(FIELD_TYPE_YEAR, 4, UNSIGNED_FLAG, 63),
        Column(FIELD_TYPE_VAR_STRING, 20, 0, 45),
        Column(FIELD_TYPE_VAR_STRING, 400, 0, 45),
        Column(FIELD_TYPE_STRING, 4, BINARY_FLAG, 63),
        Column(FIELD_TYPE_BLOB, 65535, BINARY_FLAG | BLOB_FLAG, 63),
        Column(FIELD_TYPE_BLOB, 65535, BLOB_FLAG, 45),
        Column(FIELD_TYPE_BIT, 12, UNSIGNED_FLAG, 63),
    };
    return columns;
}

class Recordset : public TMySQLRecordset {
public:
    Recordset(uint8_t options) {
        TConnectionValues values;
        values.UseUnicode = options & 2;
        values.Utf8mb4 = values.UseUnicode;
        SetConnectionValues(values);
        FFieldsAsString = options & 4;
        FNullForZeroDate = !(options & 8);
    }

protected:
    void CreateFieldDescs() override { DescribeColumns(Columns(), QStringLiteral("SELECT * FROM t")); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    const bool binary = options & 1;
    Recordset rs(options);
    rs.InitFields();
    const std::vector<TMYSQL_FIELD>& columns = Columns();
    const size_t n = columns.size();

    // The row packet as it would sit in the session's buffer: an exact copy.
    std::vector<uint8_t> packet(data + 1, data + size);
    TMySqlBinds row(n);
    row.Buffer = packet.data();
    try {
        if (binary) {
            std::vector<TMySqlFieldInfo> infos(n);
            for (size_t i = 0; i < n; ++i) infos[i]._Type = columns[i]._type;
            DecodeBinaryRow(packet.data(), packet.size(), infos.data(), row.Binds.data(), n);
        } else {
            DecodeTextRow(packet.data(), packet.size(), row.Binds.data(), n);
        }
    } catch (const EMySqlException&) {
        return 0;  // a malformed packet: refused before any value is looked at
    }

    const TRecBufOwner recordOwner = rs.AllocRecBuf();
    TRecBuf record = recordOwner.get();
    std::memset(record, 0, rs.RecordSize());
    bool converted = true;
    try {
        rs.ConvertRow(row, binary, record);
    } catch (const calvoro::Exception&) {
        converted = false;  // a malformed value: the documented errors of the conversions
    }
    if (converted) {
        for (int i = 1; i <= rs.FieldCount(); ++i) {
            const auto& f = static_cast<const TMySQLFieldDesc&>(rs.Field(i));
            const Variant v = rs.GetFieldAsVariant(i, record);
            const TMySqlBind& b = row.Binds[f.FActualFieldNo];
            if (b.IsNull) {
                Check(v.IsNull());
                continue;
            }
            // Only a date that is not valid reads as NULL.
            Check(!v.IsNull() || f.FDataType == dtDate || f.FDataType == dtDateTime);
            const QByteArray raw(reinterpret_cast<const char*>(packet.data() + b.Offset), b.Length);
            const bool stringColumn = f.FMySQLType == FIELD_TYPE_VAR_STRING || f.FMySQLType == FIELD_TYPE_STRING;
            if (f.FDataType == dtExtWideString || f.FDataType == dtWideMemo) {
                Check(v.AsString().toUtf8() == raw);  // valid UTF-8 came in whole and goes out unchanged
            } else if (f.FDataType == dtBlob || f.FDataType == dtMemo) {
                Check(rs.GetBlob(f, record)->AsBytes() == raw);
            } else if (f.FDataType == dtExtString && stringColumn) {
                const QByteArrayView kept = rs.GetFieldBytes(f, record);
                Check(QByteArray(kept.data(), kept.size()) == raw);
            }
        }
    }
    rs.FreeComplexFields(record, true);
    return 0;
}
