#include "MyAdminReaders.h"

#include "MyAccess.h"
#include "MyClasses.h"
#include "MyRecordset.h"
#include "MyServiceQuery.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace calvoro::dac {

int TTextResult::Column(const QString& name) const {
    for (qsizetype i = 0; i < Columns.size(); ++i)
        if (Columns[i].compare(name, Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

std::optional<QString> TTextResult::Value(size_t row, const QString& name) const {
    const int column = Column(name);
    if (column < 0 || row >= Rows.size()) return std::nullopt;
    return Rows[row][size_t(column)];
}

TTextResult ReadText(TCustomMyConnection& connection, const QString& sql) {
    TTextResult result;
    connection.WhileConnected([&] {
        // Every value as the server's text, all rows at once.
        TMyServiceQuery query(connection.GetIConnection(), &connection, connection.ConnectionTimeout());
        TMySQLRecordset& rs = query.RecordSet();
        rs.FFieldsAsString = true;
        query.SetRawSQL(sql);
        if (!query.Execute()) return;
        // The values come as the server's bytes: UTF-8 on a Unicode connection, else the
        // connection's 8-bit code page.
        const bool utf8 = connection.MyOptions().UseUnicode();
        for (int i = 1; i <= rs.FieldCount(); ++i) result.Columns << rs.Field(i).FName;
        query.ForEachRow([&](const uint8_t* record) {
            auto& row = result.Rows.emplace_back();
            for (int i = 1; i <= rs.FieldCount(); ++i) {
                const TFieldDesc& f = rs.Field(i);
                if (rs.GetNull(f.FFieldNo, record))
                    row.emplace_back();
                else if (utf8 && !f.FBinaryData && (f.FDataType == dtString || f.FDataType == dtExtString))
                    row.emplace_back(QString::fromUtf8(rs.GetFieldBytes(f, record)));
                else
                    row.emplace_back(rs.GetFieldAsVariant(f.FFieldNo, record).AsString());
            }
        });
    });
    return result;
}

TAdminDialect ReadDialect(TCustomMyConnection& connection) {
    const TTextResult r = ReadText(connection, QStringLiteral("SELECT VERSION(), @@SESSION.sql_mode"));
    TAdminDialect dialect;
    if (r.Rows.empty() || !r.Rows[0][0]) throw EDatabaseError(QStringLiteral("The server did not say its version"));
    dialect.Server = ParseServerKind(*r.Rows[0][0]);
    const QStringList modes = r.Rows[0][1].value_or(QString()).split(u',');
    dialect.BackslashEscapes = !modes.contains(QStringLiteral("NO_BACKSLASH_ESCAPES"), Qt::CaseInsensitive);
    return dialect;
}

namespace {

qint64 Number(const std::optional<QString>& text) { return text ? text->toLongLong() : 0; }

// Server errors other than a lost connection: the statement was refused, another may work.
bool Refused(const EMyError& e) { return !e.IsFatalError(); }

}  // namespace

// --- processes ---

std::vector<TProcessInfo> ReadProcessList(TCustomMyConnection& connection, TProcessListSource source) {
    const TTextResult r =
        ReadText(connection, source == psInformationSchema
                                 ? QStringLiteral("SELECT ID, USER, HOST, DB, COMMAND, TIME, STATE, INFO FROM "
                                                  "information_schema.PROCESSLIST ORDER BY ID")
                                 : QStringLiteral("SHOW FULL PROCESSLIST"));
    std::vector<TProcessInfo> list;
    for (size_t i = 0; i < r.Rows.size(); ++i) {
        TProcessInfo p;
        p.Id = Number(r.Value(i, QStringLiteral("ID")));
        p.User = r.Value(i, QStringLiteral("USER")).value_or(QString());
        p.Host = r.Value(i, QStringLiteral("HOST")).value_or(QString());
        p.Database = r.Value(i, QStringLiteral("DB"));
        p.Command = r.Value(i, QStringLiteral("COMMAND")).value_or(QString());
        p.Time = Number(r.Value(i, QStringLiteral("TIME")));
        p.State = r.Value(i, QStringLiteral("STATE")).value_or(QString());
        p.Info = r.Value(i, QStringLiteral("INFO"));
        list.push_back(std::move(p));
    }
    std::sort(list.begin(), list.end(), [](const TProcessInfo& a, const TProcessInfo& b) { return a.Id < b.Id; });
    return list;
}

std::vector<TProcessInfo> ReadProcessList(TCustomMyConnection& connection, TProcessListSource* source) {
    try {
        auto list = ReadProcessList(connection, psInformationSchema);
        if (source) *source = psInformationSchema;
        return list;
    } catch (const EMyError& e) {
        if (!Refused(e)) throw;
    }
    auto list = ReadProcessList(connection, psShowProcessList);
    if (source) *source = psShowProcessList;
    return list;
}

bool ProcessShown(const TProcessInfo& process, const TProcessFilter& filter) {
    if (filter.HideSleeping && process.Command.compare(QLatin1StringView("Sleep"), Qt::CaseInsensitive) == 0)
        return false;
    if (!filter.User.isEmpty() && process.User != filter.User) return false;
    if (!filter.Database.isEmpty() && process.Database.value_or(QString()) != filter.Database) return false;
    return true;
}

// --- status ---

TStatusSnapshot ReadGlobalStatus(TCustomMyConnection& connection) {
    const TTextResult r = ReadText(connection, QStringLiteral("SHOW GLOBAL STATUS"));
    TStatusSnapshot s;
    for (const auto& row : r.Rows)
        if (row.size() >= 2) s.Values.emplace_back(row[0].value_or(QString()), row[1].value_or(QString()));
    return s;
}

bool IsStatusCounter(const QString& name) {
    static const char* const prefixes[] = {
        "Com_", "Handler_", "Select_", "Sort_", "Created_tmp_", "Aborted_", "Table_locks_", "Opened_", "Bytes_",
        "Key_read", "Key_write", "Innodb_rows_", "Innodb_data_read", "Innodb_data_writ", "Innodb_pages_",
        "Innodb_log_write", "Innodb_buffer_pool_read", "Innodb_buffer_pool_write_requests",
    };
    static const char* const names[] = {
        "Queries", "Questions", "Connections", "Slow_queries", "Threads_created", "Binlog_bytes_written",
        "Innodb_os_log_written", "Innodb_buffer_pool_pages_flushed", "Qcache_hits", "Qcache_inserts",
    };
    for (const char* p : prefixes)
        if (name.startsWith(QLatin1StringView(p), Qt::CaseInsensitive)) return true;
    for (const char* n : names)
        if (name.compare(QLatin1StringView(n), Qt::CaseInsensitive) == 0) return true;
    return false;
}

std::vector<TStatusRate> StatusRates(const TStatusSnapshot* before, const TStatusSnapshot& after, qint64 elapsedMs) {
    QHash<QString, QString> earlier;
    if (before)
        for (const auto& [name, value] : before->Values) earlier.insert(name, value);
    std::vector<TStatusRate> rates;
    rates.reserve(after.Values.size());
    for (const auto& [name, value] : after.Values) {
        TStatusRate rate{name, value, std::nullopt};
        const auto was = earlier.constFind(name);
        if (elapsedMs > 0 && was != earlier.constEnd() && IsStatusCounter(name)) {
            bool okBefore = false, okAfter = false;
            const quint64 a = was->toULongLong(&okBefore);
            const quint64 b = value.toULongLong(&okAfter);
            if (okBefore && okAfter && b >= a) rate.PerSecond = double(b - a) * 1000.0 / double(elapsedMs);
        }
        rates.push_back(std::move(rate));
    }
    return rates;
}

// --- variables ---

namespace {

TVariableKind KindOfType(const QString& type) {
    const QString t = type.toUpper();
    if (t.contains(QLatin1StringView("INT")) || t == u"DOUBLE" || t.contains(QLatin1StringView("DECIMAL")) ||
        t == u"FLOAT")
        return vkNumber;
    if (t == u"BOOLEAN") return vkBoolean;
    if (t == u"ENUM") return vkEnum;
    if (t == u"SET" || t == u"FLAGSET") return vkSet;
    if (t == u"VARCHAR") return vkText;
    return vkUnknown;
}

// Where the server does not say: a number, ON/OFF, or anything.
TVariableKind KindOfValue(const std::optional<QString>& value) {
    if (!value) return vkUnknown;
    bool number = false;
    value->toDouble(&number);
    if (number) return vkNumber;
    if (*value == u"ON" || *value == u"OFF") return vkBoolean;
    return vkUnknown;
}

}  // namespace

std::vector<TVariableInfo> ReadVariables(TCustomMyConnection& connection, const TAdminDialect& dialect) {
    std::vector<TVariableInfo> variables;
    QHash<QString, size_t> byName;  // upper-case name
    const TTextResult global = ReadText(connection, QStringLiteral("SHOW GLOBAL VARIABLES"));
    for (const auto& row : global.Rows) {
        if (row.size() < 2 || !row[0]) continue;
        TVariableInfo v;
        v.Name = *row[0];
        v.GlobalValue = row[1];
        v.Kind = KindOfValue(v.GlobalValue);
        byName.insert(v.Name.toUpper(), variables.size());
        variables.push_back(std::move(v));
    }
    if (dialect.Server.Family == sfMariaDB && dialect.Server.AtLeast(10, 1)) {
        const TTextResult meta = ReadText(connection, QStringLiteral(
            "SELECT VARIABLE_NAME, VARIABLE_SCOPE, VARIABLE_TYPE, READ_ONLY, ENUM_VALUE_LIST FROM "
            "information_schema.SYSTEM_VARIABLES"));
        for (size_t i = 0; i < meta.Rows.size(); ++i) {
            const QString name = meta.Value(i, QStringLiteral("VARIABLE_NAME")).value_or(QString());
            if (name.isEmpty()) continue;
            auto at = byName.constFind(name.toUpper());
            if (at == byName.constEnd()) {
                // Session-only variables are not among the global ones.
                TVariableInfo v;
                v.Name = name.toLower();
                at = byName.insert(name.toUpper(), variables.size());
                variables.push_back(std::move(v));
            }
            TVariableInfo& v = variables[*at];
            const QString scope = meta.Value(i, QStringLiteral("VARIABLE_SCOPE")).value_or(QString());
            v.Availability = scope == u"GLOBAL"         ? vaGlobalOnly
                             : scope == u"SESSION ONLY" ? vaSessionOnly
                             : scope == u"SESSION"      ? vaSessionAndGlobal
                                                        : vaUnknown;
            const QString readOnly = meta.Value(i, QStringLiteral("READ_ONLY")).value_or(QString());
            v.Dynamic = readOnly == u"YES" ? vdReadOnly : readOnly == u"NO" ? vdDynamic : vdUnknown;
            v.Kind = KindOfType(meta.Value(i, QStringLiteral("VARIABLE_TYPE")).value_or(QString()));
            if (const auto list = meta.Value(i, QStringLiteral("ENUM_VALUE_LIST")); list && !list->isEmpty())
                v.AllowedValues = list->split(u',');
        }
    }
    std::sort(variables.begin(), variables.end(),
              [](const TVariableInfo& a, const TVariableInfo& b) { return a.Name < b.Name; });
    return variables;
}

void ReadSessionValues(TCustomMyConnection& session, std::vector<TVariableInfo>& variables) {
    const TTextResult r = ReadText(session, QStringLiteral("SHOW SESSION VARIABLES"));
    QHash<QString, std::optional<QString>> values;
    for (const auto& row : r.Rows)
        if (row.size() >= 2 && row[0]) values.insert(row[0]->toUpper(), row[1]);
    QSet<QString> known;
    for (TVariableInfo& v : variables) {
        known.insert(v.Name.toUpper());
        const auto it = values.constFind(v.Name.toUpper());
        v.SessionValue = it != values.constEnd() && v.Availability != vaGlobalOnly ? *it : std::nullopt;
    }
    // Where the server lists no scopes: what only the session has is session-only.
    bool added = false;
    for (const auto& row : r.Rows) {
        if (row.size() < 2 || !row[0] || known.contains(row[0]->toUpper())) continue;
        TVariableInfo v;
        v.Name = *row[0];
        v.SessionValue = row[1];
        v.Availability = vaSessionOnly;
        v.Kind = KindOfValue(v.SessionValue);
        variables.push_back(std::move(v));
        added = true;
    }
    if (added)
        std::sort(variables.begin(), variables.end(),
                  [](const TVariableInfo& a, const TVariableInfo& b) { return a.Name < b.Name; });
}

bool VariableMatches(const TVariableInfo& variable, const QString& text) {
    return variable.Name.contains(text.trimmed(), Qt::CaseInsensitive);
}

// --- accounts ---

namespace {

TTlsKind TlsOfSslType(const QString& type) {
    const QString t = type.toUpper();
    if (t.isEmpty()) return tkNone;
    if (t == u"ANY") return tkSsl;
    if (t == u"X509") return tkX509;
    if (t == u"SPECIFIED") return tkSpecified;
    return tkTlsUnknown;
}

void SortAccounts(std::vector<TAccountInfo>& accounts) {
    std::sort(accounts.begin(), accounts.end(), [](const TAccountInfo& a, const TAccountInfo& b) {
        return std::pair(a.Name.User, a.Name.Host) < std::pair(b.Name.User, b.Name.Host);
    });
}

TAccountInfo* Find(std::vector<TAccountInfo>& accounts, const TAccountName& name) {
    for (TAccountInfo& a : accounts)
        if (a.Name == name) return &a;
    return nullptr;
}

// MariaDB 10.4 and later keep every account as JSON in mysql.global_priv.
std::vector<TAccountInfo> ReadGlobalPriv(TCustomMyConnection& connection) {
    const TTextResult r = ReadText(connection, QStringLiteral("SELECT User, Host, Priv FROM mysql.global_priv"));
    std::vector<TAccountInfo> accounts;
    for (size_t i = 0; i < r.Rows.size(); ++i) {
        TAccountInfo a;
        a.Name = {r.Value(i, QStringLiteral("User")).value_or(QString()),
                  r.Value(i, QStringLiteral("Host")).value_or(QString())};
        const QJsonObject priv = QJsonDocument::fromJson(r.Value(i, QStringLiteral("Priv")).value_or(QString()).toUtf8())
                                     .object();
        a.IsRole = priv.value(QStringLiteral("is_role")).toBool();
        // The main plugin, and before it the alternatives tried first; {} stands for the main one.
        const QString main = priv.value(QStringLiteral("plugin")).toString();
        QStringList plugins;
        for (const QJsonValue& alternative : priv.value(QStringLiteral("auth_or")).toArray()) {
            const QString plugin = alternative.toObject().value(QStringLiteral("plugin")).toString();
            plugins << (plugin.isEmpty() ? main : plugin);
        }
        if (plugins.isEmpty() && !main.isEmpty()) plugins << main;
        a.Plugin = plugins.join(QStringLiteral(" OR "));
        static const TTlsKind sslTypes[] = {tkNone, tkSsl, tkX509, tkSpecified};
        const int ssl = priv.value(QStringLiteral("ssl_type")).toInt(0);
        a.Tls = ssl >= 0 && ssl < 4 ? sslTypes[ssl] : tkTlsUnknown;
        const auto limit = [&](const char* key) { return qint64(priv.value(QLatin1StringView(key)).toDouble(0)); };
        a.Limits = {limit("max_questions"), limit("max_updates"), limit("max_connections"),
                    limit("max_user_connections")};
        a.Locked = priv.value(QStringLiteral("account_locked")).toBool(false);
        // A password last changed at 0 is expired.
        const QJsonValue changed = priv.value(QStringLiteral("password_last_changed"));
        a.PasswordExpired = !a.IsRole && changed.isDouble() && changed.toDouble() == 0;
        if (const QString role = priv.value(QStringLiteral("default_role")).toString(); !role.isEmpty())
            a.DefaultRole = TAccountName{role, QString()};
        accounts.push_back(std::move(a));
    }
    return accounts;
}

// mysql.user of MySQL and of MariaDB before 10.4: the columns this server has.
std::vector<TAccountInfo> ReadMysqlUser(TCustomMyConnection& connection) {
    const TTextResult columns = ReadText(
        connection, QStringLiteral("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = 'mysql' AND "
                                   "TABLE_NAME = 'user'"));
    QStringList present;
    for (const auto& row : columns.Rows)
        if (!row.empty() && row[0]) present << *row[0];
    static const char* const wanted[] = {"plugin", "ssl_type", "max_questions", "max_updates", "max_connections",
                                         "max_user_connections", "account_locked", "password_expired", "is_role",
                                         "default_role"};
    QStringList select{QStringLiteral("User"), QStringLiteral("Host")};
    for (const char* column : wanted)
        for (const QString& p : present)
            if (p.compare(QLatin1StringView(column), Qt::CaseInsensitive) == 0) select << QuoteIdentifier(p);
    const TTextResult r =
        ReadText(connection, QStringLiteral("SELECT %1 FROM mysql.user").arg(select.join(QStringLiteral(", "))));
    std::vector<TAccountInfo> accounts;
    for (size_t i = 0; i < r.Rows.size(); ++i) {
        TAccountInfo a;
        a.Name = {r.Value(i, QStringLiteral("User")).value_or(QString()),
                  r.Value(i, QStringLiteral("Host")).value_or(QString())};
        const auto value = [&](const char* column) { return r.Value(i, QLatin1StringView(column)); };
        const auto yes = [&](const char* column) -> std::optional<bool> {
            const auto v = value(column);
            if (!v) return std::nullopt;
            return v->compare(QLatin1StringView("Y"), Qt::CaseInsensitive) == 0;
        };
        a.Plugin = value("plugin").value_or(QString());
        if (r.Column(QStringLiteral("ssl_type")) >= 0) a.Tls = TlsOfSslType(value("ssl_type").value_or(QString()));
        const auto limit = [&](const char* column) -> std::optional<qint64> {
            if (r.Column(QLatin1StringView(column)) < 0) return std::nullopt;
            return Number(value(column));
        };
        a.Limits = {limit("max_questions"), limit("max_updates"), limit("max_connections"),
                    limit("max_user_connections")};
        a.Locked = yes("account_locked");
        a.PasswordExpired = yes("password_expired");
        a.IsRole = yes("is_role").value_or(false);
        if (const auto role = value("default_role"); role && !role->isEmpty()) a.DefaultRole = TAccountName{*role, {}};
        accounts.push_back(std::move(a));
    }
    return accounts;
}

// Who has which role: MariaDB's mysql.roles_mapping, MySQL's mysql.role_edges and
// mysql.default_roles (where a role is an account too).
void ReadRoleGrants(TCustomMyConnection& connection, const TAdminDialect& dialect, std::vector<TAccountInfo>& accounts) {
    const TServerKind& s = dialect.Server;
    if (s.Family == sfMariaDB) {
        if (!s.AtLeast(10, 0, 5)) return;
        const TTextResult r = ReadText(connection, QStringLiteral("SELECT User, Host, Role FROM mysql.roles_mapping"));
        for (size_t i = 0; i < r.Rows.size(); ++i) {
            const TAccountName grantee{r.Value(i, QStringLiteral("User")).value_or(QString()),
                                       r.Value(i, QStringLiteral("Host")).value_or(QString())};
            if (TAccountInfo* a = Find(accounts, grantee))
                a->Roles.push_back({r.Value(i, QStringLiteral("Role")).value_or(QString()), QString()});
        }
        return;
    }
    if (!s.AtLeast(8, 0)) return;
    const TTextResult edges =
        ReadText(connection, QStringLiteral("SELECT FROM_USER, FROM_HOST, TO_USER, TO_HOST FROM mysql.role_edges"));
    for (size_t i = 0; i < edges.Rows.size(); ++i) {
        const TAccountName role{edges.Value(i, QStringLiteral("FROM_USER")).value_or(QString()),
                                edges.Value(i, QStringLiteral("FROM_HOST")).value_or(QString())};
        const TAccountName grantee{edges.Value(i, QStringLiteral("TO_USER")).value_or(QString()),
                                   edges.Value(i, QStringLiteral("TO_HOST")).value_or(QString())};
        if (TAccountInfo* a = Find(accounts, grantee)) a->Roles.push_back(role);
        if (TAccountInfo* r = Find(accounts, role)) r->IsRole = true;
    }
    const TTextResult defaults = ReadText(
        connection, QStringLiteral("SELECT USER, HOST, DEFAULT_ROLE_USER, DEFAULT_ROLE_HOST FROM mysql.default_roles"));
    for (size_t i = 0; i < defaults.Rows.size(); ++i) {
        const TAccountName account{defaults.Value(i, QStringLiteral("USER")).value_or(QString()),
                                   defaults.Value(i, QStringLiteral("HOST")).value_or(QString())};
        if (TAccountInfo* a = Find(accounts, account))
            a->DefaultRole = TAccountName{defaults.Value(i, QStringLiteral("DEFAULT_ROLE_USER")).value_or(QString()),
                                          defaults.Value(i, QStringLiteral("DEFAULT_ROLE_HOST")).value_or(QString())};
    }
}

// The grantees of information_schema.USER_PRIVILEGES: the accounts one may see, by name only.
std::vector<TAccountInfo> ReadUserPrivileges(TCustomMyConnection& connection) {
    const TTextResult r =
        ReadText(connection, QStringLiteral("SELECT DISTINCT GRANTEE FROM information_schema.USER_PRIVILEGES"));
    std::vector<TAccountInfo> accounts;
    for (const auto& row : r.Rows) {
        TAccountInfo a;
        if (row.empty() || !row[0] || !ParseGrantee(*row[0], a.Name)) continue;
        accounts.push_back(std::move(a));
    }
    return accounts;
}

}  // namespace

std::vector<TAccountInfo> ReadAccounts(TCustomMyConnection& connection, const TAdminDialect& dialect,
                                       TAccountSource source) {
    std::vector<TAccountInfo> accounts;
    switch (source) {
        case acGlobalPriv: accounts = ReadGlobalPriv(connection); break;
        case acMysqlUser: accounts = ReadMysqlUser(connection); break;
        case acUserPrivileges: accounts = ReadUserPrivileges(connection); break;
    }
    if (source != acUserPrivileges) ReadRoleGrants(connection, dialect, accounts);
    for (TAccountInfo& a : accounts)
        std::sort(a.Roles.begin(), a.Roles.end(), [](const TAccountName& x, const TAccountName& y) {
            return std::pair(x.User, x.Host) < std::pair(y.User, y.Host);
        });
    SortAccounts(accounts);
    return accounts;
}

std::vector<TAccountInfo> ReadAccounts(TCustomMyConnection& connection, const TAdminDialect& dialect,
                                       TAccountSource* source) {
    const TServerKind& s = dialect.Server;
    const TAccountSource first = s.Family == sfMariaDB && s.AtLeast(10, 4) ? acGlobalPriv : acMysqlUser;
    try {
        auto accounts = ReadAccounts(connection, dialect, first);
        if (source) *source = first;
        return accounts;
    } catch (const EMyError& e) {
        if (!Refused(e)) throw;  // the mysql schema is not readable for this account
    }
    auto accounts = ReadAccounts(connection, dialect, acUserPrivileges);
    if (source) *source = acUserPrivileges;
    return accounts;
}

std::vector<TGrantLine> ReadGrants(TCustomMyConnection& connection, const TAccountName& account,
                                   const TAdminDialect& dialect) {
    const TTextResult r = ReadText(connection, QStringLiteral("SHOW GRANTS FOR ") + GranteeLiteral(account, dialect));
    std::vector<TGrantLine> lines;
    for (const auto& row : r.Rows)
        if (!row.empty() && row[0]) lines.push_back(ParseGrantLine(*row[0]));
    return lines;
}

QStringList ReadAuthenticationPlugins(TCustomMyConnection& connection) {
    const TTextResult r = ReadText(
        connection, QStringLiteral("SELECT PLUGIN_NAME FROM information_schema.PLUGINS WHERE PLUGIN_TYPE = "
                                   "'AUTHENTICATION' AND PLUGIN_STATUS = 'ACTIVE' ORDER BY PLUGIN_NAME"));
    QStringList plugins;
    for (const auto& row : r.Rows)
        if (!row.empty() && row[0]) plugins << *row[0];
    return plugins;
}

namespace {

QStringList FirstColumn(const TTextResult& r) {
    QStringList values;
    for (const auto& row : r.Rows)
        if (!row.empty() && row[0]) values << *row[0];
    return values;
}

}  // namespace

QStringList ReadDatabaseNames(TCustomMyConnection& connection) {
    return FirstColumn(ReadText(connection, QStringLiteral("SHOW DATABASES")));
}

QStringList ReadObjectNames(TCustomMyConnection& connection, const TAdminDialect& dialect, TGrantLevel level,
                            const QString& database) {
    const QString schema = QuoteString(database, dialect.BackslashEscapes);
    switch (level) {
        case glTable:
            return FirstColumn(ReadText(connection, QStringLiteral("SELECT TABLE_NAME FROM information_schema.TABLES "
                                                                   "WHERE TABLE_SCHEMA = %1 ORDER BY TABLE_NAME")
                                                        .arg(schema)));
        case glProcedure:
        case glFunction:
            return FirstColumn(ReadText(
                connection, QStringLiteral("SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE ROUTINE_SCHEMA "
                                           "= %1 AND ROUTINE_TYPE = '%2' ORDER BY ROUTINE_NAME")
                                .arg(schema, level == glProcedure ? QStringLiteral("PROCEDURE")
                                                                  : QStringLiteral("FUNCTION"))));
        case glGlobal:
        case glDatabase:
            break;
    }
    return {};
}

QStringList ReadColumnNames(TCustomMyConnection& connection, const TAdminDialect& dialect, const QString& database,
                            const QString& table) {
    return FirstColumn(ReadText(connection, QStringLiteral("SELECT COLUMN_NAME FROM information_schema.COLUMNS WHERE "
                                                           "TABLE_SCHEMA = %1 AND TABLE_NAME = %2 ORDER BY "
                                                           "ORDINAL_POSITION")
                                                .arg(QuoteString(database, dialect.BackslashEscapes),
                                                     QuoteString(table, dialect.BackslashEscapes))));
}

}  // namespace calvoro::dac
