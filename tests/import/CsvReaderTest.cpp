// The CSV reader: a table of inputs, each read whole and again one byte at a time (a record
// must not depend on where the input was cut), with the records expected: line, fields (NULL
// written as "<NULL>") or the error.
#include "import/CsvReader.h"
#include "support/QtPrinters.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace calvoro::import;

namespace {

// "line:field|field" or "line!error".
QStringList Records(TCsvReader& reader) {
    QStringList out;
    TCsvRecord r;
    while (reader.Next(r)) {
        if (!r.Error.isEmpty()) {
            out << QStringLiteral("%1!%2").arg(r.Line).arg(r.Error);
            continue;
        }
        QStringList fields;
        for (const auto& f : r.Fields) fields << (f ? *f : QStringLiteral("<NULL>"));
        out << QStringLiteral("%1:%2").arg(r.Line).arg(fields.join(u'|'));
    }
    return out;
}

QStringList ReadWhole(const QByteArray& input, const TCsvFormat& format) {
    TCsvReader reader(format);
    reader.Feed(input);
    reader.Finish();
    return Records(reader);
}

QStringList ReadByteByByte(const QByteArray& input, const TCsvFormat& format) {
    TCsvReader reader(format);
    QStringList out;
    for (qsizetype i = 0; i < input.size(); ++i) {
        reader.Feed(QByteArrayView(input.constData() + i, 1));
        out << Records(reader);
    }
    reader.Finish();
    return out << Records(reader);
}

struct Case {
    const char* Name;
    QByteArray Input;
    QStringList Expected;
    char Delimiter = ',';
    QString NullMarker = QString();
    TCsvEncoding Encoding = ceUtf8;
    int Skip = 0;
};

TEST(CsvReader, TableOfInputs) {
    const Case cases[] = {
        {"plain LF", "a,b\nc,d\n", {"1:a|b", "2:c|d"}},
        {"CRLF, no final break", "a,b\r\nc,d", {"1:a|b", "2:c|d"}},
        {"lone CR ends a record", "a\rb\r", {"1:a", "2:b"}},
        {"empty fields and trailing delimiter", ",x,\n", {"1:|x|"}},
        {"empty lines are skipped", "\n\na\r\n\r\nb\n", {"3:a", "5:b"}},
        {"quoted delimiter and doubled quote", "\"a,b\",\"say \"\"hi\"\"\"\n", {"1:a,b|say \"hi\""}},
        {"line breaks inside quotes are kept", "\"x\r\ny\",z\nnext\n", {"1:x\r\ny|z", "3:next"}},
        {"LF inside quotes counts a line", "\"1\n2\n3\"\nq\n", {"1:1\n2\n3", "4:q"}},
        {"empty quoted field is text, not NULL", "\"\",\\N\n", {"1:|<NULL>"}, ',', "\\N"},
        {"quoted NULL marker is text", "\"\\N\",\\N\n", {"1:\\N|<NULL>"}, ',', "\\N"},
        {"marker NULL", "NULL,null\n", {"1:<NULL>|null"}, ',', "NULL"},
        {"empty marker: empty unquoted fields are NULL", "a,,\"\"\n", {"1:a|<NULL>|"}, ',', ""},
        {"quote inside an unquoted field is literal", "ab\"c,d\n", {"1:ab\"c|d"}},
        {"text after a closing quote", "\"ab\"c,d\nok\n", {"1!text after the closing quote of field 1", "2:ok"}},
        {"unclosed quote at the end", "ok\n\"abc\n", {"1:ok", "2!a quoted field is not closed before the end of the input"}},
        {"tab delimiter", "a\tb,c\n", {"1:a|b,c"}, '\t'},
        {"semicolon delimiter", "1;2\n", {"1:1|2"}, ';'},
        {"UTF-8 byte-order mark dropped", "\xEF\xBB\xBFid,n\n", {"1:id|n"}},
        {"a BOM-like start that is not one", "\xEF\xBB" "x\n", {"1!field 1 is not valid UTF-8"}},
        {"only a BOM", "\xEF\xBB\xBF", {}},
        {"UTF-8 text", "gr\xC3\xBC\xC3\x9F,\xF0\x9F\x98\x80\n", {QStringLiteral("1:grüß|😀")}},
        {"invalid UTF-8 refuses the record only", "a\xC3,b\nc\n", {"1!field 1 is not valid UTF-8", "2:c"}},
        {"overlong UTF-8", "\xC0\xAF\n", {"1!field 1 is not valid UTF-8"}},
        {"UTF-8 surrogate", "\xED\xA0\x80\n", {"1!field 1 is not valid UTF-8"}},
        {"Windows-1252", "\x80,\xE9\x9F\n", {QStringLiteral("1:€|éŸ")}, ',', QString(), ceWindows1252},
        {"Windows-1252 keeps a leading EF BB BF", "\xEF\xBB\xBF\n", {QStringLiteral("1:ï»¿")}, ',', QString(), ceWindows1252},
        {"skip a header record with a quoted break", "\"h\n1\",h2\na,b\n", {"3:a|b"}, ',', QString(), ceUtf8, 1},
        {"skip more records than there are", "a\nb\n", {}, ',', QString(), ceUtf8, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TCsvFormat format;
        format.Delimiter = c.Delimiter;
        format.NullMarker = c.NullMarker;
        format.Encoding = c.Encoding;
        format.SkipRecords = c.Skip;
        EXPECT_EQ(ReadWhole(c.Input, format), c.Expected);
        EXPECT_EQ(ReadByteByByte(c.Input, format), c.Expected);
    }
}

TEST(CsvReader, RecordOverTheLimitIsRefusedAndReadingGoesOn) {
    TCsvFormat format;
    format.MaxRecordBytes = 8;
    EXPECT_EQ(ReadWhole("12345,6789\n\"123\n456789\"\nshort\n", format),
              (QStringList{"1!the record is longer than 8 bytes", "2!the record is longer than 8 bytes", "4:short"}));
}

TEST(CsvReader, EndOffsetsCountEveryByte) {
    TCsvReader reader({});
    const QByteArray input = "\xEF\xBB\xBF" "a\r\n\"b\r\n\"\nc";
    reader.Feed(input);
    reader.Finish();
    std::vector<int64_t> ends;
    TCsvRecord r;
    while (reader.Next(r)) ends.push_back(r.EndOffset);
    EXPECT_EQ(ends, (std::vector<int64_t>{5, 12, 13}));
    EXPECT_EQ(reader.BytesFed(), input.size());
}

}  // namespace
