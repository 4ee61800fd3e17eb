#include "MyAdminStatements.h"

#include "MySqlIdentifier.h"
#include "common/Exceptions.h"

#include <QRegularExpression>

#include <algorithm>

namespace calvoro::dac {

namespace {

[[noreturn]] void Fail(const QString& message) { throw EDatabaseError(message); }

// An unsigned or signed decimal number, with a fraction and an exponent: what SET takes as a
// number. Nothing else may stand in a statement unquoted.
bool IsNumber(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    return number.match(text).hasMatch();
}

// A plugin name is one word (letters, digits, '_'): it stands bare after VIA or WITH.
void CheckPluginName(const QString& plugin) {
    static const QRegularExpression word(QStringLiteral("^[A-Za-z0-9_]+$"));
    if (!word.match(plugin).hasMatch())
        Fail(QStringLiteral("'%1' is not an authentication plugin name: a plugin name is one word of letters, "
                            "digits and '_'")
                 .arg(plugin));
}

// A privilege name is SQL words (SELECT, CREATE TEMPORARY TABLES, BINLOG_ADMIN): written bare.
QString PrivilegeWord(const QString& name) {
    static const QRegularExpression words(QStringLiteral("^[A-Za-z_]+( [A-Za-z_]+)*$"));
    const QString simplified = name.simplified();
    if (!words.match(simplified).hasMatch())
        Fail(QStringLiteral("'%1' is not a privilege name: a privilege is one or more words of letters and '_'")
                 .arg(name));
    return simplified.toUpper();
}

QString ServerName(const TServerKind& server) {
    return QStringLiteral("%1 %2.%3.%4")
        .arg(server.Family == sfMariaDB ? QStringLiteral("MariaDB") : QStringLiteral("MySQL"))
        .arg(server.Major)
        .arg(server.Minor)
        .arg(server.Patch);
}

void CheckRoles(const TAdminDialect& dialect) {
    const TServerKind& s = dialect.Server;
    if (s.Family == sfMariaDB ? !s.AtLeast(10, 0, 5) : !s.AtLeast(8, 0))
        Fail(QStringLiteral("Roles need MariaDB 10.0.5 or MySQL 8.0 or later; the server is %1").arg(ServerName(s)));
}

// The clauses CREATE USER and ALTER USER share, after the account.
QString AccountClauses(const TAccountChange& change, const TAdminDialect& dialect, TAdminStatement& statement) {
    const TServerKind& server = dialect.Server;
    const bool mariadb = server.Family == sfMariaDB;
    QString text;
    if (!change.Plugin.isEmpty()) CheckPluginName(change.Plugin);
    if (change.Password) {
        const QString literal = QuoteString(*change.Password, dialect.BackslashEscapes);
        if (!change.Password->isEmpty()) {
            statement.Passwords << *change.Password;
            statement.Literals << literal;
        }
        if (change.Plugin.isEmpty())
            text += QStringLiteral(" IDENTIFIED BY ") + literal;
        else if (mariadb)
            text += QStringLiteral(" IDENTIFIED VIA %1 USING PASSWORD(%2)").arg(change.Plugin, literal);
        else
            text += QStringLiteral(" IDENTIFIED WITH %1 BY %2").arg(change.Plugin, literal);
    } else if (!change.Plugin.isEmpty()) {
        text += (mariadb ? QStringLiteral(" IDENTIFIED VIA ") : QStringLiteral(" IDENTIFIED WITH ")) + change.Plugin;
    }
    switch (change.Tls) {
        case trUnchanged: break;
        case trNone: text += QStringLiteral(" REQUIRE NONE"); break;
        case trSsl: text += QStringLiteral(" REQUIRE SSL"); break;
        case trX509: text += QStringLiteral(" REQUIRE X509"); break;
    }
    const std::pair<const std::optional<qint64>*, const char*> limits[] = {
        {&change.Limits.MaxQueriesPerHour, "MAX_QUERIES_PER_HOUR"},
        {&change.Limits.MaxUpdatesPerHour, "MAX_UPDATES_PER_HOUR"},
        {&change.Limits.MaxConnectionsPerHour, "MAX_CONNECTIONS_PER_HOUR"},
        {&change.Limits.MaxUserConnections, "MAX_USER_CONNECTIONS"},
    };
    QString with;
    for (const auto& [value, word] : limits) {
        if (!*value) continue;
        if (**value < 0) Fail(QStringLiteral("%1 cannot be negative").arg(QLatin1StringView(word)));
        with += u' ' + QLatin1StringView(word) + u' ' + QString::number(**value);
    }
    if (!with.isEmpty()) text += QStringLiteral(" WITH") + with;
    // MariaDB takes the lock option before the password option; MySQL either order.
    const bool lockOrExpire = change.Locked.has_value() || change.ExpirePassword;
    if (lockOrExpire && (mariadb ? !server.AtLeast(10, 4, 2) : !server.AtLeast(5, 7, 6)))
        Fail(QStringLiteral("Locking an account and expiring its password need MariaDB 10.4.2 or MySQL 5.7.6 or "
                            "later; the server is %1")
                 .arg(ServerName(server)));
    if (change.Locked) text += *change.Locked ? QStringLiteral(" ACCOUNT LOCK") : QStringLiteral(" ACCOUNT UNLOCK");
    if (change.ExpirePassword) text += QStringLiteral(" PASSWORD EXPIRE");
    return text;
}

void CheckAccount(const TAccountName& account) {
    if (account.User.isEmpty()) Fail(QStringLiteral("The account needs a user name"));
}

}  // namespace

bool TServerKind::AtLeast(int major, int minor, int patch) const {
    if (Major != major) return Major > major;
    if (Minor != minor) return Minor > minor;
    return Patch >= patch;
}

TServerKind ParseServerKind(const QString& versionText) {
    TServerKind kind;
    QString text = versionText.trimmed();
    kind.Family = text.contains(QLatin1StringView("MariaDB"), Qt::CaseInsensitive) ? sfMariaDB : sfMySQL;
    // MariaDB 10 and later may announce itself as "5.5.5-10.x.y-MariaDB" for old clients.
    if (kind.Family == sfMariaDB && text.startsWith(QLatin1StringView("5.5.5-"))) text = text.mid(6);
    static const QRegularExpression version(QStringLiteral("^(\\d+)\\.(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = version.match(text);
    if (!m.hasMatch()) Fail(QStringLiteral("'%1' is not a server version").arg(versionText));
    kind.Major = m.captured(1).toInt();
    kind.Minor = m.captured(2).toInt();
    kind.Patch = m.captured(3).toInt();
    return kind;
}

QString TAdminStatement::Masked() const {
    QString masked = Text;
    for (const QString& literal : Literals) masked.replace(literal, QStringLiteral("'********'"));
    return masked;
}

QString TAdminStatement::MaskIn(const QString& message) const {
    QStringList forms;
    for (const QString& literal : Literals) forms << literal << literal.mid(1, literal.size() - 2);
    forms += Passwords;
    forms.removeAll(QString());
    // Longest first, so that a password inside its own literal is masked as the literal.
    std::stable_sort(forms.begin(), forms.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QString masked = message;
    for (const QString& form : forms) masked.replace(form, QStringLiteral("********"));
    return masked;
}

QString KillStatement(qint64 processId, TKillKind kind) {
    return (kind == kkQuery ? QStringLiteral("KILL QUERY ") : QStringLiteral("KILL CONNECTION ")) +
           QString::number(processId);
}

QString VariableValueLiteral(TVariableKind kind, const QString& value, const TAdminDialect& dialect) {
    const QString trimmed = value.trimmed();
    const QString upper = trimmed.toUpper();
    switch (kind) {
        case vkNumber:
            if (!IsNumber(trimmed)) Fail(QStringLiteral("'%1' is not a number; this variable takes a number").arg(value));
            return trimmed;
        case vkBoolean:
            if (upper == u"ON" || upper == u"1" || upper == u"TRUE") return QStringLiteral("ON");
            if (upper == u"OFF" || upper == u"0" || upper == u"FALSE") return QStringLiteral("OFF");
            Fail(QStringLiteral("'%1' is not ON or OFF; this variable takes ON or OFF").arg(value));
        case vkUnknown:
            if (IsNumber(trimmed)) return trimmed;
            if (upper == u"ON" || upper == u"OFF") return upper;
            return QuoteString(value, dialect.BackslashEscapes);
        case vkEnum:
        case vkSet:
            return QuoteString(trimmed, dialect.BackslashEscapes);
        case vkText:
            break;
    }
    return QuoteString(value, dialect.BackslashEscapes);
}

QString SetVariableStatement(TVariableScope scope, const QString& name, const QString& literal) {
    return (scope == vsGlobal ? QStringLiteral("SET GLOBAL ") : QStringLiteral("SET SESSION ")) +
           QuoteIdentifier(name) + QStringLiteral(" = ") + literal;
}

QString SetVariableToDefaultStatement(TVariableScope scope, const QString& name) {
    return SetVariableStatement(scope, name, QStringLiteral("DEFAULT"));
}

QString AccountLiteral(const TAccountName& account, const TAdminDialect& dialect) {
    return QuoteString(account.User, dialect.BackslashEscapes) + u'@' +
           QuoteString(account.Host, dialect.BackslashEscapes);
}

QString RoleLiteral(const TAccountName& role, const TAdminDialect& dialect) {
    if (role.User.isEmpty()) Fail(QStringLiteral("The role needs a name"));
    if (dialect.Server.Family == sfMariaDB) return QuoteString(role.User, dialect.BackslashEscapes);
    return AccountLiteral({role.User, role.Host.isEmpty() ? QStringLiteral("%") : role.Host}, dialect);
}

QString GranteeLiteral(const TAccountName& grantee, const TAdminDialect& dialect) {
    CheckAccount(grantee);
    if (dialect.Server.Family == sfMariaDB && grantee.Host.isEmpty()) return RoleLiteral(grantee, dialect);
    return AccountLiteral(grantee, dialect);
}

TAdminStatement CreateUserStatement(const TAccountChange& change, const TAdminDialect& dialect) {
    CheckAccount(change.Account);
    TAdminStatement s;
    s.Text = QStringLiteral("CREATE USER ") + AccountLiteral(change.Account, dialect) +
             AccountClauses(change, dialect, s);
    return s;
}

TAdminStatement AlterUserStatement(const TAccountChange& change, const TAdminDialect& dialect) {
    CheckAccount(change.Account);
    const TServerKind& server = dialect.Server;
    if (server.Family == sfMariaDB ? !server.AtLeast(10, 2) : !server.AtLeast(5, 7, 6))
        Fail(QStringLiteral("Changing an account needs MariaDB 10.2 or MySQL 5.7.6 or later; the server is %1")
                 .arg(ServerName(server)));
    TAdminStatement s;
    const QString clauses = AccountClauses(change, dialect, s);
    if (clauses.isEmpty()) Fail(QStringLiteral("Nothing to change for %1").arg(AccountLiteral(change.Account, dialect)));
    s.Text = QStringLiteral("ALTER USER ") + AccountLiteral(change.Account, dialect) + clauses;
    return s;
}

QString DropUserStatement(const std::vector<TAccountName>& accounts, const TAdminDialect& dialect) {
    if (accounts.empty()) Fail(QStringLiteral("No account to drop"));
    QStringList names;
    for (const TAccountName& a : accounts) {
        CheckAccount(a);
        names << AccountLiteral(a, dialect);
    }
    return QStringLiteral("DROP USER ") + names.join(QStringLiteral(", "));
}

QString GrantTargetText(const TGrantTarget& target) {
    switch (target.Level) {
        case glGlobal: return QStringLiteral("*.*");
        case glDatabase:
            if (target.Database.isEmpty()) Fail(QStringLiteral("A database-level grant needs a database"));
            return QuoteIdentifier(target.Database) + QStringLiteral(".*");
        case glTable:
        case glProcedure:
        case glFunction:
            break;
    }
    if (target.Database.isEmpty() || target.Object.isEmpty())
        Fail(QStringLiteral("A grant on a table or routine needs its database and its name"));
    const QString name = QuoteObjectName({target.Database, target.Object});
    if (target.Level == glProcedure) return QStringLiteral("PROCEDURE ") + name;
    if (target.Level == glFunction) return QStringLiteral("FUNCTION ") + name;
    return name;
}

namespace {

QString PrivilegeList(const TGrant& grant, bool withGrantOption) {
    QStringList items;
    for (const TPrivilege& p : grant.Privileges) {
        QString item = PrivilegeWord(p.Name);
        if (!p.Columns.isEmpty()) {
            if (grant.Target.Level != glTable)
                Fail(QStringLiteral("Column privileges (%1) apply to a table only").arg(item));
            QStringList columns;
            for (const QString& c : p.Columns) columns << QuoteIdentifier(c);
            item += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) + u')';
        }
        items << item;
    }
    if (withGrantOption) items << QStringLiteral("GRANT OPTION");
    if (items.isEmpty()) Fail(QStringLiteral("No privilege chosen"));
    return items.join(QStringLiteral(", "));
}

}  // namespace

QString GrantStatement(const TGrant& grant, const TAccountName& grantee, const TAdminDialect& dialect) {
    if (grant.Privileges.empty()) Fail(QStringLiteral("No privilege chosen"));
    return QStringLiteral("GRANT %1 ON %2 TO %3%4")
        .arg(PrivilegeList(grant, false), GrantTargetText(grant.Target), GranteeLiteral(grantee, dialect),
             grant.GrantOption ? QStringLiteral(" WITH GRANT OPTION") : QString());
}

QString RevokeStatement(const TGrant& grant, const TAccountName& grantee, const TAdminDialect& dialect) {
    return QStringLiteral("REVOKE %1 ON %2 FROM %3")
        .arg(PrivilegeList(grant, grant.GrantOption), GrantTargetText(grant.Target), GranteeLiteral(grantee, dialect));
}

QString CreateRoleStatement(const TAccountName& role, const TAdminDialect& dialect) {
    CheckRoles(dialect);
    return QStringLiteral("CREATE ROLE ") + RoleLiteral(role, dialect);
}

QString DropRoleStatement(const TAccountName& role, const TAdminDialect& dialect) {
    CheckRoles(dialect);
    return QStringLiteral("DROP ROLE ") + RoleLiteral(role, dialect);
}

QString GrantRoleStatement(const TAccountName& role, const TAccountName& grantee, bool adminOption,
                           const TAdminDialect& dialect) {
    CheckRoles(dialect);
    return QStringLiteral("GRANT %1 TO %2%3")
        .arg(RoleLiteral(role, dialect), GranteeLiteral(grantee, dialect),
             adminOption ? QStringLiteral(" WITH ADMIN OPTION") : QString());
}

QString RevokeRoleStatement(const TAccountName& role, const TAccountName& grantee, const TAdminDialect& dialect) {
    CheckRoles(dialect);
    return QStringLiteral("REVOKE %1 FROM %2").arg(RoleLiteral(role, dialect), GranteeLiteral(grantee, dialect));
}

QString SetDefaultRoleStatement(const std::optional<TAccountName>& role, const TAccountName& account,
                                const TAdminDialect& dialect) {
    CheckRoles(dialect);
    const QString roleText = role ? RoleLiteral(*role, dialect) : QStringLiteral("NONE");
    const bool mariadb = dialect.Server.Family == sfMariaDB;
    return QStringLiteral("SET DEFAULT ROLE %1 %2 %3")
        .arg(roleText, mariadb ? QStringLiteral("FOR") : QStringLiteral("TO"), GranteeLiteral(account, dialect));
}

}  // namespace calvoro::dac
