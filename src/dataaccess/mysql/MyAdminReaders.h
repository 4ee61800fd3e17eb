#pragma once
// What the server says about itself, read for its administration: the process list, global
// status (with rates between two readings), system variables with whether each can be
// changed, the accounts and their roles, and each account's grants.
//
// Readers take a connection and raise what the server raised; the pure functions beside them
// (rates, filters, merging) are tested on their own.

#include "MyAdminGrants.h"
#include "MyAdminStatements.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace calvoro::dac {

class TCustomMyConnection;

// Every row of a statement as the server's text: NULL is no value. Columns are looked up by
// name without letter case.
struct TTextResult {
    QStringList Columns{};
    std::vector<std::vector<std::optional<QString>>> Rows{};
    // The column's index, -1 when there is none.
    int Column(const QString& name) const;
    // The value of a row's column by name: none for NULL or a missing column.
    std::optional<QString> Value(size_t row, const QString& name) const;
};
TTextResult ReadText(TCustomMyConnection& connection, const QString& sql);

// The server of an open connection and how its statements are written (SELECT VERSION() and
// the session's escaping).
TAdminDialect ReadDialect(TCustomMyConnection& connection);

// --- processes ---

struct TProcessInfo {
    qint64 Id = 0;
    QString User{}, Host{};
    std::optional<QString> Database{};
    QString Command{};
    qint64 Time = 0;  // seconds in the current state
    QString State{};
    std::optional<QString> Info{};  // the running statement, in full
    bool operator==(const TProcessInfo&) const = default;
};

enum TProcessListSource { psInformationSchema, psShowProcessList };

// The processes the account may see, by id. information_schema.PROCESSLIST, or SHOW FULL
// PROCESSLIST.
std::vector<TProcessInfo> ReadProcessList(TCustomMyConnection& connection, TProcessListSource source);
// information_schema first; when the server refuses it, SHOW FULL PROCESSLIST. `source`
// receives which one answered.
std::vector<TProcessInfo> ReadProcessList(TCustomMyConnection& connection, TProcessListSource* source = nullptr);

// What the process list shows: sleeping connections hidden or not, one user, one database
// (empty: any).
struct TProcessFilter {
    bool HideSleeping = false;
    QString User{};
    QString Database{};
};
bool ProcessShown(const TProcessInfo& process, const TProcessFilter& filter);

// --- status ---

// SHOW GLOBAL STATUS: name and value, in the server's order.
struct TStatusSnapshot {
    std::vector<std::pair<QString, QString>> Values{};
};
TStatusSnapshot ReadGlobalStatus(TCustomMyConnection& connection);

// Whether a status variable counts events since the server started (queries, connections,
// bytes, rows and pages read and written), so that its change per second means something;
// values of the moment (threads connected, open tables, pages free) are not counters.
bool IsStatusCounter(const QString& name);

struct TStatusRate {
    QString Name{};
    QString Value{};                     // the later reading's
    std::optional<double> PerSecond{};  // counters only, with both readings numbers and not falling
    bool operator==(const TStatusRate&) const = default;
};

// The later snapshot's variables with, for each counter, (after - before) / elapsed seconds.
// No rates without an earlier reading or time between the two; a counter that fell (FLUSH
// STATUS, a restart) has none either.
std::vector<TStatusRate> StatusRates(const TStatusSnapshot* before, const TStatusSnapshot& after, qint64 elapsedMs);

// --- variables ---

enum TVariableAvailability { vaSessionAndGlobal, vaGlobalOnly, vaSessionOnly, vaUnknown };
enum TVariableDynamic { vdDynamic, vdReadOnly, vdUnknown };

struct TVariableInfo {
    QString Name{};  // as SHOW VARIABLES writes it (lower case)
    std::optional<QString> GlobalValue{};
    std::optional<QString> SessionValue{};  // of the session ReadSessionValues read
    TVariableAvailability Availability = vaUnknown;
    TVariableDynamic Dynamic = vdUnknown;
    TVariableKind Kind = vkUnknown;
    QStringList AllowedValues{};  // an enumeration's or set's values, where the server lists them
};

// The global values, and what the server says of each variable. MariaDB lists scope, type and
// READ_ONLY in information_schema.SYSTEM_VARIABLES. MySQL says neither whether a variable is
// dynamic nor its type: Dynamic is vdUnknown (the server's refusal tells), the kind follows
// the value, and a variable SHOW GLOBAL VARIABLES lacks is session-only.
std::vector<TVariableInfo> ReadVariables(TCustomMyConnection& connection, const TAdminDialect& dialect);
// The session values of `session` (the tools session the other tabs use), by name; variables
// that exist only globally keep none.
void ReadSessionValues(TCustomMyConnection& session, std::vector<TVariableInfo>& variables);
// The variables whose name contains `text` (without letter case); all for empty text.
bool VariableMatches(const TVariableInfo& variable, const QString& text);

// --- accounts ---

enum TTlsKind { tkNone, tkSsl, tkX509, tkSpecified, tkTlsUnknown };

struct TAccountInfo {
    TAccountName Name{};
    bool IsRole = false;
    QString Plugin{};  // "ed25519 OR mysql_native_password" for MariaDB's alternatives
    TTlsKind Tls = tkTlsUnknown;
    // 0 is no limit; absent where the source does not say.
    TResourceLimits Limits{};
    std::optional<bool> Locked{}, PasswordExpired{};
    std::vector<TAccountName> Roles{};  // granted to it
    std::optional<TAccountName> DefaultRole{};
    bool operator==(const TAccountInfo&) const = default;
};

enum TAccountSource {
    acGlobalPriv,      // MariaDB 10.4 and later: mysql.global_priv
    acMysqlUser,       // mysql.user (older MariaDB, MySQL)
    acUserPrivileges,  // information_schema.USER_PRIVILEGES: the accounts one may see, names only
};

// The accounts, ordered by user and host, from one source.
std::vector<TAccountInfo> ReadAccounts(TCustomMyConnection& connection, const TAdminDialect& dialect,
                                       TAccountSource source);
// From the mysql schema where the account may read it, else from USER_PRIVILEGES; `source`
// receives which one answered.
std::vector<TAccountInfo> ReadAccounts(TCustomMyConnection& connection, const TAdminDialect& dialect,
                                       TAccountSource* source = nullptr);

// SHOW GRANTS FOR the account (a MariaDB role by its name alone), each line read.
std::vector<TGrantLine> ReadGrants(TCustomMyConnection& connection, const TAccountName& account,
                                   const TAdminDialect& dialect);

// The authentication plugins the server has loaded (information_schema.PLUGINS).
QStringList ReadAuthenticationPlugins(TCustomMyConnection& connection);

// What a grant can name, as the server lists it: the databases; the tables and views
// (glTable), procedures or functions of a database; the columns of a table.
QStringList ReadDatabaseNames(TCustomMyConnection& connection);
QStringList ReadObjectNames(TCustomMyConnection& connection, const TAdminDialect& dialect, TGrantLevel level,
                            const QString& database);
QStringList ReadColumnNames(TCustomMyConnection& connection, const TAdminDialect& dialect, const QString& database,
                            const QString& table);

}  // namespace calvoro::dac
