// The command component against the test server: parameter values as they reach the server
// and read back, multi-statement texts, affected rows, insert ids and breaking a statement.
#include "dataaccess/mysql/MyClasses.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <locale>
#include <thread>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstRow;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::Raised;

namespace {

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_cmd"));
        c = NewConnection(true, QStringLiteral("calvoro_cmd"));
        c->ExecSQL(QStringLiteral(
            "CREATE OR REPLACE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, s TEXT, b BLOB, d DATE, "
            "tm TIME(3), dt DATETIME(3), f DOUBLE, n INT, dec1 DECIMAL(30,10)) CHARACTER SET utf8mb4"));
        command.SetConnection(c.get());
    }

    // Runs the command and returns the final text the driver sent.
    QString Run() {
        QString sent;
        auto* driver = static_cast<TMySQLCommand*>(command.GetICommand());
        driver->FOnExecute = [&](const QString& s) { sent = s; };
        try {
            command.Execute();
        } catch (...) {
            driver->FOnExecute = nullptr;
            throw;
        }
        driver->FOnExecute = nullptr;
        return sent;
    }

    std::unique_ptr<TMyConnection> c;
    TMyCommand command;
};

// A numeric facet with a comma as decimal separator, for the whole process while it lives.
struct CommaLocale {
    struct Punct : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    CommaLocale() : old(std::locale::global(std::locale(std::locale::classic(), new Punct))) {}
    ~CommaLocale() { std::locale::global(old); }
    std::locale old;
};

}  // namespace

namespace {

struct ParameterCase {
    const char* column;
    std::function<void(TDAParam&)> set;
    const char* literal;            // as written into the statement
    std::optional<QString> stored;  // as read back
};

// Values of every kind, for text and for prepared execution.
std::vector<ParameterCase> ParameterCases() {
    return {
        {"s", [](TDAParam& p) { p.SetAsString(QStringLiteral("O'Hara")); }, "'O\\'Hara'", QStringLiteral("O'Hara")},
        {"s", [](TDAParam& p) { p.SetAsString(QStringLiteral("\\")); }, "'\\\\'", QStringLiteral("\\")},
        {"s", [](TDAParam& p) { p.SetAsString(QString::fromUtf8("emoji \xF0\x9F\x98\x80 \xE6\xBC\xA2")); },
         "'emoji \U0001F600 \u6F22'", QString::fromUtf8("emoji \xF0\x9F\x98\x80 \xE6\xBC\xA2")},
        {"s", [](TDAParam& p) { p.SetAsString(QString::fromLatin1("a\r\nb\0c", 6)); }, "'a\\r\\nb\\0c'",
         QString::fromLatin1("a\r\nb\0c", 6)},
        {"s", [](TDAParam&) {}, "NULL", std::nullopt},  // no value: NULL
        {"b", [](TDAParam& p) { p.SetAsBlob(QByteArray()); }, "NULL", std::nullopt},  // empty BLOB: NULL
        {"d", [](TDAParam& p) { p.SetAsDate(EncodeDate(2024, 3, 1)); }, "'2024-03-01'", QStringLiteral("2024-03-01")},
        {"tm", [](TDAParam& p) { p.SetAsTime(-1.5 / 24); }, "'-1:30:00'", QStringLiteral("-01:30:00.000")},
        {"tm", [](TDAParam& p) { p.SetAsTime(EncodeDuration(false, 100, 2, 3, 450)); }, "'100:02:03.450'",
         QStringLiteral("100:02:03.450")},
        {"dt", [](TDAParam& p) { p.SetAsDateTime(EncodeDateTime(2024, 3, 1, 18, 30, 5, 250)); },
         "'2024-03-01 18:30:05.250'", QStringLiteral("2024-03-01 18:30:05.250")},
        {"dt", [](TDAParam& p) { p.SetAsDateTime(0); }, "'0000-00-00 00:00:00'",
         QStringLiteral("0000-00-00 00:00:00.000")},
        {"f", [](TDAParam& p) { p.SetAsFloat(1.5); }, "1.5", QStringLiteral("1.5")},
        {"f", [](TDAParam& p) { p.SetAsFloat(0.1 + 0.2); }, "0.30000000000000004",
         QStringLiteral("0.30000000000000004")},
        {"n", [](TDAParam& p) { p.SetAsInteger(-42); }, "-42", QStringLiteral("-42")},
        {"n", [](TDAParam& p) { p.SetAsBoolean(true); }, "1", QStringLiteral("1")},
        {"dec1", [](TDAParam& p) { p.SetAsString(QStringLiteral("12345678901234567890.0123456789")); },
         "'12345678901234567890.0123456789'", QStringLiteral("12345678901234567890.0123456789")},
    };
}

}  // namespace

TEST_F(CommandTest, ParameterValuesReachTheServerUnchanged) {
    CommaLocale comma;
    for (const auto& k : ParameterCases()) {
        SCOPED_TRACE(k.literal);
        command.SQL().SetText(QStringLiteral("INSERT INTO t (%1) VALUES (:v)").arg(QLatin1String(k.column)));
        k.set(command.ParamByName(QStringLiteral("v")));
        EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (%1) VALUES (%2)")
                             .arg(QLatin1String(k.column), QString::fromUtf8(k.literal)));
        EXPECT_EQ(command.RowsAffected(), 1);
        const auto stored = FirstValue(
            *c, QStringLiteral("SELECT %1 FROM t WHERE id = %2").arg(QLatin1String(k.column)).arg(command.InsertId()));
        EXPECT_EQ(stored, k.stored);
        command.Params()[0].Clear();
    }
}

TEST_F(CommandTest, StringsWithoutBackslashEscapes) {
    c->ExecSQL(QStringLiteral("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"));
    c->MyOptions().SetCheckBackslashes(true);
    command.SQL().SetText(QStringLiteral("INSERT INTO t (s) VALUES (:v)"));
    const std::pair<const char*, const char*> cases[] = {
        {"O'Hara", "'O''Hara'"},
        {"\\", "'\\'"},
        {"a\\'b\"c\n", "'a\\''b\"c\n'"},
    };
    for (auto [text, literal] : cases) {
        command.ParamByName(QStringLiteral("v")).SetAsString(QString::fromLatin1(text));
        EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (s) VALUES (%1)").arg(QString::fromLatin1(literal)));
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT s FROM t WHERE id = %1").arg(command.InsertId())),
                  QString::fromLatin1(text));
    }
}

TEST_F(CommandTest, EightBitConnectionWritesTheCodePage) {
    auto latin = NewConnection(false, QStringLiteral("calvoro_cmd"));
    latin->MyOptions().SetCharset(QStringLiteral("latin1"));
    TMyCommand insert;
    insert.SetConnection(latin.get());
    insert.SQL().SetText(QStringLiteral("INSERT INTO t (s) VALUES (:v)"));
    insert.ParamByName(QStringLiteral("v")).SetAsString(QStringLiteral("caf\u00e9 \u20ac \u0416"));
    insert.Execute();
    // The euro sign exists in the 8-bit code page; the Cyrillic letter does not.
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT s FROM t WHERE id = %1").arg(insert.InsertId())),
              QStringLiteral("caf\u00e9 \u20ac ?"));
}

TEST_F(CommandTest, ApplicationStatements) {
    command.SQL().SetText(QStringLiteral("ALTER TABLE t AUTO_INCREMENT = :autoincrement"));
    command.ParamByName(QStringLiteral("autoincrement")).SetAsInteger(42);
    EXPECT_EQ(Run(), QStringLiteral("ALTER TABLE t AUTO_INCREMENT = 42"));
    c->ExecSQL(QStringLiteral("INSERT INTO t (n) VALUES (1)"));

    command.SQL().Clear();
    command.SQL().Add(QStringLiteral("DROP DATABASE IF EXISTS calvoro_cmd_new;"));
    command.SQL().Add(QStringLiteral("CREATE DATABASE calvoro_cmd_new;"));
    command.SQL().Add(QString());
    command.SQL().Add(QStringLiteral("   "));
    EXPECT_EQ(command.FinalSQL(),
              QStringLiteral("DROP DATABASE IF EXISTS calvoro_cmd_new;\r\nCREATE DATABASE calvoro_cmd_new;"));
    command.Execute();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.SCHEMATA "
                                            "WHERE SCHEMA_NAME = 'calvoro_cmd_new'")),
              QStringLiteral("1"));
    c->ExecSQL(QStringLiteral("DROP DATABASE calvoro_cmd_new"));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT MAX(id) FROM t")), QStringLiteral("42"));
}

TEST_F(CommandTest, MultiStatementErrors) {
    // The first statement fails: its error at once, the second never runs.
    command.SQL().SetText(QStringLiteral("DROP DATABASE calvoro_no_such_db; CREATE DATABASE calvoro_cmd_never;"));
    EMyError e = Raised<EMyError>([&] { command.Execute(); });
    EXPECT_EQ(e.ErrorCode(), 1008);
    EXPECT_EQ(e.Component(), &command);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.SCHEMATA "
                                            "WHERE SCHEMA_NAME = 'calvoro_cmd_never'")),
              QStringLiteral("0"));

    // A later statement fails: its error, with the first statement's count kept.
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n) VALUES (1), (2); SELECT * FROM no_such_table"));
    EXPECT_EQ(Raised<EMyError>([&] { command.Execute(); }).ErrorCode(), 1146);
    EXPECT_EQ(command.RowsAffected(), 2);
    // The connection is usable afterwards.
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM t")), QStringLiteral("2"));
}

TEST_F(CommandTest, SyntaxErrorCarriesItsLine) {
    command.SQL().SetText(QStringLiteral("SELECT 1\n,\n2\nFROM FROM"));
    EMyError e = Raised<EMyError>([&] { command.Execute(); });
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_EQ(e.LineNumber(), 4);
}

TEST_F(CommandTest, RowsAffectedInsertIdAndSelects) {
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n) VALUES (5), (5), (7)"));
    command.Execute();
    EXPECT_EQ(command.RowsAffected(), 3);
    EXPECT_EQ(command.InsertId(), 1);  // the first row of a multi-row insert

    // Found rows: an UPDATE counts the rows it matched, not only those it changed.
    command.SQL().SetText(QStringLiteral("UPDATE t SET n = 5 WHERE n = 5"));
    command.Execute();
    EXPECT_EQ(command.RowsAffected(), 2);

    // A SELECT through a command: its rows are discarded and the next statement works.
    command.SQL().SetText(QStringLiteral("SELECT * FROM t; SELECT 1; DELETE FROM t WHERE n = 7"));
    command.Execute();
    EXPECT_EQ(command.RowsAffected(), 0);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM t")), QStringLiteral("2"));
}

TEST_F(CommandTest, MacrosAndRepeatedMarkers) {
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n, f) VALUES (:x, :x)"));
    ASSERT_EQ(command.Params().Count(), 2);
    command.ParamByName(QStringLiteral("x")).SetAsInteger(3);
    EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (n, f) VALUES (3, NULL)"));

    command.SQL().SetText(QStringLiteral("INSERT INTO &tbl (n) VALUES (4&x)"));
    command.MacroByName(QStringLiteral("tbl")).SetValue(QStringLiteral("t"));
    EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (n) VALUES (4)"));
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n) VALUES (6 & 3), (6&&3)"));
    EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (n) VALUES (6 & 3), (6&&3)"));
}

TEST_F(CommandTest, TextRunsExactlyAsGiven) {
    // Markers, macro references and a bare LF inside a literal all reach the server as written.
    const QString text = QStringLiteral("INSERT INTO t (s) VALUES ('a:b &x ?\nc')");
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n) VALUES (:n)"));
    command.ParamByName(QStringLiteral("n")).SetAsInteger(5);
    QString sent;
    auto* driver = static_cast<TMySQLCommand*>(command.GetICommand());
    driver->FOnExecute = [&](const QString& s) { sent = s; };
    command.ExecuteText(text);
    driver->FOnExecute = nullptr;
    EXPECT_EQ(sent, text);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT HEX(s) FROM t WHERE s LIKE 'a:b%'")),
              QString::fromLatin1(QByteArray("a:b &x ?\nc").toHex().toUpper()));
    // The command's own text and parameters are as they were.
    EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (n) VALUES (5)"));
}

TEST_F(CommandTest, ValuesSurviveATextChange) {
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n, s) VALUES (:n, :s)"));
    command.ParamByName(QStringLiteral("n")).SetAsInteger(9);
    command.ParamByName(QStringLiteral("s")).SetAsString(QStringLiteral("kept"));
    command.SQL().SetText(QStringLiteral("INSERT INTO t (s, n) VALUES (:s, :other)"));
    EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (s, n) VALUES ('kept', NULL)"));
}

TEST_F(CommandTest, PreparedParametersReachTheServerUnchanged) {
    CommaLocale comma;
    for (const auto& k : ParameterCases()) {
        SCOPED_TRACE(k.literal);
        command.SQL().SetText(QStringLiteral("INSERT INTO t (%1) VALUES (:v)").arg(QLatin1String(k.column)));
        command.Prepare();
        ASSERT_TRUE(command.Prepared());
        k.set(command.ParamByName(QStringLiteral("v")));
        // Prepared statements send "?" and binary values, never the literal.
        EXPECT_EQ(Run(), QStringLiteral("INSERT INTO t (%1) VALUES (?)").arg(QLatin1String(k.column)));
        EXPECT_EQ(command.RowsAffected(), 1);
        const auto stored = FirstValue(
            *c, QStringLiteral("SELECT %1 FROM t WHERE id = %2").arg(QLatin1String(k.column)).arg(command.InsertId()));
        EXPECT_EQ(stored, k.stored);
        command.Params()[0].Clear();
        command.UnPrepare();
    }
}

TEST_F(CommandTest, PreparedCommandsRunRepeatedlyAndGiveTheirHoldBack) {
    const int holds = c->ConnectCount();
    command.SQL().SetText(QStringLiteral("SELECT n FROM t WHERE n > :min"));
    command.Prepare();
    EXPECT_EQ(c->ConnectCount(), holds + 1) << "a prepared command holds its connection";
    for (int i = 0; i < 3; ++i) {
        command.ParamByName(QStringLiteral("min")).SetAsInteger(i);
        command.Execute();  // its rows are discarded, so the next execution can run
    }
    command.UnPrepare();
    EXPECT_FALSE(command.Prepared());
    EXPECT_EQ(c->ConnectCount(), holds);

    command.SQL().SetText(QStringLiteral("SELEC n FROM t"));
    const EMyError e = Raised<EMyError>([&] { command.Prepare(); });
    EXPECT_EQ(e.ErrorCode(), 1064);
    EXPECT_EQ(e.SqlState(), QStringLiteral("42000"));
    EXPECT_FALSE(command.Prepared());
    EXPECT_EQ(c->ConnectCount(), holds) << "the hold taken for preparing was given back";
    command.SQL().SetText(QStringLiteral("SELECT 1"));
    command.Execute();  // the session is usable after the failed prepare
}

TEST_F(CommandTest, NoConnection) {
    TMyCommand lonely;
    lonely.SQL().SetText(QStringLiteral("SELECT 1"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { lonely.Execute(); }).Message(),
              QStringLiteral("Connection is not defined"));
}

TEST_F(CommandTest, BreakExecFromAnotherThread) {
    command.SQL().SetText(QStringLiteral("SELECT SLEEP(10)"));
    const auto start = std::chrono::steady_clock::now();
    std::thread breaker([&] {
        while (!command.Executing()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        command.BreakExec();
    });
    EXPECT_THROW(command.Execute(), EAbort);
    breaker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(command.Executing());
    // The lost connection was re-established silently; the command works again.
    command.SQL().SetText(QStringLiteral("INSERT INTO t (n) VALUES (1)"));
    command.Execute();
    EXPECT_EQ(command.RowsAffected(), 1);
}
