// The result writers, byte for byte: one table of tricky values written in every format, and
// the quoting, escaping and number rules case by case.
#include "export/ExportWriters.h"

#include "common/Exceptions.h"

#include <gtest/gtest.h>

#include <optional>

namespace calvoro::exporting {
namespace {

using K = TExportKind;

// A value of the table: nullopt is NULL.
using TValue = std::optional<QByteArray>;

const std::vector<TExportColumn> Columns = {
    {"id", K::Integer}, {"name", K::Text}, {"price", K::Decimal}, {"data", K::Binary},
    {"big", K::Integer}, {"at", K::Temporal}, {"ratio", K::Float}, {"flags", K::Bit},
};

const std::vector<std::vector<TValue>> Rows = {
    {"1", "plain", "12.50", QByteArray("\x00\x01\xff", 3), "9007199254740991", "2024-03-01 18:30:05.120000", "0.5", "5"},
    // NULL beside the empty string and the empty BLOB
    {"2", "", std::nullopt, "", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    {"3", std::nullopt, "-0.001", std::nullopt, "18446744073709551615", "0000-00-00", "1e20", "0"},
    // quotes, delimiters, line breaks, tabs, backslashes, an emoji
    {"4", "say \"hi\", then\r\nleave\ttab\\ 😀", "99999999999999999999.99", "'", "-9007199254740993", "-838:59:59",
     "-1.5e-7", "9007199254740993"},
    // text that reads like NULL markers
    {"5", "NULL", "0", "0x00", "0", "12:00:00", "3.4028235e38", "1"},
};

std::string Write(const TExportOptions& options, std::vector<QByteArray>* blocks = nullptr) {
    std::string out;
    auto writer = NewExportWriter(options, [&](QByteArrayView bytes) {
        out.append(bytes.data(), size_t(bytes.size()));
        if (blocks) blocks->push_back(bytes.toByteArray());
    });
    writer->Begin(Columns);
    for (const auto& row : Rows) {
        std::vector<TExportCell> cells;
        for (const TValue& v : row) cells.push_back(v ? TExportCell{false, *v} : TExportCell{});
        writer->Row(cells);
    }
    writer->End();
    return out;
}

TEST(ExportWriters, TrickyValuesInEveryFormat) {
    struct Case {
        const char* name;
        TExportOptions options;
        std::string expected;
    };
    TExportOptions csv;
    TExportOptions csvMarker;
    csvMarker.NullMarker = QStringLiteral("NULL");
    csvMarker.CrLf = false;
    csvMarker.Header = false;
    TExportOptions tsv;
    tsv.Format = TExportFormat::Tsv;
    TExportOptions json;
    json.Format = TExportFormat::Json;
    TExportOptions sql;
    sql.Format = TExportFormat::Sql;
    sql.Table = {QStringLiteral("shop"), QStringLiteral("odd`name")};
    sql.RowsPerStatement = 3;
    const Case cases[] = {
        {"csv", csv,
         "id,name,price,data,big,at,ratio,flags\r\n"
         "1,plain,12.50,0x0001FF,9007199254740991,2024-03-01 18:30:05.120000,0.5,5\r\n"
         "2,\"\",,0x,,,,\r\n"
         "3,,-0.001,,18446744073709551615,0000-00-00,1e20,0\r\n"
         "4,\"say \"\"hi\"\", then\r\nleave\ttab\\ 😀\",99999999999999999999.99,0x27,-9007199254740993,-838:59:59,"
         "-1.5e-7,9007199254740993\r\n"
         "5,NULL,0,0x30783030,0,12:00:00,3.4028235e38,1\r\n"},
        {"csv with a NULL marker", csvMarker,
         "1,plain,12.50,0x0001FF,9007199254740991,2024-03-01 18:30:05.120000,0.5,5\n"
         "2,\"\",NULL,0x,NULL,NULL,NULL,NULL\n"
         "3,NULL,-0.001,NULL,18446744073709551615,0000-00-00,1e20,0\n"
         "4,\"say \"\"hi\"\", then\r\nleave\ttab\\ 😀\",99999999999999999999.99,0x27,-9007199254740993,-838:59:59,"
         "-1.5e-7,9007199254740993\n"
         "5,\"NULL\",0,0x30783030,0,12:00:00,3.4028235e38,1\n"},
        {"tsv", tsv,
         "id\tname\tprice\tdata\tbig\tat\tratio\tflags\n"
         "1\tplain\t12.50\t0x0001FF\t9007199254740991\t2024-03-01 18:30:05.120000\t0.5\t5\n"
         "2\t\t\\N\t0x\t\\N\t\\N\t\\N\t\\N\n"
         "3\t\\N\t-0.001\t\\N\t18446744073709551615\t0000-00-00\t1e20\t0\n"
         "4\tsay \"hi\", then\\r\\nleave\\ttab\\\\ 😀\t99999999999999999999.99\t0x27\t-9007199254740993\t-838:59:59\t"
         "-1.5e-7\t9007199254740993\n"
         "5\tNULL\t0\t0x30783030\t0\t12:00:00\t3.4028235e38\t1\n"},
        {"json", json,
         "[\n"
         "{\"id\":1,\"name\":\"plain\",\"price\":\"12.50\",\"data\":\"AAH/\",\"big\":9007199254740991,"
         "\"at\":\"2024-03-01 18:30:05.120000\",\"ratio\":0.5,\"flags\":5},\n"
         "{\"id\":2,\"name\":\"\",\"price\":null,\"data\":\"\",\"big\":null,\"at\":null,\"ratio\":null,\"flags\":null},\n"
         "{\"id\":3,\"name\":null,\"price\":\"-0.001\",\"data\":null,\"big\":\"18446744073709551615\","
         "\"at\":\"0000-00-00\",\"ratio\":1e20,\"flags\":0},\n"
         "{\"id\":4,\"name\":\"say \\\"hi\\\", then\\r\\nleave\\ttab\\\\ 😀\",\"price\":\"99999999999999999999.99\","
         "\"data\":\"Jw==\",\"big\":\"-9007199254740993\",\"at\":\"-838:59:59\",\"ratio\":-1.5e-7,"
         "\"flags\":\"9007199254740993\"},\n"
         "{\"id\":5,\"name\":\"NULL\",\"price\":\"0\",\"data\":\"MHgwMA==\",\"big\":0,\"at\":\"12:00:00\","
         "\"ratio\":3.4028235e38,\"flags\":1}\n"
         "]\n"},
        {"sql", sql,
         "INSERT INTO `shop`.`odd``name` (`id`, `name`, `price`, `data`, `big`, `at`, `ratio`, `flags`) VALUES\n"
         "(1, 'plain', 12.50, X'0001FF', 9007199254740991, '2024-03-01 18:30:05.120000', 0.5, 5),\n"
         "(2, '', NULL, X'', NULL, NULL, NULL, NULL),\n"
         "(3, NULL, -0.001, NULL, 18446744073709551615, '0000-00-00', 1e20, 0);\n"
         "INSERT INTO `shop`.`odd``name` (`id`, `name`, `price`, `data`, `big`, `at`, `ratio`, `flags`) VALUES\n"
         "(4, 'say \\\"hi\\\", then\\r\\nleave\ttab\\\\ 😀', 99999999999999999999.99, X'27', -9007199254740993, "
         "'-838:59:59', -1.5e-7, 9007199254740993),\n"
         "(5, 'NULL', 0, X'30783030', 0, '12:00:00', 3.4028235e38, 1);\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(Write(c.options), c.expected) << c.name;
}

TEST(ExportWriters, RawBinaryAndEmptyResults) {
    TExportOptions raw;
    raw.Format = TExportFormat::Tsv;
    raw.Binary = TBinaryForm::Raw;
    raw.Header = false;
    std::string out;
    auto tsv = NewExportWriter(raw, [&](QByteArrayView b) { out.append(b.data(), size_t(b.size())); });
    tsv->Begin({{"b", K::Binary}});
    const QByteArray bytes("a\0\t\\\xff", 5);
    const TExportCell cell{false, bytes};
    tsv->Row({&cell, 1});
    tsv->End();
    EXPECT_EQ(out, std::string("a\\0\\t\\\\\xff\n"));

    struct Empty {
        TExportFormat format;
        std::string expected;
    };
    for (const Empty& e : {Empty{TExportFormat::Csv, "a\r\n"}, Empty{TExportFormat::Tsv, "a\n"},
                           Empty{TExportFormat::Json, "[]\n"}, Empty{TExportFormat::Sql, ""}}) {
        TExportOptions o;
        o.Format = e.format;
        o.Table.Name = QStringLiteral("t");
        out.clear();
        auto writer = NewExportWriter(o, [&](QByteArrayView b) { out.append(b.data(), size_t(b.size())); });
        writer->Begin({{"a", K::Text}});
        writer->End();
        EXPECT_EQ(out, e.expected) << ExportFormatName(e.format).toStdString();
    }
}

TEST(ExportWriters, SqlNeedsATable) {
    TExportOptions o;
    o.Format = TExportFormat::Sql;
    EXPECT_THROW(NewExportWriter(o, [](QByteArrayView) {}), EDatabaseError);
}

TEST(ExportWriters, JsonStringsAreValidUtf8) {
    struct Case {
        QByteArray in;
        std::string expected;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {QByteArray("\x01\x1f\x7f\b\f", 5), "\"\\u0001\\u001f\x7f\\b\\f\""},
        {"é€😀", "\"é€😀\""},
        {"a\xff" "b", "\"a\xEF\xBF\xBD" "b\""},                   // a byte that starts nothing
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},             // overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // above U+10FFFF
        {"x\xE2\x82", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""},           // cut short at the end
    };
    for (const Case& c : cases) {
        QByteArray out;
        AppendJsonString(out, c.in);
        EXPECT_EQ(out.toStdString(), c.expected) << c.in.toHex().toStdString();
    }
}

TEST(ExportWriters, JsonNumbers) {
    for (const char* yes : {"0", "-0", "12", "-1.5", "1e20", "1E+5", "2.5e-7"}) EXPECT_TRUE(IsJsonNumber(yes)) << yes;
    for (const char* no : {"", "-", "007", "1.", ".5", "1e", "+1", "inf", "nan", "0x10", "1 "})
        EXPECT_FALSE(IsJsonNumber(no)) << no;

    // Integers a double holds exactly are numbers; the others strings. Leading zeros (ZEROFILL)
    // and text that is no number stay strings in every kind.
    TExportOptions o;
    o.Format = TExportFormat::Json;
    std::string out;
    auto writer = NewExportWriter(o, [&](QByteArrayView b) { out.append(b.data(), size_t(b.size())); });
    writer->Begin({{"i", K::Integer}, {"f", K::Float}});
    const TExportCell row1[] = {{false, "-9007199254740991"}, {false, "inf"}};
    const TExportCell row2[] = {{false, "00042"}, {false, "-0"}};
    writer->Row(row1);
    writer->Row(row2);
    writer->End();
    EXPECT_EQ(out, "[\n{\"i\":-9007199254740991,\"f\":\"inf\"},\n{\"i\":\"00042\",\"f\":-0}\n]\n");
}

TEST(ExportWriters, StreamsInBoundedBlocks) {
    // Many rows reach the sink in blocks as they come, not in one piece at the end.
    TExportOptions o;
    o.Format = TExportFormat::Csv;
    o.Header = false;
    std::vector<QByteArray> blocks;
    std::string out;
    auto writer = NewExportWriter(o, [&](QByteArrayView b) {
        blocks.push_back(b.toByteArray());
        out.append(b.data(), size_t(b.size()));
    });
    writer->Begin({{"v", K::Text}});
    const QByteArray value(1000, 'x');
    const TExportCell cell{false, value};
    for (int i = 0; i < 1000; ++i) {
        writer->Row({&cell, 1});
        ASSERT_LT(writer->BytesWritten() - qint64(out.size()), 70000) << "row " << i;
    }
    writer->End();
    EXPECT_GT(blocks.size(), 10u);
    EXPECT_EQ(out.size(), 1000u * 1002u);
    EXPECT_EQ(writer->BytesWritten(), qint64(out.size()));
}

TEST(ExportWriters, FormatNames) {
    for (const TExportFormat f : {TExportFormat::Csv, TExportFormat::Tsv, TExportFormat::Json, TExportFormat::Sql})
        EXPECT_EQ(ExportFormatByName(ExportFormatName(f).toUpper()), f);
    EXPECT_EQ(ExportFormatByName(QStringLiteral("xml")), std::nullopt);
}

}  // namespace
}  // namespace calvoro::exporting
