// The CSV loader against the test server: tricky files loaded and read back row by row with the
// mariadb client, refused rows reported by line with the server's reason, and loads that end
// early (stopped, connection lost) reporting exactly what is in the table.
#include "dataaccess/support/MyTestConnection.h"
#include "import/CsvLoader.h"
#include "support/MariadbClient.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QStringList>
#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::import;

namespace {

const QString kDb = QStringLiteral("calvoro_csv_import");

// The table's rows as the mariadb client reads them: "id|hex of v|n", NULL as NULL.
QStringList ServerRows() {
    const test::TToolResult r = test::RunMariadbTool(
        QStringLiteral("mariadb"),
        {"-N", "-B", "-e", QStringLiteral("SELECT id, HEX(v), n FROM `%1`.t ORDER BY id").arg(kDb)});
    EXPECT_EQ(r.Status, 0) << r.Err.toStdString();
    QStringList rows;
    for (const QByteArray& line : r.Out.split('\n'))
        if (!line.isEmpty()) rows << QString::fromUtf8(line).replace(u'\t', u'|');
    return rows;
}

// An expected row: id, v as text (UTF-8 in hex on the server) or NULL, n or NULL.
QString Row(int id, const std::optional<QString>& v, const char* n) {
    return QStringLiteral("%1|%2|%3").arg(id).arg(v ? QString::fromLatin1(v->toUtf8().toHex().toUpper()) : "NULL", n);
}

class CsvLoader : public ::testing::Test {
protected:
    void SetUp() override {
        Connection = test::NewConnection();
        Connection->Connect();
        Connection->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(kDb));
        Connection->ExecSQL(QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(kDb));
        ResetTable();
    }
    void TearDown() override { Connection->ExecSQL(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(kDb)); }
    void ResetTable() {
        Connection->ExecSQL(QStringLiteral("DROP TABLE IF EXISTS `%1`.t").arg(kDb));
        Connection->ExecSQL(QStringLiteral("CREATE TABLE `%1`.t (id INT PRIMARY KEY, v VARCHAR(20) NULL, n INT NULL) "
                                           "ENGINE=InnoDB")
                                .arg(kDb));
    }
    TImportReport Load(const QByteArray& csv, const TCsvFormat& format, int64_t statementBytes = 1 << 20,
                       const QStringList& columns = {},
                       const std::function<void(TCsvLoader&, const TImportProgress&)>& onProgress = {}) {
        QBuffer input;
        input.setData(csv);
        input.open(QIODevice::ReadOnly);
        TCsvLoader loader(*Connection, {kDb, QStringLiteral("t")}, columns, format);
        loader.SetStatementBytes(statementBytes);
        return loader.Load(input, [&](const TImportProgress& p) {
            if (onProgress) onProgress(loader, p);
        });
    }
    std::unique_ptr<dac::TMyConnection> Connection;
};

struct FileCase {
    const char* Name;
    QByteArray Csv;
    QStringList Rows;                  // on the server afterwards
    std::vector<int64_t> RefusedLines;
    QString NullMarker = QString();
    TCsvEncoding Encoding = ceUtf8;
    int Skip = 0;
};

// Each file twice: in one statement, and in statements of about one row, so that a refused row
// sits in a batch of its own as well as in a batch with good rows.
TEST_F(CsvLoader, TrickyFilesRowByRow) {
    const QString null;
    const FileCase cases[] = {
        {"quotes, delimiters and doubled quotes", "1,\"a,b\",2\n2,\"say \"\"hi\"\"\",0\n3,'x',-7\n",
         {Row(1, "a,b", "2"), Row(2, "say \"hi\"", "0"), Row(3, "'x'", "-7")}, {}},
        {"line breaks inside quotes, CRLF records", "1,\"x\r\ny\",1\r\n2,\"p\nq\",2\r\n3,z,3\r\n",
         {Row(1, "x\r\ny", "1"), Row(2, "p\nq", "2"), Row(3, "z", "3")}, {}},
        {"byte-order mark and a header", "\xEF\xBB\xBFid,v,n\r\n1,\xC3\xA9t\xC3\xA9,1\r\n",
         {Row(1, QStringLiteral("été"), "1")}, {}, null, ceUtf8, 1},
        {"NULL marker: unquoted is NULL, quoted is text, empty is ''", "1,\\N,\\N\n2,\"\\N\",2\n3,,3\n",
         {Row(1, std::nullopt, "NULL"), Row(2, "\\N", "2"), Row(3, "", "3")}, {}, "\\N"},
        {"too many and too few fields", "1,a,1\n2,b,2,extra\n3,c\n4,d,4\n", {Row(1, "a", "1"), Row(4, "d", "4")}, {2, 3}},
        {"the server refuses a duplicate key and a bad number", "1,a,1\n1,dup,2\n2,b,x\n\n3,\"multi\nline\",3\n5,e,5\n",
         {Row(1, "a", "1"), Row(3, "multi\nline", "3"), Row(5, "e", "5")}, {2, 3}},
        {"a value longer than the column", "1,abcdefghijklmnopqrstuvwxyz,1\n2,ok,2\n", {Row(2, "ok", "2")}, {1}},
        {"malformed quoting and an unclosed quote", "1,\"a\"b,1\n2,ok,2\n3,\"open,3\n", {Row(2, "ok", "2")}, {1, 3}},
        {"Windows-1252", "1,\x80\xE9,1\n", {Row(1, QStringLiteral("€é"), "1")}, {}, null, ceWindows1252},
        {"backslashes and quotes reach the server as written", "1,\\',1\n2,\\\\n,2\n",
         {Row(1, "\\'", "1"), Row(2, "\\\\n", "2")}, {}},
    };
    for (const FileCase& c : cases) {
        for (const int64_t statementBytes : {int64_t(1) << 20, int64_t(1)}) {
            SCOPED_TRACE(QStringLiteral("%1, statements of %2 bytes").arg(c.Name).arg(statementBytes).toStdString());
            ResetTable();
            TCsvFormat format;
            format.NullMarker = c.NullMarker;
            format.Encoding = c.Encoding;
            format.SkipRecords = c.Skip;
            const TImportReport report = Load(c.Csv, format, statementBytes);
            EXPECT_EQ(report.Failure, QString());
            EXPECT_FALSE(report.Stopped);
            EXPECT_EQ(ServerRows(), c.Rows);
            EXPECT_EQ(report.RowsLoaded, c.Rows.size());
            std::vector<int64_t> lines;
            for (const TRefusedRow& r : report.Refused) lines.push_back(r.Line);
            EXPECT_EQ(lines, c.RefusedLines);
        }
    }
}

TEST_F(CsvLoader, RefusalsCarryTheReason) {
    const TImportReport report = Load("1,a,1\n1,b,2\n2,c,x\n3,d\n", {});
    ASSERT_EQ(report.Refused.size(), 3u);
    EXPECT_EQ(report.Refused[0], (TRefusedRow{2, "Duplicate entry '1' for key 'PRIMARY'"}));
    EXPECT_EQ(report.Refused[1].Line, 3);
    EXPECT_TRUE(report.Refused[1].Reason.startsWith("Incorrect integer value: 'x' for column")) << report.Refused[1].Reason.toStdString();
    EXPECT_EQ(report.Refused[2], (TRefusedRow{4, "2 fields where 3 columns are loaded"}));
    EXPECT_EQ(report.Summary(), QStringLiteral("1 rows loaded, 3 refused."));
}

TEST_F(CsvLoader, ChosenColumnsInTheirOrder) {
    TCsvFormat format;
    format.NullMarker = QStringLiteral("\\N");
    const TImportReport report = Load("7,10\n\\N,11\n", format, 1 << 20, {"n", "id"});
    EXPECT_EQ(report.Refused.size(), 0u);
    EXPECT_EQ(ServerRows(), (QStringList{Row(10, std::nullopt, "7"), Row(11, std::nullopt, "NULL")}));
}

TEST_F(CsvLoader, NoSuchTableRaisesBeforeLoading) {
    QBuffer input;
    input.setData("1\n");
    input.open(QIODevice::ReadOnly);
    TCsvLoader loader(*Connection, {kDb, QStringLiteral("missing")}, {}, {});
    EXPECT_THROW(loader.Load(input), dac::EMyError);
}

// Stopped after the first batch: that batch is in the table, nothing after it, and the report says so.
TEST_F(CsvLoader, StopKeepsWhatWasCommittedAndSaysSo) {
    QByteArray csv;
    for (int i = 1; i <= 50; ++i) csv += QByteArray::number(i) + ",v,1\n";
    const TImportReport report = Load(csv, {}, 100, {}, [](TCsvLoader& loader, const TImportProgress&) { loader.Stop(); });
    EXPECT_TRUE(report.Stopped);
    ASSERT_GT(report.RowsLoaded, 0);
    EXPECT_LT(report.RowsLoaded, 50);
    EXPECT_EQ(ServerRows().size(), report.RowsLoaded);
    EXPECT_EQ(report.CommittedThroughLine, report.RowsLoaded);
    EXPECT_EQ(report.Summary(), QStringLiteral("%1 rows loaded, 0 refused. Stopped: the rows up to line %1 are "
                                               "committed; nothing after that line was loaded.")
                                    .arg(report.RowsLoaded));
}

// The connection killed between batches: the load ends with the server's error and the rows of
// the committed batches, exactly, are in the table.
TEST_F(CsvLoader, LostConnectionEndsTheLoadAndSaysWhatIsCommitted) {
    QByteArray csv;
    for (int i = 1; i <= 50; ++i) csv += QByteArray::number(i) + ",v,1\n";
    auto killer = test::NewConnection();
    killer->Connect();
    const int64_t id = Connection->GetThreadId();
    int batches = 0;
    const TImportReport report = Load(csv, {}, 100, {}, [&](TCsvLoader&, const TImportProgress&) {
        if (++batches == 2) killer->ExecSQL(QStringLiteral("KILL %1").arg(id));
    });
    EXPECT_FALSE(report.Failure.isEmpty());
    EXPECT_FALSE(report.Stopped);
    ASSERT_GT(report.RowsLoaded, 0);
    EXPECT_LT(report.RowsLoaded, 50);
    EXPECT_EQ(ServerRows().size(), report.RowsLoaded);
    EXPECT_EQ(report.CommittedThroughLine, report.RowsLoaded);
    EXPECT_TRUE(report.Summary().contains(QStringLiteral("the rows up to line %1 are committed").arg(report.RowsLoaded)))
        << report.Summary().toStdString();
}

TEST(CsvStatements, HeadAndValues) {
    EXPECT_EQ(InsertStatementHead({"my db", "a`b.c"}, {"x", "select"}),
              QStringLiteral("INSERT INTO `my db`.`a``b.c` (`x`,`select`) VALUES "));
    EXPECT_EQ(InsertStatementHead({"", "t"}, {}), QStringLiteral("INSERT INTO `t` VALUES "));
    const std::vector<std::optional<QString>> fields{std::nullopt, QString(""), QStringLiteral("it's \\ \n")};
    QString backslashes, doubled;
    AppendRowValues(backslashes, fields, true);
    AppendRowValues(doubled, fields, false);
    EXPECT_EQ(backslashes, QStringLiteral("(NULL,'','it\\'s \\\\ \\n')"));
    EXPECT_EQ(doubled, QStringLiteral("(NULL,'','it''s \\ \n')"));
}

}  // namespace
