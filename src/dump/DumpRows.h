#pragma once
// The rows of one text-protocol result, read straight from the client API as they arrive
// (mysql_use_result): the backup's reader of table rows, on any of its connections.

#include "MyDumpText.h"

#include "dataaccess/mysql/MyClasses.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <vector>

namespace calvoro::dump {

class TDumpRows {
public:
    TDumpRows(dac::TMySQLConnection& c, protocol::PMYSQL_RES res);
    int FieldCount() const { return int(FFields.size()); }
    const protocol::TMYSQL_FIELD& Field(int i) const { return FFields[size_t(i)]; }
    // The next row; false at the end.
    bool Next();
    bool IsNull(int i) const { return FApi._mysql_fetch_value_is_null(FRow, unsigned(i)); }
    QByteArrayView Value(int i) const {
        const uint8_t* data = FApi._mysql_fetch_value_ptr(FRes, FRow, unsigned(i));
        if (!data) return {};
        return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(FLengths[size_t(i)]));
    }
    QByteArray Bytes(int i) const { return Value(i).toByteArray(); }
    QString Text(int i) const { return FConnection.Decode(Bytes(i)); }

private:
    dac::TMySQLConnection& FConnection;
    protocol::TMySQLAPI& FApi;
    protocol::PMYSQL_RES FRes;
    protocol::PMYSQL_ROW FRow = nullptr;
    protocol::TLenArr FLengths;
    std::vector<protocol::TMYSQL_FIELD> FFields;
};

// Runs a statement on the connection and reads its rows through `row` (all of them are read
// when it is null); `columns` sees the result before the first row. The server's error is
// raised, for `component` when given.
void QueryRows(dac::TMySQLConnection& c, const QString& sql, const std::function<void(TDumpRows&)>& row,
               const std::function<void(TDumpRows&)>& columns = {}, dac::TComponent* component = nullptr);

// The kinds of the result's values; isFloat marks the columns read as the double of a FLOAT.
std::vector<TValueKind> RowValueKinds(const TDumpRows& rows, const std::vector<bool>& isFloat);

// The current row as the backup writes it in an INSERT: "  (" values separated by ", " ")".
void AppendRowLiteral(QByteArray& out, const TDumpRows& rows, const std::vector<TValueKind>& kinds, bool hexBlob);

}  // namespace calvoro::dump
