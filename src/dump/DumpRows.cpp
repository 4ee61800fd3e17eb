#include "DumpRows.h"

#include "ByteOutput.h"

#include "common/ScopeGuard.h"

namespace calvoro::dump {

namespace p = protocol;

TDumpRows::TDumpRows(dac::TMySQLConnection& c, p::PMYSQL_RES res) : FConnection(c), FApi(c.API()), FRes(res) {
    const unsigned n = FApi.mysql_num_fields(res);
    FFields.reserve(n);
    for (unsigned i = 0; i < n; ++i) FFields.push_back(FApi._mysql_fetch_field_direct(res, i, c.UseUnicode()));
}

bool TDumpRows::Next() {
    FRow = FApi._mysql_fetch_row(FRes);
    if (!FRow) {
        FConnection.Check();  // a failure while reading is not the end of the rows
        return false;
    }
    FApi._mysql_fetch_lengths(FRes, FLengths);
    return true;
}

void QueryRows(dac::TMySQLConnection& c, const QString& sql, const std::function<void(TDumpRows&)>& row,
               const std::function<void(TDumpRows&)>& columns, dac::TComponent* component) {
    p::TMySQLAPI& api = c.API();
    const QByteArray text = c.Encode(sql);
    c.Check(api.mysql_real_query(c.Handle(), text.constData(), size_t(text.size())), component);
    if (api.mysql_field_count(c.Handle()) == 0) return;
    p::PMYSQL_RES res = api.mysql_use_result(c.Handle());
    c.Check(res, component);
    ScopeExit free([&] { api.mysql_free_result(res); });
    TDumpRows rows(c, res);
    if (columns) columns(rows);
    while (rows.Next())
        if (row) row(rows);
}

std::vector<TValueKind> RowValueKinds(const TDumpRows& rows, const std::vector<bool>& isFloat) {
    std::vector<TValueKind> kinds;
    for (int i = 0; i < rows.FieldCount(); ++i)
        kinds.push_back(ValueKindOf(rows.Field(i), size_t(i) < isFloat.size() && isFloat[size_t(i)]));
    return kinds;
}

void AppendRowLiteral(QByteArray& out, const TDumpRows& rows, const std::vector<TValueKind>& kinds, bool hexBlob) {
    AppendBytes(out, "  (", 3);
    for (int i = 0; i < rows.FieldCount(); ++i) {
        if (i > 0) AppendBytes(out, ", ", 2);
        if (rows.IsNull(i))
            AppendBytes(out, "NULL", 4);
        else
            AppendDumpValue(out, kinds[size_t(i)], rows.Value(i), hexBlob);
    }
    AppendBytes(out, ")", 1);
}

}  // namespace calvoro::dump
