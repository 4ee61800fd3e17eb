// Data sets against the test server: rows edited, inserted and deleted through a query change
// exactly that row on the server (or fail clearly and change nothing); opening, executing,
// counting, refreshing; the SQL helpers on a live query; row and table locks; ENUM values; the
// table component; auto refresh.

#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/MyServices.h"
#include "dataaccess/mysql/MySqlIdentifier.h"
#include "support/MyTestConnection.h"
#include "support/Raised.h"
#include "common/ScopeGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::FirstValue;
using calvoro::test::NewConnection;
using calvoro::test::Raised;
using calvoro::test::RowsText;

namespace {

class DataSetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        auto admin = NewConnection();
        admin->ExecSQL(QStringLiteral("CREATE DATABASE IF NOT EXISTS calvoro_ds"));
    }
    void SetUp() override {
        c = NewConnection(true, QStringLiteral("calvoro_ds"));
        c->Connect();
    }
    void Exec(const QString& sql) { c->ExecSQL(sql); }

    std::unique_ptr<TMyQuery> Query(const QString& sql, bool open = true) {
        auto q = std::make_unique<TMyQuery>();
        q->SetConnection(c.get());
        q->SQL().SetText(sql);
        if (open) q->Open();
        return q;
    }

    std::unique_ptr<TMyConnection> c;
};

// The rows of an open data set as "a,b|c,d" (NULL as "NULL"), sorted, for comparing with the
// server's rows whatever the order.
QString Sorted(const QString& rows) {
    QStringList list = rows.split(u'|', Qt::SkipEmptyParts);
    list.sort();
    return list.join(u'|');
}

QString MemoryRows(TDataSet& ds) {
    QStringList rows;
    const TRecBookmark here = ds.GetBookmark();
    for (ds.First(); !ds.Eof(); ds.Next()) {
        QStringList values;
        for (const auto& f : ds.Fields()) values << (f->IsNull() ? QStringLiteral("NULL") : f->AsString());
        rows << values.join(u',');
    }
    ds.GotoBookmark(here);
    return rows.join(u'|');
}

// --- Writing rows back ---

enum Action { Edit, Append, Delete, Server };

struct Step {
    Action action;
    int row;  // 1-based row of the data set (Edit, Delete)
    // Field and value; a null value writes NULL. For Server: the statement in the first value.
    std::vector<std::pair<const char*, const char*>> values;
    const char* error;   // part of the expected message; nullptr: the step succeeds
    const char* server;  // the check query's rows afterwards
};

struct WriteCase {
    const char* name;
    std::vector<const char*> setup;
    const char* query;
    const char* check;
    bool sameAsMemory;  // the check query shows what the data set holds
    std::vector<Step> steps;
};

const std::vector<WriteCase>& WriteCases() {
    static const std::vector<WriteCase> cases = {
        {"primary key",
         {"CREATE TABLE w_pk (id INT PRIMARY KEY, v VARCHAR(20))", "INSERT INTO w_pk VALUES (1, 'a'), (2, 'b')"},
         "SELECT * FROM w_pk ORDER BY id", "SELECT * FROM w_pk ORDER BY id", true,
         {{Edit, 1, {{"v", "x"}}, nullptr, "1,x|2,b"},
          {Append, 0, {{"id", "3"}, {"v", "c"}}, nullptr, "1,x|2,b|3,c"},
          {Append, 0, {{"id", "3"}, {"v", "d"}}, "Duplicate entry", "1,x|2,b|3,c"},
          {Delete, 1, {}, nullptr, "2,b|3,c"},
          {Edit, 1, {{"id", "1"}, {"v", "y"}}, nullptr, "1,y|3,c"},  // the old key finds the row
          {Edit, 2, {{"v", "a value far too long for the column"}}, "Data too long", "1,y|3,c"},
          {Server, 0, {{"DELETE FROM w_pk WHERE id = 3", nullptr}}, nullptr, "1,y"},
          {Edit, 2, {{"v", "z"}}, "Update failed. Found 0 records", "1,y"},
          {Delete, 2, {}, "Update failed. Found 0 records", "1,y"}}},
        {"composite primary key",
         {"CREATE TABLE w_composite (a INT, b INT, v VARCHAR(20), PRIMARY KEY (a, b))",
          "INSERT INTO w_composite VALUES (1, 1, 'a'), (1, 2, 'b'), (2, 1, 'c')"},
         "SELECT * FROM w_composite ORDER BY a, b", "SELECT * FROM w_composite ORDER BY a, b", true,
         {{Edit, 2, {{"v", "x"}}, nullptr, "1,1,a|1,2,x|2,1,c"},
          {Delete, 1, {}, nullptr, "1,2,x|2,1,c"},
          {Append, 0, {{"a", "2"}, {"b", "2"}, {"v", "d"}}, nullptr, "1,2,x|2,1,c|2,2,d"}}},
        {"unique key on NOT NULL columns",
         {"CREATE TABLE w_unique (u INT NOT NULL, v VARCHAR(20), UNIQUE KEY (u))",
          "INSERT INTO w_unique VALUES (1, 'a'), (2, 'a')"},
         "SELECT * FROM w_unique ORDER BY u", "SELECT * FROM w_unique ORDER BY u", true,
         {{Edit, 1, {{"v", "x"}}, nullptr, "1,x|2,a"},
          {Edit, 1, {{"v", nullptr}}, nullptr, "1,NULL|2,a"},
          {Delete, 2, {}, nullptr, "1,NULL"}}},
        {"unique key on a nullable column",
         {"CREATE TABLE w_nullable (u INT NULL, v VARCHAR(20), UNIQUE KEY (u))",
          "INSERT INTO w_nullable VALUES (NULL, 'a'), (NULL, 'a'), (1, 'b')"},
         "SELECT * FROM w_nullable ORDER BY u, v", "SELECT * FROM w_nullable ORDER BY u, v", true,
         {{Edit, 1, {{"v", "x"}}, "Update failed. Found 2 records in table calvoro_ds.w_nullable", "NULL,a|NULL,a|1,b"},
          {Delete, 2, {}, "Update failed. Found 2 records in table calvoro_ds.w_nullable", "NULL,a|NULL,a|1,b"},
          {Edit, 3, {{"v", "y"}}, nullptr, "NULL,a|NULL,a|1,y"}}},
        {"only a non-unique key",
         {"CREATE TABLE w_index (k INT, v VARCHAR(20), KEY (k))", "INSERT INTO w_index VALUES (1, 'a'), (1, 'b')"},
         "SELECT * FROM w_index ORDER BY k, v", "SELECT * FROM w_index ORDER BY k, v", true,
         {{Edit, 1, {{"v", "x"}}, nullptr, "1,b|1,x"},
          {Delete, 2, {}, nullptr, "1,x"}}},
        {"no key and duplicate rows",
         {"CREATE TABLE w_nokey (a INT, v VARCHAR(20))", "INSERT INTO w_nokey VALUES (1, 'a'), (1, 'a'), (2, 'b')"},
         "SELECT * FROM w_nokey ORDER BY a", "SELECT * FROM w_nokey ORDER BY a", true,
         {{Delete, 1, {}, "Update failed. Found 2 records in table calvoro_ds.w_nokey", "1,a|1,a|2,b"},
          {Edit, 2, {{"v", "x"}}, "Update failed. Found 2 records in table calvoro_ds.w_nokey", "1,a|1,a|2,b"},
          {Edit, 3, {{"v", "x"}}, nullptr, "1,a|1,a|2,x"},
          {Append, 0, {{"a", "3"}}, nullptr, "1,a|1,a|2,x|3,NULL"},
          {Delete, 4, {}, nullptr, "1,a|1,a|2,x"}}},
        {"auto-increment column",
         {"CREATE TABLE w_auto (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(20))",
          "INSERT INTO w_auto (v) VALUES ('a'), ('b')"},
         "SELECT * FROM w_auto ORDER BY id", "SELECT * FROM w_auto ORDER BY id", true,
         {{Append, 0, {{"v", "c"}}, nullptr, "1,a|2,b|3,c"},  // the new id comes back into the row
          {Edit, 3, {{"v", "d"}}, nullptr, "1,a|2,b|3,d"},
          {Delete, 3, {}, nullptr, "1,a|2,b"}}},
        {"TIMESTAMP ON UPDATE column without a key",
         {"CREATE TABLE w_stamp (n INT, v VARCHAR(20), "
          "ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP)",
          "INSERT INTO w_stamp VALUES (1, 'a', '2020-01-01 00:00:00'), (2, 'b', '2020-01-01 00:00:00')"},
         "SELECT * FROM w_stamp ORDER BY n", "SELECT n, v, ts > '2020-01-01' FROM w_stamp ORDER BY n", false,
         {{Edit, 1, {{"v", "x"}}, nullptr, "1,x,1|2,b,0"},
          {Delete, 1, {}, nullptr, "2,b,0"}}},  // the server's new stamp is not in memory: not matched
        {"FLOAT column without a key",
         {"CREATE TABLE w_float (f FLOAT, v VARCHAR(20))", "INSERT INTO w_float VALUES (0.1, 'a'), (0.2, 'b')"},
         "SELECT * FROM w_float ORDER BY v", "SELECT * FROM w_float ORDER BY v", true,
         {{Edit, 1, {{"v", "x"}}, nullptr, "0.2,b|0.1,x"},
          {Delete, 2, {}, nullptr, "0.1,x"}}},
        {"joined tables",
         {"CREATE TABLE w_master (id INT PRIMARY KEY, v VARCHAR(20))",
          "CREATE TABLE w_detail (id INT PRIMARY KEY, master_id INT, w VARCHAR(20))",
          "INSERT INTO w_master VALUES (1, 'a'), (2, 'b')", "INSERT INTO w_detail VALUES (10, 1, 'p'), (20, 2, 'q')"},
         "SELECT m.id, m.v, d.w FROM w_master m JOIN w_detail d ON d.master_id = m.id ORDER BY m.id",
         "SELECT m.id, m.v, d.w FROM w_master m JOIN w_detail d ON d.master_id = m.id ORDER BY m.id", true,
         {{Edit, 1, {{"v", "x"}}, nullptr, "1,x,p|2,b,q"},
          {Edit, 1, {{"w", "z"}}, "Field 'w' cannot be modified", "1,x,p|2,b,q"},
          {Delete, 2, {}, nullptr, "1,x,p"}}},
        {"empty string and NULL",
         {"CREATE TABLE w_empty (a INT, s VARCHAR(10) NULL, t VARCHAR(10) NOT NULL DEFAULT 'd')",
          "INSERT INTO w_empty VALUES (1, '', 'a'), (1, NULL, 'a')"},
         "SELECT * FROM w_empty ORDER BY s", "SELECT * FROM w_empty ORDER BY s, t", true,
         {{Edit, 2, {{"t", "b"}}, nullptr, "1,NULL,a|1,,b"},  // '' is matched as '', not IS NULL
          {Edit, 1, {{"t", ""}}, nullptr, "1,NULL,|1,,b"},    // '' is written as ''
          {Edit, 1, {{"s", ""}}, nullptr, "1,,|1,,b"}}},
        {"exact values in the row's conditions",
         {"CREATE TABLE w_exact (d DECIMAL(30,10), f DOUBLE, dt DATETIME(3), b VARBINARY(8), n INT)",
          "INSERT INTO w_exact VALUES "
          "('12345678901234567890.0123456789', 0.1, '2020-01-02 03:04:05.678', 0x00FF275C, 1), "
          "('12345678901234567890.0123456788', 0.1, '2020-01-02 03:04:05.678', 0x00FF275C, 1), "
          "('12345678901234567890.0123456789', 0.1, '2020-01-02 03:04:05.677', 0x00FF275C, 1), "
          "('12345678901234567890.0123456789', 0.1, '2020-01-02 03:04:05.678', 0x00FF275D, 1), "
          "('12345678901234567890.0123456789', 0.30000000000000004, '2020-01-02 03:04:05.678', 0x00FF275C, 1)"},
         "SELECT * FROM w_exact ORDER BY d, f, dt, b",
         "SELECT d, f, dt, HEX(b), n FROM w_exact ORDER BY d, f, dt, b", false,
         // Row 3 differs from the others only in the last decimal digit, the fraction of a
         // second, one byte, or the last digit of a double.
         {{Edit, 3, {{"n", "2"}}, nullptr,
           "12345678901234567890.0123456788,0.1,2020-01-02 03:04:05.678,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.677,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275C,2|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275D,1|"
           "12345678901234567890.0123456789,0.30000000000000004,2020-01-02 03:04:05.678,00FF275C,1"},
          {Delete, 5, {}, nullptr,
           "12345678901234567890.0123456788,0.1,2020-01-02 03:04:05.678,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.677,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275C,2|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275D,1"},
          {Append, 0, {{"d", "-0.0000000001"}, {"f", "1e-300"}, {"dt", "2021-02-03 04:05:06.789"}}, nullptr,
           "-0.0000000001,1e-300,2021-02-03 04:05:06.789,NULL,NULL|"
           "12345678901234567890.0123456788,0.1,2020-01-02 03:04:05.678,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.677,00FF275C,1|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275C,2|"
           "12345678901234567890.0123456789,0.1,2020-01-02 03:04:05.678,00FF275D,1"}}},
    };
    return cases;
}

TEST_F(DataSetTest, EditsInsertsAndDeletesChangeExactlyThatRow) {
    for (const WriteCase& tc : WriteCases()) {
        SCOPED_TRACE(tc.name);
        Exec(QStringLiteral("DROP TABLE IF EXISTS w_pk, w_composite, w_unique, w_nullable, w_index, w_nokey, "
                            "w_auto, w_stamp, w_float, w_master, w_detail, w_empty, w_exact"));
        for (const char* sql : tc.setup) Exec(QString::fromUtf8(sql));
        auto q = Query(QString::fromUtf8(tc.query));
        for (size_t i = 0; i < tc.steps.size(); ++i) {
            const Step& step = tc.steps[i];
            SCOPED_TRACE(testing::Message() << "step " << i + 1);
            if (step.action == Server) {
                Exec(QString::fromUtf8(step.values[0].first));
                EXPECT_EQ(RowsText(*c, QString::fromUtf8(tc.check)), QString::fromUtf8(step.server));
                continue;
            }
            if (step.action != Append) q->SetRecNo(step.row);
            const QString before = MemoryRows(*q);
            auto run = [&] {
                if (step.action == Delete) return q->Delete();
                step.action == Edit ? q->Edit() : q->Append();
                for (const auto& [name, value] : step.values) {
                    TField& f = q->FieldByName(QString::fromUtf8(name));
                    value ? f.SetAsString(QString::fromUtf8(value)) : f.Clear();
                }
                q->Post();
            };
            if (step.error) {
                const EDatabaseError e = Raised<EDatabaseError>(run);
                EXPECT_TRUE(e.Message().contains(QString::fromUtf8(step.error))) << e.Message().toStdString();
                if (step.action != Delete && !QString::fromUtf8(step.error).contains(u"cannot be modified")) {
                    // The post failed: the values entered are still there to correct or cancel.
                    EXPECT_EQ(q->State(), step.action == Edit ? dsEdit : dsInsert);
                    for (const auto& [name, value] : step.values)
                        if (value) {
                            EXPECT_EQ(q->FieldByName(QString::fromUtf8(name)).AsString(), QString::fromUtf8(value));
                        }
                }
                q->Cancel();
                EXPECT_EQ(MemoryRows(*q), before);
            } else {
                run();
                EXPECT_EQ(q->State(), dsBrowse);
                EXPECT_EQ(q->RowsAffected(), 1);
            }
            const QString server = RowsText(*c, QString::fromUtf8(tc.check));
            EXPECT_EQ(server, QString::fromUtf8(step.server));
            if (tc.sameAsMemory && step.error == nullptr) {
                EXPECT_EQ(Sorted(MemoryRows(*q)), Sorted(server));
            }
        }
    }
}

TEST_F(DataSetTest, AutoIncrementValueReachesTheRowAndInsertId) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_id"));
    Exec(QStringLiteral("CREATE TABLE w_id (id BIGINT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(5)) AUTO_INCREMENT = 5000000000"));
    auto q = Query(QStringLiteral("SELECT * FROM w_id"));
    q->Append();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("a"));
    q->Post();
    EXPECT_EQ(q->FieldByName(QStringLiteral("id")).AsLargeInt(), 5000000000LL);
    EXPECT_EQ(q->InsertId(), 5000000000LL);
    // The row found by the id it got: an edit right after the insert changes it.
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("b"));
    q->Post();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_id")), QStringLiteral("5000000000,b"));
}

TEST_F(DataSetTest, RefreshOptionsReadBackWhatTheServerMade) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_refresh"));
    Exec(QStringLiteral("CREATE TABLE w_refresh (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(5), "
                        "d VARCHAR(5) DEFAULT 'def', n INT AS (id * 10) VIRTUAL)"));
    auto q = Query(QStringLiteral("SELECT * FROM w_refresh"), false);
    q->SetRefreshOptions(roAfterInsert | roAfterUpdate);
    q->Open();
    q->Append();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("a"));
    q->Post();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,a,def,10"));
    // The server changes the row behind the data set; an update reads it back.
    Exec(QStringLiteral("UPDATE w_refresh SET d = 'srv'"));
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("b"));
    q->Post();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,b,srv,10"));

    // RefreshRecord re-reads one row; a row the server no longer has goes.
    Exec(QStringLiteral("UPDATE w_refresh SET v = 'c'"));
    q->RefreshRecord();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,c,srv,10"));
    Exec(QStringLiteral("DELETE FROM w_refresh"));
    q->RefreshRecord();
    EXPECT_EQ(q->RecordCount(), 0);
}

TEST_F(DataSetTest, AFailingReadBackUndoesTheWrite) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_readback"));
    Exec(QStringLiteral("CREATE TABLE w_readback (id INT PRIMARY KEY, v VARCHAR(5)) ENGINE = InnoDB"));
    Exec(QStringLiteral("INSERT INTO w_readback VALUES (1, 'a')"));
    auto q = Query(QStringLiteral("SELECT * FROM w_readback"), false);
    q->SetRefreshOptions(roAfterInsert | roAfterUpdate);
    // A read-back that finds two rows: the post fails after the server took the write.
    q->SQLRefresh().SetText(QStringLiteral("SELECT v FROM w_readback UNION ALL SELECT 'x'"));
    q->Open();
    q->Append();
    q->FieldByName(QStringLiteral("id")).SetAsInteger(2);
    EXPECT_EQ(Raised<EDatabaseError>([&] { q->Post(); }).Message(), QStringLiteral("Refresh failed. Found 3 records"));
    EXPECT_EQ(q->State(), dsInsert);
    q->Cancel();
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("b"));
    EXPECT_THROW(q->Post(), EDatabaseError);
    EXPECT_EQ(q->State(), dsEdit);
    q->Cancel();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_readback")), QStringLiteral("1,a"));
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,a"));
}

TEST_F(DataSetTest, CachedUpdatesWaitForApply) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_cached"));
    Exec(QStringLiteral("CREATE TABLE w_cached (id INT PRIMARY KEY, v VARCHAR(5))"));
    Exec(QStringLiteral("INSERT INTO w_cached VALUES (1, 'a'), (2, 'b'), (3, 'c')"));
    auto q = Query(QStringLiteral("SELECT * FROM w_cached ORDER BY id"), false);
    q->SetCachedUpdates(true);
    q->Open();
    q->Edit();
    q->FieldByName(QStringLiteral("id")).SetAsInteger(10);  // the old key still finds the row
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    q->Post();
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("y"));
    q->Post();
    q->Next();
    q->Delete();
    q->Append();
    q->FieldByName(QStringLiteral("id")).SetAsInteger(4);
    q->Post();
    EXPECT_TRUE(q->UpdatesPending());
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_cached ORDER BY id")), QStringLiteral("1,a|2,b|3,c"));
    q->ApplyUpdates();
    q->CommitUpdates();
    EXPECT_FALSE(q->UpdatesPending());
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_cached ORDER BY id")), QStringLiteral("3,c|4,NULL|10,y"));
    EXPECT_EQ(Sorted(MemoryRows(*q)), QStringLiteral("10,y|3,c|4,NULL"));
}

TEST_F(DataSetTest, CheckRowVersionRefusesRowsChangedOnTheServer) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_version"));
    Exec(QStringLiteral("CREATE TABLE w_version (id INT PRIMARY KEY, v VARCHAR(5), w VARCHAR(5))"));
    Exec(QStringLiteral("INSERT INTO w_version VALUES (1, 'a', 'a')"));
    auto q = Query(QStringLiteral("SELECT * FROM w_version"), false);
    q->MyOptions().SetCheckRowVersion(true);
    q->Open();
    Exec(QStringLiteral("UPDATE w_version SET w = 'srv'"));
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    EXPECT_TRUE(Raised<EDatabaseError>([&] { q->Post(); }).Message().contains(u"Found 0 records"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_version")), QStringLiteral("1,a,srv"));
    // Without the check the key alone finds the row.
    q->Cancel();
    q->MyOptions().SetCheckRowVersion(false);
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    q->Post();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_version")), QStringLiteral("1,x,srv"));
}

TEST_F(DataSetTest, CustomStatementsAndKeyFieldsReplaceTheGeneratedOnes) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_custom, w_log"));
    Exec(QStringLiteral("CREATE TABLE w_custom (id INT PRIMARY KEY, v VARCHAR(5))"));
    Exec(QStringLiteral("CREATE TABLE w_log (old_v VARCHAR(5), new_v VARCHAR(5))"));
    Exec(QStringLiteral("INSERT INTO w_custom VALUES (1, 'a')"));
    auto q = Query(QStringLiteral("SELECT * FROM w_custom"), false);
    q->SQLUpdate().SetText(QStringLiteral("INSERT INTO w_log VALUES (:Old_v, :v)"));
    q->Open();
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("b"));
    q->Post();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_log")), QStringLiteral("a,b"));
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_custom")), QStringLiteral("1,a"));
    // A custom refresh is filled from the row's current values.
    q->SQLRefresh().SetText(QStringLiteral("SELECT CONCAT(v, '!') AS v FROM w_custom WHERE id = :id"));
    q->RefreshRecord();
    EXPECT_EQ(q->FieldByName(QStringLiteral("v")).AsString(), QStringLiteral("a!"));
    // A name that is neither a field nor a parameter.
    q->SQLDelete().SetText(QStringLiteral("DELETE FROM w_custom WHERE id = :nope"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { q->Delete(); }).Message(), QStringLiteral("Unknown data type of parameter nope"));
    EXPECT_EQ(q->RecordCount(), 1);

    // KeyFields names the identifying fields when the table has no key of its own.
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_keyless"));
    Exec(QStringLiteral("CREATE TABLE w_keyless (code VARCHAR(5), v VARCHAR(5))"));
    Exec(QStringLiteral("INSERT INTO w_keyless VALUES ('k1', 'a'), ('k2', 'a')"));
    auto k = Query(QStringLiteral("SELECT * FROM w_keyless ORDER BY code"), false);
    k->SetKeyFields(QStringLiteral("code"));
    k->Open();
    k->Edit();
    k->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    k->Post();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_keyless ORDER BY code")), QStringLiteral("k1,x|k2,a"));
}

TEST_F(DataSetTest, ReadOnlyResultsRefuseEdits) {
    struct Case {
        const char* sql;
        bool readOnly;  // the data set's own setting
    };
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_ro"));
    Exec(QStringLiteral("CREATE TABLE w_ro (id INT PRIMARY KEY)"));
    Exec(QStringLiteral("INSERT INTO w_ro VALUES (1)"));
    for (const Case& tc : {Case{"SELECT 1 AS x", false}, Case{"SELECT COUNT(*) FROM w_ro", false},
                           Case{"SELECT * FROM w_ro", true}}) {
        SCOPED_TRACE(tc.sql);
        auto q = Query(QString::fromUtf8(tc.sql), false);
        q->SetReadOnly(tc.readOnly);
        q->Open();
        EXPECT_FALSE(q->CanModify());
        EXPECT_EQ(Raised<EDatabaseError>([&] { q->Edit(); }).Message(), QStringLiteral("Cannot modify a read-only dataset"));
        EXPECT_EQ(q->State(), dsBrowse);
    }
}

TEST_F(DataSetTest, PessimisticLockHoldsTheRowUntilPostOrCancel) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS w_lock"));
    Exec(QStringLiteral("CREATE TABLE w_lock (id INT PRIMARY KEY, v VARCHAR(5)) ENGINE = InnoDB"));
    Exec(QStringLiteral("INSERT INTO w_lock VALUES (1, 'a')"));
    auto q = Query(QStringLiteral("SELECT * FROM w_lock"), false);
    q->SetLockMode(lmPessimistic);
    q->Open();
    auto other = NewConnection(true, QStringLiteral("calvoro_ds"));
    other->Connect();
    other->ExecSQL(QStringLiteral("SET SESSION innodb_lock_wait_timeout = 1"));
    auto tryWrite = [&] {
        try {
            other->ExecSQL(QStringLiteral("UPDATE w_lock SET v = 'o' WHERE id = 1"));
            return true;
        } catch (const EDAError&) {
            return false;  // the lock wait timed out
        }
    };
    q->Edit();
    EXPECT_FALSE(tryWrite());
    q->Cancel();
    EXPECT_TRUE(tryWrite());
    q->Refresh();
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    q->Post();
    EXPECT_TRUE(tryWrite());
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM w_lock")), QStringLiteral("1,o"));

    // FetchAll off cannot lock; Lock on an empty result has no row.
    auto partial = Query(QStringLiteral("SELECT * FROM w_lock"), false);
    partial->SetFetchAll(false);
    partial->SetLockMode(lmPessimistic);
    partial->Open();
    EXPECT_EQ(Raised<EDatabaseError>([&] { partial->Edit(); }).Message(),
              QStringLiteral("Lock is not compatible with FetchAll = False"));
    EXPECT_EQ(partial->State(), dsBrowse);
    partial->Close();
    auto empty = Query(QStringLiteral("SELECT * FROM w_lock WHERE id = 0"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { empty->Lock(); }).Message(), QStringLiteral("There is no active record to lock"));
}

// --- Opening, executing, counting ---

TEST_F(DataSetTest, ExecuteOpensOnRowsAndCountsOtherStatements) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_exec"));
    Exec(QStringLiteral("CREATE TABLE x_exec (id INT AUTO_INCREMENT PRIMARY KEY, v INT)"));
    Exec(QStringLiteral("INSERT INTO x_exec (v) VALUES (1), (1), (2)"));
    struct Case {
        const char* sql;
        bool active;
        int rowsAffected;
        int recordCount;
    };
    const Case cases[] = {
        {"UPDATE x_exec SET v = 5 WHERE v = 1", false, 2, 0},
        {"SELECT * FROM x_exec", true, -1, 3},
        {"UPDATE x_exec SET v = 6 WHERE v = 5; SELECT * FROM x_exec WHERE v = 6", true, -1, 2},
        {"SELECT * FROM x_exec WHERE v = 99", true, -1, 0},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        auto q = Query(QString::fromUtf8(tc.sql), false);
        q->Execute();
        EXPECT_EQ(q->Active(), tc.active);
        EXPECT_EQ(q->RowsAffected(), tc.rowsAffected);
        EXPECT_EQ(q->RecordCount(), tc.recordCount);
        EXPECT_EQ(q->IsQuery(), tc.active);
    }
    auto insert = Query(QStringLiteral("INSERT INTO x_exec (v) VALUES (7)"), false);
    insert->Execute();
    EXPECT_EQ(insert->InsertId(), 4);
    EXPECT_EQ(insert->RowsAffected(), 1);
    auto bad = Query(QStringLiteral("SELECT * FROM no_such_table"), false);
    EXPECT_EQ(Raised<EDAError>([&] { bad->Execute(); }).ErrorCode(), 1146);
    EXPECT_FALSE(bad->Active());
    auto none = Query(QStringLiteral("  "), false);
    EXPECT_EQ(Raised<EDatabaseError>([&] { none->Open(); }).Message(), QStringLiteral("No SQL statement provided"));
}

TEST_F(DataSetTest, MultipleResultsStepFromOneResultToTheNext) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_multi"));
    Exec(QStringLiteral("DROP PROCEDURE IF EXISTS p_multi"));
    Exec(QStringLiteral("CREATE TABLE x_multi (id INT PRIMARY KEY, v INT)"));
    Exec(QStringLiteral("INSERT INTO x_multi VALUES (1, 10), (2, 20), (3, 30)"));
    Exec(QStringLiteral("CREATE PROCEDURE p_multi() BEGIN SELECT id FROM x_multi; SELECT v, id FROM x_multi WHERE v > 10; END"));
    struct Case {
        const char* sql;
        // Each result as "field count:record count", in order.
        const char* results;
        // Every statement result the server sent, in order: "rows", or the rows affected.
        const char* statements;
    };
    const Case cases[] = {
        {"SELECT 1; SELECT 2, 3", "1:1 2:1", "rows rows"},
        {"SELECT * FROM x_multi; SELECT id FROM x_multi WHERE id > 5; SELECT v FROM x_multi WHERE id = 2", "2:3 1:0 1:1",
         "rows rows rows"},
        // The count of an UPDATE is of the rows it found (the client asks for found rows).
        {"UPDATE x_multi SET v = v WHERE id = 1; SELECT v FROM x_multi", "1:3", "1 rows"},
        {"UPDATE x_multi SET v = v + 1 WHERE id > 1; SELECT v FROM x_multi; UPDATE x_multi SET v = v - 1 WHERE id > 1",
         "1:3", "2 rows 2"},
        {"SELECT id FROM x_multi; DO 1; SELECT 4, 5, 6", "1:3 3:1", "rows 0 rows"},
        {"SELECT id FROM x_multi; DO 1", "1:3", "rows 0"},
        {"CALL p_multi()", "1:3 2:2", "rows rows 0"},
        {"SELECT seq FROM seq_1_to_100; SELECT seq FROM seq_1_to_60", "1:100 1:60", "rows rows"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        auto q = Query(QString::fromUtf8(tc.sql), false);
        q->MyOptions().SetMultipleResults(true);
        q->Execute();
        QStringList results;
        do {
            results << QStringLiteral("%1:%2").arg(q->Fields().Count()).arg(q->RecordCount());
        } while (q->OpenNext());
        EXPECT_EQ(results.join(u' '), QString::fromUtf8(tc.results));
        QStringList statements;
        for (const TMyStatementResult& r : q->StatementResults())
            statements << (r.Rows ? QStringLiteral("rows") : QString::number(r.RowsAffected));
        EXPECT_EQ(statements.join(u' '), QString::fromUtf8(tc.statements));
        // The rows shown are those of the last result with rows.
        const auto& all = q->StatementResults();
        ASSERT_GE(q->ShownResult(), 0);
        EXPECT_TRUE(all[size_t(q->ShownResult())].Rows);
        EXPECT_TRUE(std::none_of(all.begin() + q->ShownResult() + 1, all.end(), [](const auto& r) { return r.Rows; }));
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT COUNT(*) FROM x_multi")), QStringLiteral("3"));
    }
    // Closed with results still waiting: they are dropped and the connection goes on.
    auto q = Query(QStringLiteral("SELECT 1; SELECT 2; SELECT 3"), false);
    q->MyOptions().SetMultipleResults(true);
    q->Execute();
    q->Close();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 42")), QStringLiteral("42"));
    // A failing later statement raises (when the rows before it have been read).
    q->SQL().SetText(QStringLiteral("SELECT 1; SELECT * FROM no_such_table"));
    EXPECT_EQ(Raised<EDAError>([&] {
                  q->Execute();
                  while (q->OpenNext()) {
                  }
              }).ErrorCode(),
              1146);
    q->Close();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 43")), QStringLiteral("43"));
    // The last result's rows can be written back.
    q->SQL().SetText(QStringLiteral("SELECT 1; SELECT id, v FROM x_multi WHERE id = 2"));
    q->Execute();
    ASSERT_TRUE(q->OpenNext());
    q->Edit();
    q->FieldByName(QStringLiteral("v")).SetAsInteger(21);
    q->Post();
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT v FROM x_multi WHERE id = 2")), QStringLiteral("21"));
    // A refresh runs the text again and shows the same result, with its own columns.
    Exec(QStringLiteral("UPDATE x_multi SET v = 22 WHERE id = 2"));
    q->Refresh();
    EXPECT_EQ(q->Fields().Count(), 2);
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("2,22"));
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 44")), QStringLiteral("44"));
}

TEST_F(DataSetTest, ARefreshRunsTheStatementNamedForItOrRaisesTheReasonGiven) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_log"));
    Exec(QStringLiteral("CREATE TABLE x_log (n INT)"));
    const auto logged = [&] { return RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM x_log")); };
    auto q = Query(QStringLiteral("INSERT INTO x_log VALUES (1); SELECT n, 'a' AS s FROM x_log"), false);
    q->MyOptions().SetMultipleResults(true);
    q->Execute();
    ASSERT_EQ(MemoryRows(*q), QStringLiteral("1,a"));
    // Named: that statement runs alone, the INSERT before it does not run again.
    q->SetRefreshSQL(QStringLiteral("SELECT n, 'b' AS s FROM x_log"));
    EXPECT_EQ(q->RefreshRefusal(), QString());
    for (int i = 0; i < 2; ++i) {
        q->Refresh();
        EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,b"));
        EXPECT_EQ(logged(), QStringLiteral("1"));
    }
    // Refused: the reason is what Refresh raises, and nothing runs.
    q->RefuseRefresh(QStringLiteral("Not these rows"));
    EXPECT_EQ(q->RefreshRefusal(), QStringLiteral("Not these rows"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { q->Refresh(); }).Message(), QStringLiteral("Not these rows"));
    EXPECT_EQ(logged(), QStringLiteral("1"));
    // Running the text again forgets both: by default a refresh runs the whole text again.
    q->Execute();
    EXPECT_EQ(logged(), QStringLiteral("2"));
    EXPECT_EQ(q->RefreshRefusal(), QString());
    q->Refresh();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("1,a|1,a|1,a"));
    EXPECT_EQ(logged(), QStringLiteral("3"));
}

TEST_F(DataSetTest, BreakQueryEndsTheFetchKeepingTheRowsReadAndTheSession) {
    Exec(QStringLiteral("SET @kept = 42"));
    const QString session = FirstValue(*c, QStringLiteral("SELECT CONNECTION_ID()")).value_or(QString());
    for (const bool prepared : {false, true}) {
        SCOPED_TRACE(prepared ? "prepared" : "text");
        auto q = Query(QStringLiteral("SELECT seq, REPEAT('x', 100) AS wide FROM seq_1_to_300000"), false);
        q->Options().SetAutoPrepare(prepared);
        // Stopped from another thread once some blocks of rows are in.
        std::atomic<int> blocks = 0;
        q->BeforeFetch = [&](TCustomDADataSet*, bool&) { ++blocks; };
        std::thread stopper([&] {
            while (blocks < 40) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            q->BreakQuery();
        });
        q->Execute();
        stopper.join();
        EXPECT_TRUE(q->Active());
        EXPECT_TRUE(q->FetchStopped());
        EXPECT_GE(q->RecordCount(), 40 * 25);
        EXPECT_LT(q->RecordCount(), 300000);
        // The rows read are whole and in order.
        q->Last();
        EXPECT_EQ(q->FieldByName(QStringLiteral("seq")).AsString(), QString::number(q->RecordCount()));
        EXPECT_EQ(q->FieldByName(QStringLiteral("wide")).AsString(), QString(100, u'x'));
        // The same session goes on, its variables kept; the data set can run again in full.
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT CONNECTION_ID()")), session);
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT @kept")), QStringLiteral("42"));
        q->SQL().SetText(QStringLiteral("SELECT seq FROM seq_1_to_1000"));
        q->Execute();
        EXPECT_FALSE(q->FetchStopped());
        EXPECT_EQ(q->RecordCount(), 1000);
    }
    // Before the first row: a statement still at work ends with a silent abort; one whose
    // columns came already is left with no rows. The session stays either way.
    struct Case {
        const char* sql;
        bool aborts;
    } cases[] = {
        {"SELECT * FROM (SELECT SLEEP(20) AS s) AS d ORDER BY s", true},
        {"CREATE TEMPORARY TABLE t_slow AS SELECT SLEEP(20) AS s", true},
        {"SELECT SLEEP(20)", false},  // the server sends its column before the value
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.sql);
        auto slow = Query(QString::fromLatin1(tc.sql), false);
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            slow->BreakQuery();
        });
        QElapsedTimer clock;
        clock.start();
        bool aborted = false;
        try {
            slow->Execute();
        } catch (const EAbort&) {
            aborted = true;
        }
        stopper.join();
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(aborted, tc.aborts);
        EXPECT_EQ(slow->Active(), !tc.aborts);
        if (slow->Active()) {
            EXPECT_TRUE(slow->FetchStopped());
            EXPECT_EQ(slow->RecordCount(), 0);
        }
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT CONNECTION_ID()")), session);
        EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT @kept")), QStringLiteral("42"));
    }
}

TEST_F(DataSetTest, PartialFetchCountsWithTheCountQuery) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_many"));
    Exec(QStringLiteral("CREATE TABLE x_many (id INT PRIMARY KEY)"));
    Exec(QStringLiteral("INSERT INTO x_many SELECT seq FROM seq_1_to_100"));
    auto q = Query(QStringLiteral("SELECT * FROM x_many ORDER BY id DESC"), false);
    q->SetFetchAll(false);
    q->SetFetchRows(10);
    q->Options().SetQueryRecCount(true);
    q->Open();
    EXPECT_EQ(q->RecordCount(), 100);  // from the count query: 10 rows are in memory
    EXPECT_EQ(q->FieldByName(QStringLiteral("id")).AsInteger(), 100);
    int walked = 0;
    for (q->First(); !q->Eof(); q->Next()) ++walked;
    EXPECT_EQ(walked, 100);
    // While rows were unread the connection stayed in use; all read, it is given back.
    EXPECT_TRUE(q->Fetched());

    // FetchAll turned on later reads the rest at once.
    auto later = Query(QStringLiteral("SELECT * FROM x_many"), false);
    later->SetFetchAll(false);
    later->Open();
    EXPECT_FALSE(later->Fetched());
    later->SetFetchAll(true);
    EXPECT_TRUE(later->Fetched());
    EXPECT_EQ(later->RecordCount(), 100);

    EXPECT_EQ(Raised<EDatabaseError>([&] { later->SetFetchRows(0); }).Message(), QStringLiteral("FetchRows must be 1..10000"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { later->SetFetchRows(10001); }).Message(),
              QStringLiteral("FetchRows must be 1..10000"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { later->SetFetchRows(50); }).Message(),
              QStringLiteral("Cannot perform this operation on an open dataset"));
}

TEST_F(DataSetTest, OpenExecuteAndRefreshRunAgainAfterAReconnect) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_lost"));
    Exec(QStringLiteral("CREATE TABLE x_lost (id INT PRIMARY KEY)"));
    Exec(QStringLiteral("INSERT INTO x_lost VALUES (1), (2)"));
    c->Options().LocalFailover = true;
    // A lost execution raises unless asked to run again; open and refresh run again anyway.
    c->OnConnectionLost = [](TCustomDAConnection*, TComponent*, TConnLostCause, TRetryMode& mode) {
        mode = rmReconnectExecute;
    };
    auto killer = NewConnection();
    auto lose = [&] { killer->ExecSQL(QStringLiteral("KILL %1").arg(c->GetThreadId())); };
    struct Case {
        const char* name;
        std::function<void(TMyQuery&)> run;
    };
    const Case cases[] = {
        {"open", [](TMyQuery& q) { q.Open(); }},
        {"execute", [](TMyQuery& q) { q.Execute(); }},  // re-run as the handler asks
        {"refresh", [](TMyQuery& q) { q.Refresh(); }},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto q = Query(QStringLiteral("SELECT * FROM x_lost"), std::string(tc.name) == "refresh");
        const int64_t before = c->GetThreadId();
        lose();
        try {
            tc.run(*q);
        } catch (const EDAError& e) {
            ADD_FAILURE() << e.Message().toStdString();
        }
        EXPECT_NE(c->GetThreadId(), before);  // a new session
        EXPECT_EQ(q->RecordCount(), 2);
    }
}

TEST_F(DataSetTest, RefreshReadsAgainAndKeepsTheCurrentRow) {
    // The row is found again by its key, whatever the key column is called.
    for (const QString key : {QStringLiteral("id"), QStringLiteral("k;ey")}) {
        SCOPED_TRACE(key.toStdString());
        const QString k = QuoteIdentifier(key);
        Exec(QStringLiteral("DROP TABLE IF EXISTS x_refresh"));
        Exec(QStringLiteral("CREATE TABLE x_refresh (%1 INT PRIMARY KEY, v VARCHAR(5))").arg(k));
        Exec(QStringLiteral("INSERT INTO x_refresh VALUES (1, 'a'), (2, 'b'), (3, 'c')"));
        auto q = Query(QStringLiteral("SELECT * FROM x_refresh ORDER BY %1").arg(k));
        q->SetRecNo(3);
        Exec(QStringLiteral("INSERT INTO x_refresh VALUES (0, 'z')"));
        Exec(QStringLiteral("UPDATE x_refresh SET v = 'C' WHERE %1 = 3").arg(k));
        q->Refresh();
        EXPECT_EQ(q->RecordCount(), 4);
        EXPECT_EQ(q->FieldByName(key).AsInteger(), 3);
        EXPECT_EQ(q->FieldByName(QStringLiteral("v")).AsString(), QStringLiteral("C"));
        EXPECT_EQ(q->RowsAffected(), -1);
        // The current row gone: the first row.
        Exec(QStringLiteral("DELETE FROM x_refresh WHERE %1 = 3").arg(k));
        q->Refresh();
        EXPECT_EQ(q->FieldByName(key).AsInteger(), 0);
    }
}

// --- SQL text on a live query ---

TEST_F(DataSetTest, WhereOrderAndFilterChangeWhatOpens) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_text"));
    Exec(QStringLiteral("CREATE TABLE x_text (id INT PRIMARY KEY, g INT)"));
    Exec(QStringLiteral("INSERT INTO x_text VALUES (1, 1), (2, 1), (3, 2), (4, 2)"));
    const QString base = QStringLiteral("SELECT * FROM x_text WHERE g = 1");
    auto q = Query(base);
    q->AddWhere(QStringLiteral("id > 1"));
    EXPECT_FALSE(q->Active());  // a new text closes
    q->Open();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("2,1"));
    q->SetOrderBy(QStringLiteral("id DESC"));
    q->DeleteWhere();
    q->Open();
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("4,2|3,2|2,1|1,1"));
    EXPECT_EQ(q->GetOrderBy(), QStringLiteral("id DESC"));
    q->RestoreSQL();
    EXPECT_EQ(q->SQL().Text().trimmed(), base);

    q->Open();
    q->SetFilterSQL(QStringLiteral("  id = 2 "));
    EXPECT_TRUE(q->Active());  // opened again with the filter
    EXPECT_EQ(q->FilterSQL(), QStringLiteral("id = 2"));
    EXPECT_EQ(MemoryRows(*q), QStringLiteral("2,1"));
    EXPECT_TRUE(q->FinalSQL().contains(u"id = 2"));
    // A filter the server refuses: the old one stays.
    EXPECT_EQ(Raised<EDAError>([&] { q->SetFilterSQL(QStringLiteral("no_such_column = 1")); }).ErrorCode(), 1054);
    EXPECT_EQ(q->FilterSQL(), QStringLiteral("id = 2"));
    EXPECT_FALSE(q->Active());
    q->SetFilterSQL(QString());
    q->Open();
    EXPECT_EQ(q->RecordCount(), 2);

    // A filter on a union restricts all of it and keeps its order.
    auto u = Query(QStringLiteral("SELECT id FROM x_text WHERE g = 1 UNION SELECT id FROM x_text WHERE g = 2 ORDER BY id DESC"),
                   false);
    u->SetFilterSQL(QStringLiteral("id <> 3"));
    u->Open();
    EXPECT_EQ(MemoryRows(*u), QStringLiteral("4|2|1"));

    // Parameters and macros reach the count query too.
    auto p = Query(QStringLiteral("SELECT * FROM &tbl WHERE g = :g ORDER BY id"), false);
    p->MacroByName(QStringLiteral("tbl")).SetValue(QStringLiteral("x_text"));
    p->ParamByName(QStringLiteral("g")).SetValue(2);
    p->SetFetchAll(false);
    p->SetFetchRows(1);
    p->Options().SetQueryRecCount(true);
    p->Open();
    EXPECT_EQ(p->RecordCount(), 2);
}

TEST_F(DataSetTest, TableLocksAndEnumValues) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_enum"));
    Exec(QStringLiteral("CREATE TABLE x_enum (id INT PRIMARY KEY, e ENUM('a', 'it''s', 'b,c'), s SET('x', 'y'), "
                        "v VARCHAR(5), `odd%name` ENUM('p'))"));
    auto q = Query(QStringLiteral("SELECT * FROM x_enum"));
    QStringList list{QStringLiteral("left over")};
    q->GetFieldEnum(list, QStringLiteral("e"));
    EXPECT_EQ(list, (QStringList{QStringLiteral("a"), QStringLiteral("it's"), QStringLiteral("b,c")}));
    q->GetFieldEnum(list, QStringLiteral("s"), QStringLiteral("x_enum"));
    EXPECT_EQ(list, (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
    q->GetFieldEnum(list, QStringLiteral("v"));
    EXPECT_TRUE(list.isEmpty());
    q->GetFieldEnum(list, QStringLiteral("odd%name"));
    EXPECT_EQ(list, QStringList{QStringLiteral("p")});
    EXPECT_EQ(Raised<EDatabaseError>([&] { q->GetFieldEnum(list, QString()); }).Message(),
              QStringLiteral("Field name must be defined"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { q->GetFieldEnum(list, QStringLiteral("nope"), QStringLiteral("x_enum")); })
                  .Message(),
              QStringLiteral("Field nope not found"));

    // LOCK TABLES … WRITE on this session: another session cannot read until UNLOCK TABLES.
    q->LockTable(ltWrite);
    auto other = NewConnection(true, QStringLiteral("calvoro_ds"));
    other->Connect();
    other->ExecSQL(QStringLiteral("SET SESSION lock_wait_timeout = 1"));
    EXPECT_THROW(other->ExecSQL(QStringLiteral("LOCK TABLES x_enum READ")), EDAError);
    q->UnLockTable();
    other->ExecSQL(QStringLiteral("LOCK TABLES x_enum READ"));
    other->ExecSQL(QStringLiteral("UNLOCK TABLES"));

    // A name that needs quotes.
    Exec(QStringLiteral("CREATE OR REPLACE TABLE `x lock` (id INT)"));
    auto odd = Query(QStringLiteral("SELECT * FROM `x lock`"));
    odd->LockTable(ltRead);
    odd->UnLockTable();

    auto partial = Query(QStringLiteral("SELECT * FROM x_enum"), false);
    partial->SetFetchAll(false);
    partial->Open();
    EXPECT_EQ(Raised<EDatabaseError>([&] { partial->LockTable(ltRead); }).Message(),
              QStringLiteral("LockTable is not compatible with FetchAll = False"));
}

TEST_F(DataSetTest, BreakExecStopsALongStatement) {
    auto q = Query(QStringLiteral("SELECT SLEEP(30)"), false);
    QElapsedTimer clock;
    clock.start();
    // A std::thread: its join is a hand-over ThreadSanitizer sees (QThread::wait's is not).
    std::thread breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        q->BreakExec();
    });
    // A statement stopped by the user ends in EAbort, which the error display stays silent on.
    EXPECT_THROW(q->Open(), EAbort);
    breaker.join();
    EXPECT_FALSE(q->Active());
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(FirstValue(*c, QStringLiteral("SELECT 1")), QStringLiteral("1"));
}

// --- The table component ---

TEST_F(DataSetTest, TableBuildsItsSelectAndEmpties) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_table"));
    Exec(QStringLiteral("CREATE TABLE x_table (id INT PRIMARY KEY, v VARCHAR(5), UNIQUE KEY uv (v, id), KEY kv (v))"));
    Exec(QStringLiteral("INSERT INTO x_table VALUES (1, 'a'), (2, 'b'), (3, 'c')"));
    TMyTable t;
    t.SetConnection(c.get());
    EXPECT_EQ(Raised<EDatabaseError>([&] { t.Open(); }).Message(), QStringLiteral("TableName must be defined"));
    t.SetTableName(QStringLiteral(" x_table "));
    t.SetOrderFields(QStringLiteral("id DESC"));
    t.SetLimit(2);
    t.SetOffset(0);
    t.Open();
    EXPECT_EQ(t.SQL().Text().trimmed(), QStringLiteral("SELECT * FROM x_table ORDER BY id DESC LIMIT 0, 2"));
    EXPECT_EQ(MemoryRows(t), QStringLiteral("3,c|2,b"));
    t.SetOffset(2);
    EXPECT_FALSE(t.Active());
    t.Open();
    EXPECT_EQ(MemoryRows(t), QStringLiteral("1,a"));
    // Rows of a table are written back like those of a query.
    t.Edit();
    t.FieldByName(QStringLiteral("v")).SetAsString(QStringLiteral("x"));
    t.Post();
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT * FROM x_table ORDER BY id")), QStringLiteral("1,x|2,b|3,c"));

    const std::vector<TMyIndexDef>& indexes = t.IndexDefs();
    ASSERT_EQ(indexes.size(), 3u);
    EXPECT_EQ(indexes[0].Name, QStringLiteral("PRIMARY"));
    EXPECT_TRUE(indexes[0].Unique);
    EXPECT_EQ(indexes[1].Fields, QStringLiteral("v;id"));
    EXPECT_TRUE(indexes[1].Unique);
    EXPECT_FALSE(indexes[2].Unique);

    t.EmptyTable();
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(RowsText(*c, QStringLiteral("SELECT COUNT(*) FROM x_table")), QStringLiteral("0"));
}

TEST_F(DataSetTest, TableReadsThroughAHandler) {
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_handler"));
    Exec(QStringLiteral("CREATE TABLE x_handler (id INT PRIMARY KEY, v VARCHAR(5))"));
    Exec(QStringLiteral("INSERT INTO x_handler VALUES (2, 'b'), (1, 'a'), (3, 'c')"));
    TMyTable t;
    t.SetConnection(c.get());
    t.SetTableName(QStringLiteral("x_handler"));
    t.TableOptions().SetUseHandler(true);
    t.TableOptions().SetHandlerIndex(QStringLiteral("`PRIMARY`"));
    t.SetLimit(2);
    t.Open();
    EXPECT_EQ(MemoryRows(t), QStringLiteral("1,a|2,b"));
    t.Close();
    // The handler was closed with the statement: the table can be changed at once.
    Exec(QStringLiteral("DROP TABLE x_handler"));
}

TEST_F(DataSetTest, AutoRefreshReadsAgainOnTheTimer) {
    static char name[] = "dataaccess_integration_tests";
    static char* argv[] = {name, nullptr};
    static int argc = 1;
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QCoreApplication>(argc, argv);
    Exec(QStringLiteral("DROP TABLE IF EXISTS x_auto"));
    Exec(QStringLiteral("CREATE TABLE x_auto (id INT PRIMARY KEY)"));
    auto q = Query(QStringLiteral("SELECT * FROM x_auto"));
    q->MyOptions().SetAutoRefreshInterval(1);
    q->MyOptions().SetAutoRefresh(true);
    ASSERT_TRUE(q->AutoRefreshTimer());
    EXPECT_EQ(q->AutoRefreshTimer()->Interval(), 1000);
    Exec(QStringLiteral("INSERT INTO x_auto VALUES (1)"));
    QElapsedTimer clock;
    clock.start();
    while (q->RecordCount() == 0 && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(q->RecordCount(), 1);

    // A failing refresh switches auto refresh off.
    Exec(QStringLiteral("DROP TABLE x_auto"));
    std::vector<QString> errors;
    ApplicationExceptionDisplay() = [&](const std::exception& e) { errors.push_back(QString::fromUtf8(e.what())); };
    ScopeExit reset([] { ApplicationExceptionDisplay() = nullptr; });
    clock.restart();
    while (errors.empty() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(u"x_auto"));
    EXPECT_FALSE(q->MyOptions().AutoRefresh());
    EXPECT_FALSE(q->AutoRefreshTimer()->Armed());
}

}  // namespace
