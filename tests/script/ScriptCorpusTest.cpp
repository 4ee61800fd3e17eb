// Runs the cases of script_corpus.txt (the format is described at the top of that file): each
// script is cut into statements by the cutter alone, over the text and over streams read in
// blocks of a few bytes; then by a script (which runs what its cutter returns) from streams
// and from its SQL lines, where the statements split in advance must be the same.

#include "script/MyScript.h"
#include "script/MyStatementCutter.h"

#include "common/CodePage.h"
#include "sqltext/CRParser.h"
#include "sqltext/LexerHarness.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>

#include <optional>

using namespace calvoro;
using namespace calvoro::script;
using calvoro::sqltext::test::UnescapeCorpusText;

namespace {

struct TStatementSeen {
    bool Omit = false;
    qint64 Line = 0;
    QString Text;
    bool operator==(const TStatementSeen&) const = default;
};

struct TSplit {
    std::vector<TStatementSeen> Statements;
    QString Error;  // the start of the lexer's message
    qint64 ErrorLine = -1;
    bool operator==(const TSplit&) const = default;
};

void PrintTo(const TSplit& s, std::ostream* os) {
    for (const TStatementSeen& st : s.Statements)
        *os << "\n  " << (st.Omit ? "omit " : "run ") << st.Line << " |" << st.Text.toStdString() << "|";
    if (!s.Error.isEmpty()) *os << "\n  error " << s.ErrorLine << " |" << s.Error.toStdString() << "|";
}

struct TCorpusCase {
    int Line = 0;
    QString Name, Bom, Sql;
    TSplit Expected;
};

std::vector<TCorpusCase> ReadCorpus() {
    QFile file(QStringLiteral(CALVORO_SCRIPT_CORPUS));
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read the script corpus");
    std::vector<TCorpusCase> cases;
    std::optional<TCorpusCase> current;
    int lineNo = 0;
    auto flush = [&] {
        if (current) cases.push_back(*current);
        current.reset();
    };
    for (const QByteArray& raw : file.readAll().split('\n')) {
        ++lineNo;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'#')) continue;
        if (line.isEmpty()) {
            flush();
            continue;
        }
        if (!current) current.emplace().Line = lineNo;
        if (line.startsWith(QStringLiteral("name: "))) current->Name = line.mid(6);
        else if (line.startsWith(QStringLiteral("bom: "))) current->Bom = line.mid(5);
        else if (line.startsWith(QStringLiteral("sql: "))) current->Sql = UnescapeCorpusText(QStringView(line).mid(5));
        else {
            const qsizetype open = line.indexOf(u'|'), close = line.lastIndexOf(u'|');
            const QStringList words = line.left(open).split(u' ', Qt::SkipEmptyParts);
            if (open < 0 || close <= open || words.size() != 2) throw std::runtime_error("bad corpus line");
            const QString text = UnescapeCorpusText(QStringView(line).mid(open + 1, close - open - 1));
            if (words[0] == u"error") {
                current->Expected.Error = text;
                current->Expected.ErrorLine = words[1].toLongLong();
            } else {
                current->Expected.Statements.push_back({words[0] == u"omit", words[1].toLongLong(), text});
            }
        }
    }
    flush();
    return cases;
}

// Splits without a server: every statement is recorded and then omitted.
TSplit Split(TMyScript& script, const std::function<void()>& run) {
    TSplit split;
    script.BeforeExecute = [&](TDAScript* s, QString& sql, bool& omit) {
        split.Statements.push_back({omit, s->StartLine(), sql});
        omit = true;
    };
    try {
        run();
    } catch (const sqltext::EParserError& e) {
        split.Error = e.Message();
        split.ErrorLine = script.ParserLine();
    }
    return split;
}

// The error is compared by its start, as the corpus gives it.
void ExpectSplit(const TSplit& expected, TSplit actual) {
    if (!expected.Error.isEmpty() && actual.Error.startsWith(expected.Error)) actual.Error = expected.Error;
    EXPECT_EQ(actual, expected);
}

// Cuts with the cutter alone. Over a text (source not null), each statement's text must be
// the text at its place, without the blanks at its end.
TSplit Cut(TStatementCutter& cutter, const QString& source = QString()) {
    TSplit split;
    try {
        TCutStatement statement;
        while (cutter.Next(statement)) {
            const TStatementPlace& p = statement.Place;
            split.Statements.push_back({statement.Omit, p.StartLine, statement.Text});
            if (source.isNull()) continue;
            QString at = source.mid(p.StartPos, p.EndPos - p.StartPos + 1);
            while (!at.isEmpty() && at.back().isSpace()) at.chop(1);
            EXPECT_EQ(at, statement.Text) << "at " << p.StartPos << ".." << p.EndPos;
        }
    } catch (const sqltext::EParserError& e) {
        split.Error = e.Message();
        split.ErrorLine = cutter.Lexer().CurrLine();
    }
    return split;
}

TEST(ScriptCorpusCutter, FromTheTextAndFromStreams) {
    for (const TCorpusCase& c : ReadCorpus()) {
        if (!c.Bom.isEmpty()) continue;  // the script reads the mark (see FromStreams)
        SCOPED_TRACE(testing::Message() << "line " << c.Line << ": " << c.Name.toStdString());
        TMyStatementCutter overText(c.Sql);
        ExpectSplit(c.Expected, Cut(overText, c.Sql));
        QByteArray bytes = c.Sql.toUtf8();
        for (qsizetype block : {1, 3, 7, 4096}) {
            SCOPED_TRACE(testing::Message() << "block " << block);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            TMyStatementCutter overStream(&buffer, sqltext::teUTF8);
            overStream.Lexer().SetBlockSize(block);
            ExpectSplit(c.Expected, Cut(overStream));
        }
    }
}

TEST(ScriptCorpusCutter, AStatementLongerThanTheLimitComesWithItsBeginning) {
    const QString longString = QStringLiteral("SELECT '") + QString(2000, u'x') + u'\'';
    struct Case {
        const char* name;
        QString delimiter, sql;
        qint64 limit;
        std::vector<std::pair<bool, QString>> expected;  // too long, text
    } cases[] = {
        {"one statement over the limit", QStringLiteral(";"), QStringLiteral("SELECT 1;SELECT 123456789;SELECT 2"), 8,
         {{false, QStringLiteral("SELECT 1")}, {true, QStringLiteral("SELECT 123456789")}, {false, QStringLiteral("SELECT 2")}}},
        {"the word before a glued delimiter counts", QStringLiteral("$$"), QStringLiteral("SELECTabcdefgh$$SELECT 1"), 8,
         {{true, QStringLiteral("SELECTabcdefgh")}, {false, QStringLiteral("SELECT 1")}}},
        {"only the first 1000 characters are kept", QStringLiteral(";"), longString + QStringLiteral(";SELECT 1"), 10,
         {{true, longString.left(1000)}, {false, QStringLiteral("SELECT 1")}}},
        {"exactly the limit is not over it", QStringLiteral(";"), QStringLiteral("SELECT 12;"), 9,
         {{false, QStringLiteral("SELECT 12")}}},
        {"blanks at the end do not count", QStringLiteral(";"), QStringLiteral("SELECT 12 \n ;SELECT 1"), 9,
         {{false, QStringLiteral("SELECT 12")}, {false, QStringLiteral("SELECT 1")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMyStatementCutter cutter(c.sql);
        cutter.SetDelimiter(c.delimiter);
        cutter.SetDefaultDelimiter(c.delimiter);
        cutter.SetMaxLength(c.limit);
        std::vector<std::pair<bool, QString>> seen;
        for (TCutStatement statement; cutter.Next(statement);) seen.emplace_back(statement.TooLong, statement.Text);
        EXPECT_EQ(seen, c.expected);
    }
}

class ScriptCorpus : public ::testing::Test {
protected:
    ScriptCorpus() {
        script.SetConnection(&connection);  // never connected: nothing is sent
        script.SetNoPreconnect(true);
    }
    dac::TMyConnection connection;
    TMyScript script;
};

TEST_F(ScriptCorpus, FromStreams) {
    for (const TCorpusCase& c : ReadCorpus()) {
        SCOPED_TRACE(testing::Message() << "line " << c.Line << ": " << c.Name.toStdString());
        QByteArray bytes;
        TSplit expected = c.Expected;
        if (c.Bom == u"utf16") {
            bytes = QByteArray("\xFF\xFE", 2);
            for (const QChar ch : c.Sql) bytes += char(ch.unicode() & 0xFF), bytes += char(ch.unicode() >> 8);
        } else {
            if (c.Bom == u"utf8") bytes = "\xEF\xBB\xBF";
            bytes += c.Sql.toUtf8();
            // Read 8-bit, a statement carries the bytes of its UTF-8.
            for (TStatementSeen& s : expected.Statements) s.Text = AnsiToUnicode(s.Text.toUtf8());
        }
        for (qsizetype block : {1, 3, 7, 4096}) {
            SCOPED_TRACE(testing::Message() << "block " << block);
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::ReadOnly);
            script.SetStreamBlockSize(block);
            ExpectSplit(expected, Split(script, [&] { script.ExecuteStream(&buffer); }));
        }
    }
}

TEST_F(ScriptCorpus, FromLinesAndSplitInAdvance) {
    // Lines joined with CR LF: every line end of the text is one.
    auto lines = [](QString text) {
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        return text.replace(u'\n', QStringLiteral("\r\n"));
    };
    for (const TCorpusCase& c : ReadCorpus()) {
        if (!c.Bom.isEmpty()) continue;
        SCOPED_TRACE(testing::Message() << "line " << c.Line << ": " << c.Name.toStdString());
        TSplit expected = c.Expected;
        for (TStatementSeen& s : expected.Statements) s.Text = lines(s.Text);
        script.SQL().SetText(c.Sql);
        ExpectSplit(expected, Split(script, [&] { script.Execute(); }));
        if (!expected.Error.isEmpty()) continue;
        // Split in advance: the same statements, cut from the lines by their places.
        TSplit ahead;
        TDAStatements& statements = script.Statements();
        for (int i = 0; i < statements.Count(); ++i)
            ahead.Statements.push_back({statements[i].Omit(), statements[i].Place().StartLine, statements[i].SQL()});
        EXPECT_EQ(ahead, expected);
    }
}

TEST_F(ScriptCorpus, OnlyMacrosGivenAValueReplaceTheirReferences) {
    script.SQL().SetText(QStringLiteral("INSERT INTO &tbl VALUES (1);\nSELECT flags&mask, '&tbl' FROM &tbl;"));
    // The references were found; one gets a value, the other stays as written.
    ASSERT_TRUE(script.FindMacro(QStringLiteral("mask")));
    script.MacroByName(QStringLiteral("tbl")).SetValue(QStringLiteral("steps"));
    const TSplit split = Split(script, [&] { script.Execute(); });
    ASSERT_EQ(split.Statements.size(), 2u);
    EXPECT_EQ(split.Statements[0].Text, QStringLiteral("INSERT INTO steps VALUES (1)"));
    EXPECT_EQ(split.Statements[1].Text, QStringLiteral("SELECT flags&mask, '&tbl' FROM steps"));
    EXPECT_THROW(script.MacroByName(QStringLiteral("nope")), EDatabaseError);
}

}  // namespace
