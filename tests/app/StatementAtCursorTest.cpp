// Where the statements of an editor's text stand and which one the cursor is in.
#include "app/editor/StatementAtCursor.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::app;

namespace {

TEST(StatementAtCursor, TheStatementTheCursorIsIn) {
    // "|" marks the cursor; it is taken out of the text.
    struct Case {
        const char* what;
        const char* text;
        const char* statement;  // nullptr: none
    } cases[] = {
        {"inside the first", "SEL|ECT 1; SELECT 2", "SELECT 1"},
        {"inside the second", "SELECT 1; SELECT| 2", "SELECT 2"},
        {"at the start of the text", "|SELECT 1;\nSELECT 2", "SELECT 1"},
        {"right after a delimiter", "SELECT 1;| SELECT 2", "SELECT 1"},
        {"on a blank line between", "SELECT 1;\n|\nSELECT 2;", "SELECT 1"},
        {"at the start of the second", "SELECT 1;\n|SELECT 2;", "SELECT 2"},
        {"at the end of the text", "SELECT 1;\nSELECT 2;\n|", "SELECT 2"},
        {"blanks before the first", "  |\n  SELECT 1; SELECT 2", "SELECT 1"},
        {"the middle of three", "UPDATE t SET a = 1;\nSELECT * FROM t| WHERE a = 1;\nDELETE FROM t;",
         "SELECT * FROM t WHERE a = 1"},
        {"a string holding the delimiter", "SELECT 'a;b|', \"c;d\";\nSELECT 2", "SELECT 'a;b', \"c;d\""},
        {"a quoted name holding the delimiter", "SELECT `x;y` FROM t; SEL|ECT 2", "SELECT 2"},
        {"a line comment holding the delimiter", "SELECT 1 -- not; the end\n, 2;| SELECT 3",
         "SELECT 1 -- not; the end\n, 2"},
        {"a hash comment", "SELECT 1 # one;\n+ 1|;\nSELECT 2", "SELECT 1 # one;\n+ 1"},
        {"a block comment holding the delimiter", "SELECT /* a; b */ 1|; SELECT 2", "SELECT /* a; b */ 1"},
        {"comments alone are no statement", "SELECT 1;\n-- just a note;\n|", "SELECT 1"},
        {"a DELIMITER block's body",
         "DELIMITER $$\nCREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SEL|ECT 2;\nEND$$\nDELIMITER ;\nCALL p();",
         "CREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\n  SELECT 2;\nEND"},
        {"after a DELIMITER block",
         "DELIMITER $$\nCREATE PROCEDURE p()\nBEGIN\n  SELECT 1;\nEND$$\nDELIMITER ;\nCA|LL p();", "CALL p()"},
        {"on the DELIMITER line itself", "DELI|MITER //\nSELECT 1//\nDELIMITER ;", "SELECT 1"},
        {"a routine body under the default delimiter",
         "CREATE FUNCTION f() RETURNS INT\nBEGIN\n  RETURN 1;\nEND;\n/\nSELECT f()|;",
         "SELECT f()"},
        {"an empty text", "|", nullptr},
        {"blanks and comments only", "  /* x; */ |-- y\n", nullptr},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.what);
        QString text = QString::fromUtf8(tc.text);
        const int cursor = int(text.indexOf(u'|'));
        ASSERT_GE(cursor, 0);
        text.remove(cursor, 1);
        const std::optional<TStatementSpan> span = StatementAtCursor(text, cursor);
        if (!tc.statement) {
            EXPECT_FALSE(span.has_value());
            continue;
        }
        ASSERT_TRUE(span.has_value());
        EXPECT_EQ(span->Text, QString::fromUtf8(tc.statement));
        // The span stands where its text does.
        EXPECT_EQ(text.mid(span->Start, span->End - span->Start), span->Text);
        EXPECT_EQ(span->Line, int(QStringView(text).left(span->Start).count(u'\n')));
    }
}

TEST(StatementAtCursor, EveryStatementOfATextInOrder) {
    const QString text = QStringLiteral("SET @a = 1;\n\nDELIMITER ;;\nDO 1;;\nDELIMITER ;\n-- c\nSELECT @a");
    const QList<TStatementSpan> spans = StatementSpans(text);
    ASSERT_EQ(spans.size(), 3);
    EXPECT_EQ(spans[0], (TStatementSpan{0, 10, 0, QStringLiteral("SET @a = 1")}));
    EXPECT_EQ(spans[1], (TStatementSpan{26, 30, 3, QStringLiteral("DO 1")}));
    EXPECT_EQ(spans[2].Text, QStringLiteral("-- c\nSELECT @a"));
    EXPECT_EQ(spans[2].Line, 5);
}

}  // namespace
