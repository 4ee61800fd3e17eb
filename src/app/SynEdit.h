#pragma once
// The SQL editor of the script, query and query-generator windows: a QScintilla editor with
// line numbers, automatic indent, blanks for tabs and the shared MySQL highlighter, that keeps
// count of its undo and redo lists and lets its owner take keys and drops first.

#include "SynHighlighterMySQL.h"

#include <Qsci/qsciscintilla.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;

namespace calvoro::app {

class TSynEdit : public QsciScintilla {
    Q_OBJECT

public:
    explicit TSynEdit(QWidget* parent = nullptr);
    ~TSynEdit() override;

    // The text as lines without their line breaks. An empty editor has no lines; a text that
    // ends in a line break has an empty last line. Text() is Lines() joined with "\n".
    QStringList Lines() const;
    void SetLines(const QStringList& lines);
    // Adds the line after the last one, as one step of the undo list.
    void AppendLine(const QString& line);
    QString Text() const;
    // Replaces the text (line breaks of any system become "\n") and empties the undo and redo
    // lists, as Clear() and LoadFromFile() do.
    void SetText(const QString& text);
    void Clear();

    // Reads the file: as UTF-8 when it is valid UTF-8 (a byte-order mark is dropped), else as
    // Windows-1252. Raises calvoro::Exception when it cannot be read.
    void LoadFromFile(const QString& path);
    // How the last LoadFromFile read its file.
    bool LoadedAsUtf8() const { return FLoadedAsUtf8; }

    // The entries of the undo and redo lists, grouped as Scintilla groups them (a run of typing
    // is one entry).
    int UndoCount() const { return FUndoCount; }
    int RedoCount() const { return FRedoCount; }
    void Undo();
    void Redo();

    void SetFocus();

    // Attaches the editor to the shared highlighter (null: plain text).
    void SetHighlighter(TSynMySQL* highlighter);
    TSynMySQL* Highlighter() const;
    TSynMySQLLexer* Lexer() const { return FLexer.get(); }
    // The style of the byte at a document position (TSynMySQLLexer's numbers), brought up to date
    // first; KindAt names it.
    int StyleAt(int position) const;
    TSynTokenKind KindAt(int position) const { return TSynMySQLLexer::KindOfStyle(StyleAt(position)); }

    // Called before the editor handles a key; when a handler sets `handled`, the editor ignores
    // the key. OnKeyDown sees every key, OnKeyPress those that type a character (Enter, Tab and
    // Backspace included) and that OnKeyDown left.
    std::function<void(QKeyEvent* event, bool& handled)> OnKeyDown;
    std::function<void(QKeyEvent* event, bool& handled)> OnKeyPress;
    // Drags that are not files: OnDragOver decides whether the editor takes them (else it takes
    // text as usual); OnDragDrop may carry out the drop itself (else the editor inserts text).
    std::function<void(QDragMoveEvent* event, bool& accept)> OnDragOver;
    std::function<void(QDropEvent* event, bool& handled)> OnDragDrop;
    // Files dropped on the editor: their local paths, in place of inserting their addresses.
    std::function<void(const QStringList& paths)> OnDropFiles;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Modified(int position, int type, const char* text, int length, int linesAdded, int line,
                  int foldNow, int foldPrev, int token, int annotationLines);
    void UpdateGutter();
    void ResetUndo();
    bool DragOver(QDragMoveEvent* event);

    std::unique_ptr<TSynMySQLLexer> FLexer;
    int FUndoCount = 0;
    int FRedoCount = 0;
    bool FLoadedAsUtf8 = true;
    int FGutterDigits = 0;
};

}  // namespace calvoro::app
