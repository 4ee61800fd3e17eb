// The SQL editor and its MySQL highlighter, offscreen.
#include "app/SynEdit.h"
#include "app/SynHighlighterMySQL.h"
#include "common/Exceptions.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace calvoro;
using namespace calvoro::app;
using Sci = QsciScintillaBase;

namespace {

// The program's names for one schema: each bare and in backquotes.
void AddSchema(TSynMySQL& highlighter) {
    for (const char* name : {"orders", "my table", "Größe", "a$b"}) {
        const QString bare = QString::fromUtf8(name);
        highlighter.AddTableName(bare);
        highlighter.AddTableName(u'`' + bare + u'`');
    }
}

// `fragment` marks the part to check in brackets, with context around it to find it in the
// text: "` [t] W" is the t between a backquote and a W. Returns the byte range of the part.
std::pair<int, int> Locate(const QByteArray& text, const QByteArray& fragment) {
    const int open = fragment.indexOf('['), close = fragment.indexOf(']');
    if (open < 0 || close < open) return {-1, -1};
    const int at = text.indexOf(QByteArray(fragment).remove(close, 1).remove(open, 1));
    if (at < 0) return {-1, -1};
    return {at + open, at + close - 1};
}

// The kind at every byte of [from, to), or "mixed: ..." when they differ.
std::string KindsAt(TSynEdit& editor, int from, int to) {
    std::string kinds;
    for (int i = from; i < to; ++i) {
        const std::string kind = SynTokenKindName(editor.KindAt(i));
        if (kinds.empty()) kinds = kind;
        else if (kinds.find(kind) == std::string::npos) kinds = "mixed: " + kinds + " " + kind;
    }
    return kinds;
}

bool StyleBold(const TSynEdit& editor, int style) {
    // QScintilla hands Qt's weight to Scintilla negated.
    const long weight = editor.SendScintilla(Sci::SCI_STYLEGETWEIGHT, static_cast<unsigned long>(style));
    return std::abs(weight) >= QFont::DemiBold;
}

QColor StyleColor(const TSynEdit& editor, int style) {
    const long bgr = editor.SendScintilla(Sci::SCI_STYLEGETFORE, static_cast<unsigned long>(style));
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

struct PaintCounter : QObject {
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Count;
        return false;
    }
};

class SynEditTest : public ::testing::Test {
protected:
    SynEditTest() {
        AddSchema(Highlighter);
        Editor.SetHighlighter(&Highlighter);
        Editor.resize(800, 300);
    }
    TSynMySQL Highlighter;
    TSynEdit Editor;
};

}  // namespace

TEST_F(SynEditTest, StylesOfMySql) {
    struct Case {
        const char* text;
        std::vector<std::pair<const char*, TSynTokenKind>> parts;
    };
    using K = TSynTokenKind;
    const Case cases[] = {
        {"SELECT a, @v, @@sql_mode FROM orders o JOIN `my table` t WHERE x = 'it''s' AND n > 12.5 -- note",
         {{"[SELECT]", K::Keyword}, {"[a], @", K::Identifier}, {"a[,]", K::Symbol}, {"[@v]", K::Variable},
          {"[@@sql_mode]", K::Variable}, {"[FROM]", K::Keyword}, {"[orders]", K::TableName},
          {"s [o] J", K::Identifier}, {"[`my table`]", K::TableName}, {"` [t] W", K::Identifier},
          {"[=]", K::Symbol}, {"['it''s']", K::String}, {"[>]", K::Symbol}, {"[12.5]", K::Number},
          {"[-- note]", K::Comment}}},
        {"/* block\n   orders `orders` */ SELECT 1 # hash orders\nFROM orders",
         {{"[/* block]", K::Comment}, {"[orders `orders` */]", K::Comment}, {"[1]", K::Number},
          {"[# hash orders]", K::Comment}, {"FROM [orders]", K::TableName}}},
        {"SELECT \"dq\", 'a\\'b', '@x', \"`orders`\" FROM `t`",
         {{"[\"dq\"]", K::String}, {"['a\\'b']", K::String}, {"['@x']", K::String},
          {"[\"`orders`\"]", K::String}, {"[FROM]", K::Keyword}, {"[`t`]", K::Identifier}}},
        {"CREATE TABLE t2 (id INT UNSIGNED NOT NULL, amount DECIMAL(10,2), note TEXT, at DATETIME, "
         "v VARCHAR(20), b BIGINT, l LONGBLOB)",
         {{"[CREATE]", K::Keyword}, {"[TABLE] t2", K::Keyword}, {"[t2]", K::Identifier}, {"[(]id", K::Symbol},
          {"[INT]", K::DataType}, {"[UNSIGNED]", K::Keyword}, {"[DECIMAL]", K::DataType}, {"[10]", K::Number},
          {"[TEXT]", K::DataType}, {"[DATETIME]", K::DataType}, {"[VARCHAR]", K::DataType},
          {"[BIGINT]", K::DataType}, {"[LONGBLOB]", K::DataType}}},
        // Bare names in any letter case, backquoted ones exactly; names the list lacks and the
        // words of a name with a blank stay identifiers.
        {"SELECT * FROM Orders, ORDERS, `Orders`, customers, my, `my  table`",
         {{"[Orders], O", K::TableName}, {"[ORDERS]", K::TableName}, {"[`Orders`]", K::Identifier},
          {"[customers]", K::Identifier}, {"[my],", K::Identifier}, {"[`my  table`]", K::Identifier}}},
        // Words Scintilla's lexer splits: non-ASCII letters and '$'.
        {"SELECT * FROM größe, `Größe`, größer, a$b, x$y",
         {{"[größe]", K::TableName}, {"[`Größe`]", K::TableName}, {"[größer]", K::Identifier},
          {"[a$b]", K::TableName}, {"[x$y]", K::Identifier}}},
        // '@' after a name or a quote joins an account name; variables in every written form.
        {"GRANT ALL ON db.* TO 'u'@'localhost', root@host; "
         "SET @`x y` = @'s', @'it\\'s' = 1, @a.b = 0x1F | 0b101, @ = 1",
         {{"'u'[@]'", K::Other}, {"[root]@", K::Identifier}, {"root[@]host", K::Other}, {"[@`x y`]", K::Variable},
          {"[@'s']", K::Variable}, {"[@'it\\'s']", K::Variable}, {"[@a.b]", K::Variable}, {"[0x1F]", K::Number},
          {"[0b101]", K::Number}, {"[@] = 1", K::Other}}},
        // A backquoted name that runs over a line end is no table name.
        {"SELECT `orders\n` FROM `orders`",
         {{"[`orders]", K::Identifier}, {"[`] FROM", K::Identifier}, {"FROM [`orders`]", K::TableName}}},
    };
    for (const Case& c : cases) {
        const QByteArray text(c.text);
        Editor.SetText(QString::fromUtf8(text));
        for (const auto& [fragment, kind] : c.parts) {
            const auto [from, to] = Locate(text, fragment);
            ASSERT_GE(from, 0) << fragment;
            EXPECT_EQ(KindsAt(Editor, from, to), SynTokenKindName(kind)) << c.text << "\n  at " << fragment;
        }
    }
}

TEST_F(SynEditTest, RestylingSurvivesEditsAndRepaints) {
    // Styles are final before each paint: after an edit, the lexer's pass and the restyling run
    // again and agree however often they run.
    Editor.show();
    Editor.SetText(QStringLiteral("SELECT @v FROM `orders`"));
    (void)Editor.grab();
    const long at = Editor.Text().indexOf(u'`');
    // Read straight from Scintilla: what the paint left, not what StyleAt brings up to date.
    auto raw = [&](long position) {
        return int(Editor.SendScintilla(Sci::SCI_GETSTYLEAT, static_cast<unsigned long>(position)));
    };
    EXPECT_EQ(raw(at), TSynMySQLLexer::StyleQuotedTableName);
    EXPECT_EQ(raw(7), TSynMySQLLexer::StyleVariable);

    // A character typed inside the name makes it an unknown one, deleting it a table again.
    Editor.SendScintilla(Sci::SCI_INSERTTEXT, static_cast<unsigned long>(at + 3), "x");
    (void)Editor.grab();
    EXPECT_EQ(raw(at), QsciLexerSQL::QuotedIdentifier);
    Editor.SendScintilla(Sci::SCI_DELETERANGE, static_cast<unsigned long>(at + 3), 1l);
    (void)Editor.grab();
    EXPECT_EQ(raw(at), TSynMySQLLexer::StyleQuotedTableName);
    // A quote typed in front turns the rest of the line into a string.
    Editor.SendScintilla(Sci::SCI_INSERTTEXT, 7ul, "'");
    (void)Editor.grab();
    EXPECT_EQ(raw(8), QsciLexerSQL::SingleQuotedString);
    EXPECT_EQ(raw(at + 1), QsciLexerSQL::SingleQuotedString);

    // Restyling before a paint asks for at most a few more, never for paints without end.
    PaintCounter paints;
    Editor.viewport()->installEventFilter(&paints);
    Editor.SendScintilla(Sci::SCI_DELETERANGE, 7ul, 1l);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_GE(paints.Count, 1);
    EXPECT_LE(paints.Count, 4);
    EXPECT_EQ(raw(at), TSynMySQLLexer::StyleQuotedTableName);
}

TEST(SynEdit, TableNamesReachEveryEditor) {
    TSynMySQL highlighter;
    TSynEdit first, second;
    first.SetHighlighter(&highlighter);
    second.SetHighlighter(&highlighter);
    const QString text = QStringLiteral("SELECT * FROM orders JOIN `my table` USING (id)");
    first.SetText(text);
    second.SetText(text);
    const int bare = int(text.indexOf(QStringLiteral("orders"))), quoted = int(text.indexOf(u'`'));

    auto kinds = [&](TSynEdit& editor) {
        return std::string(SynTokenKindName(editor.KindAt(bare))) + "," + SynTokenKindName(editor.KindAt(quoted));
    };
    EXPECT_EQ(kinds(first), "identifier,identifier");
    EXPECT_EQ(kinds(second), "identifier,identifier");

    highlighter.AddTableName(QStringLiteral("orders"));
    highlighter.AddTableName(QStringLiteral("`my table`"));
    EXPECT_EQ(kinds(first), "tablename,tablename");
    EXPECT_EQ(kinds(second), "tablename,tablename");
    EXPECT_EQ(highlighter.TableNames(), QStringList({QStringLiteral("orders"), QStringLiteral("`my table`")}));

    highlighter.ClearTableNames();
    EXPECT_EQ(kinds(first), "identifier,identifier");
    EXPECT_EQ(kinds(second), "identifier,identifier");
    EXPECT_TRUE(highlighter.TableNames().isEmpty());

    // An editor detached from the highlighter shows plain text and no longer follows it.
    second.SetHighlighter(nullptr);
    highlighter.AddTableName(QStringLiteral("orders"));
    EXPECT_EQ(kinds(first).substr(0, 10), "tablename,");
    EXPECT_EQ(second.StyleAt(bare), 0);
    EXPECT_EQ(second.Lexer(), nullptr);
}

TEST(SynEdit, StylesLookAsSetAndFollowChanges) {
    TSynMySQL highlighter;
    TSynEdit first, second;
    first.SetHighlighter(&highlighter);
    second.SetHighlighter(&highlighter);
    struct Case {
        int style;
        QColor color;
        bool bold, underline;
    } cases[] = {
        {QsciLexerSQL::Comment, QColor(Qt::darkGray), false, false},
        {QsciLexerSQL::CommentLineHash, QColor(Qt::darkGray), false, false},
        {TSynMySQLLexer::StyleDataType, QColor(Qt::black), true, true},
        {QsciLexerSQL::Keyword, QColor(Qt::black), false, false},
        {QsciLexerSQL::Number, QColor(Qt::blue), true, false},
        {QsciLexerSQL::SingleQuotedString, QColor(0x00, 0x5A, 0xE1), false, false},
        {QsciLexerSQL::DoubleQuotedString, QColor(0x00, 0x5A, 0xE1), false, false},
        {QsciLexerSQL::Operator, QColor(0x80, 0x00, 0x00), false, false},
        {TSynMySQLLexer::StyleTableName, QColor(0x00, 0x80, 0x80), false, true},
        {TSynMySQLLexer::StyleQuotedTableName, QColor(0x00, 0x80, 0x80), false, true},
        {TSynMySQLLexer::StyleVariable, QColor(0x80, 0x00, 0x80), true, false},
        {QsciLexerSQL::Identifier, QColor(Qt::black), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StyleColor(first, c.style), c.color) << c.style;
        EXPECT_EQ(StyleBold(first, c.style), c.bold) << c.style;
        const long underline = first.SendScintilla(Sci::SCI_STYLEGETUNDERLINE, static_cast<unsigned long>(c.style));
        EXPECT_EQ(underline != 0, c.underline) << c.style;
    }
    highlighter.SetAttributes(TSynTokenKind::Keyword, TSynAttributes{QColor(Qt::darkBlue), true, false, false});
    for (TSynEdit* editor : {&first, &second}) {
        EXPECT_EQ(StyleColor(*editor, QsciLexerSQL::Keyword), QColor(Qt::darkBlue));
        EXPECT_TRUE(StyleBold(*editor, QsciLexerSQL::Keyword));
    }
}

TEST(SynEdit, UndoAndRedoCounts) {
    TSynEdit editor;
    editor.show();
    auto counts = [&] { return std::pair{editor.UndoCount(), editor.RedoCount()}; };
    QTest::keyClicks(&editor, QStringLiteral("abc"));  // one run of typing: one entry
    EXPECT_EQ(editor.Text(), QStringLiteral("abc"));
    EXPECT_EQ(counts(), std::pair(1, 0));
    QTest::keyClick(&editor, Qt::Key_Home);
    QTest::keyClicks(&editor, QStringLiteral("x"));
    EXPECT_EQ(counts(), std::pair(2, 0));
    editor.Undo();
    EXPECT_EQ(editor.Text(), QStringLiteral("abc"));
    EXPECT_EQ(counts(), std::pair(1, 1));
    editor.Undo();
    EXPECT_EQ(counts(), std::pair(0, 2));
    editor.Redo();
    EXPECT_EQ(editor.Text(), QStringLiteral("abc"));
    EXPECT_EQ(counts(), std::pair(1, 1));
    // Typing on at the end of the redone entry joins it, as Scintilla groups it; the entry
    // that could still be redone is gone.
    QTest::keyClicks(&editor, QStringLiteral("z"));
    EXPECT_EQ(counts(), std::pair(1, 0));
    EXPECT_FALSE(editor.isRedoAvailable());
    editor.beginUndoAction();  // a group of changes is one entry
    editor.insert(QStringLiteral("1"));
    editor.AppendLine(QStringLiteral("2"));
    editor.endUndoAction();
    editor.AppendLine(QStringLiteral("3"));
    EXPECT_EQ(editor.Text(), QStringLiteral("abcz1\n2\n3"));
    EXPECT_EQ(counts(), std::pair(3, 0));

    // Scintilla's own lists agree: exactly that many undos are possible.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(editor.isUndoAvailable()) << i;
        editor.Undo();
    }
    EXPECT_FALSE(editor.isUndoAvailable());
    EXPECT_EQ(counts(), std::pair(0, 3));
    EXPECT_EQ(editor.Text(), QString());

    editor.Redo();
    editor.Clear();
    EXPECT_EQ(counts(), std::pair(0, 0));
    EXPECT_FALSE(editor.isUndoAvailable());
    EXPECT_FALSE(editor.isRedoAvailable());
    editor.SetText(QStringLiteral("loaded"));
    EXPECT_EQ(counts(), std::pair(0, 0));
    EXPECT_FALSE(editor.isUndoAvailable());
}

TEST(SynEdit, LinesAndText) {
    TSynEdit editor;
    const QStringList cases[] = {
        {},
        {QStringLiteral("SELECT 1;")},
        {QStringLiteral("a"), QStringLiteral("b")},
        {QStringLiteral("a"), QStringLiteral("b"), QString()},
        {QString(), QStringLiteral("  indented"), QString(), QStringLiteral("é€")},
    };
    for (const QStringList& lines : cases) {
        editor.SetLines(lines);
        EXPECT_EQ(editor.Lines(), lines);
        EXPECT_EQ(editor.Text(), lines.join(u'\n'));
        EXPECT_EQ(editor.lines(), std::max<int>(1, int(lines.size())));
    }
    editor.Clear();
    editor.AppendLine(QStringLiteral("x"));
    editor.AppendLine(QString());
    editor.AppendLine(QStringLiteral("y"));
    EXPECT_EQ(editor.Lines(), QStringList({QStringLiteral("x"), QString(), QStringLiteral("y")}));
    editor.SetText(QStringLiteral("a\r\nb\rc\n"));
    EXPECT_EQ(editor.Lines(), QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QString()}));
    EXPECT_EQ(editor.Text(), QStringLiteral("a\nb\nc\n"));
}

TEST(SynEdit, LoadFromFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        QByteArray bytes;
        QString text;
        bool utf8;
    } cases[] = {
        {QByteArray("SELECT '\xC3\xA9\xE2\x82\xAC';\n"), QStringLiteral("SELECT 'é€';\n"), true},
        {QByteArray("\xEF\xBB\xBFx\xE2\x82\xAC"), QStringLiteral("x€"), true},
        {QByteArray("\x80\xE9"), QStringLiteral("€é"), false},
        {QByteArray("caf\xE9 \xC3\xA9"), QStringLiteral("café Ã©"), false},  // one bad byte: all 1252
        {QByteArray("a\r\nb"), QStringLiteral("a\nb"), true},
        {QByteArray(), QString(), true},
    };
    const QString path = dir.filePath(QStringLiteral("script.sql"));
    TSynEdit editor;
    for (const Case& c : cases) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes);
        file.close();
        editor.LoadFromFile(path);
        EXPECT_EQ(editor.Text(), c.text) << c.bytes.toHex().constData();
        EXPECT_EQ(editor.LoadedAsUtf8(), c.utf8) << c.bytes.toHex().constData();
        EXPECT_EQ(editor.UndoCount(), 0);
    }

    editor.SetText(QStringLiteral("kept"));
    const QString missing = dir.filePath(QStringLiteral("missing.sql"));
    try {
        editor.LoadFromFile(missing);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot open file \"%1\". No such file or directory").arg(missing));
    }
    try {
        editor.LoadFromFile(dir.path());
        ADD_FAILURE() << "no exception for a folder";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot open file \"%1\". ").arg(dir.path())))
            << e.Message().toStdString();
    }
    EXPECT_EQ(editor.Text(), QStringLiteral("kept"));
}

TEST(SynEdit, KeysGoToTheHandlersFirst) {
    TSynEdit editor;
    editor.show();
    QStringList seen;
    editor.OnKeyDown = [&](QKeyEvent* e, bool& handled) {
        seen << QStringLiteral("down %1").arg(e->key(), 0, 16);
        handled = e->key() == Qt::Key_F9 || (e->key() == Qt::Key_Return && (e->modifiers() & Qt::ControlModifier));
    };
    editor.OnKeyPress = [&](QKeyEvent* e, bool& handled) {
        seen << QStringLiteral("press %1").arg(e->text());
        handled = e->text() == QStringLiteral("x");
    };
    QTest::keyClicks(&editor, QStringLiteral("axb"));
    QTest::keyClick(&editor, Qt::Key_F9);
    QTest::keyClick(&editor, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(editor.Text(), QStringLiteral("ab"));
    QTest::keyClick(&editor, Qt::Key_Return);
    EXPECT_EQ(editor.Text(), QStringLiteral("ab\n"));
    EXPECT_EQ(seen, QStringList({QStringLiteral("down 41"), QStringLiteral("press a"), QStringLiteral("down 58"),
                                 QStringLiteral("press x"), QStringLiteral("down 42"), QStringLiteral("press b"),
                                 QStringLiteral("down 1000038"), QStringLiteral("down 1000021"),
                                 QStringLiteral("down 1000004"),
                                 QStringLiteral("down 1000004"), QStringLiteral("press \r")}));
}

TEST(SynEdit, Drops) {
    TSynEdit editor;
    editor.show();
    editor.SetText(QStringLiteral("SELECT "));
    const QPoint point = editor.viewport()->rect().center();
    auto drop = [&](QMimeData& mime) {
        QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor.viewport(), &enter);
        QDropEvent event(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor.viewport(), &event);
        return std::pair{enter.isAccepted(), event.isAccepted()};
    };

    // Files: their paths go to OnDropFiles, nothing is inserted; without the hook, refused.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.sql")), QUrl(QStringLiteral("https://example.org/x")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/b c.sql"))});
    files.setText(QStringLiteral("file:///tmp/a.sql"));
    EXPECT_EQ(drop(files), std::pair(false, false));
    EXPECT_EQ(editor.Text(), QStringLiteral("SELECT "));
    QStringList dropped;
    editor.OnDropFiles = [&](const QStringList& paths) { dropped = paths; };
    EXPECT_EQ(drop(files), std::pair(true, true));
    EXPECT_EQ(dropped, QStringList({QStringLiteral("/tmp/a.sql"), QStringLiteral("/tmp/b c.sql")}));
    EXPECT_EQ(editor.Text(), QStringLiteral("SELECT "));

    // Text is inserted unless OnDragDrop carries out the drop.
    QMimeData text;
    text.setText(QStringLiteral("1"));
    drop(text);
    EXPECT_EQ(editor.Text(), QStringLiteral("SELECT 1"));
    editor.OnDragDrop = [&](QDropEvent* e, bool& handled) {
        handled = true;
        editor.append(e->mimeData()->text() + QStringLiteral("!"));
    };
    drop(text);
    EXPECT_EQ(editor.Text(), QStringLiteral("SELECT 11!"));

    // A drag from one of the program's lists: OnDragOver takes it, OnDragDrop inserts.
    QMimeData item;
    item.setData(QStringLiteral("application/x-qabstractitemmodeldatalist"), QByteArray("row"));
    item.setText(QStringLiteral("orders"));
    EXPECT_EQ(drop(item).first, true);  // text: the editor takes it anyway
    QMimeData listOnly;
    listOnly.setData(QStringLiteral("application/x-qabstractitemmodeldatalist"), QByteArray("row"));
    editor.OnDragDrop = nullptr;
    EXPECT_EQ(drop(listOnly).first, false);
    editor.OnDragOver = [](QDragMoveEvent* e, bool& accept) {
        accept = e->mimeData()->hasFormat(QStringLiteral("application/x-qabstractitemmodeldatalist"));
    };
    editor.OnDragDrop = [&](QDropEvent*, bool& handled) {
        handled = true;
        editor.append(QStringLiteral(" FROM orders"));
    };
    EXPECT_EQ(drop(listOnly), std::pair(true, true));
    EXPECT_TRUE(editor.Text().endsWith(QStringLiteral(" FROM orders")));
}

TEST_F(SynEditTest, Screenshot) {
    // What a user sees, checked by colour; saved for a look when CALVORO_SCREENSHOT_DIR names a
    // folder.
    Editor.SetLines({QStringLiteral("-- the orders of one customer"),
                     QStringLiteral("SELECT o.id, o.total, @rate * o.total AS taxed, @@sql_mode"),
                     QStringLiteral("FROM orders o JOIN `my table` m ON m.id = o.id"),
                     QStringLiteral("WHERE o.note <> 'it''s' AND o.total > 12.5;"),
                     QStringLiteral("CREATE TABLE t (id INT NOT NULL, d DATETIME, v VARCHAR(20));")});
    Editor.show();
    const QImage image = Editor.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(800, 300));

    // The pixels in the box of a token (text on white: its colour and blends towards white).
    const QPoint offset = Editor.viewport()->mapTo(&Editor, QPoint(0, 0));
    auto pixels = [&](const char* fragment) {
        const auto [from, to] = Locate(Editor.Text().toUtf8(), fragment);
        const int x0 = int(Editor.SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0ul, from));
        const int x1 = int(Editor.SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0ul, to));
        const int y = int(Editor.SendScintilla(Sci::SCI_POINTYFROMPOSITION, 0ul, from));
        const int h = int(Editor.SendScintilla(Sci::SCI_TEXTHEIGHT, 0ul));
        std::vector<QColor> found;
        for (int py = y; py < y + h; ++py)
            for (int px = x0; px < x1; ++px) found.emplace_back(image.pixel(offset + QPoint(px, py)));
        return found;
    };
    auto near = [](const QColor& a, const QColor& b) {
        return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
               std::abs(a.blue() - b.blue()) < 40;
    };
    auto shows = [&](const char* fragment, const QColor& color) {
        const auto found = pixels(fragment);
        return std::any_of(found.begin(), found.end(), [&](const QColor& p) { return near(p, color); });
    };
    EXPECT_TRUE(shows("[`my table`]", QColor(0x00, 0x80, 0x80)));
    EXPECT_TRUE(shows("FROM [orders]", QColor(0x00, 0x80, 0x80)));
    EXPECT_TRUE(shows("[@@sql_mode]", QColor(0x80, 0x00, 0x80)));
    EXPECT_TRUE(shows("[12.5]", QColor(Qt::blue)));
    EXPECT_TRUE(shows("['it''s']", QColor(0x00, 0x5A, 0xE1)));
    EXPECT_TRUE(shows("[<>]", QColor(0x80, 0x00, 0x00)));
    EXPECT_TRUE(shows("[-- the orders]", QColor(Qt::darkGray)));
    const auto comment = pixels("[-- the orders]");  // grey, never black
    EXPECT_TRUE(std::none_of(comment.begin(), comment.end(), [](const QColor& p) { return qGray(p.rgb()) < 100; }));
    EXPECT_FALSE(shows("[-- the orders]", QColor(0x00, 0x80, 0x80)));

    // The gutter holds the line numbers: dark pixels left of the text.
    const int gutter = int(Editor.SendScintilla(Sci::SCI_GETMARGINWIDTHN, 0ul));
    EXPECT_GT(gutter, 10);
    bool digits = false;
    for (int py = 0; py < 100 && !digits; ++py)
        for (int px = 0; px < gutter && !digits; ++px)
            digits = qGray(image.pixel(offset + QPoint(px, py))) < 80;
    EXPECT_TRUE(digits);

    const QString dir = qEnvironmentVariable("CALVORO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(image.save(dir + QStringLiteral("/synedit.png")));
    }

    // The gutter widens with the line count.
    QStringList many;
    for (int i = 1; i <= 12000; ++i) many.append(QStringLiteral("SELECT %1 FROM orders;").arg(i));
    Editor.SetLines(many);
    Editor.setCursorPosition(11999, 0);
    const long wide = Editor.SendScintilla(Sci::SCI_GETMARGINWIDTHN, 0ul);
    EXPECT_GE(wide, Editor.SendScintilla(Sci::SCI_TEXTWIDTH, static_cast<unsigned long>(Sci::STYLE_LINENUMBER),
                                         "120000"));
    EXPECT_GT(wide, gutter);
    if (!dir.isEmpty()) {
        QApplication::processEvents();  // the scroll bars follow the new length
        EXPECT_TRUE(Editor.grab().save(dir + QStringLiteral("/synedit-long.png")));
    }
}
