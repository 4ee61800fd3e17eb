// The connection component against the test server: login, errors, database switching,
// options, the statements sent after login and the lost-connection policy.
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyClasses.h"
#include "support/LocalListeners.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "support/QtPrinters.h"
#include "support/TestServer.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

#include <functional>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::TLocalListener;
using calvoro::test::NewConnection;
using calvoro::test::Server;
using calvoro::test::SessionStatus;

namespace {

template <typename E = EMyError>
E Raised(const std::function<void()>& call) {
    return calvoro::test::Raised<E>(call);
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_conn_a"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_conn_b"));
    }
};

}  // namespace

TEST_F(ConnectionTest, LoginWithAndWithoutDatabase) {
    auto c = NewConnection();
    c->Connect();
    EXPECT_TRUE(c->GetConnected());
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), std::nullopt);
    EXPECT_EQ(c->GetClientVersion(), QStringLiteral("4.1.3 Direct"));
    EXPECT_TRUE(c->GetServerVersion().contains(QLatin1String("MariaDB")));
    EXPECT_GT(c->GetThreadId(), 0);
    c->Ping();

    auto d = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    d->Connect();
    EXPECT_EQ(FirstValue(*d, QStringLiteral("SELECT DATABASE()")), QStringLiteral("calvoro_conn_a"));
}

// Commands and queries may outlive their connection: they forget it, say so when used, and go
// away without touching it (AddressSanitizer sees any use of the freed connection).
TEST_F(ConnectionTest, ComponentsOutliveTheirConnection) {
    auto c = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    TMyCommand command;
    command.SetConnection(c.get());
    command.SQL().SetText(QStringLiteral("DO 1"));
    TMyQuery query;
    query.SetConnection(c.get());
    query.SQL().SetText(QStringLiteral("SELECT 1 AS n"));
    query.Open();
    command.Execute();
    c.reset();

    EXPECT_EQ(command.Connection(), nullptr);
    EXPECT_EQ(query.Connection(), nullptr);
    EXPECT_EQ(Raised<EDatabaseError>([&] { command.Execute(); }).Message(), QStringLiteral("Connection is not defined"));
    query.Close();
    EXPECT_EQ(Raised<EDatabaseError>([&] { query.Open(); }).Message(), QStringLiteral("Connection is not defined"));
    // Given a new connection, both work again.
    auto d = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    command.SetConnection(d.get());
    query.SetConnection(d.get());
    command.Execute();
    query.Open();
    EXPECT_EQ(query.FieldByName(QStringLiteral("n")).AsInteger(), 1);
}

// A packet over the client's limit ends the session (the rest of it is never read): the error
// counts as a lost connection, and the next statement runs on a new session.
TEST_F(ConnectionTest, APacketOverTheLimitEndsTheSession) {
    auto c = NewConnection();
    c->MyOptions().SetMaxAllowedPacket(8192);
    c->Connect();
    const int64_t before = c->GetThreadId();
    const EMyError e = Raised([&] { FirstValue(*c, QStringLiteral("SELECT REPEAT('x', 10000)")); });
    EXPECT_EQ(e.ErrorCode(), 2020);
    EXPECT_TRUE(e.IsFatalError());
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT LENGTH(REPEAT('x', 1000))")), QStringLiteral("1000"));
    EXPECT_NE(c->GetThreadId(), before);
}

TEST_F(ConnectionTest, EmptyServerMeansLocalhost) {
    auto c = NewConnection();
    c->SetServer(QString());
    c->Connect();
    EXPECT_TRUE(c->GetConnected());
}

TEST_F(ConnectionTest, RefusedLogins) {
    auto wrong = NewConnection();
    wrong->SetPassword(QStringLiteral("not-the-password"));
    EMyError e = Raised([&] { wrong->Connect(); });
    EXPECT_EQ(e.ErrorCode(), 1045);
    EXPECT_EQ(e.SqlState(), QStringLiteral("28000"));
    EXPECT_TRUE(e.Message().startsWith(QStringLiteral("\r\nAccess denied for user 'calvoro_native'")))
        << e.Message().toStdString();
    EXPECT_FALSE(wrong->GetConnected());

    // Nothing listens on port 1.
    auto down = NewConnection();
    down->SetPort(1);
    e = Raised([&] { down->Connect(); });
    EXPECT_EQ(e.ErrorCode(), 2003);
    EXPECT_EQ(e.SqlState(), QStringLiteral("HY000"));
    EXPECT_TRUE(e.IsFatalError());
    EXPECT_TRUE(e.Message().startsWith(
        QStringLiteral("Can't connect to MySQL server on '%1' (").arg(QString::fromStdString(Server().Host))))
        << e.Message().toStdString();
    EXPECT_FALSE(down->GetConnected());

    // A later connect starts from scratch.
    down->SetPort(Server().Port);
    down->Connect();
    EXPECT_TRUE(down->GetConnected());
}

TEST_F(ConnectionTest, DatabaseSwitchRules) {
    auto c = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    c->Connect();
    const int64_t before = SessionStatus(*c, QStringLiteral("Com_change_db"));

    c->SetDatabase(QStringLiteral("calvoro_conn_a"));  // the same name: nothing sent
    c->SetDatabase(QString());                         // empty: nothing sent, server keeps its own
    EXPECT_EQ(SessionStatus(*c, QStringLiteral("Com_change_db")), before);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("calvoro_conn_a"));

    c->SetDatabase(QStringLiteral("calvoro_conn_b"));
    EXPECT_EQ(SessionStatus(*c, QStringLiteral("Com_change_db")), before + 1);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("calvoro_conn_b"));

    EMyError e = Raised([&] { c->SetDatabase(QStringLiteral("calvoro_no_such_db")); });
    EXPECT_EQ(e.ErrorCode(), 1049);
    EXPECT_EQ(c->Database(), QStringLiteral("calvoro_no_such_db"));  // kept although it failed
    EXPECT_TRUE(c->GetConnected());

    // On a closed connection the name waits for the next login.
    c->Disconnect();
    c->SetDatabase(QStringLiteral("calvoro_conn_a"));
    c->Connect();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("calvoro_conn_a"));
}

TEST_F(ConnectionTest, OptionsRefusedOnAnOpenConnection) {
    auto c = NewConnection();
    c->Connect();
    const std::function<void()> changes[] = {
        [&] { c->MyOptions().SetUseUnicode(false); },
        [&] { c->MyOptions().SetCharset(QStringLiteral("latin1")); },
        [&] { c->MyOptions().SetCompress(true); },
        [&] { c->MyOptions().SetProtocol(mpTCP); },
        [&] { c->MyOptions().SetDirect(false); },
        [&] { c->MyOptions().SetOptimizedBigInt(true); },
    };
    for (const auto& change : changes) {
        EDatabaseError e = Raised<EDatabaseError>(change);
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot perform this operation on an open connection"));
    }
    EXPECT_TRUE(c->MyOptions().UseUnicode());
    c->MyOptions().SetCheckBackslashes(true);  // allowed while open
    EXPECT_TRUE(c->GetConnected());
}

TEST_F(ConnectionTest, LoginValuesChangedOnAnOpenConnectionCloseIt) {
    auto c = NewConnection();
    int before = 0, after = 0;
    c->BeforeDisconnect = [&](TCustomDAConnection*) { ++before; };
    c->AfterDisconnect = [&](TCustomDAConnection*) { ++after; };
    c->Connect();
    c->SetUsername(QString::fromStdString(Server().EmptyUser));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 1);
    c->SetPassword(QString());
    c->Connect();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT CURRENT_USER()")),
              QString::fromStdString(Server().EmptyUser) + QStringLiteral("@%"));
}

TEST_F(ConnectionTest, CharacterSetAfterLogin) {
    struct Case {
        bool unicode;
        const char* charset;
        const char* client;
    } cases[] = {
        {true, "", "utf8mb4"},        // four-byte characters must survive
        {false, "utf8", "utf8mb4"},   // "utf8" asked for: utf8mb4 where the server has it
        {false, "latin1", "latin1"},
        {false, "", "latin1"},        // nothing sent: the handshake's latin1 stays
    };
    for (const auto& k : cases) {
        auto c = NewConnection(k.unicode);
        c->MyOptions().SetCharset(QString::fromLatin1(k.charset));
        c->Connect();
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT @@character_set_client")), QString::fromLatin1(k.client))
            << k.unicode << " " << k.charset;
    }
    auto bad = NewConnection(false);
    bad->MyOptions().SetCharset(QStringLiteral("latin1; DROP DATABASE calvoro_conn_a"));
    EXPECT_THROW(bad->Connect(), EDatabaseError);
    EXPECT_FALSE(bad->GetConnected());
}

TEST_F(ConnectionTest, CheckBackslashesReadsTheSqlMode) {
    auto c = NewConnection();
    c->Connect();
    EXPECT_TRUE(c->NeedBackslashes());
    c->ExecSQL(QStringLiteral("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"));
    EXPECT_TRUE(c->NeedBackslashes());  // not asked
    c->MyOptions().SetCheckBackslashes(true);
    EXPECT_FALSE(c->NeedBackslashes());
    c->MyOptions().SetCheckBackslashes(false);
    EXPECT_TRUE(c->NeedBackslashes());
}

TEST_F(ConnectionTest, EventsAndConnectCount) {
    auto c = NewConnection();
    std::vector<std::string> events;
    c->BeforeConnect = [&](TCustomDAConnection*) { events.push_back("BeforeConnect"); };
    c->AfterConnect = [&](TCustomDAConnection*) { events.push_back("AfterConnect"); };
    c->BeforeDisconnect = [&](TCustomDAConnection*) { events.push_back("BeforeDisconnect"); };
    c->AfterDisconnect = [&](TCustomDAConnection*) { events.push_back("AfterDisconnect"); };
    c->Connect();
    c->Connect();
    EXPECT_EQ(c->ConnectCount(), 1);
    c->InternalConnect();
    c->InternalDisconnect();
    EXPECT_TRUE(c->GetConnected());  // stays open without DisconnectedMode
    c->Disconnect();
    c->Disconnect();
    EXPECT_EQ(c->ConnectCount(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                                "AfterDisconnect"}));
}

namespace {

// The login dialog's stand-in: answers as told, connecting through PerformConnect.
class AnsweringDialog : public TCustomConnectDialog {
public:
    explicit AnsweringDialog(bool answer) : FAnswer(answer) {}
    bool Execute() override {
        ++Shown;
        if (!FAnswer) return false;
        FConnection->PerformConnect(false);
        return FConnection->GetConnected();
    }
    int Shown = 0;

private:
    bool FAnswer;
};

}  // namespace

TEST_F(ConnectionTest, LoginPromptGoesThroughTheDialog) {
    auto c = NewConnection();
    c->SetLoginPrompt(true);
    AnsweringDialog cancel(false);
    c->SetConnectDialog(&cancel);
    EXPECT_THROW(c->Connect(), EAbort);  // cancelled: a silent abort
    EXPECT_EQ(cancel.Shown, 1);
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->ConnectCount(), 0);

    AnsweringDialog ok(true);
    c->SetConnectDialog(&ok);
    c->Connect();
    EXPECT_EQ(ok.Shown, 1);
    EXPECT_TRUE(c->GetConnected());
    EXPECT_EQ(c->ConnectCount(), 1);

    // An implicit connect after the first login shows no dialog.
    c->InternalDisconnect();
    c->MySQLConnection()->Disconnect();  // closed behind the component's back
    c->InternalConnect();
    EXPECT_EQ(ok.Shown, 1);
    EXPECT_TRUE(c->GetConnected());

    // Work on another thread than the windows' never shows the window: it connects with the
    // values it has.
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
    c->Disconnect();
    std::thread([&] { c->Connect(); }).join();
    EXPECT_EQ(ok.Shown, 1);
    EXPECT_TRUE(c->GetConnected());
}

TEST_F(ConnectionTest, LostConnectionIsRaisedOnceAndReconnects) {
    auto c = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    int errors = 0, connects = 0;
    c->OnError = [&](TCustomDAConnection*, EDAError&, bool&) { ++errors; };
    c->AfterConnect = [&](TCustomDAConnection*) { ++connects; };
    c->Connect();
    const int64_t victim = c->GetThreadId();

    auto killer = NewConnection();
    killer->ExecSQL(QStringLiteral("KILL %1").arg(victim));

    EMyError e = Raised([&] { c->ExecSQL(QStringLiteral("SELECT 1")); });
    EXPECT_TRUE(e.IsFatalError()) << e.ErrorCode() << " " << e.Message().toStdString();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(connects, 2);  // the silent reconnect ran the steps after login again
    EXPECT_TRUE(c->GetConnected());
    EXPECT_NE(c->GetThreadId(), victim);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("calvoro_conn_a"));
}

TEST_F(ConnectionTest, LostConnectionThatCannotReconnectCloses) {
    auto c = NewConnection();
    int errors = 0;
    c->OnError = [&](TCustomDAConnection*, EDAError&, bool&) { ++errors; };
    c->Connect();
    const int64_t victim = c->GetThreadId();
    // The reconnect will fail: the account's password changes meanwhile.
    c->MySQLConnection()->SetPassword(QStringLiteral("wrong"));
    auto killer = NewConnection();
    killer->ExecSQL(QStringLiteral("KILL %1").arg(victim));

    EMyError e = Raised([&] { c->ExecSQL(QStringLiteral("SELECT 1")); });
    EXPECT_TRUE(e.IsFatalError());
    EXPECT_EQ(errors, 2);  // the error, then again when the reconnect failed
    EXPECT_FALSE(c->GetConnected());
}

TEST_F(ConnectionTest, ObjectListsOfTheCurrentDatabase) {
    auto admin = NewConnection();
    // A name with a quote in it: the lists write it as an escaped literal.
    const QString db = QStringLiteral("calvoro_list's");
    admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(db));
    admin->ExecSQL(QStringLiteral("CREATE DATABASE `%1`").arg(db));
    auto c = NewConnection(true, db);
    c->ExecSQL(QStringLiteral("CREATE TABLE b_table (id INT)"));
    c->ExecSQL(QStringLiteral("CREATE TABLE a_table (id INT)"));
    c->ExecSQL(QStringLiteral("CREATE VIEW c_view AS SELECT id FROM a_table"));
    c->ExecSQL(QStringLiteral("CREATE PROCEDURE z_proc() SELECT 1"));
    c->ExecSQL(QStringLiteral("CREATE FUNCTION a_func() RETURNS INT RETURN 1"));
    c->ExecSQL(QStringLiteral("CREATE TRIGGER t_ins BEFORE INSERT ON a_table FOR EACH ROW SET NEW.id = NEW.id"));

    QStringList list{QStringLiteral("left over")};
    c->GetTableNames(list);
    EXPECT_EQ(list, (QStringList{"a_table", "b_table", "c_view"}));
    c->GetDatabaseNames(list);
    EXPECT_TRUE(list.contains(db));
    EXPECT_FALSE(list.contains(QStringLiteral("left over")));
    c->GetTableNames(list, true);
    EXPECT_TRUE(list.contains(db + QStringLiteral(".c_view")));
    EXPECT_TRUE(list.contains(QStringLiteral("mysql.user")));

    // The routine and trigger lists open a closed connection for the call and close it again.
    c->Disconnect();
    c->GetStoredProcNames(list);
    EXPECT_EQ(list, (QStringList{"a_func", "z_proc"}));
    EXPECT_FALSE(c->GetConnected());
    EXPECT_EQ(c->Database(), db);
    c->GetTriggerNames(list);
    EXPECT_EQ(list, QStringList{"t_ins"});
    EXPECT_FALSE(c->GetConnected());
    c->Connect();
    c->GetStoredProcNames(list, true);
    EXPECT_TRUE(list.contains(db + QStringLiteral(".z_proc")));
    EXPECT_TRUE(c->GetConnected());

    // Without a database: no tables, and the routines of 'mysql'.
    auto none = NewConnection();
    none->GetTableNames(list);
    EXPECT_TRUE(list.isEmpty());
    admin->ExecSQL(QStringLiteral("DROP DATABASE `%1`").arg(db));
}

// The SSL options reach the login: the mode (PREFERRED by default, so the test server's TLS is
// used), the CA and client files, and Protocol mpSSL with its meaning of TLS when offered.
// The error of a refused certificate reaches the component as EMyError 2026.
TEST_F(ConnectionTest, SslOptionsAndProtocol) {
    const auto& srv = Server();
    const QString ca = QString::fromStdString(srv.TlsCA);
    struct Case {
        const char* name;
        std::function<void(TMyConnection&)> set;
        bool secure;
        int error;
    } cases[] = {
        {"default", [](TMyConnection&) {}, true, 0},
        {"DISABLED", [](TMyConnection& c) { c.SSLOptions().Mode = protocol::smDisabled; }, false, 0},
        {"mpSSL with DISABLED", [](TMyConnection& c) {
             c.SSLOptions().Mode = protocol::smDisabled;
             c.MyOptions().SetProtocol(mpSSL);
         }, true, 0},
        {"VERIFY_IDENTITY with the CA", [&](TMyConnection& c) {
             c.SSLOptions().Mode = protocol::smVerifyIdentity;
             c.SSLOptions().CACert = ca;
         }, true, 0},
        {"mpSSL, VERIFY_CA, client certificate", [&](TMyConnection& c) {
             c.MyOptions().SetProtocol(mpSSL);
             c.SSLOptions().Mode = protocol::smVerifyCa;
             c.SSLOptions().CACert = ca;
             c.SSLOptions().Cert = QString::fromStdString(srv.TlsClientCert);
             c.SSLOptions().Key = QString::fromStdString(srv.TlsClientKey);
             c.SetUsername(QString::fromStdString(srv.X509User));
             c.SetPassword(QString());
         }, true, 0},
        {"VERIFY_CA with another CA", [&](TMyConnection& c) {
             c.SSLOptions().Mode = protocol::smVerifyCa;
             c.SSLOptions().CACert = QString::fromStdString(srv.TlsOtherCA);
         }, false, 2026},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto c = NewConnection();
        k.set(*c);
        if (k.error) {
            EXPECT_EQ(Raised([&] { c->Connect(); }).ErrorCode(), k.error);
            continue;
        }
        c->Connect();
        EXPECT_EQ(!c->SslCipher().isEmpty(), k.secure) << c->SslCipher().toStdString();
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT VARIABLE_VALUE <> '' FROM information_schema.SESSION_STATUS "
                                                "WHERE VARIABLE_NAME = 'SSL_CIPHER'")),
                  QString::number(k.secure ? 1 : 0));
        c->Disconnect();
        EXPECT_EQ(c->SslCipher(), QString());
    }
}

namespace {

// The UTF-8 bytes of a text in hexadecimal, as HEX() gives them: compares what the server
// holds whatever way a connection decodes text.
QString Utf8Hex(const QString& text) { return QString::fromLatin1(text.toUtf8().toHex().toUpper()); }

}  // namespace

// User names, passwords and database names outside the 8-bit code page log in and switch on
// every connection kind the program uses: Unicode (the windows, the command line), and 8-bit
// speaking UTF-8 (scripts, backups and restores). An 8-bit connection keeps 8-bit names.
TEST_F(ConnectionTest, NonLatinLoginsAndDatabaseSwitch) {
    const QString user = QStringLiteral("calvoro_J\u00fcrgen_\u7528\u6237");
    const QString password = QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c\u2713");
    const QString db = QStringLiteral("\u00c4rger_\u52a8\u7269");
    auto admin = NewConnection();
    admin->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(user));
    admin->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'").arg(user, password));
    admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS `%1`").arg(db));
    admin->ExecSQL(QStringLiteral("GRANT ALL ON `%1`.* TO '%2'@'%'").arg(db, user));
    admin->ExecSQL(QStringLiteral("GRANT ALL ON calvoro_conn_a.* TO '%1'@'%'").arg(user));

    // The 8-bit account, made over a latin1 session: its password is hashed over those bytes.
    const QString latinUser = QStringLiteral("calvoro_j\u00f6rg");
    const QString latinPassword = QStringLiteral("p\u00e4ssw\u00f6rd");
    const QString latinDb = QStringLiteral("calvoro_b\u00e4r");
    auto latinAdmin = NewConnection(false);
    latinAdmin->MyOptions().SetCharset(QStringLiteral("latin1"));
    latinAdmin->ExecSQL(QStringLiteral("DROP USER IF EXISTS '%1'@'%'").arg(latinUser));
    latinAdmin->ExecSQL(QStringLiteral("CREATE USER '%1'@'%' IDENTIFIED BY '%2'").arg(latinUser, latinPassword));
    latinAdmin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS `%1`").arg(latinDb));
    latinAdmin->ExecSQL(QStringLiteral("GRANT ALL ON `%1`.* TO '%2'@'%'").arg(latinDb, latinUser));

    struct Case {
        const char* name;
        bool unicode;
        const char* charset;
        QString user, password, database;
    } cases[] = {
        {"Unicode", true, "", user, password, db},
        {"8-bit speaking utf8mb4", false, "utf8mb4", user, password, db},
        {"8-bit speaking utf8", false, "utf8", user, password, db},
        {"8-bit latin1", false, "latin1", latinUser, latinPassword, latinDb},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // Logged in with the database.
        auto c = NewConnection(k.unicode, k.database);
        c->MyOptions().SetCharset(QString::fromLatin1(k.charset));
        c->SetUsername(k.user);
        c->SetPassword(k.password);
        c->Connect();
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT HEX(CURRENT_USER())")), Utf8Hex(k.user + QStringLiteral("@%")));
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT HEX(DATABASE())")), Utf8Hex(k.database));
        // A switch away and back.
        c->SetDatabase(QStringLiteral("information_schema"));
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT DATABASE()")), QStringLiteral("information_schema"));
        c->SetDatabase(k.database);
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT HEX(DATABASE())")), Utf8Hex(k.database));
        // Logged in without one, then switched.
        auto d = NewConnection(k.unicode);
        d->MyOptions().SetCharset(QString::fromLatin1(k.charset));
        d->SetUsername(k.user);
        d->SetPassword(k.password);
        d->Connect();
        d->SetDatabase(k.database);
        EXPECT_EQ(FirstValue(*d, QStringLiteral("SELECT HEX(DATABASE())")), Utf8Hex(k.database));
    }
    // The wrong password is still refused.
    auto wrong = NewConnection();
    wrong->SetUsername(user);
    wrong->SetPassword(QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c"));
    EXPECT_EQ(Raised([&] { wrong->Connect(); }).ErrorCode(), 1045);
}

namespace {

// A lost connection while `work` runs: the connection under test is killed from another one
// between the first and the second INSERT of the work.
struct LostCase {
    const char* name;
    bool localFailover;
    // Before the first INSERT; the transaction, if any, is open after it.
    std::function<void(TMyConnection&)> begin;
    bool raises;            // the second INSERT reports the lost connection
    bool newSession;        // the connection is open again on another session afterwards
    const char* rowsAfter;  // what the table holds in the end
};

}  // namespace

// Inside a transaction a lost connection is reported and never restored behind the caller's
// back: the statements after it would run on a new session, outside the transaction the server
// rolled back. Outside one, a lost execution runs again on a new session as before.
TEST_F(ConnectionTest, LostConnectionInsideATransactionIsNotRestored) {
    auto admin = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    const LostCase cases[] = {
        {"no transaction, local fail-over", true, [](TMyConnection&) {}, false, true, "1|2"},
        {"no transaction, reconnect after the error", false, [](TMyConnection&) {}, true, true, "1"},
        {"StartTransaction, local fail-over", true, [](TMyConnection& c) { c.StartTransaction(); }, true, false, ""},
        {"StartTransaction", false, [](TMyConnection& c) { c.StartTransaction(); }, true, false, ""},
        {"a transaction the statements opened", true,
         [](TMyConnection& c) { c.ExecSQL(QStringLiteral("START TRANSACTION")); }, true, false, ""},
    };
    for (const LostCase& k : cases) {
        SCOPED_TRACE(k.name);
        admin->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE lost_tx (id INT PRIMARY KEY)"));
        auto c = NewConnection(true, QStringLiteral("calvoro_conn_a"));
        c->Options().LocalFailover = k.localFailover;
        c->OnConnectionLost = [](TCustomDAConnection*, TComponent*, TConnLostCause, TRetryMode& mode) {
            mode = rmReconnectExecute;
        };
        TMyCommand insert;
        insert.SetConnection(c.get());
        insert.SQL().SetText(QStringLiteral("INSERT INTO lost_tx VALUES (:id)"));
        c->Connect();
        k.begin(*c);
        insert.ParamByName(QStringLiteral("id")).SetAsInteger(1);
        insert.Execute();
        const bool inTransaction = c->InTransaction();
        EXPECT_EQ(inTransaction, !k.newSession);
        const int64_t victim = c->GetThreadId();
        admin->ExecSQL(QStringLiteral("KILL %1").arg(victim));

        insert.ParamByName(QStringLiteral("id")).SetAsInteger(2);
        bool raised = false;
        try {
            insert.Execute();
        } catch (const EMyError& e) {
            raised = true;
            EXPECT_TRUE(e.IsFatalError()) << e.ErrorCode() << " " << e.Message().toStdString();
        }
        EXPECT_EQ(raised, k.raises);
        EXPECT_EQ(c->GetConnected(), k.newSession);
        if (k.newSession) {
            EXPECT_NE(c->GetThreadId(), victim);
        }
        EXPECT_FALSE(c->InTransaction());
        c->Rollback();  // nothing left to roll back: no error, no new session
        EXPECT_EQ(c->GetConnected(), k.newSession);
        EXPECT_EQ(calvoro::test::RowsText(*admin, QStringLiteral("SELECT id FROM lost_tx ORDER BY id")),
                  QString::fromLatin1(k.rowsAfter));
    }
}

TEST_F(ConnectionTest, TransactionsCommitAndRollBack) {
    auto c = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    auto other = NewConnection(true, QStringLiteral("calvoro_conn_a"));
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE tx (id INT PRIMARY KEY) ENGINE=InnoDB"));
    const QString rows = QStringLiteral("SELECT id FROM tx ORDER BY id");

    c->StartTransaction();
    EXPECT_TRUE(c->InTransaction());
    EXPECT_EQ(Raised<EDatabaseError>([&] { c->StartTransaction(); }).Message(),
              QStringLiteral("A transaction is already open"));
    c->ExecSQL(QStringLiteral("INSERT INTO tx VALUES (1)"));
    EXPECT_EQ(calvoro::test::RowsText(*other, rows), QString());  // not yet seen elsewhere
    c->Commit();
    EXPECT_FALSE(c->InTransaction());
    EXPECT_EQ(calvoro::test::RowsText(*other, rows), QStringLiteral("1"));

    c->StartTransaction();
    c->ExecSQL(QStringLiteral("INSERT INTO tx VALUES (2)"));
    c->Rollback();
    EXPECT_FALSE(c->InTransaction());
    EXPECT_EQ(calvoro::test::RowsText(*other, rows), QStringLiteral("1"));

    // Closing the connection ends the transaction: the server rolls it back.
    c->StartTransaction();
    c->ExecSQL(QStringLiteral("INSERT INTO tx VALUES (3)"));
    c->Disconnect();
    EXPECT_FALSE(c->InTransaction());
    c->Connect();
    EXPECT_EQ(calvoro::test::RowsText(*c, rows), QStringLiteral("1"));
}

// The transports a connection can take: the Unix socket (also when the server is written
// otherwise), TCP beside a socket with mpTCP, and a server written with its port.
TEST_F(ConnectionTest, UnixSocketAndServerWithPort) {
    const auto& srv = Server();
    // How the server sees the session: "localhost" over the socket, the address over TCP.
    const QString peer = QStringLiteral("SELECT IF(HOST = 'localhost', 'socket', 'tcp') FROM "
                                        "information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()");
    struct Case {
        const char* name;
        std::function<void(TMyConnection&)> set;
        QString transport;
    } cases[] = {
        {"socket", [&](TMyConnection& c) { c.MyOptions().SetUnixSocket(QString::fromStdString(srv.Socket)); }, "socket"},
        {"socket, whatever the server and port say", [&](TMyConnection& c) {
             c.MyOptions().SetUnixSocket(QString::fromStdString(srv.Socket));
             c.SetServer(QStringLiteral("db.invalid"));
             c.SetPort(1);
         }, "socket"},
        {"mpTCP leaves the socket aside", [&](TMyConnection& c) {
             c.MyOptions().SetUnixSocket(QStringLiteral("/nonexistent/calvoro.sock"));
             c.MyOptions().SetProtocol(mpTCP);
         }, "tcp"},
        {"the port written with the server", [&](TMyConnection& c) {
             c.SetServer(QStringLiteral("%1:%2").arg(QString::fromStdString(srv.Host)).arg(srv.Port));
             c.SetPort(1);
         }, "tcp"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto c = NewConnection();
        k.set(*c);
        c->Connect();
        EXPECT_EQ(FirstValue(*c, peer), k.transport);
        // A second connection made from the first one's settings (as the one that stops a
        // running statement is) takes the same way.
        TMySQLConnection copy;
        copy.Assign(*c->MySQLConnection());
        copy.Connect(QString());
        EXPECT_EQ(copy.GetServerVersion(), c->GetServerVersion());
        Variant socket;
        ASSERT_TRUE(copy.GetProp(prUnixSocket, socket));
        EXPECT_EQ(socket.AsString(), c->MyOptions().UnixSocket());
    }
    // The socket option is a login setting: refused on an open connection.
    auto open = NewConnection();
    open->Connect();
    EXPECT_THROW(open->MyOptions().SetUnixSocket(QStringLiteral("/x.sock")), EDatabaseError);
}

// A connect bounded by ConnectionTimeout, and BreakConnect from another thread, which ends a
// running connect at once: error 2003 with the system's "Operation canceled".
TEST_F(ConnectionTest, ConnectionTimeoutAndBreakConnect) {
    TLocalListener hole(true);
    auto c = NewConnection();
    EXPECT_EQ(c->ConnectionTimeout(), 15) << "the default";
    c->SetPort(hole.Port());
    c->SetConnectionTimeout(2);
    auto start = std::chrono::steady_clock::now();
    EMyError e = Raised([&] { c->Connect(); });
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
    EXPECT_LT(elapsed, std::chrono::seconds(6));
    EXPECT_EQ(e.ErrorCode(), 2003);
    const QString head = QStringLiteral("Can't connect to MySQL server on '%1' ").arg(QString::fromStdString(Server().Host));
    EXPECT_EQ(e.Message(), head + QStringLiteral("(110: Connection timed out)"));

    c->SetConnectionTimeout(30);
    c->BreakConnect();  // no connect under way: nothing to end, the next one runs as usual
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c->BreakConnect();
    });
    start = std::chrono::steady_clock::now();
    e = Raised([&] { c->Connect(); });
    elapsed = std::chrono::steady_clock::now() - start;
    breaker.join();
    EXPECT_LT(elapsed, std::chrono::milliseconds(1800)) << "not at once";
    EXPECT_EQ(e.Message(), head + QStringLiteral("(125: Operation canceled)"));
    EXPECT_FALSE(c->GetConnected());

    // The same connection connects again afterwards.
    c->SetPort(Server().Port);
    c->Connect();
    EXPECT_TRUE(c->GetConnected());
}
