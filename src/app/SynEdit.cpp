#include "SynEdit.h"

#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "toolkit.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QStringDecoder>
#include <QUrl>

namespace calvoro::app {

namespace {

using Sci = QsciScintillaBase;

// Runs an owner's handler inside one of the editor's events: an error goes to the program's
// error display right here rather than unwinding through Qt's frames. False when it raised.
template <typename F>
bool RunHandler(F&& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& e) {
        HandleException(e);
        return false;
    }
}

QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime && mime->hasUrls())
        for (const QUrl& url : mime->urls())
            if (url.isLocalFile()) paths.append(url.toLocalFile());
    return paths;
}

QString UnixLineBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

}  // namespace

TSynEdit::TSynEdit(QWidget* parent) : QsciScintilla(parent) {
    setUtf8(true);
    setEolMode(EolUnix);
    const QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    setFont(font);
    setMarginsFont(font);
    setMarginType(0, NumberMargin);
    setMarginLineNumbers(0, true);
    setMarginWidth(1, 0);  // no symbol margin: the gutter is the line numbers
    SendScintilla(Sci::SCI_SETMARGINLEFT, 0ul, 4l);  // room between the gutter and the text
    // A horizontal scroll bar only for lines wider than the window.
    SendScintilla(Sci::SCI_SETSCROLLWIDTH, 1ul);
    SendScintilla(Sci::SCI_SETSCROLLWIDTHTRACKING, 1ul);
    setAutoIndent(true);
    setIndentationsUseTabs(false);
    setTabWidth(4);
    connect(this, &QsciScintillaBase::SCN_MODIFIED, this, &TSynEdit::Modified);
    connect(this, &QsciScintilla::linesChanged, this, &TSynEdit::UpdateGutter);
    UpdateGutter();
}

TSynEdit::~TSynEdit() {
    // Detach before the lexer goes, so that the editor never holds a lexer being destroyed.
    setLexer(nullptr);
}

QStringList TSynEdit::Lines() const {
    const QString text = Text();
    if (text.isEmpty()) return {};
    return UnixLineBreaks(text).split(u'\n');
}

void TSynEdit::SetLines(const QStringList& lines) { SetText(lines.join(u'\n')); }

void TSynEdit::AppendLine(const QString& line) {
    // Not QsciScintilla::append, which empties the undo list.
    const QByteArray bytes = (length() == 0 ? UnixLineBreaks(line) : u'\n' + UnixLineBreaks(line)).toUtf8();
    if (!bytes.isEmpty()) SendScintilla(Sci::SCI_APPENDTEXT, uintptr_t(bytes.size()), bytes.constData());
}

QString TSynEdit::Text() const { return text(); }

void TSynEdit::SetText(const QString& text) {
    setText(UnixLineBreaks(text));
    ResetUndo();
}

void TSynEdit::Clear() {
    clear();
    ResetUndo();
}

void TSynEdit::LoadFromFile(const QString& path) {
    QFile file(path);
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    QStringDecoder utf8(QStringConverter::Utf8);  // drops a leading byte-order mark
    QString text = utf8.decode(bytes);
    const bool isUtf8 = !utf8.hasError();
    if (!isUtf8) text = AnsiToUnicode(bytes);
    SetText(text);
    FLoadedAsUtf8 = isUtf8;
}

void TSynEdit::Undo() { undo(); }
void TSynEdit::Redo() { redo(); }

void TSynEdit::SetFocus() { setFocus(); }

void TSynEdit::SetHighlighter(TSynMySQL* highlighter) {
    if (highlighter == Highlighter() && (FLexer || !highlighter)) return;
    setLexer(nullptr);
    FLexer.reset();
    const QFont font = highlighter ? highlighter->Font() : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (highlighter) {
        FLexer = std::make_unique<TSynMySQLLexer>(highlighter);
        setLexer(FLexer.get());
        connect(highlighter, &TSynMySQL::StylesChanged, FLexer.get(), [this, highlighter] {
            setMarginsFont(highlighter->Font());
            FGutterDigits = 0;
            UpdateGutter();
        });
    } else {
        setFont(font);
        SendScintilla(Sci::SCI_CLEARDOCUMENTSTYLE);  // the lexer's styles would stay otherwise
    }
    setMarginsFont(font);
    FGutterDigits = 0;
    UpdateGutter();
}

TSynMySQL* TSynEdit::Highlighter() const { return FLexer ? FLexer->Highlighter() : nullptr; }

int TSynEdit::StyleAt(int position) const {
    if (FLexer) {
        const int line = int(SendScintilla(Sci::SCI_LINEFROMPOSITION, position));
        FLexer->StyleLines(line, line);
    }
    return int(SendScintilla(Sci::SCI_GETSTYLEAT, position));
}

void TSynEdit::keyPressEvent(QKeyEvent* event) {
    bool handled = false;
    // A handler that raised meant to act on the key: the key does not reach the text either.
    if (OnKeyDown && !RunHandler([&] { OnKeyDown(event, handled); })) handled = true;
    if (!handled && OnKeyPress && !event->text().isEmpty() &&
        !RunHandler([&] { OnKeyPress(event, handled); }))
        handled = true;
    if (handled) {
        event->accept();
        return;
    }
    QsciScintilla::keyPressEvent(event);
}

bool TSynEdit::DragOver(QDragMoveEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty()) {
        // Files are never inserted as text; without OnDropFiles the editor refuses them.
        if (OnDropFiles) event->acceptProposedAction();
        else event->ignore();
        return true;
    }
    bool accept = false;
    if (OnDragOver && RunHandler([&] { OnDragOver(event, accept); }) && accept) {
        event->acceptProposedAction();
        return true;
    }
    return false;
}

void TSynEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!DragOver(event)) QsciScintilla::dragEnterEvent(event);
}

void TSynEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!DragOver(event)) QsciScintilla::dragMoveEvent(event);
}

void TSynEdit::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (!files.isEmpty()) {
        if (!OnDropFiles) {
            event->ignore();
            return;
        }
        event->acceptProposedAction();
        RunHandler([&] { OnDropFiles(files); });
        return;
    }
    bool handled = false;
    if (OnDragDrop && !RunHandler([&] { OnDragDrop(event, handled); })) handled = true;
    if (!handled) {
        QsciScintilla::dropEvent(event);
        return;
    }
    event->acceptProposedAction();
    // The drop caret Scintilla may show for a text drag goes as on a leave.
    QDragLeaveEvent leave;
    QsciScintilla::dragLeaveEvent(&leave);
}

void TSynEdit::paintEvent(QPaintEvent* event) {
    // The visible lines get their final styles before Scintilla paints them: its own lexer
    // runs during the paint and cannot be followed by the restyling there.
    if (FLexer) {
        const long top = SendScintilla(Sci::SCI_GETFIRSTVISIBLELINE);
        const long first = SendScintilla(Sci::SCI_DOCLINEFROMVISIBLE, top);
        const long last = SendScintilla(Sci::SCI_DOCLINEFROMVISIBLE, top + SendScintilla(Sci::SCI_LINESONSCREEN));
        FLexer->StyleLines(int(first), int(last));
    }
    QsciScintilla::paintEvent(event);
}

void TSynEdit::Modified(int, int type, const char*, int, int, int, int, int, int, int) {
    // Scintilla marks the first change of each undo entry with SC_STARTACTION and the last step
    // of an undo or redo with SC_LASTSTEPINUNDOREDO.
    if (!(type & (Sci::SC_MOD_INSERTTEXT | Sci::SC_MOD_DELETETEXT))) return;
    if (type & Sci::SC_PERFORMED_USER) {
        if (type & Sci::SC_STARTACTION) ++FUndoCount;
        FRedoCount = 0;  // any new change ends the redo list
    } else if (type & Sci::SC_LASTSTEPINUNDOREDO) {
        if (type & Sci::SC_PERFORMED_UNDO) {
            --FUndoCount;
            ++FRedoCount;
        } else if (type & Sci::SC_PERFORMED_REDO) {
            ++FUndoCount;
            --FRedoCount;
        }
    }
}

void TSynEdit::UpdateGutter() {
    // Wide enough for the highest line number and one digit of room, never under two digits.
    const int digits = std::max(2, int(QString::number(lines()).size()));
    if (digits == FGutterDigits) return;
    FGutterDigits = digits;
    setMarginWidth(0, QString(digits + 1, u'9'));
}

void TSynEdit::ResetUndo() {
    SendScintilla(Sci::SCI_EMPTYUNDOBUFFER);
    FUndoCount = 0;
    FRedoCount = 0;
}

}  // namespace calvoro::app
