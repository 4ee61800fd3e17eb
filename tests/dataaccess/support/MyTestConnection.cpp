#include "MyTestConnection.h"

#include "dataaccess/mysql/MyClasses.h"
#include "support/TestServer.h"

namespace calvoro::test {

std::unique_ptr<dac::TMyConnection> NewConnection(bool useUnicode, const QString& database) {
    const ServerConfig& s = Server();
    auto c = std::make_unique<dac::TMyConnection>();
    c->SetLoginPrompt(false);
    c->SetServer(QString::fromStdString(s.Host));
    c->SetPort(s.Port);
    c->SetUsername(QString::fromStdString(s.NativeUser));
    c->SetPassword(QString::fromStdString(s.NativePassword));
    c->SetDatabase(database);
    c->MyOptions().SetUseUnicode(useUnicode);
    return c;
}

std::unique_ptr<dac::TMyConnection> ByteConnection(const QString& database) {
    auto c = NewConnection(false, database);
    c->MyOptions().SetCharset(QStringLiteral("utf8mb4"));
    c->Connect();
    return c;
}

std::vector<std::vector<std::optional<QString>>> AllRows(dac::TCustomMyConnection& connection, const QString& sql) {
    connection.Connect();
    dac::TMySQLConnection* driver = connection.MySQLConnection();
    protocol::TMySQLAPI& api = driver->API();
    protocol::PMYSQL_CON handle = driver->Handle();
    const QByteArray text = driver->Encode(sql);
    driver->Check(api.mysql_real_query(handle, text.constData(), size_t(text.size())));
    protocol::PMYSQL_RES result = api.mysql_use_result(handle);
    driver->Check(result);
    std::vector<std::vector<std::optional<QString>>> rows;
    while (protocol::PMYSQL_ROW r = api.mysql_fetch_row(result)) {
        auto& row = rows.emplace_back();
        for (unsigned i = 0; i < api.mysql_num_fields(result); ++i) {
            if (api._mysql_fetch_value_is_null(r, i))
                row.emplace_back();
            else
                row.emplace_back(driver->Decode(api._mysql_fetch_value_str(r, i)));
        }
    }
    api.mysql_free_result(result);
    driver->Check();
    return rows;
}

std::vector<std::optional<QString>> FirstRow(dac::TCustomMyConnection& connection, const QString& sql) {
    auto rows = AllRows(connection, sql);
    return rows.empty() ? std::vector<std::optional<QString>>() : rows.front();
}

QString RowsText(dac::TCustomMyConnection& connection, const QString& sql) {
    QStringList rows;
    for (const auto& row : AllRows(connection, sql)) {
        QStringList values;
        for (const auto& value : row) values << value.value_or(QStringLiteral("NULL"));
        rows << values.join(u',');
    }
    return rows.join(u'|');
}

std::optional<QString> FirstValue(dac::TCustomMyConnection& connection, const QString& sql) {
    auto row = FirstRow(connection, sql);
    return row.empty() ? std::nullopt : row.front();
}

int64_t SessionStatus(dac::TCustomMyConnection& connection, const QString& name) {
    auto row = FirstRow(connection, QStringLiteral("SHOW SESSION STATUS LIKE '%1'").arg(name));
    return row.size() == 2 && row[1] ? row[1]->toLongLong() : -1;
}

}  // namespace calvoro::test
