// The Backup/Restore and Execute a script tabs against the test server: what a backup writes for
// the chosen objects, a restore back into an empty database, failing and stopped restores, and
// scripts with failures, bytes and text, and a stop.
#include "app/Calvoro.h"
#include "app/DataUnit.h"
#include "app/SynEdit.h"
#include "app/TessrinUnit.h"
#include "common/CodePage.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "dataaccess/support/MyTestConnection.h"
#include "dump/MyDump.h"
#include "support/QtPrinters.h"
#include "app/support/AppSession.h"
#include "support/TestServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QComboBox>
#include <QSpinBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::RowsText;

namespace {

using TBoxes = test::TMessageBoxes;

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DumpTabsTest : public ::testing::Test {
protected:
    void SetUp() override {
        admin = NewConnection();
        admin->Connect();
        for (const char* db : {"calvoro_tab_src", "calvoro_tab_dst"})
            admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QLatin1String(db)));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_tab_src CHARACTER SET utf8mb4"));
        admin->ExecSQL(QStringLiteral("CREATE DATABASE calvoro_tab_dst CHARACTER SET utf8mb4"));
        for (const char* sql : {
                 "CREATE TABLE calvoro_tab_src.t1 (id INT PRIMARY KEY, name VARCHAR(20))",
                 "INSERT INTO calvoro_tab_src.t1 VALUES (1, 'caf\xC3\xA9 \xF0\x9F\x90\xAC'), (2, NULL)",
                 "CREATE TABLE calvoro_tab_src.t2 (n INT)",
                 "INSERT INTO calvoro_tab_src.t2 VALUES (7)",
                 "CREATE VIEW calvoro_tab_src.v1 AS SELECT id FROM calvoro_tab_src.t1",
                 "CREATE PROCEDURE calvoro_tab_src.p1() SELECT 1",
             })
            admin->ExecSQL(QString::fromUtf8(sql));
        program = test::StartProgram();
        form = program->MainForm.get();
        data = program->Data.get();
        Login(QStringLiteral("calvoro_tab_src"));
    }
    void TearDown() override {
        program.reset();
        for (const char* db : {"calvoro_tab_src", "calvoro_tab_dst"})
            admin->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QLatin1String(db)));
    }
    void Login(const QString& database) {
        test::ConnectTools(*form, *data, database);
        ASSERT_TRUE(data->ToolsConnected());
    }
    // Backs up through the tab into the file; the message boxes shown.
    QStringList Backup(const QString& file) {
        form->ChooseFile = [file](bool save, const QString& ext, const QString&) {
            EXPECT_TRUE(save);
            EXPECT_EQ(ext, QStringLiteral("sql"));
            return file;
        };
        TBoxes boxes;
        form->TntSpeedButton1->click();
        return boxes.Texts;
    }
    QStringList Restore(const QString& file) {
        form->ChooseFile = [file](bool save, const QString&, const QString&) {
            EXPECT_FALSE(save);
            return file;
        };
        TBoxes boxes;
        form->TntSpeedButton2->click();
        return boxes.Texts;
    }

    std::unique_ptr<dac::TMyConnection> admin;
    std::unique_ptr<Program> program;
    TTessrinForm* form = nullptr;
    TData* data = nullptr;
    QTemporaryDir dir;
};

TEST_F(DumpTabsTest, TheBackupWritesWhatTheListAndTheBoxesChoose) {
    struct Case {
        const char* what;
        QStringList selected;
        std::vector<QCheckBox*> checked;
        QStringList present, absent;
    } cases[] = {
        {"nothing selected, the boxes as they start", {}, {form->cbStruct, form->cbData},
         {"CREATE TABLE `t1`", "CREATE TABLE `t2`", "INSERT INTO `t1`", "INSERT INTO `t2`"},
         {"VIEW `v1`", "PROCEDURE", "CREATE DATABASE"}},
        {"one table", {"t1"}, {form->cbStruct, form->cbData}, {"CREATE TABLE `t1`", "INSERT INTO `t1`"},
         {"`t2`"}},
        {"every box unchecked", {}, {}, {}, {"CREATE TABLE", "INSERT INTO", "VIEW", "PROCEDURE"}},
        {"a view with a table", {"t1", "v1"}, {form->cbStruct, form->cbViews}, {"CREATE TABLE `t1`", "VIEW `v1`"},
         {"`t2`", "INSERT INTO"}},
        {"database, routines, structure only", {}, {form->cbDB, form->cbStruct, form->cbProcedures},
         {"CREATE DATABASE", "PROCEDURE `p1`", "CREATE TABLE `t2`"}, {"INSERT INTO"}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        form->TntBitBtn4->click();  // Deselect All
        for (int i = 0; i < form->lbxObjectsToBackup->count(); ++i)
            if (tc.selected.contains(form->lbxObjectsToBackup->item(i)->text()))
                form->lbxObjectsToBackup->item(i)->setSelected(true);
        for (QCheckBox* box : {form->cbDB, form->cbStruct, form->cbData, form->cbViews, form->cbProcedures,
                               form->cbTriggers})
            box->setChecked(std::find(tc.checked.begin(), tc.checked.end(), box) != tc.checked.end());
        const QString file = dir.filePath(QStringLiteral("backup.sql"));
        QFile::remove(file);
        EXPECT_EQ(Backup(file), QStringList{QStringLiteral("Backup to %1 file completed successfully").arg(file)});
        const QByteArray text = ReadFile(file);
        for (const QString& s : tc.present) EXPECT_TRUE(text.contains(s.toUtf8())) << s.toStdString();
        for (const QString& s : tc.absent) EXPECT_FALSE(text.contains(s.toUtf8())) << s.toStdString();
        EXPECT_TRUE(form->ProgressBar1->isHidden());
    }
    // Select All selects every object.
    form->TntBitBtn3->click();
    EXPECT_EQ(form->lbxObjectsToBackup->selectedItems().size(), 3);
}

// The statement size chosen for a backup shows in its file; the connections chosen for a
// restore run the rows of a table's section (a column's default records which connection
// inserted each row): on one, the connection that made the tables; on two, others.
TEST_F(DumpTabsTest, TheChosenStatementSizeAndRestoreConnectionsReachTheWork) {
    auto* size = form->findChild<QComboBox*>(QStringLiteral("cbxStatementSize"));
    auto* connections = form->findChild<QSpinBox*>(QStringLiteral("spnRestoreConnections"));
    ASSERT_TRUE(size && connections);
    EXPECT_EQ(size->currentData().toLongLong(), 16384);
    EXPECT_EQ(connections->value(), 1);

    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_tab_src.t3 (id INT PRIMARY KEY, v VARCHAR(100))"));
    admin->ExecSQL(QStringLiteral("INSERT INTO calvoro_tab_src.t3 SELECT seq, REPEAT('x', 60) FROM calvoro_tab_src.seq_1_to_3000"));
    const struct {
        int Choice;
        qsizetype Statements;
    } sizes[] = {{0, 14}, {1, 1}};  // about 220 KB of rows
    for (const auto& k : sizes) {
        size->setCurrentIndex(k.Choice);
        SCOPED_TRACE(size->currentText().toStdString());
        const QString file = dir.filePath(QStringLiteral("sized.sql"));
        EXPECT_EQ(Backup(file), QStringList{QStringLiteral("Backup to %1 file completed successfully").arg(file)});
        EXPECT_EQ(ReadFile(file).count("INSERT INTO `t3`"), k.Statements);
    }

    QByteArray script = "DROP TABLE IF EXISTS who;\nDROP TABLE IF EXISTS r;\n"
                        "CREATE TABLE who AS SELECT CONNECTION_ID() AS id;\n"
                        "CREATE TABLE r (id INT PRIMARY KEY, c BIGINT DEFAULT (CONNECTION_ID()));\n";
    for (int i = 0; i < 20; ++i) script += QStringLiteral("INSERT INTO r (id) VALUES (%1),(%2);\n").arg(2 * i).arg(2 * i + 1).toUtf8();
    const QString file = dir.filePath(QStringLiteral("rows.sql"));
    WriteFile(file, script);
    Login(QStringLiteral("calvoro_tab_dst"));
    const struct {
        int Connections;
        const char* ByMain;
    } restores[] = {{1, "40"}, {2, "0"}};
    for (const auto& k : restores) {
        SCOPED_TRACE(k.Connections);
        connections->setValue(k.Connections);
        EXPECT_EQ(Restore(file), QStringList{QStringLiteral("Restore from %1 file completed successfully").arg(file)});
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_tab_dst.r")), QStringLiteral("40"));
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_tab_dst.r WHERE c = "
                                                  "(SELECT id FROM calvoro_tab_dst.who)")),
                  QString::fromLatin1(k.ByMain));
    }
}

// The names chosen in the list are the server's own: a comma, a backtick or letters beyond
// Latin-1 in them name that one table, on the backup's 8-bit connection too.
TEST_F(DumpTabsTest, ChosenTablesAreBackedUpByTheNamesTheServerListed) {
    const QString crafted = QStringLiteral("a,b`;DROP TABLE calvoro_tab_src.t2;#"),
                  wide = QString::fromUtf8("\xC3\x84rger_\xE5\x8A\xA8\xE7\x89\xA9");
    for (const QString& name : {crafted, wide}) {
        admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_tab_src.%1 (id INT)").arg(dac::QuoteIdentifier(name)));
        admin->ExecSQL(QStringLiteral("INSERT INTO calvoro_tab_src.%1 VALUES (42)").arg(dac::QuoteIdentifier(name)));
    }
    form->GetDBDetails();
    form->TntBitBtn4->click();  // Deselect All
    for (int i = 0; i < form->lbxObjectsToBackup->count(); ++i) {
        const QString text = form->lbxObjectsToBackup->item(i)->text();
        form->lbxObjectsToBackup->item(i)->setSelected(text == crafted || text == wide);
    }
    ASSERT_EQ(form->lbxObjectsToBackup->selectedItems().size(), 2);
    const QString file = dir.filePath(QStringLiteral("chosen.sql"));
    EXPECT_EQ(Backup(file), QStringList{QStringLiteral("Backup to %1 file completed successfully").arg(file)});
    const QByteArray text = ReadFile(file);
    for (const QString& name : {crafted, wide}) {
        EXPECT_TRUE(text.contains("CREATE TABLE " + dac::QuoteIdentifier(name).toUtf8() + " (")) << name.toStdString();
        EXPECT_TRUE(text.contains("INSERT INTO " + dac::QuoteIdentifier(name).toUtf8() + " VALUES")) << name.toStdString();
    }
    EXPECT_FALSE(text.contains("`t1`"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT n FROM calvoro_tab_src.t2")), QStringLiteral("7"));
}

// A backup logs in on a connection of its own with the tools connection's TLS settings: a CA
// that did not sign the server's certificate fails it, though the tools session is open.
TEST_F(DumpTabsTest, TheBackupConnectionKeepsTheTlsSettings) {
    data->ToolsConnection->SSLOptions().Mode = protocol::smVerifyCa;
    data->ToolsConnection->SSLOptions().CACert = QString::fromStdString(test::Server().TlsOtherCA);
    const QString file = dir.filePath(QStringLiteral("tls.sql"));
    const QStringList boxes = Backup(file);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("did not verify")) && boxes[0].contains(QStringLiteral("VERIFY_CA")))
        << boxes[0].toStdString();
    EXPECT_FALSE(QFile::exists(file));
}

// A tools session over the server's Unix socket backs up over it too: the server written in
// the connection does not even resolve.
TEST_F(DumpTabsTest, TheBackupConnectionTakesTheToolsSocket) {
    dac::TMyConnection& tools = *data->ToolsConnection;
    tools.Disconnect();
    tools.MyOptions().SetUnixSocket(QString::fromStdString(test::Server().Socket));
    tools.SetServer(QStringLiteral("db.invalid"));
    tools.SetLoginPrompt(false);
    tools.Connect();
    const QString file = dir.filePath(QStringLiteral("socket.sql"));
    EXPECT_EQ(Backup(file), QStringList{QStringLiteral("Backup to %1 file completed successfully").arg(file)});
    EXPECT_TRUE(ReadFile(file).contains("CREATE TABLE `t1`"));
}

TEST_F(DumpTabsTest, ABackupRestoresIntoAnEmptyDatabaseWithTheBarMoving) {
    std::vector<int> positions;
    QObject::connect(form->ProgressBar1, &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });
    form->cbViews->setChecked(true);
    form->cbProcedures->setChecked(true);
    const QString file = dir.filePath(QStringLiteral("all.sql"));
    Backup(file);
    EXPECT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 100);

    Login(QStringLiteral("calvoro_tab_dst"));
    positions.clear();
    EXPECT_EQ(Restore(file), QStringList{QStringLiteral("Restore from %1 file completed successfully").arg(file)});
    EXPECT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 100);
    EXPECT_TRUE(form->ProgressBar1->isHidden());
    for (const char* table : {"t1", "t2"})
        EXPECT_EQ(RowsText(*admin, QStringLiteral("CHECKSUM TABLE calvoro_tab_src.%1").arg(QLatin1String(table))).section(u',', 1),
                  RowsText(*admin, QStringLiteral("CHECKSUM TABLE calvoro_tab_dst.%1").arg(QLatin1String(table))).section(u',', 1))
            << table;
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT HEX(name) FROM calvoro_tab_dst.t1 WHERE id = 1")),
              QStringLiteral("636166C3A920F09F90AC"));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_tab_dst.v1")), QStringLiteral("2"));
    // The tools connection was not used: it is still in the database it was.
    EXPECT_EQ(data->ToolsConnection->Database(), QStringLiteral("calvoro_tab_dst"));
    EXPECT_EQ(data->ToolsDump->Connection(), nullptr);
}

TEST_F(DumpTabsTest, ARestoreSaysWhatFailed) {
    const QString file = dir.filePath(QStringLiteral("failing.sql"));
    WriteFile(file, "CREATE TABLE r (id INT PRIMARY KEY);\nINSERT INTO r VALUES (1);\nINSERT INTO r VALUES (1);\n"
                    "INSERT INTO r VALUES (2);\nINSERT INTO r VALUES (2);\nINSERT INTO r VALUES (3);\n");
    using A = TTessrinForm;
    struct Case {
        const char* what;
        A::TRestoreErrorAnswer answer;
        int questions;
        QString message, rows;
    } cases[] = {
        {"continue", A::reContinue, 2, QStringLiteral("Restore from %1 file completed: 2 of 6 statements failed"),
         QStringLiteral("1|2|3")},
        {"continue without asking", A::reContinueAll, 1,
         QStringLiteral("Restore from %1 file completed: 2 of 6 statements failed"), QStringLiteral("1|2|3")},
        {"stop", A::reStop, 1, QStringLiteral("Restore from %1 file stopped after 3 statements, 1 of them failed"),
         QStringLiteral("1")},
    };
    Login(QStringLiteral("calvoro_tab_dst"));
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        admin->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS calvoro_tab_dst.r"));
        QStringList asked;
        form->AskRestoreError = [&](const QString& message) {
            asked << message;
            return tc.answer;
        };
        EXPECT_EQ(Restore(file), QStringList{tc.message.arg(file)});
        EXPECT_EQ(asked.size(), tc.questions);
        if (!asked.isEmpty()) {
            EXPECT_TRUE(asked[0].contains(QStringLiteral("Duplicate entry"))) << asked[0].toStdString();
        }
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id FROM calvoro_tab_dst.r ORDER BY id")), tc.rows);
    }
}

TEST_F(DumpTabsTest, StopWhileAFailureIsAskedAbout) {
    // The restore waits for the answer while Stop waits for the restore's statement: neither
    // may hold up the other.
    const QString file = dir.filePath(QStringLiteral("ask.sql"));
    WriteFile(file, "CREATE TABLE q (id INT PRIMARY KEY);\nINSERT INTO q VALUES (1);\nINSERT INTO q VALUES (1);\n"
                    "INSERT INTO q VALUES (2);\nINSERT INTO q VALUES (3);\n");
    Login(QStringLiteral("calvoro_tab_dst"));
    form->AskRestoreError = [&](const QString&) {
        form->btnStopDump->click();
        return TTessrinForm::reContinue;
    };
    const QStringList texts = Restore(file);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_EQ(texts[0], QStringLiteral("Restore from %1 file stopped after 3 statements, 1 of them failed").arg(file));
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id FROM calvoro_tab_dst.q")), QStringLiteral("1"));
}

TEST_F(DumpTabsTest, StopEndsARestoreAndSaysHowFarItGot) {
    const QString file = dir.filePath(QStringLiteral("slow.sql"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("CREATE TABLE s (id INT);\n");
        for (int i = 0; i < 200; ++i) f.write("INSERT INTO s SELECT SLEEP(0.02);\n");
    }
    Login(QStringLiteral("calvoro_tab_dst"));
    // Stop as soon as the bar shows, from the window's own event loop.
    QTimer stopper;
    stopper.setInterval(50);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!form->btnStopDump->isHidden()) {
            form->btnStopDump->click();
            stopper.stop();
        }
    });
    stopper.start();
    QElapsedTimer clock;
    clock.start();
    const QStringList texts = Restore(file);
    EXPECT_LT(clock.elapsed(), 3000);  // 200 statements of 20 ms would take 4 s
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Restore from %1 file stopped after ").arg(file))) << texts[0].toStdString();
    // What ran: the CREATE TABLE (unless the stop came first) and one statement per row. The
    // statement the stop interrupted may count without its row, or its effect may have reached
    // the server with the stop as its answer, uncounted.
    const bool made = FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE "
                                                        "TABLE_SCHEMA = 'calvoro_tab_dst' AND TABLE_NAME = 's'")) ==
                      QStringLiteral("1");
    const int rows = made ? FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM calvoro_tab_dst.s")).value_or(QString()).toInt() : 0;
    EXPECT_LT(rows, 200);
    const int ran = (made ? 1 : 0) + rows;
    EXPECT_TRUE(texts[0].contains(QStringLiteral(" after %1 statements").arg(ran - 1)) ||
                texts[0].contains(QStringLiteral(" after %1 statements").arg(ran)) ||
                texts[0].contains(QStringLiteral(" after %1 statements").arg(ran + 1)))
        << texts[0].toStdString() << " rows " << rows;
    EXPECT_FALSE(!form->btnStopDump->isHidden());
}

TEST_F(DumpTabsTest, StopEndsABackupAndKeepsTheOldFile) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_tab_src.big (id INT PRIMARY KEY, pad CHAR(200))"));
    admin->ExecSQL(QStringLiteral("INSERT INTO calvoro_tab_src.big SELECT seq, REPEAT('x', 200) FROM calvoro_tab_src.seq_1_to_300000"));
    form->GetDBDetails();
    const QString file = dir.filePath(QStringLiteral("kept.sql"));
    WriteFile(file, "-- the good old backup\n");
    QTimer stopper;
    stopper.setInterval(5);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!form->btnStopDump->isHidden() && form->ProgressBar1->value() > 0) {
            form->btnStopDump->click();
            stopper.stop();
        }
    });
    stopper.start();
    EXPECT_EQ(Backup(file), QStringList{QStringLiteral("Backup to %1 file stopped; the file was not written").arg(file)});
    EXPECT_EQ(ReadFile(file), QByteArray("-- the good old backup\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.sql")});  // no temporary left
    EXPECT_TRUE(form->btnStopDump->isHidden());
}

TEST_F(DumpTabsTest, AScriptListsItsFailuresAndGoesOn) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_tab_src.s (id INT PRIMARY KEY, txt VARCHAR(20), raw VARBINARY(20))"));
    form->mmoExecScript->SetText(QStringLiteral(
        "INSERT INTO s VALUES (1, 'caf\u00e9 \U0001F42C', NULL);\n"
        "INSERT INTO s VALUES (1, 'again', NULL);\n"
        "DELIMITER $$\n"
        "CREATE PROCEDURE sp() BEGIN INSERT INTO s VALUES (2, 'in sp', NULL); END$$\n"
        "DELIMITER ;\n"
        "CALL sp();\n"));
    TBoxes boxes;
    form->btnExecuteScript->setEnabled(true);
    form->btnExecuteScript->click();
    EXPECT_EQ(boxes.Texts, QStringList{QStringLiteral("Are you sure you want to execute the script in the memo?")});
    const QStringList memo = form->TntMemo2->toPlainText().split(u'\n');
    ASSERT_GE(memo.size(), 4);
    EXPECT_EQ(memo.front(), QStringLiteral("-- Script execution started --"));
    EXPECT_TRUE(memo[1].contains(QStringLiteral("Duplicate entry"))) << form->TntMemo2->toPlainText().toStdString();
    EXPECT_EQ(memo.back(), QStringLiteral("-- Script execution finished --"));
    // Typed text reaches the server as UTF-8, and the statements after the failure ran.
    EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id, HEX(txt) FROM calvoro_tab_src.s ORDER BY id")),
              QStringLiteral("1,636166C3A920F09F90AC|2,696E207370"));
    // Unicode mode is back.
    EXPECT_TRUE(data->ToolsConnection->MyOptions().UseUnicode());
    EXPECT_EQ(data->ToolsConnection->MyOptions().Charset(), QString());
    EXPECT_TRUE(data->ToolsConnection->GetConnected());
    EXPECT_TRUE(data->ToolsConnection->LoginPrompt());
}

TEST_F(DumpTabsTest, ALoadedScriptRunsItsBytes) {
    admin->ExecSQL(QStringLiteral("CREATE TABLE calvoro_tab_src.b (id INT, raw VARBINARY(20), txt VARCHAR(20))"));
    struct Case {
        const char* what;
        QByteArray file;
        bool utf8;
        QString shown, rows;
    } cases[] = {
        {"UTF-8", "INSERT INTO b VALUES (1, 'caf\xC3\xA9', 'caf\xC3\xA9');", true,
         QStringLiteral("INSERT INTO b VALUES (1, 'caf\u00e9', 'caf\u00e9');"), QStringLiteral("1,636166C3A9,636166C3A9")},
        {"not UTF-8: shown in the 8-bit code page, sent as it is", "INSERT INTO b (id, raw) VALUES (2, 'caf\xE9\x80');",
         false, QStringLiteral("INSERT INTO b (id, raw) VALUES (2, 'caf\u00e9\u20ac');"), QStringLiteral("2,636166E980,NULL")},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        admin->ExecSQL(QStringLiteral("TRUNCATE TABLE calvoro_tab_src.b"));
        const QString file = dir.filePath(QStringLiteral("script.sql"));
        WriteFile(file, tc.file);
        form->TntMemo2->setPlainText(QStringLiteral("old"));
        form->ChooseFile = [file](bool save, const QString&, const QString&) {
            EXPECT_FALSE(save);
            return file;
        };
        form->TntBitBtn5->click();
        EXPECT_EQ(form->TntMemo2->toPlainText(), QString());
        EXPECT_EQ(form->mmoExecScript->Text(), tc.shown);
        EXPECT_EQ(form->mmoExecScript->LoadedAsUtf8(), tc.utf8);
        TBoxes boxes;
        form->btnExecuteScript->setEnabled(true);
        form->btnExecuteScript->click();
        EXPECT_EQ(RowsText(*admin, QStringLiteral("SELECT id, HEX(raw), HEX(txt) FROM calvoro_tab_src.b")), tc.rows);
    }
}

TEST_F(DumpTabsTest, StopEndsAScript) {
    form->mmoExecScript->SetText(QStringLiteral("SELECT SLEEP(5);\nCREATE TABLE never_made (n INT);"));
    QTimer stopper;
    stopper.setInterval(100);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!form->btnStopScript->isHidden()) {
            QTimer::singleShot(200, form->btnStopScript, &QPushButton::click);
            stopper.stop();
        }
    });
    stopper.start();
    QElapsedTimer clock;
    clock.start();
    TBoxes boxes;
    form->btnExecuteScript->setEnabled(true);
    form->btnExecuteScript->click();
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_TRUE(form->TntMemo2->toPlainText().endsWith(QStringLiteral("-- Script execution stopped after 0 statements --")))
        << form->TntMemo2->toPlainText().toStdString();
    EXPECT_EQ(FirstValue(*admin, QStringLiteral("SELECT COUNT(*) FROM information_schema.TABLES WHERE TABLE_NAME = 'never_made'")),
              QStringLiteral("0"));
    EXPECT_TRUE(data->ToolsConnection->MyOptions().UseUnicode());
    EXPECT_FALSE(!form->btnStopScript->isHidden());
}

}  // namespace
