// Scripts against the test server: the Sakila sample and a mariadb-dump file load as they do
// with the mariadb client; bytes reach the server unchanged; OnError's answers; breaking a
// running script; statements longer than the server takes; files that are not SQL.

#include "script/MyScript.h"

#include "common/ScopeGuard.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/support/DatabaseFingerprint.h"
#include "dataaccess/support/MyTestConnection.h"
#include "sqltext/CRParser.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace calvoro;
using namespace calvoro::script;
using calvoro::test::FirstValue;
using calvoro::test::Fingerprint;
using calvoro::test::ByteConnection;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;
using calvoro::test::RunMariadbTool;

namespace {

const QString Fixtures = QStringLiteral(CALVORO_FIXTURES);

// Runs a script and collects the failing statements as "line N: message".
struct TRun {
    QStringList Failures;
    int Executed = 0;
};

TRun RunScript(TMyScript& script, const std::function<void()>& run) {
    TRun result;
    script.AfterExecute = [&](TDAScript*, const QString&) { ++result.Executed; };
    script.OnError = [&](TDAScript* s, const std::exception& e, const QString&, TErrorAction& action) {
        result.Failures << QStringLiteral("line %1: %2").arg(s->StartLine() + 1).arg(QString::fromUtf8(e.what()));
        action = eaContinue;
    };
    run();
    return result;
}

class ScriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        c = ByteConnection();
        c->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_script"));
        c->SetDatabase(QStringLiteral("calvoro_script"));
        script.SetConnection(c.get());
    }
    std::unique_ptr<dac::TMyConnection> c;
    TMyScript script;
};

#ifndef CALVORO_NO_SAKILA
TEST_F(ScriptTest, SakilaLoadsAsWithTheMariadbClient) {
    // NOW() and RAND() (the customers' birth dates) give the same values in both loads.
    const QString moment = QStringLiteral("SET timestamp = 1500000000, rand_seed1 = 11, rand_seed2 = 22");
    for (const char* file : {"sakila-schema.sql", "sakila-data.sql"}) {
        QFile f(Fixtures + QStringLiteral("/sakila/") + QString::fromLatin1(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        // --comments: the client sends comments on, as the script does (they stay in routine bodies).
        const auto r = RunMariadbTool(QStringLiteral("mariadb"), {"--comments", "--init-command=" + moment}, f.readAll());
        ASSERT_EQ(r.Status, 0) << r.Err.toStdString();
    }
    const QString expected = Fingerprint(*c, QStringLiteral("sakila"));
    EXPECT_EQ(expected.count(u'\n'), 2 * 16 + 7 + 6 + 6 - 1);  // tables (rows, columns), views, routines, triggers
    c->ExecSQL(QStringLiteral("DROP DATABASE sakila"));

    c->ExecSQL(moment);
    for (const char* file : {"sakila-schema.sql", "sakila-data.sql"}) {
        const TRun run = RunScript(script, [&] {
            script.ExecuteFile(Fixtures + QStringLiteral("/sakila/") + QString::fromLatin1(file));
        });
        EXPECT_EQ(run.Failures, QStringList()) << file;
        EXPECT_GT(run.Executed, 10) << file;
    }
    EXPECT_EQ(Fingerprint(*c, QStringLiteral("sakila")), expected);
    c->ExecSQL(QStringLiteral("DROP DATABASE sakila"));
}
#endif

TEST_F(ScriptTest, AMariadbDumpRestoresWithoutAFailure) {
    c->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS calvoro_dumped"));
    c->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_dumped"));
    c->SetDatabase(QStringLiteral("calvoro_dumped"));
    const char* setup[] = {
        "CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(50), b VARBINARY(8), d DECIMAL(30,10), x LONGTEXT) "
        "CHARACTER SET utf8mb4",
        "INSERT INTO t VALUES (1, 'semi;colon $$ // \\' \"', 0x00FF0D0A3B, 1234567890.0123456789, "
        "'line1\\nline2\\r\\nline3'), (2, '\xF0\x9F\x98\x80 four bytes', NULL, NULL, REPEAT('long ', 20000))",
        "CREATE VIEW v AS SELECT id, s FROM t WHERE s LIKE '%;%'",
        "CREATE PROCEDURE p(IN n INT) BEGIN DECLARE i INT DEFAULT 0; WHILE i < n DO SET i = i + 1; END WHILE; "
        "SELECT i; END",
        "CREATE FUNCTION f(a INT) RETURNS INT DETERMINISTIC BEGIN RETURN a * 2; END",
        "CREATE TRIGGER tr BEFORE INSERT ON t FOR EACH ROW BEGIN IF NEW.s IS NULL THEN SET NEW.s = 'none;'; END IF; "
        "END",
    };
    for (const char* sql : setup) c->ExecSQL(QString::fromUtf8(sql));
    const QString expected = Fingerprint(*c, QStringLiteral("calvoro_dumped"));
    const auto dump = RunMariadbTool(QStringLiteral("mariadb-dump"),
                                     {"--routines", "--triggers", "--databases", "calvoro_dumped"});
    ASSERT_EQ(dump.Status, 0) << dump.Err.toStdString();
    c->ExecSQL(QStringLiteral("DROP DATABASE calvoro_dumped"));

    QByteArray bytes = dump.Out;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const TRun run = RunScript(script, [&] { script.ExecuteStream(&buffer); });
    EXPECT_EQ(run.Failures, QStringList());
    EXPECT_EQ(Fingerprint(*c, QStringLiteral("calvoro_dumped")), expected);
    c->ExecSQL(QStringLiteral("DROP DATABASE calvoro_dumped"));
}

TEST_F(ScriptTest, BytesReachTheServerUnchanged) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE bytes (id INT, t TEXT CHARACTER SET utf8mb4, b BLOB)"));
    // 8-bit text: a four-byte character, raw bytes that are not UTF-8, a bare LF, markers and
    // an ampersand reference inside literals.
    QByteArray plain = "INSERT INTO bytes VALUES (1, '\xF0\x9F\x98\x80 \xC3\xA9', 'raw \xFF\xFE\x80 bytes');\n"
                       "INSERT INTO bytes VALUES (2, 'a\nb :p ? &m', NULL);\n";
    QBuffer plainBuffer(&plain);
    plainBuffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(RunScript(script, [&] { script.ExecuteStream(&plainBuffer); }).Failures, QStringList());
    // A UTF-16 file goes as UTF-8.
    const QString wide = QStringLiteral("INSERT INTO bytes VALUES (3, '\U0001F600 \u00E9', NULL);");
    QByteArray utf16("\xFF\xFE", 2);
    for (const QChar ch : wide) utf16 += char(ch.unicode() & 0xFF), utf16 += char(ch.unicode() >> 8);
    QBuffer wideBuffer(&utf16);
    wideBuffer.open(QIODevice::ReadOnly);
    EXPECT_EQ(RunScript(script, [&] { script.ExecuteStream(&wideBuffer); }).Failures, QStringList());

    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT id, HEX(t), HEX(b) FROM bytes ORDER BY id")),
              QStringLiteral("1,F09F988020C3A9,72617720FFFE80206279746573|2,610A62203A70203F20266D,NULL|"
                             "3,F09F988020C3A9,NULL"));
}

TEST_F(ScriptTest, OnErrorDecidesWhatFollowsAFailure) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE steps (n INT)"));
    script.SQL().SetText(QStringLiteral("INSERT INTO steps VALUES (1);\n"
                                        "INSERT INTO no_such_table VALUES (2);\n"
                                        "INSERT INTO steps VALUES (3);"));
    struct Case {
        TErrorAction action;
        const char* rows;
        bool raises;
    };
    const Case cases[] = {
        {eaContinue, "1|3", false},
        {eaException, "1|3", false},
        {eaAbort, "1", false},
        {eaFail, "1", true},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(int(tc.action));
        c->ExecSQL(QStringLiteral("DELETE FROM steps"));
        QStringList shown;
        ApplicationExceptionDisplay() = [&](const std::exception& e) { shown << QString::fromUtf8(e.what()); };
        ScopeExit reset([] { ApplicationExceptionDisplay() = nullptr; });
        QString failed;
        qint64 offset = -1;
        script.OnError = [&](TDAScript* s, const std::exception&, const QString& sql, TErrorAction& action) {
            EXPECT_EQ(action, eaException);  // the answer when the handler says nothing
            failed = sql;
            offset = s->ErrorOffset();
            action = tc.action;
        };
        bool raised = false;
        try {
            script.Execute();
        } catch (const dac::EDAError& e) {
            raised = true;
            EXPECT_EQ(e.ErrorCode(), 1146);
        }
        EXPECT_EQ(raised, tc.raises);
        EXPECT_EQ(failed, QStringLiteral("INSERT INTO no_such_table VALUES (2)"));
        EXPECT_EQ(offset, 31);  // where the failing statement starts
        EXPECT_EQ(shown.size(), tc.action == eaException ? 1 : 0);
        EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT n FROM steps ORDER BY n")), QString::fromLatin1(tc.rows));
    }

    // Without a handler the error is shown and the script goes on; ExecuteNext takes one
    // statement at a time.
    script.OnError = nullptr;
    c->ExecSQL(QStringLiteral("DELETE FROM steps"));
    QStringList shown;
    ApplicationExceptionDisplay() = [&](const std::exception& e) { shown << QString::fromUtf8(e.what()); };
    ScopeExit reset([] { ApplicationExceptionDisplay() = nullptr; });
    int taken = 0;
    while (script.ExecuteNext()) ++taken;
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT n FROM steps ORDER BY n")), QStringLiteral("1|3"));
}

TEST_F(ScriptTest, BatchesDataSetsAndSingleStatements) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE ways (n INT)"));
    // Batched: the statements go together, one execution for all of them.
    script.SQL().SetText(QStringLiteral("INSERT INTO ways VALUES (1);\nINSERT INTO ways VALUES (2);\nINSERT INTO ways VALUES (3);"));
    script.SetUseOptimization(true);
    TRun run = RunScript(script, [&] { script.Execute(); });
    EXPECT_EQ(run.Executed, 1);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM ways")), QStringLiteral("3"));
    script.SetUseOptimization(false);

    // Split in advance, one statement run alone.
    script.Statements()[1].Execute();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM ways WHERE n = 2")), QStringLiteral("2"));

    // Through a data set: the last statement's rows stay open in it.
    dac::TMyQuery query;
    query.SetConnection(c.get());
    script.SetDataSet(&query);
    script.SQL().SetText(QStringLiteral("DELETE FROM ways WHERE n = 1;\nSELECT n FROM ways ORDER BY n"));
    run = RunScript(script, [&] { script.Execute(); });
    EXPECT_EQ(run.Failures, QStringList());
    ASSERT_TRUE(query.Active());
    EXPECT_EQ(query.RecordCount(), 3);
    EXPECT_EQ(query.Fields()[0].AsInteger(), 2);
    script.SetDataSet(nullptr);
}

TEST_F(ScriptTest, BreakExecStopsARunningScript) {
    // A statement long enough to run ahead on a worker thread while the next one is read.
    const QByteArray sleep = "SELECT SLEEP(5), '" + QByteArray(100000, 'x') + "';\n";
    const QByteArray text = sleep + "CREATE OR REPLACE TABLE never_made (n INT);";
    struct Case {
        const char* source;
        bool stream, readAhead;
    } cases[] = {{"text", false, false}, {"stream", true, false}, {"stream read ahead", true, true}};
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.source);
        script.SetReadAhead(tc.readAhead);
        QByteArray bytes = text;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        if (!tc.stream) script.SQL().SetText(QString::fromLatin1(text));
        QElapsedTimer clock;
        clock.start();
        script.OnError = [](TDAScript*, const std::exception&, const QString&, TErrorAction& action) {
            action = eaContinue;  // the interrupted SLEEP may end in an error
        };
        // A std::thread: its join is a hand-over ThreadSanitizer sees (QThread::wait's is not).
        std::thread breaker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            script.BreakExec();
        });
        if (tc.stream) script.ExecuteStream(&buffer);
        else script.Execute();
        breaker.join();
        EXPECT_LT(clock.elapsed(), 4000);
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_NAME = 'never_made'")),
                  QStringLiteral("0"));
    }
    script.SetReadAhead(false);
}

TEST_F(ScriptTest, ReadingAheadKeepsTheEventsTheirOrderAndTheirPlaces) {
    // Long statements run on a worker thread while the next is read; what the events see and
    // what reaches the server must be what it is without reading ahead.
    const QByteArray pad = QByteArray(70000, 'p');
    QByteArray garbage;
    for (int i = 0; i < 5000; ++i) garbage += char((i * 37 + 11) % 256);
    const QByteArray statements = "CREATE OR REPLACE TABLE ahead (n INT PRIMARY KEY, pad LONGTEXT);\n"
                                  "INSERT INTO ahead VALUES (1, '" + pad + "');\n"
                                  "INSERT INTO ahead VALUES (1, '" + pad + "');\n"
                                  "DELIMITER //\n"
                                  "INSERT INTO ahead VALUES (2, 'short')//\n"
                                  "DELIMITER ;\n"
                                  "INSERT INTO ahead VALUES (3, '" + pad + "');\n";
    struct Case {
        const char* what;
        QByteArray bytes;
        TErrorAction action;
        QString rows;
    } cases[] = {
        {"continue", statements, eaContinue, QStringLiteral("1|2|3")},
        {"abort", statements, eaAbort, QStringLiteral("1")},
        {"the lexer fails after a failing long statement", statements.left(statements.indexOf("DELIMITER")) + garbage,
         eaContinue, QStringLiteral("1")},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        QStringList logs[2];
        for (const bool readAhead : {false, true}) {
            QStringList& log = logs[readAhead];
            c->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS ahead"));
            script.SetReadAhead(readAhead);
            script.BeforeExecute = [&](TDAScript* s, QString& sql, bool&) {
                log << QStringLiteral("before %1 %2").arg(s->StartLine()).arg(sql.size());
            };
            script.AfterExecute = [&](TDAScript* s, const QString& sql) {
                log << QStringLiteral("after %1-%2 %3").arg(s->StartLine()).arg(s->EndLine()).arg(sql.size());
            };
            script.OnError = [&](TDAScript* s, const std::exception&, const QString& sql, TErrorAction& action) {
                log << QStringLiteral("error %1 at %2, %3").arg(s->StartLine()).arg(s->ErrorOffset()).arg(sql.size());
                action = tc.action;
            };
            QByteArray bytes = tc.bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            try {
                script.ExecuteStream(&buffer);
            } catch (const sqltext::EParserError&) {
                log << QStringLiteral("lexer fails at line %1").arg(script.ParserLine());
            }
            EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT n FROM ahead ORDER BY n")), tc.rows) << "read ahead " << readAhead;
        }
        EXPECT_EQ(logs[1], logs[0]);
        // The failing long statement is the third, on line 2 (0-based), reported in place.
        const qsizetype third = statements.indexOf("INSERT", statements.indexOf("INSERT") + 1);
        EXPECT_TRUE(logs[0].contains(QStringLiteral("error 2 at %1, %2").arg(third).arg(30 + pad.size() + 2)))
            << logs[0].join(u'\n').toStdString();
    }
    script.BeforeExecute = nullptr;
    script.SetReadAhead(false);
}

TEST_F(ScriptTest, AStatementLongerThanTheServerTakesFailsAndTheScriptGoesOn) {
    c->ExecSQL(QStringLiteral("CREATE OR REPLACE TABLE after_long (n INT)"));
    // The test server takes 1 GB: the script is given a smaller limit.
    const qint64 max = 1 << 20;
    script.SetMaxStatementLength(max);
    QByteArray bytes = "SELECT 1;\nSELECT '" + QByteArray(max + 10, 'x') + "';\nINSERT INTO after_long VALUES (7);\n";
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const TRun run = RunScript(script, [&] { script.ExecuteStream(&buffer); });
    ASSERT_EQ(run.Failures.size(), 1);
    EXPECT_EQ(run.Failures[0],
              QStringLiteral("line 2: The statement at line 2 is longer than the 1048576 characters the server takes"))
        << run.Failures[0].toStdString();
    EXPECT_EQ(run.Executed, 2);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT n FROM after_long")), QStringLiteral("7"));
}

TEST_F(ScriptTest, TextThatIsNotSqlStopsWithTheLexersError) {
    struct Case {
        const char* name;
        QByteArray bytes;
        qint64 line;  // 0-based
    };
    QByteArray garbage = "SELECT 1;\n";
    for (int i = 0; i < 5000; ++i) garbage += char((i * 37 + 11) % 256);
    const qint64 max = 1 << 20;
    script.SetMaxStatementLength(max);
    const Case cases[] = {
        {"binary garbage", garbage, 1},
        {"a quote that never closes", "SELECT 1;\n\nSELECT '" + QByteArray(max + 200000, 'y'), 2},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        QByteArray bytes = tc.bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_THROW(RunScript(script, [&] { script.ExecuteStream(&buffer); }), sqltext::EParserError);
        EXPECT_EQ(script.ParserLine(), tc.line);
    }
}

}  // namespace
