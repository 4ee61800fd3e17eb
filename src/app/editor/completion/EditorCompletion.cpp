#include "EditorCompletion.h"

#include "CompletionLoader.h"

#include <Qsci/qsciscintilla.h>

#include <QAbstractListModel>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace calvoro::app {

class TCompletionListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void Set(std::vector<TCandidate> candidates) {
        beginResetModel();
        FCandidates = std::move(candidates);
        endResetModel();
    }
    const std::vector<TCandidate>& Candidates() const { return FCandidates; }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(FCandidates.size()); }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || size_t(index.row()) >= FCandidates.size()) return {};
        const TCandidate& c = FCandidates[size_t(index.row())];
        switch (role) {
        case Qt::DisplayRole: return c.Name;
        case Qt::ToolTipRole: return c.Detail.isEmpty() ? CandidateKindName(c.Kind) : c.Detail;
        // At the right: a column's type and table, else the kind.
        case Qt::UserRole: return c.Kind == TCandidateKind::Column ? c.Detail : CandidateKindName(c.Kind);
        default: return {};
        }
    }

private:
    std::vector<TCandidate> FCandidates;
};

namespace {

using Sci = QsciScintillaBase;

// A row: the name, and its kind in grey at the right.
class TCandidateDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString kind = index.data(Qt::UserRole).toString();
        painter->save();
        painter->setPen(option.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText
                                                                                     : QPalette::PlaceholderText));
        painter->drawText(option.rect.adjusted(0, 0, -6, 0), Qt::AlignRight | Qt::AlignVCenter, kind);
        painter->restore();
    }
};

constexpr int VisibleRows = 12;

}  // namespace

TEditorCompletion::TEditorCompletion(QsciScintilla* editor, TCompletionLoader* loader)
    : QObject(editor), FEditor(editor), FLoader(loader) {
    // A window of its own that never takes the focus: the editor keeps every key.
    FPopup = new QFrame(editor, Qt::ToolTip | Qt::FramelessWindowHint);
    FPopup->setObjectName(QStringLiteral("CompletionPopup"));
    FPopup->setAttribute(Qt::WA_ShowWithoutActivating);
    FPopup->setFocusPolicy(Qt::NoFocus);
    FPopup->setFrameShape(QFrame::Box);
    auto* layout = new QVBoxLayout(FPopup);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    FList = new QListView(FPopup);
    FList->setObjectName(QStringLiteral("CompletionList"));
    FList->setAccessibleName(QStringLiteral("Completion"));
    FList->setFocusPolicy(Qt::NoFocus);
    FList->setUniformItemSizes(true);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setSelectionMode(QAbstractItemView::SingleSelection);
    FList->setItemDelegate(new TCandidateDelegate(FList));
    FModel = new TCompletionListModel(FList);
    FList->setModel(FModel);
    FStatus = new QLabel(FPopup);
    FStatus->setObjectName(QStringLiteral("CompletionStatus"));
    FStatus->setWordWrap(true);
    FStatus->setContentsMargins(4, 2, 4, 2);
    FStatus->hide();
    layout->addWidget(FList);
    layout->addWidget(FStatus);
    FPopup->hide();

    editor->installEventFilter(this);
    connect(editor, &QsciScintillaBase::SCN_CHARADDED, this, &TEditorCompletion::CharAdded);
    connect(editor, &QsciScintilla::cursorPositionChanged, this, [this] { ScheduleRefresh(); });
    connect(editor, &QsciScintilla::textChanged, this, [this] { ScheduleRefresh(); });
    connect(loader, &TCompletionLoader::Changed, this, [this] {
        FCatalogChanged = true;
        ScheduleRefresh();
    });
    // A click in the list chooses, as Enter does.
    connect(FList, &QListView::clicked, this, [this](const QModelIndex& index) {
        FList->setCurrentIndex(index);
        Insert();
    });
}

TEditorCompletion::~TEditorCompletion() = default;

bool TEditorCompletion::IsOpen() const { return FPopup->isVisible(); }

const std::vector<TCandidate>& TEditorCompletion::Candidates() const { return FModel->Candidates(); }

void TEditorCompletion::Open() {
    FPopup->hide();
    FExplicit = true;
    Refresh();
}

void TEditorCompletion::Close() {
    FPopup->hide();
    FShownCursor = -1;
    FExplicit = false;
}

qsizetype TEditorCompletion::CursorChars(const QString& text) const {
    const long bytes = FEditor->SendScintilla(Sci::SCI_GETCURRENTPOS);
    return QString::fromUtf8(text.toUtf8().left(bytes)).size();
}

void TEditorCompletion::CharAdded(int ch) {
    if (ch == '.') {
        // The members of what stands before the dot, in a list of their own.
        Close();
        Refresh();
        return;
    }
    if (IsOpen()) {
        Refresh();
        return;
    }
    const QChar c(ch);
    if (!(c.isLetterOrNumber() || c == u'_' || c == u'$')) return;
    const QString text = FEditor->text();
    const TCompletionContext context = AnalyzeCompletion(text, CursorChars(text));
    if (context.Place == TCompletionPlace::None || context.Prefix.size() < AutoOpenLetters) return;
    Refresh();
}

void TEditorCompletion::ScheduleRefresh() {
    if (!IsOpen() || FRefreshPending) return;
    FRefreshPending = true;
    QTimer::singleShot(0, this, [this] {
        FRefreshPending = false;
        if (IsOpen()) Refresh();
    });
}

void TEditorCompletion::Refresh() {
    if (!FEditor || !FEditor->isVisible()) return Close();
    const QString text = FEditor->text();
    const qsizetype cursor = CursorChars(text);
    // A key both adds its character and moves the cursor: the list is made once for it.
    if (IsOpen() && !FCatalogChanged && cursor == FShownCursor && text == FShownText) return;
    FCatalogChanged = false;
    FShownText = text;
    FShownCursor = cursor;
    const TCompletionContext context = AnalyzeCompletion(text, cursor);
    // The list belongs to one word: moving to another closes it.
    const bool sameWord = !IsOpen() || context.ReplaceFrom == FContext.ReplaceFrom;
    if (context.Place == TCompletionPlace::None || !sameWord ||
        (!FExplicit && context.Prefix.isEmpty() && context.Place != TCompletionPlace::Member))
        return Close();
    FContext = context;
    TCompletionResult result = CompletionCandidates(context, FLoader->Catalog());
    for (const QString& database : result.Missing) FLoader->Request(database);

    // What is still on its way or could not be read.
    const QString current = FLoader->Catalog().CurrentDatabase();
    QStringList wanted = result.Missing;
    if (!current.isEmpty() && !wanted.contains(current)) wanted << current;
    QStringList status;
    for (const QString& database : wanted) {
        if (FLoader->Loading(database))
            status << QStringLiteral("Loading the names of %1…").arg(database);
        else if (const QString failure = FLoader->Failure(database); !failure.isEmpty())
            status << QStringLiteral("The names of %1 could not be read: %2 The reload button tries again.")
                          .arg(database, failure);
    }
    if (const TDatabaseCatalog* d = FLoader->Catalog().Database(current); d && !d->ColumnsLoaded())
        status << QStringLiteral("Loading the columns of %1…").arg(current);
    status.removeDuplicates();

    if (result.Candidates.empty() && status.isEmpty()) return Close();
    const QString chosen = FList->currentIndex().isValid() ? FList->currentIndex().data().toString() : QString();
    FModel->Set(std::move(result.Candidates));
    // The row chosen stays chosen while the list narrows; else the first.
    int row = 0;
    for (int i = 0; !chosen.isEmpty() && i < int(FModel->Candidates().size()); ++i)
        if (FModel->Candidates()[size_t(i)].Name == chosen) row = i;
    if (!FModel->Candidates().empty()) FList->setCurrentIndex(FModel->index(row));
    FStatus->setText(status.join(u'\n'));
    FStatus->setVisible(!status.isEmpty());
    FList->setVisible(!FModel->Candidates().empty());
    PlacePopup();
    FPopup->show();
}

void TEditorCompletion::PlacePopup() {
    const QString text = FEditor->text();
    const long position = long(text.left(FContext.ReplaceFrom).toUtf8().size());
    const int x = int(FEditor->SendScintilla(Sci::SCI_POINTXFROMPOSITION, 0ul, position));
    const int y = int(FEditor->SendScintilla(Sci::SCI_POINTYFROMPOSITION, 0ul, position));
    const int line = int(FEditor->SendScintilla(Sci::SCI_LINEFROMPOSITION, position));
    const int lineHeight = int(FEditor->SendScintilla(Sci::SCI_TEXTHEIGHT, line));
    const int rows = std::min(VisibleRows, std::max(1, int(FModel->Candidates().size())));
    const int rowHeight = FList->sizeHintForRow(0) > 0 ? FList->sizeHintForRow(0) : FList->fontMetrics().height() + 2;
    const int width = 380;
    int height = 2;
    if (!FModel->Candidates().empty()) height += rows * rowHeight + 2 * FList->frameWidth();
    if (!FStatus->text().isEmpty()) height += FStatus->heightForWidth(width - 2);
    QPoint at = FEditor->viewport()->mapToGlobal(QPoint(x, y + lineHeight));
    // Above the word when there is no room below it on the screen.
    if (const QScreen* screen = FEditor->screen()) {
        const QRect area = screen->availableGeometry();
        if (at.y() + height > area.bottom()) at.setY(at.y() - lineHeight - height);
        at.setX(std::min(at.x(), area.right() - width));
    }
    FPopup->setGeometry(QRect(at, QSize(width, height)));
}

void TEditorCompletion::Move(int rows) {
    const int count = int(FModel->Candidates().size());
    if (count == 0) return;
    const int row = std::clamp(FList->currentIndex().row() + rows, 0, count - 1);
    FList->setCurrentIndex(FModel->index(row));
}

void TEditorCompletion::Insert() {
    const QModelIndex current = FList->currentIndex();
    if (!current.isValid() || size_t(current.row()) >= FModel->Candidates().size()) return Close();
    const QString insert = FModel->Candidates()[size_t(current.row())].Insert;
    const QString text = FEditor->text();
    const long from = long(text.left(FContext.ReplaceFrom).toUtf8().size());
    const long to = long(text.left(FContext.ReplaceTo).toUtf8().size());
    const QByteArray bytes = insert.toUtf8();
    Close();
    FEditor->beginUndoAction();
    FEditor->SendScintilla(Sci::SCI_SETTARGETSTART, from);
    FEditor->SendScintilla(Sci::SCI_SETTARGETEND, to);
    FEditor->SendScintilla(Sci::SCI_REPLACETARGET, uintptr_t(bytes.size()), bytes.constData());
    FEditor->SendScintilla(Sci::SCI_GOTOPOS, from + long(bytes.size()));
    FEditor->endUndoAction();
}

bool TEditorCompletion::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FEditor) return false;
    if (event->type() == QEvent::FocusOut || event->type() == QEvent::Hide) {
        Close();
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Space && mods == Qt::ControlModifier) {
        Open();
        return true;
    }
    if (!IsOpen()) return false;
    if (mods == Qt::NoModifier) {
        switch (key->key()) {
        case Qt::Key_Escape: Close(); return true;
        case Qt::Key_Up: Move(-1); return true;
        case Qt::Key_Down: Move(1); return true;
        case Qt::Key_PageUp: Move(-VisibleRows); return true;
        case Qt::Key_PageDown: Move(VisibleRows); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
            if (FModel->Candidates().empty()) {
                Close();
                return false;
            }
            Insert();
            return true;
        default: break;
        }
    }
    // Keys that run or move elsewhere (Ctrl+Enter, F9, Alt+…) go on to the editor without the list.
    if ((mods & (Qt::ControlModifier | Qt::AltModifier)) || (key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35))
        Close();
    return false;
}

}  // namespace calvoro::app
