#pragma once
// The statements of server administration: ending processes, setting system variables,
// creating, changing and dropping accounts and roles, granting and revoking privileges.
//
// Plain functions over raw values. A name read from the server (a variable, database, table,
// column or routine) is quoted whole as an identifier; an account is the string literals
// 'user'@'host'; a password travels only inside the statement text and is listed among the
// statement's secrets so that whatever shows or keeps the statement can mask it. MariaDB and
// MySQL differ in how a plugin is named, in what a role is (a bare name in MariaDB, an account
// in MySQL) and in how a default role is set: the server is passed in.

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace calvoro::dac {

enum TServerFamily { sfMySQL, sfMariaDB };

struct TServerKind {
    TServerFamily Family = sfMySQL;
    int Major = 0, Minor = 0, Patch = 0;
    bool AtLeast(int major, int minor, int patch = 0) const;
    bool operator==(const TServerKind&) const = default;
};

// The server from its version text: "10.11.6-MariaDB-0+deb12u1", "5.5.5-10.4.8-MariaDB-log"
// (the prefix older clients need), "8.0.36", "8.0.36-0ubuntu0.22.04.1". A text without a
// version number raises EDatabaseError.
TServerKind ParseServerKind(const QString& versionText);

// How statements are written for one session: its server, and whether string literals take
// backslash escapes (the session's sql_mode lacks NO_BACKSLASH_ESCAPES).
struct TAdminDialect {
    TServerKind Server;
    bool BackslashEscapes = true;
};

// A statement that carries passwords: Text is what runs. Passwords are the passwords as typed
// and Literals the string literals they are written as in Text; neither may be shown or kept.
struct TAdminStatement {
    QString Text{};
    QStringList Passwords{};
    QStringList Literals{};
    // Text with each password literal written as '********': what may be shown after the run.
    QString Masked() const;
    // A message (a server error quoting a piece of the statement) with every form of each
    // password masked: its literal, its escaped text and the password itself.
    QString MaskIn(const QString& message) const;
};

// --- processes ---

enum TKillKind { kkConnection, kkQuery };
// "KILL CONNECTION 12" ends the connection, "KILL QUERY 12" only its running statement.
QString KillStatement(qint64 processId, TKillKind kind);

// --- system variables ---

enum TVariableScope { vsSession, vsGlobal };
// What a variable's value is, as far as it is known: the literal it is written as follows it.
enum TVariableKind { vkUnknown, vkNumber, vkBoolean, vkEnum, vkSet, vkText };

// The value typed for a variable as the literal of its kind: a number as the number (anything
// else raises EDatabaseError naming the variable's kind), a Boolean as ON or OFF (taking ON,
// OFF, 1, 0, TRUE, FALSE in any case), an enumeration, set or text as a string literal. For
// vkUnknown the text decides: a number stays a number, ON/OFF stay words, anything else is a
// string literal.
QString VariableValueLiteral(TVariableKind kind, const QString& value, const TAdminDialect& dialect);
// "SET SESSION `name` = literal" or "SET GLOBAL …"; the name is quoted whole.
QString SetVariableStatement(TVariableScope scope, const QString& name, const QString& literal);
// "SET GLOBAL `name` = DEFAULT": back to the compiled-in default (SESSION: to the global value).
QString SetVariableToDefaultStatement(TVariableScope scope, const QString& name);

// --- accounts ---

struct TAccountName {
    QString User{};
    QString Host{};  // a MariaDB role has none
    bool operator==(const TAccountName&) const = default;
};

// 'user'@'host'.
QString AccountLiteral(const TAccountName& account, const TAdminDialect& dialect);
// A role as the server names one: MariaDB's the name alone ('r'), MySQL's an account
// ('r'@'%' when no host is given).
QString RoleLiteral(const TAccountName& role, const TAdminDialect& dialect);
// A grantee: an account, or a MariaDB role (no host).
QString GranteeLiteral(const TAccountName& grantee, const TAdminDialect& dialect);

enum TTlsRequirement { trUnchanged, trNone, trSsl, trX509 };

// Limits per account; 0 is "no limit", absent leaves the limit as it is (unset on CREATE).
struct TResourceLimits {
    std::optional<qint64> MaxQueriesPerHour{}, MaxUpdatesPerHour{}, MaxConnectionsPerHour{}, MaxUserConnections{};
    bool operator==(const TResourceLimits&) const = default;
};

// What CREATE USER sets or ALTER USER changes.
struct TAccountChange {
    TAccountName Account{};
    std::optional<QString> Password{};  // absent: none (CREATE), unchanged (ALTER)
    QString Plugin{};                   // empty: the server's default plugin
    TTlsRequirement Tls = trUnchanged;
    TResourceLimits Limits{};
    std::optional<bool> Locked{};  // ACCOUNT LOCK / UNLOCK
    bool ExpirePassword = false;
};

// CREATE USER 'u'@'h' [IDENTIFIED …] [REQUIRE …] [WITH limits] [ACCOUNT LOCK|UNLOCK]
// [PASSWORD EXPIRE]. The identification: MariaDB "IDENTIFIED BY 'pw'", "IDENTIFIED VIA plugin
// USING PASSWORD('pw')" or "IDENTIFIED VIA plugin"; MySQL "IDENTIFIED BY 'pw'", "IDENTIFIED
// WITH plugin BY 'pw'" or "IDENTIFIED WITH plugin". Raises EDatabaseError for an empty user
// name, a plugin name that is not one word, or what the server's version cannot do.
TAdminStatement CreateUserStatement(const TAccountChange& change, const TAdminDialect& dialect);
// ALTER USER with the same clauses; raises when it would change nothing.
TAdminStatement AlterUserStatement(const TAccountChange& change, const TAdminDialect& dialect);
// DROP USER 'a'@'h', 'b'@'h'.
QString DropUserStatement(const std::vector<TAccountName>& accounts, const TAdminDialect& dialect);

// --- privileges ---

// Where a grant applies: *.*, `db`.*, `db`.`t`, or a routine (PROCEDURE / FUNCTION `db`.`r`).
enum TGrantLevel { glGlobal, glDatabase, glTable, glProcedure, glFunction };

struct TGrantTarget {
    TGrantLevel Level = glGlobal;
    QString Database{};  // raw; a database-level name may hold the server's wildcards (\_, %)
    QString Object{};    // raw table or routine name
    bool operator==(const TGrantTarget&) const = default;
};

// One privilege, by its SQL name ("SELECT", "CREATE TEMPORARY TABLES", "BINLOG_ADMIN"), and
// for a column privilege the raw column names.
struct TPrivilege {
    QString Name{};
    QStringList Columns{};
    bool operator==(const TPrivilege&) const = default;
};

struct TGrant {
    std::vector<TPrivilege> Privileges{};
    TGrantTarget Target{};
    bool GrantOption = false;
    bool operator==(const TGrant&) const = default;
};

// "*.*", "`db`.*", "`db`.`t`", "PROCEDURE `db`.`p`".
QString GrantTargetText(const TGrantTarget& target);
// GRANT SELECT, INSERT (`a`, `b`) ON `db`.`t` TO 'u'@'h' [WITH GRANT OPTION]. Privilege names
// are SQL words and checked to be words; raises EDatabaseError for none or a malformed one.
QString GrantStatement(const TGrant& grant, const TAccountName& grantee, const TAdminDialect& dialect);
// REVOKE … ON … FROM …; GrantOption adds GRANT OPTION to what is taken away.
QString RevokeStatement(const TGrant& grant, const TAccountName& grantee, const TAdminDialect& dialect);

// --- roles (MariaDB 10.0.5 and later, MySQL 8.0 and later) ---

QString CreateRoleStatement(const TAccountName& role, const TAdminDialect& dialect);
QString DropRoleStatement(const TAccountName& role, const TAdminDialect& dialect);
// GRANT role TO grantee [WITH ADMIN OPTION].
QString GrantRoleStatement(const TAccountName& role, const TAccountName& grantee, bool adminOption,
                           const TAdminDialect& dialect);
QString RevokeRoleStatement(const TAccountName& role, const TAccountName& grantee, const TAdminDialect& dialect);
// The role active at login; none: NONE. MariaDB "SET DEFAULT ROLE r FOR 'u'@'h'", MySQL
// "SET DEFAULT ROLE 'r'@'%' TO 'u'@'h'".
QString SetDefaultRoleStatement(const std::optional<TAccountName>& role, const TAccountName& account,
                                const TAdminDialect& dialect);

}  // namespace calvoro::dac
