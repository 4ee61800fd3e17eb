#include "DBGrid.h"

#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QToolTip>

namespace calvoro::dac {

namespace {

// Lines a multi-line editor shows.
constexpr int EditorLines = 6;

bool IsNumber(TFieldType type) {
    switch (type) {
        case ftSmallint: case ftInteger: case ftWord: case ftLargeint: case ftAutoInc: case ftFloat: case ftCurrency:
        case ftBCD: case ftFMTBcd:
            return true;
        default:
            return false;
    }
}

// In-place editors with the whole text: one line, or several for memo fields and values with
// line breaks.
class TDBGridDelegate : public QStyledItemDelegate {
public:
    TDBGridDelegate(TDataSetModel& model, QObject* parent) : QStyledItemDelegate(parent), FModel(model) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        (void)option;
        QWidget* editor;
        if (MultiLine(index)) {
            auto* memo = new QPlainTextEdit(parent);
            memo->setTabChangesFocus(true);
            editor = memo;
        } else {
            auto* line = new QLineEdit(parent);
            line->setFrame(false);
            editor = line;
        }
        editor->setObjectName(QStringLiteral("CellEditor"));
        const TField* field = FModel.FieldAt(index.column());
        if (field) editor->setAccessibleName(field->DisplayName());
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        const QVariant value = index.data(Qt::EditRole);
        // An empty editor on a NULL says so; typing replaces it with text.
        const QString placeholder = value.isValid() ? QString() : TDataSetModel::NullText;
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            line->setText(value.toString());
            line->setPlaceholderText(placeholder);
            line->setModified(false);
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
            memo->setPlainText(value.toString());
            memo->setPlaceholderText(placeholder);
            memo->document()->setModified(false);
        }
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        // An editor left as it was writes nothing: a NULL does not become '', and a row is not
        // posted for nothing.
        if (auto* line = qobject_cast<QLineEdit*>(editor)) {
            if (line->isModified()) model->setData(index, line->text(), Qt::EditRole);
        } else if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
            if (memo->document()->isModified()) model->setData(index, memo->toPlainText(), Qt::EditRole);
        }
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override {
        (void)index;
        QRect rect = option.rect;
        if (qobject_cast<QPlainTextEdit*>(editor)) {
            rect.setWidth(std::max(rect.width(), 24 * editor->fontMetrics().averageCharWidth()));
            rect.setHeight(std::max(rect.height(), EditorLines * editor->fontMetrics().lineSpacing() + 8));
            // Kept inside the view: upwards from the cell's bottom when it would leave it.
            if (const QWidget* area = editor->parentWidget(); area && rect.bottom() > area->height())
                rect.moveBottom(std::max(option.rect.bottom(), rect.height() - 1));
        }
        editor->setGeometry(rect);
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString tip = index.data(Qt::ToolTipRole).toString();
        if (tip.isEmpty()) {
            QToolTip::hideText();
            return true;
        }
        // As rich text a tip wraps; plain text would run off the screen in one line.
        QToolTip::showText(event->globalPos(),
                           QStringLiteral("<p style='white-space:pre-wrap'>") + tip.toHtmlEscaped() +
                               QStringLiteral("</p>"),
                           view->viewport(), view->visualRect(index));
        return true;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        // Enter starts a new line in a multi-line editor; Ctrl+Enter stores the text.
        auto* memo = qobject_cast<QPlainTextEdit*>(object);
        if (memo && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                (key->modifiers() & Qt::ControlModifier)) {
                emit commitData(memo);
                emit closeEditor(memo, QAbstractItemDelegate::NoHint);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    bool MultiLine(const QModelIndex& index) const {
        const TField* field = FModel.FieldAt(index.column());
        if (field && (field->DataType() == ftMemo || field->DataType() == ftWideMemo)) return true;
        const QString text = index.data(Qt::EditRole).toString();
        return text.contains(u'\n') || text.contains(u'\r');
    }

    TDataSetModel& FModel;
};

}  // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent), FModel(new TDataSetModel(this)), FSetNull(new QAction(QStringLiteral("Set to NULL"), this)) {
    setModel(FModel);
    setItemDelegate(new TDBGridDelegate(*FModel, this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Fixed row heights: the view never measures a million rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(FModel, &TDataSetModel::errorOccurred, this, &TDBGrid::errorOccurred);
    connect(FModel, &QAbstractItemModel::modelReset, this, [this] {
        // Widths the user set stay while the fields are the same (a refresh, a posted insert).
        QStringList fields;
        for (int c = 0; c < FModel->columnCount(); ++c) fields << FModel->FieldAt(c)->FieldName();
        if (fields != FSizedFields) SizeColumns();
        FollowDataSet();
    });

    FSetNull->setObjectName(QStringLiteral("actSetNull"));
    FSetNull->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    // Also while a cell's editor has the focus.
    FSetNull->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(FSetNull);
    connect(FSetNull, &QAction::triggered, this, [this] { SetCurrentCellNull(); });
}

TDBGrid::~TDBGrid() { SetDataSet(nullptr); }

void TDBGrid::SetDataSet(TMemDataSet* dataSet) {
    if (dataSet == DataSet()) return;
    if (DataSet()) DataSet()->RemoveDataListener(FListener);
    // The model's listener is added after the grid's: on destruction the grid's runs first,
    // while the model still knows the data set.
    if (dataSet)
        FListener = dataSet->AddDataListener([this](TDataEvent event) {
            if (event == deDataSetScroll || event == deUpdateState) FollowDataSet();
        });
    FModel->SetDataSet(dataSet);
}

void TDBGrid::SizeColumns() {
    FSizedFields.clear();
    // A character as wide as capitals and digits are on average: names and codes in capitals
    // fit, and so does everyday text.
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    const double charWidth = fontMetrics().horizontalAdvance(sample) / double(sample.size());
    for (int c = 0; c < FModel->columnCount(); ++c) {
        const TField* field = FModel->FieldAt(c);
        FSizedFields << field->FieldName();
        int chars = field->DisplayWidth();
        // A number needs no more than its type's digits, a sign and a point.
        if (IsNumber(field->DataType()) && field->Desc().FLength > 0)
            chars = std::min(chars, int(field->Desc().FLength) + 2);
        // Room for the "0x" of bytes and the mark of a cut value.
        chars = std::clamp(chars, 4, MaxColumnChars) + (field->IsBinary() ? 3 : 1);
        setColumnWidth(c, std::max(int(chars * charWidth) + 8, horizontalHeader()->sectionSizeHint(c)));
    }
}

bool TDBGrid::SetCurrentCellNull() {
    const QModelIndex index = currentIndex();
    if (!FModel->CanWriteCell(index)) return false;
    // What an open editor holds is dropped: NULL replaces it.
    if (QWidget* editor = indexWidget(index); editor && state() == EditingState)
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    return FModel->SetNull(index);
}

void TDBGrid::FollowDataSet() {
    const int row = FModel->CurrentRow();
    if (row < 0 || row == currentIndex().row()) return;
    FFollowing = true;
    ScopeExit done([&] { FFollowing = false; });
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    setCurrentIndex(FModel->index(row, column));
    scrollTo(currentIndex());
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (FFollowing || !current.isValid() || current.row() == FModel->CurrentRow()) return;
    // A row being edited that could not be posted stays current.
    if (!FModel->MoveTo(current.row())) FollowDataSet();
}

void TDBGrid::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex index = indexAt(event->pos());
        if (index.isValid() && index != currentIndex()) setCurrentIndex(index);
    }
    FSetNull->setEnabled(FModel->CanWriteCell(currentIndex()));
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("GridMenu"));
    menu.addAction(FSetNull);
    // Actions others added to the grid follow its own.
    for (QAction* action : actions())
        if (action != FSetNull) menu.addAction(action);
    menu.exec(event->globalPos());
    FSetNull->setEnabled(true);
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    TMemDataSet* dataSet = DataSet();
    if (event->key() == Qt::Key_Escape && state() != EditingState && dataSet &&
        (dataSet->State() == dsEdit || dataSet->State() == dsInsert)) {
        // Escape outside an editor gives the row back its stored values.
        try {
            dataSet->Cancel();
        } catch (const std::exception& e) {
            auto* ours = dynamic_cast<const Exception*>(&e);
            emit errorOccurred(ours ? ours->Message() : QString::fromUtf8(e.what()));
        }
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace calvoro::dac
