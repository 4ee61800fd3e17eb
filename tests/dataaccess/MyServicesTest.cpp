// The statements that write one row back, as exact texts with their markers and what fills
// them, and the SELECT of a table component.

#include "dataaccess/mysql/MyServices.h"
#include "dataaccess/mysql/MyRecordset.h"
#include "support/MyColumns.h"
#include "support/Raised.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using namespace calvoro::protocol;
using calvoro::test::MyColumn;
using calvoro::test::Raised;

namespace {

constexpr int32_t Utf8mb4 = 45, Binary = 63;

// A record set with the columns id (primary key), v, "my col", ts (TIMESTAMP) and b (BLOB) of
// table t, laid out without a server, and an old and a new row.
class Row : public TMySQLRecordset {
public:
    Row() {
        SetConnectionValues({true, true});
        SetEnableEmptyStrings(true);  // as data sets keep them
        InitFields();
        FOld = AllocRecBuf();
        FNew = AllocRecBuf();
        Old = FOld.get();
        New = FNew.get();
        for (TRecBuf r : {Old, New}) {
            InitRecord(r);
            Put(r, 1, 1);
            Put(r, 2, QStringLiteral("a"));
            Put(r, 4, Variant::FromDateTime(EncodeDateTime(2020, 1, 2, 3, 4, 5, 0)));
        }
        Put(New, 2, QStringLiteral("b"));
    }
    void Put(TRecBuf r, int fieldNo, const Variant& value) { PutField(fieldNo, r, &value); }
    const TFieldDesc* F(int fieldNo) const { return &Field(fieldNo); }

    // The input of the usual case: key id, every column a data field.
    TGeneratorInput Input() const {
        TGeneratorInput in;
        in.TableName = QStringLiteral("t");
        in.KeyFields = {F(1)};
        in.DataFields = {F(1), F(2), F(3), F(4), F(5)};
        in.TimestampField = F(4);
        in.Store = this;
        in.OldRecord = Old;
        in.NewRecord = New;
        return in;
    }

    TRecBufOwner FOld, FNew;
    TRecBuf Old = nullptr, New = nullptr;

protected:
    void CreateFieldDescs() override {
        DescribeColumns({MyColumn(FIELD_TYPE_LONG, 11, PRI_KEY_FLAG | NOT_NULL_FLAG, Binary, 0, "id"),
                         MyColumn(FIELD_TYPE_VAR_STRING, 80, 0, Utf8mb4, 0, "v"),
                         MyColumn(FIELD_TYPE_VAR_STRING, 80, 0, Utf8mb4, 0, "my col"),
                         MyColumn(FIELD_TYPE_TIMESTAMP, 19, NOT_NULL_FLAG | TIMESTAMP_FLAG, Binary, 0, "ts"),
                         MyColumn(FIELD_TYPE_BLOB, 65535, BLOB_FLAG | BINARY_FLAG, Binary, 0, "b")},
                        QStringLiteral("SELECT * FROM t"));
    }
};

// The parameters as "name" for new values and "name:old" for old ones, comma-separated.
QString ParamList(const TGeneratedSQL& sql) {
    QStringList list;
    for (const TDAParamInfo& p : sql.Params) list << p.Name + (p.Old ? QStringLiteral(":old") : QString());
    return list.join(u',');
}

TEST(MySQLGenerator, StatementTexts) {
    struct Case {
        const char* name;
        TStatementType type;
        bool modifiedOnly;
        std::function<void(Row&, TGeneratorInput&)> change;  // of the usual case
        const char* text;
        const char* params;
    };
    const auto none = [](Row&, TGeneratorInput&) {};
    const Case cases[] = {
        {"update, changed field only, key condition", stUpdate, true, none,
         "UPDATE t\r\nSET\r\n  v = ?\r\nWHERE\r\n  id = ?", "v,Old_id:old"},
        {"names quoted", stUpdate, true,
         [](Row&, TGeneratorInput& in) {
             in.QuoteNames = true;
             in.TableName = QStringLiteral("`t`");
         },
         "UPDATE `t`\r\nSET\r\n  `v` = ?\r\nWHERE\r\n  `id` = ?", "`v`,`Old_id`:old"},
        {"every field written", stUpdate, false, none,
         "UPDATE t\r\nSET\r\n  id = ?, v = ?, `my col` = ?, ts = ?, b = ?\r\nWHERE\r\n  id = ?",
         "id,v,`my col`,ts,b,Old_id:old"},
        {"nothing changed: no statement", stUpdate, true, [](Row& r, TGeneratorInput&) { r.Put(r.New, 2, QStringLiteral("a")); },
         "", ""},
        {"'' and NULL differ", stUpdate, true, [](Row& r, TGeneratorInput&) { r.Put(r.New, 3, QStringLiteral("")); },
         "UPDATE t\r\nSET\r\n  v = ?, `my col` = ?\r\nWHERE\r\n  id = ?", "v,`my col`,Old_id:old"},
        {"insert leaves NULL fields to the server's defaults", stInsert, true, none,
         "INSERT INTO t\r\n  (id, v, ts)\r\nVALUES\r\n  (?, ?, ?)", "id,v,ts"},
        {"insert of every field", stInsert, false, none,
         "INSERT INTO t\r\n  (id, v, `my col`, ts, b)\r\nVALUES\r\n  (?, ?, ?, ?, ?)", "id,v,`my col`,ts,b"},
        {"delete by key", stDelete, true, none, "DELETE FROM t\r\nWHERE\r\n  id = ?", "Old_id:old"},
        {"delete by the identity field without a key", stDelete, true,
         [](Row& r, TGeneratorInput& in) {
             in.KeyFields.clear();
             in.IdentityField = r.F(1);
         },
         "DELETE FROM t\r\nWHERE\r\n  id = ?", "Old_id:old"},
        {"delete without key: every comparable value, NULL as IS NULL", stDelete, true,
         [](Row&, TGeneratorInput& in) { in.KeyFields.clear(); },
         "DELETE FROM t\r\nWHERE\r\n  id = ? AND v = ? AND `my col` IS NULL", "Old_id:old,Old_v:old"},
        {"row version by the timestamp", stUpdate, true, [](Row&, TGeneratorInput& in) { in.CheckRowVersion = true; },
         "UPDATE t\r\nSET\r\n  v = ?\r\nWHERE\r\n  id = ? AND ts = ?", "v,Old_id:old,Old_ts:old"},
        {"row version by every value when the timestamp is NULL", stDelete, true,
         [](Row& r, TGeneratorInput& in) {
             in.CheckRowVersion = true;
             r.Put(r.Old, 4, Variant::Null());
         },
         "DELETE FROM t\r\nWHERE\r\n  id = ? AND v = ? AND `my col` IS NULL", "Old_id:old,Old_v:old"},
        // The alias names the field's 0-based place in the result.
        {"refresh by key on the current values", stRefresh, true, [](Row&, TGeneratorInput& in) { in.TableAlias = QStringLiteral("x"); },
         "SELECT id AS _0, v AS _1, `my col` AS _2, ts AS _3, b AS _4 FROM t x\r\nWHERE\r\n  id = ?", "id"},
        {"refresh of a NULL timestamp key", stRefresh, true,
         [](Row& r, TGeneratorInput& in) {
             in.KeyFields = {r.F(4)};
             in.DataFields = {r.F(2)};
             r.Put(r.New, 4, Variant::Null());
         },
         "SELECT v AS _1 FROM t\r\nWHERE\r\n  ts = '00000000'", ""},
        {"full refresh: the own query restricted, named markers", stRefresh, true,
         [](Row&, TGeneratorInput& in) {
             in.FullRefresh = true;
             in.OwnSQL = QStringLiteral("SELECT * FROM t ORDER BY id");
         },
         "SELECT * FROM t \rWHERE id = :id ORDER BY id", "id"},
        {"refresh with own parameters: named markers", stRefresh, true, [](Row&, TGeneratorInput& in) { in.OwnParams = true; },
         "SELECT id AS _0, v AS _1, `my col` AS _2, ts AS _3, b AS _4 FROM t\r\nWHERE\r\n  id = :id", "id"},
        {"lock at once", stLock, true, none, "SELECT * FROM t\r\nWHERE\r\n  id = ?\r\nFOR UPDATE", "Old_id:old"},
        {"lock delayed", stLock, true, [](Row&, TGeneratorInput& in) { in.LockType = ilrDelayed; },
         "SELECT * FROM t\r\nWHERE\r\n  id = ?\r\nLOCK IN SHARE MODE", "Old_id:old"},
        {"quick refresh from the newest timestamp", stRefreshQuick, true,
         [](Row& r, TGeneratorInput& in) {
             in.OwnSQL = QStringLiteral("SELECT * FROM t");
             static_cast<const TCRFieldDesc*>(r.F(4))->FTableInfo->MaxTimestamp = EncodeDateTime(2021, 5, 6, 7, 8, 9, 0);
         },
         "SELECT * FROM t\rWHERE ts >= '2021-05-06 07:08:09' ", ""},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        Row r;
        TGeneratorInput in = r.Input();
        tc.change(r, in);
        const TGeneratedSQL sql = TMySQLGenerator().Generate(tc.type, in, tc.modifiedOnly);
        EXPECT_EQ(sql.Text, QString::fromUtf8(tc.text));
        EXPECT_EQ(ParamList(sql), QString::fromUtf8(tc.params));
        // Each "?" is where the generator says it is.
        const bool named = sql.Positions.empty();
        if (!named) {
            ASSERT_EQ(sql.Positions.size(), sql.Params.size());
            for (int position : sql.Positions) EXPECT_EQ(sql.Text[position - 1], u'?');
            EXPECT_EQ(sql.Text.count(u'?'), qsizetype(sql.Positions.size()));
        }
    }
}

TEST(MySQLGenerator, StatementErrors) {
    struct Case {
        TStatementType type;
        std::function<void(Row&, TGeneratorInput&)> change;
        const char* message;
    };
    const Case cases[] = {
        {stUpdate, [](Row&, TGeneratorInput& in) { in.TableName.clear(); }, "TableInfo name must be provided"},
        {stDelete,
         [](Row& r, TGeneratorInput& in) {
             in.KeyFields.clear();
             in.DataFields = {r.F(5)};  // a BLOB cannot identify a row
         },
         "Key fields not found"},
        {stRefreshQuick, [](Row&, TGeneratorInput& in) { in.TimestampField = nullptr; }, "Timestamp field required"},
        {stCustom, [](Row&, TGeneratorInput&) {}, "Bad statement type"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.message);
        Row r;
        TGeneratorInput in = r.Input();
        tc.change(r, in);
        EXPECT_EQ(Raised<EDatabaseError>([&] { TMySQLGenerator().Generate(tc.type, in, true); }).Message(),
                  QString::fromUtf8(tc.message));
    }
}

TEST(MySQLGenerator, NamesFromTheServerAreQuotedAsWholeNames) {
    // Column and table names come from the server: one that looks quoted already is not.
    struct {
        const char* raw;
        bool quoteNames;
        const char* written;
    } cases[] = {
        {"v", false, "v"},
        {"v", true, "`v`"},
        {"'k'", false, "`'k'`"},  // bare it would be a string literal: WHERE 'k' = ? matches any row
        {"'k'", true, "`'k'`"},
        {"\"k\"", true, "`\"k\"`"},
        {"`id`", true, "```id```"},
        {"key", false, "`key`"},
        {"my col", false, "`my col`"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TCustomMySQLGenerator::QuoteName(QString::fromUtf8(c.raw), c.quoteNames), QString::fromUtf8(c.written))
            << c.raw << " " << c.quoteNames;
}

TEST(MySQLGenerator, TableSelects) {
    struct Case {
        TObjectName table;
        const char* order;
        int limit, offset;
        bool handler;
        const char* index;
        bool protocol41;
        const char* text;
    };
    const Case cases[] = {
        {{"", "t"}, "", -1, 0, false, "", true, "SELECT * FROM t"},
        {{"", "t"}, "a DESC, b", 10, 0, false, "", true, "SELECT * FROM t ORDER BY a DESC, b LIMIT 0, 10"},
        {{"", "t"}, "", -1, 5, false, "", true, "SELECT * FROM t LIMIT 5, 2147483647"},
        {{"", "my table"}, "", -1, 0, false, "", true, "SELECT * FROM `my table`"},
        {{"", "order"}, "", -1, 0, false, "", true, "SELECT * FROM `order`"},
        {{"db", "t"}, "", -1, 0, false, "", true, "SELECT * FROM db.t"},
        // Raw parts: a backtick, a dot or a semicolon stays inside the one name.
        {{"", "`x`"}, "", -1, 0, false, "", true, "SELECT * FROM ```x```"},
        {{"", "db.t"}, "", -1, 0, false, "", true, "SELECT * FROM `db.t`"},
        {{"d;b", "t`; DROP TABLE y; `"}, "", -1, 0, false, "", true, "SELECT * FROM `d;b`.`t``; DROP TABLE y; ```"},
        {{"", "t"}, "", -1, 0, true, "", true, "HANDLER t OPEN; HANDLER t READ FIRST LIMIT 0, 2147483647; HANDLER t CLOSE"},
        {{"", "t"}, "", 3, 1, true, "`PRIMARY`", true,
         "HANDLER t OPEN; HANDLER t READ `PRIMARY` FIRST LIMIT 1, 3; HANDLER t CLOSE"},
        {{"", "t"}, "", 3, 0, true, "ix >= (5)", false, "HANDLER t READ ix >= (5) LIMIT 0, 3"},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.text);
        EXPECT_EQ(TMySQLGenerator::GenerateTableSQL(tc.table, QString::fromUtf8(tc.order), tc.limit,
                                                    tc.offset, tc.handler, QString::fromUtf8(tc.index), QString(),
                                                    tc.protocol41),
                  QString::fromUtf8(tc.text));
    }
}

}  // namespace
