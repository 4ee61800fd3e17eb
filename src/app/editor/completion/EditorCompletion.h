#pragma once
// The completion list of an SQL editor: opened by Ctrl+Space, after a "." and after a few
// letters of a word; narrowed as one types on; Up, Down, Page Up and Page Down choose, Enter or
// Tab put the choice in place of the word, Esc closes it. The list never takes the focus, so
// typing goes on into the editor whatever the list shows, and names still being loaded show up
// when they arrive.

#include "CompletionContext.h"
#include "CompletionModel.h"

#include <QObject>
#include <QPointer>

class QFrame;
class QLabel;
class QListView;
class QsciScintilla;

namespace calvoro::app {

class TCompletionLoader;
class TCompletionListModel;

class TEditorCompletion : public QObject {
    Q_OBJECT
public:
    // The list belongs to the editor; the loader gives the names and must outlive it.
    TEditorCompletion(QsciScintilla* editor, TCompletionLoader* loader);
    ~TEditorCompletion() override;

    // What Ctrl+Space does: the list for the word at the cursor, even before its first letter.
    void Open();
    void Close();
    bool IsOpen() const;
    // The candidates shown.
    const std::vector<TCandidate>& Candidates() const;

    // The list opens by itself once a word has this many letters.
    int AutoOpenLetters = 2;

    // The popup ("CompletionPopup") with the list ("CompletionList") and a line saying what is
    // still loading or why names are missing ("CompletionStatus").
    QFrame* Popup() const { return FPopup; }
    QListView* List() const { return FList; }
    QLabel* Status() const { return FStatus; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CharAdded(int ch);
    // Reads the context anew and shows its candidates, or closes the list when there are none.
    void Refresh();
    void ScheduleRefresh();
    void Insert();
    void Move(int rows);
    void PlacePopup();
    qsizetype CursorChars(const QString& text) const;

    QPointer<QsciScintilla> FEditor;
    TCompletionLoader* FLoader;
    QFrame* FPopup;
    QListView* FList;
    QLabel* FStatus;
    TCompletionListModel* FModel;
    TCompletionContext FContext;
    bool FExplicit = false;  // opened by Ctrl+Space: stays open before the first letter
    bool FRefreshPending = false;
    // What the list shown was made from.
    QString FShownText;
    qsizetype FShownCursor = -1;
    bool FCatalogChanged = false;
};

}  // namespace calvoro::app
