// Server administration against the test server: a second connection sleeping in a statement
// is listed with it (by both sources), loses its statement to KILL QUERY and then itself to
// KILL CONNECTION; status rates over a known workload; variables with their scope and whether
// they can change, changed and read back, a read-only one refused with the server's reason; an
// account created with a password, TLS required and a database grant, logged in with over TLS,
// its grant revoked, locked and dropped; roles; the readers of an account that may not read
// the mysql schema; names outside ASCII read as they are, on a Unicode connection and an 8-bit one.

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyAdminReaders.h"
#include "dataaccess/mysql/MyAdminStatements.h"
#include "common/ScopeGuard.h"
#include "support/MyTestConnection.h"
#include "support/QtPrinters.h"
#include "support/Raised.h"
#include "support/TestServer.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::Raised;
using calvoro::test::TSleeper;

namespace {

const QString Db = QStringLiteral("calvoro_admin");
const TAccountName Account{QStringLiteral("calvoro_admin_user"), QStringLiteral("%")};
const QString Password = QStringLiteral("Pa's\\s:w0rd");

const TProcessInfo* FindProcess(const std::vector<TProcessInfo>& list, qint64 id) {
    for (const TProcessInfo& p : list)
        if (p.Id == id) return &p;
    return nullptr;
}

// The process once it runs the statement (it takes a moment to arrive).
TProcessInfo WaitForStatement(TMyConnection& c, qint64 id, const QString& statement, TProcessListSource source) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const auto list = ReadProcessList(c, source);
        const TProcessInfo* p = FindProcess(list, id);
        if ((p && p->Info == statement) || timer.elapsed() > 10000) return p ? *p : TProcessInfo{};
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

class AdminTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = NewConnection();
        c->Connect();
        dialect = ReadDialect(*c);
    }
    std::unique_ptr<TMyConnection> c;
    TAdminDialect dialect;
};

TEST_F(AdminTest, DialectOfTheTestServer) {
    EXPECT_EQ(dialect.Server.Family, sfMariaDB);
    EXPECT_TRUE(dialect.Server.AtLeast(10, 4));
    EXPECT_TRUE(dialect.BackslashEscapes);
    c->ExecSQL(QStringLiteral("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"));
    EXPECT_FALSE(ReadDialect(*c).BackslashEscapes);
}

TEST_F(AdminTest, SleepingStatementIsListedThenKilled) {
    TSleeper sleeper(QStringLiteral("SELECT SLEEP(30)"));
    for (const TProcessListSource source : {psInformationSchema, psShowProcessList}) {
        SCOPED_TRACE(source == psInformationSchema ? "information_schema" : "SHOW FULL PROCESSLIST");
        const TProcessInfo p = WaitForStatement(*c, sleeper.Id(), QStringLiteral("SELECT SLEEP(30)"), source);
        EXPECT_EQ(p.Id, sleeper.Id());
        EXPECT_EQ(p.User, QString::fromStdString(test::Server().NativeUser));
        EXPECT_TRUE(p.Host.startsWith(QStringLiteral("127.0.0.1:"))) << p.Host.toStdString();
        EXPECT_EQ(p.Command, QStringLiteral("Query"));
        EXPECT_EQ(p.State, QStringLiteral("User sleep"));
        EXPECT_EQ(p.Database, std::nullopt);
        // Our own connection is there too, running the list.
        const auto list = ReadProcessList(*c, source);
        const TProcessInfo* own = FindProcess(list, c->GetThreadId());
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(own->Command, QStringLiteral("Query"));
    }
    TProcessListSource answered = psShowProcessList;
    EXPECT_NE(FindProcess(ReadProcessList(*c, &answered), sleeper.Id()), nullptr);
    EXPECT_EQ(answered, psInformationSchema);

    QElapsedTimer timer;
    timer.start();
    c->ExecSQL(KillStatement(sleeper.Id(), kkQuery));
    sleeper.Finish();
    EXPECT_LT(timer.elapsed(), 10000) << "KILL QUERY ended the sleep";
    // The connection survived: it answers, and is listed idle.
    EXPECT_EQ(FirstValue(sleeper.Connection(), QStringLiteral("SELECT 41 + 1")), QStringLiteral("42"));
    EXPECT_EQ(FirstValue(sleeper.Connection(), QStringLiteral("SELECT CONNECTION_ID()")), QString::number(sleeper.Id()));
    const auto afterQuery = ReadProcessList(*c);
    ASSERT_NE(FindProcess(afterQuery, sleeper.Id()), nullptr);
    EXPECT_EQ(FindProcess(afterQuery, sleeper.Id())->Command, QStringLiteral("Sleep"));

    c->ExecSQL(KillStatement(sleeper.Id(), kkConnection));
    timer.restart();
    while (FindProcess(ReadProcessList(*c), sleeper.Id()) && timer.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(FindProcess(ReadProcessList(*c), sleeper.Id()), nullptr) << "KILL CONNECTION ended it";
    EXPECT_THROW(FirstValue(sleeper.Connection(), QStringLiteral("SELECT 1")), std::exception);
    // An id that is not there.
    const EMyError e = Raised<EMyError>([&] { c->ExecSQL(KillStatement(sleeper.Id(), kkConnection)); });
    EXPECT_EQ(e.ErrorCode(), 1094);
}

TEST_F(AdminTest, RatesOfAKnownWorkload) {
    auto worker = NewConnection();
    worker->Connect();
    const TStatusSnapshot before = ReadGlobalStatus(*c);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 50; ++i) FirstValue(*worker, QStringLiteral("SELECT %1").arg(i));
    const TStatusSnapshot after = ReadGlobalStatus(*c);
    const qint64 elapsed = std::max<qint64>(timer.elapsed(), 1);
    const auto value = [](const TStatusSnapshot& s, const char* name) {
        for (const auto& [n, v] : s.Values)
            if (n == QLatin1StringView(name)) return v.toLongLong();
        ADD_FAILURE() << name << " missing";
        return qint64(-1);
    };
    const qint64 selects = value(after, "Com_select") - value(before, "Com_select");
    EXPECT_GE(selects, 50);
    const auto rates = StatusRates(&before, after, elapsed);
    ASSERT_EQ(rates.size(), after.Values.size());
    bool seen = false;
    for (const TStatusRate& r : rates) {
        if (r.Name == u"Com_select") {
            seen = true;
            ASSERT_TRUE(r.PerSecond.has_value());
            EXPECT_DOUBLE_EQ(*r.PerSecond, double(selects) * 1000.0 / double(elapsed));
        }
        if (r.Name == u"Threads_connected") {
            EXPECT_EQ(r.PerSecond, std::nullopt);
        }
        if (r.Name == u"Bytes_sent") {
            EXPECT_GT(r.PerSecond.value_or(0), 0.0);
        }
    }
    EXPECT_TRUE(seen);
}

TEST_F(AdminTest, VariablesChangedAndReadBack) {
    auto session = NewConnection();
    session->Connect();
    std::vector<TVariableInfo> variables = ReadVariables(*c, dialect);
    ReadSessionValues(*session, variables);
    const auto find = [&](const char* name) -> const TVariableInfo* {
        for (const TVariableInfo& v : variables)
            if (v.Name == QLatin1StringView(name)) return &v;
        ADD_FAILURE() << name << " missing";
        return nullptr;
    };
    struct {
        const char* name;
        TVariableAvailability availability;
        TVariableDynamic dynamic;
        TVariableKind kind;
        bool global, session;
    } cases[] = {
        {"sort_buffer_size", vaSessionAndGlobal, vdDynamic, vkNumber, true, true},
        {"autocommit", vaSessionAndGlobal, vdDynamic, vkBoolean, true, true},
        {"binlog_format", vaSessionAndGlobal, vdDynamic, vkEnum, true, true},
        {"sql_mode", vaSessionAndGlobal, vdDynamic, vkSet, true, true},
        {"version", vaGlobalOnly, vdReadOnly, vkText, true, false},
        {"max_connections", vaGlobalOnly, vdDynamic, vkNumber, true, false},
        {"timestamp", vaSessionOnly, vdDynamic, vkNumber, false, true},
    };
    for (const auto& e : cases) {
        SCOPED_TRACE(e.name);
        const TVariableInfo* v = find(e.name);
        if (!v) continue;
        EXPECT_EQ(v->Availability, e.availability);
        EXPECT_EQ(v->Dynamic, e.dynamic);
        EXPECT_EQ(v->Kind, e.kind);
        EXPECT_EQ(v->GlobalValue.has_value(), e.global);
        EXPECT_EQ(v->SessionValue.has_value(), e.session);
    }
    EXPECT_EQ(find("binlog_format")->AllowedValues,
              (QStringList{QStringLiteral("MIXED"), QStringLiteral("STATEMENT"), QStringLiteral("ROW")}));
    EXPECT_TRUE(std::is_sorted(variables.begin(), variables.end(),
                               [](const TVariableInfo& a, const TVariableInfo& b) { return a.Name < b.Name; }));

    // SESSION: changed on that session only.
    session->ExecSQL(SetVariableStatement(vsSession, QStringLiteral("sort_buffer_size"),
                                          VariableValueLiteral(vkNumber, QStringLiteral("262144"), dialect)));
    session->ExecSQL(SetVariableStatement(vsSession, QStringLiteral("sql_mode"),
                                          VariableValueLiteral(vkSet, QStringLiteral("ANSI_QUOTES,STRICT_ALL_TABLES"), dialect)));
    session->ExecSQL(SetVariableStatement(vsSession, QStringLiteral("autocommit"),
                                          VariableValueLiteral(vkBoolean, QStringLiteral("0"), dialect)));
    ReadSessionValues(*session, variables);
    EXPECT_EQ(find("sort_buffer_size")->SessionValue, QStringLiteral("262144"));
    EXPECT_EQ(find("sql_mode")->SessionValue, QStringLiteral("ANSI_QUOTES,STRICT_ALL_TABLES"));
    EXPECT_EQ(find("autocommit")->SessionValue, QStringLiteral("OFF"));
    EXPECT_NE(FirstValue(*c, QStringLiteral("SELECT @@SESSION.sort_buffer_size")), QStringLiteral("262144"));

    // GLOBAL, put back afterwards.
    const QString was = *FirstValue(*c, QStringLiteral("SELECT @@GLOBAL.max_connections"));
    ScopeExit restore([&] { c->ExecSQL(SetVariableStatement(vsGlobal, QStringLiteral("max_connections"), was)); });
    c->ExecSQL(SetVariableStatement(vsGlobal, QStringLiteral("max_connections"),
                                    VariableValueLiteral(vkNumber, QStringLiteral("321"), dialect)));
    variables = ReadVariables(*c, dialect);
    EXPECT_EQ(find("max_connections")->GlobalValue, QStringLiteral("321"));
    c->ExecSQL(SetVariableToDefaultStatement(vsGlobal, QStringLiteral("max_connections")));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT @@GLOBAL.max_connections")), QStringLiteral("151"));

    // Refusals carry the server's reason.
    struct {
        QString statement;
        int code;
        const char* reason;
    } refused[] = {
        {SetVariableStatement(vsGlobal, QStringLiteral("version"), VariableValueLiteral(vkText, QStringLiteral("x"), dialect)),
         1238, "Variable 'version' is a read only variable"},
        {SetVariableStatement(vsSession, QStringLiteral("max_connections"), QStringLiteral("10")), 1229,
         "Variable 'max_connections' is a GLOBAL variable and should be set with SET GLOBAL"},
        {SetVariableStatement(vsGlobal, QStringLiteral("binlog_format"), VariableValueLiteral(vkEnum, QStringLiteral("ROWS"), dialect)),
         1231, "Variable 'binlog_format' can't be set to the value of 'ROWS'"},
    };
    for (const auto& r : refused) {
        const EMyError e = Raised<EMyError>([&] { c->ExecSQL(r.statement); });
        EXPECT_EQ(e.ErrorCode(), r.code) << r.statement.toStdString();
        EXPECT_EQ(e.Message().trimmed(), QString::fromUtf8(r.reason));
    }
}

class AccountTest : public AdminTest {
protected:
    void SetUp() override {
        AdminTest::SetUp();
        Drop();
        c->ExecSQL(QStringLiteral("CREATE DATABASE %1").arg(Db));
        c->ExecSQL(QStringLiteral("CREATE TABLE %1.t (id INT)").arg(Db));
        c->ExecSQL(QStringLiteral("INSERT INTO %1.t VALUES (7)").arg(Db));
    }
    void TearDown() override { Drop(); }
    void Drop() {
        c->ExecSQL(QStringLiteral("DROP USER IF EXISTS 'calvoro_admin_user'@'%'"));
        c->ExecSQL(QStringLiteral("DROP ROLE IF EXISTS calvoro_admin_role"));
        c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(Db));
    }
    // A login as the account; TLS as given.
    std::unique_ptr<TMyConnection> Login(protocol::TSslMode mode, const QString& password = Password) {
        auto login = NewConnection();
        login->SetUsername(Account.User);
        login->SetPassword(password);
        login->SSLOptions().Mode = mode;
        login->Connect();
        return login;
    }
    static std::optional<TAccountInfo> FindAccount(const std::vector<TAccountInfo>& accounts,
                                                   const TAccountName& name) {
        for (const TAccountInfo& a : accounts)
            if (a.Name == name) return a;
        return std::nullopt;
    }
};

TEST_F(AccountTest, CreatedLoggedInWithRevokedAndDropped) {
    TAccountChange change;
    change.Account = Account;
    change.Password = Password;
    change.Tls = trSsl;
    change.Limits.MaxUserConnections = 5;
    const TAdminStatement create = CreateUserStatement(change, dialect);
    c->ExecSQL(create.Text);
    const QString grant = GrantStatement({{{QStringLiteral("SELECT")}}, {glDatabase, Db}}, Account, dialect);
    c->ExecSQL(grant);

    // What the readers say of it.
    TAccountSource source = acUserPrivileges;
    const auto accounts = ReadAccounts(*c, dialect, &source);
    EXPECT_EQ(source, acGlobalPriv);
    const auto a = FindAccount(accounts, Account);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->Plugin, QStringLiteral("mysql_native_password"));
    EXPECT_EQ(a->Tls, tkSsl);
    EXPECT_EQ(a->Limits.MaxUserConnections, 5);
    EXPECT_EQ(a->Limits.MaxQueriesPerHour, 0);
    EXPECT_EQ(a->Locked, false);
    EXPECT_EQ(a->PasswordExpired, false);
    EXPECT_FALSE(a->IsRole);
    // Through mysql.user the same, where it says it.
    const auto viaUser = FindAccount(ReadAccounts(*c, dialect, acMysqlUser), Account);
    ASSERT_TRUE(viaUser.has_value());
    EXPECT_EQ(viaUser->Plugin, a->Plugin);
    EXPECT_EQ(viaUser->Tls, a->Tls);
    EXPECT_EQ(viaUser->Limits, a->Limits);
    EXPECT_EQ(viaUser->PasswordExpired, false);
    bool granted = false;
    for (const TGrantLine& line : ReadGrants(*c, Account, dialect))
        if (line.Kind == lkPrivileges && line.Grant.Target == TGrantTarget{glDatabase, Db, QString()}) {
            granted = true;
            EXPECT_EQ(line.Grant.Privileges, (std::vector<TPrivilege>{{QStringLiteral("SELECT"), {}}}));
            EXPECT_EQ(line.Grantee, Account);
        }
    EXPECT_TRUE(granted);

    // TLS is required: refused without, admitted with, and the grant works.
    EXPECT_EQ(Raised<EMyError>([&] { Login(protocol::smDisabled); }).ErrorCode(), 1045);
    auto login = Login(protocol::smRequired);
    EXPECT_FALSE(login->SslCipher().isEmpty());
    EXPECT_EQ(FirstValue(*login, QStringLiteral("SELECT id FROM %1.t").arg(Db)), QStringLiteral("7"));
    // It sees itself through USER_PRIVILEGES and its own grants, without the mysql schema.
    TAccountSource own = acGlobalPriv;
    const auto visible = ReadAccounts(*login, ReadDialect(*login), &own);
    EXPECT_EQ(own, acUserPrivileges);
    ASSERT_EQ(visible.size(), 1u);
    EXPECT_EQ(visible[0].Name, Account);
    EXPECT_EQ(visible[0].Plugin, QString());
    EXPECT_EQ(visible[0].Locked, std::nullopt);
    EXPECT_FALSE(ReadGrants(*login, Account, ReadDialect(*login)).empty());

    // Revoked: the next statement is refused.
    c->ExecSQL(RevokeStatement({{{QStringLiteral("SELECT")}}, {glDatabase, Db}}, Account, dialect));
    const EMyError refused = Raised<EMyError>([&] { FirstValue(*login, QStringLiteral("SELECT id FROM %1.t").arg(Db)); });
    EXPECT_EQ(refused.ErrorCode(), 1142) << refused.Message().toStdString();

    // Locked, and the password expired; then dropped.
    TAccountChange lock;
    lock.Account = Account;
    lock.Locked = true;
    c->ExecSQL(AlterUserStatement(lock, dialect).Text);
    const auto locked = FindAccount(ReadAccounts(*c, dialect), Account);
    ASSERT_TRUE(locked.has_value());
    EXPECT_EQ(locked->Locked, true);
    EXPECT_EQ(Raised<EMyError>([&] { Login(protocol::smRequired); }).ErrorCode(), 4151);
    TAccountChange expire;
    expire.Account = Account;
    expire.Locked = false;
    expire.ExpirePassword = true;
    c->ExecSQL(AlterUserStatement(expire, dialect).Text);
    const auto expired = FindAccount(ReadAccounts(*c, dialect), Account);
    ASSERT_TRUE(expired.has_value());
    EXPECT_EQ(expired->Locked, false);
    EXPECT_EQ(expired->PasswordExpired, true);

    c->ExecSQL(DropUserStatement({Account}, dialect));
    EXPECT_FALSE(FindAccount(ReadAccounts(*c, dialect), Account).has_value());
    EXPECT_EQ(Raised<EMyError>([&] { Login(protocol::smRequired); }).ErrorCode(), 1045);
}

// Every level of grant read back as it was given; the plugin of MariaDB's alternatives.
TEST_F(AccountTest, GrantsOfEveryLevelReadBack) {
    c->ExecSQL(QStringLiteral("CREATE TABLE %1.`odd``name` (id INT, `my col` INT)").arg(Db));
    c->ExecSQL(QStringLiteral("CREATE PROCEDURE %1.p() SELECT 1").arg(Db));
    c->ExecSQL(QStringLiteral("CREATE FUNCTION %1.f() RETURNS INT RETURN 1").arg(Db));
    TAccountChange change;
    change.Account = Account;
    change.Password = Password;
    change.Plugin = QStringLiteral("ed25519");
    c->ExecSQL(CreateUserStatement(change, dialect).Text);
    const std::vector<TGrant> grants{
        {{{QStringLiteral("PROCESS")}, {QStringLiteral("RELOAD")}}, {glGlobal}, false},
        {{{QStringLiteral("SELECT")}, {QStringLiteral("CREATE TEMPORARY TABLES")}}, {glDatabase, Db}, true},
        {{{QStringLiteral("DELETE")}}, {glTable, Db, QStringLiteral("t")}, false},
        {{{QStringLiteral("SELECT"), {QStringLiteral("id"), QStringLiteral("my col")}},
          {QStringLiteral("UPDATE"), {QStringLiteral("my col")}}},
         {glTable, Db, QStringLiteral("odd`name")},
         false},
        {{{QStringLiteral("EXECUTE")}}, {glProcedure, Db, QStringLiteral("p")}, false},
        {{{QStringLiteral("EXECUTE")}}, {glFunction, Db, QStringLiteral("f")}, false},
    };
    for (const TGrant& g : grants) c->ExecSQL(GrantStatement(g, Account, dialect));
    std::vector<TGrant> read;
    for (const TGrantLine& line : ReadGrants(*c, Account, dialect)) {
        if (line.Kind != lkPrivileges || line.Grant.Privileges.front().Name == u"USAGE") continue;
        TGrant g = line.Grant;
        // The server lists columns and privileges in its own order.
        for (TPrivilege& p : g.Privileges) std::sort(p.Columns.begin(), p.Columns.end());
        std::sort(g.Privileges.begin(), g.Privileges.end(),
                  [](const TPrivilege& x, const TPrivilege& y) { return x.Name < y.Name; });
        read.push_back(g);
    }
    std::vector<TGrant> expected = grants;
    for (TGrant& g : expected) {
        for (TPrivilege& p : g.Privileges) std::sort(p.Columns.begin(), p.Columns.end());
        std::sort(g.Privileges.begin(), g.Privileges.end(),
                  [](const TPrivilege& x, const TPrivilege& y) { return x.Name < y.Name; });
    }
    const auto order = [](const TGrant& x, const TGrant& y) {
        return std::tuple(int(x.Target.Level), x.Target.Object) < std::tuple(int(y.Target.Level), y.Target.Object);
    };
    std::sort(read.begin(), read.end(), order);
    std::sort(expected.begin(), expected.end(), order);
    EXPECT_EQ(read, expected);

    const auto a = FindAccount(ReadAccounts(*c, dialect), Account);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->Plugin, QStringLiteral("ed25519"));
    const auto either = FindAccount(ReadAccounts(*c, dialect), {QString::fromStdString(test::Server().EitherUser), QStringLiteral("%")});
    ASSERT_TRUE(either.has_value());
    EXPECT_EQ(either->Plugin, QStringLiteral("ed25519 OR mysql_native_password"));
    // The new password logs in through ed25519.
    EXPECT_EQ(FirstValue(*Login(protocol::smPreferred), QStringLiteral("SELECT CURRENT_USER()")),
              QStringLiteral("calvoro_admin_user@%"));
    EXPECT_TRUE(ReadAuthenticationPlugins(*c).contains(QStringLiteral("ed25519")));
}

TEST_F(AccountTest, Roles) {
    const TAccountName role{QStringLiteral("calvoro_admin_role"), QString()};
    TAccountChange change;
    change.Account = Account;
    change.Password = Password;
    c->ExecSQL(CreateUserStatement(change, dialect).Text);
    c->ExecSQL(CreateRoleStatement(role, dialect));
    c->ExecSQL(GrantStatement({{{QStringLiteral("SELECT")}}, {glTable, Db, QStringLiteral("t")}}, role, dialect));
    c->ExecSQL(GrantRoleStatement(role, Account, false, dialect));
    c->ExecSQL(SetDefaultRoleStatement(role, Account, dialect));

    const auto accounts = ReadAccounts(*c, dialect);
    const auto a = FindAccount(accounts, Account);
    const auto r = FindAccount(accounts, role);
    ASSERT_TRUE(a && r);
    EXPECT_TRUE(r->IsRole);
    EXPECT_FALSE(a->IsRole);
    EXPECT_EQ(a->Roles, std::vector<TAccountName>{role});
    EXPECT_EQ(a->DefaultRole, role);
    int roleLines = 0, defaultLines = 0;
    for (const TGrantLine& line : ReadGrants(*c, Account, dialect)) {
        if (line.Kind == lkRoles) {
            ++roleLines;
            EXPECT_EQ(line.Roles, std::vector<TAccountName>{role});
        }
        if (line.Kind == lkDefaultRole) {
            ++defaultLines;
            EXPECT_EQ(line.Roles, std::vector<TAccountName>{role});
        }
    }
    EXPECT_EQ(roleLines, 1);
    EXPECT_EQ(defaultLines, 1);
    bool roleGrant = false;
    for (const TGrantLine& line : ReadGrants(*c, role, dialect))
        roleGrant |= line.Kind == lkPrivileges && line.Grant.Target == TGrantTarget{glTable, Db, QStringLiteral("t")};
    EXPECT_TRUE(roleGrant);
    // The default role is active at login: the table is readable through it.
    EXPECT_EQ(FirstValue(*Login(protocol::smPreferred), QStringLiteral("SELECT id FROM %1.t").arg(Db)),
              QStringLiteral("7"));

    c->ExecSQL(SetDefaultRoleStatement(std::nullopt, Account, dialect));
    c->ExecSQL(RevokeRoleStatement(role, Account, dialect));
    const auto after = FindAccount(ReadAccounts(*c, dialect), Account);
    ASSERT_TRUE(after.has_value());
    EXPECT_TRUE(after->Roles.empty());
    EXPECT_EQ(after->DefaultRole, std::nullopt);
    c->ExecSQL(DropRoleStatement(role, dialect));
    EXPECT_FALSE(FindAccount(ReadAccounts(*c, dialect), role).has_value());
}

TEST_F(AccountTest, NamesOutsideAsciiReadAsTheyAre) {
    // An 8-bit connection carries only what its code page has.
    const struct {
        bool Unicode;
        QString Column;
    } cases[] = {{true, QStringLiteral("größe_Ω_名")}, {false, QStringLiteral("größe")}};
    c->ExecSQL(QStringLiteral("CREATE TABLE %1.wide (`größe_Ω_名` INT, `größe` INT)").arg(Db));
    for (const auto& k : cases) {
        SCOPED_TRACE(k.Unicode);
        auto connection = NewConnection(k.Unicode);
        connection->Connect();
        const QStringList columns = ReadColumnNames(*connection, ReadDialect(*connection), Db, QStringLiteral("wide"));
        EXPECT_TRUE(columns.contains(k.Column)) << columns.join(u',').toStdString();
    }
}

}  // namespace
