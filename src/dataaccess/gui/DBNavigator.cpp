#include "DBNavigator.h"

#include "common/Exceptions.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QStyle>
#include <QToolButton>

namespace calvoro::dac {

namespace {

struct TButtonInfo {
    const char* name;
    const char* caption;
    const char* hint;
    QStyle::StandardPixmap icon;
};

const TButtonInfo Buttons[] = {
    {"nbFirst", "First", "First record", QStyle::SP_MediaSkipBackward},
    {"nbPrior", "Prior", "Prior record", QStyle::SP_MediaSeekBackward},
    {"nbNext", "Next", "Next record", QStyle::SP_MediaSeekForward},
    {"nbLast", "Last", "Last record", QStyle::SP_MediaSkipForward},
    {"nbInsert", "Insert", "Insert record", QStyle::SP_FileDialogNewFolder},
    {"nbDelete", "Delete", "Delete record", QStyle::SP_TrashIcon},
    {"nbEdit", "Edit", "Edit record", QStyle::SP_FileDialogContentsView},
    {"nbPost", "Post", "Post edit", QStyle::SP_DialogApplyButton},
    {"nbCancel", "Cancel", "Cancel edit", QStyle::SP_DialogCancelButton},
    {"nbRefresh", "Refresh", "Refresh data", QStyle::SP_BrowserReload},
};

}  // namespace

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    for (int i = nbFirst; i <= nbRefresh; ++i) {
        const TButtonInfo& info = Buttons[i];
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(info.name));
        button->setText(QString::fromLatin1(info.caption));  // the accessible name
        button->setToolTip(QString::fromLatin1(info.hint));
        button->setIcon(style()->standardIcon(info.icon));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAutoRaise(true);
        connect(button, &QToolButton::clicked, this, [this, i] { BtnClick(TNavigateBtn(i)); });
        layout->addWidget(button);
        FButtons[size_t(i)] = button;
    }
    layout->addStretch();
    OnConfirm = [this](const QString& question) {
        return QMessageBox::question(this, QApplication::applicationDisplayName(), question) == QMessageBox::Yes;
    };
    UpdateButtons();
}

TDBNavigator::~TDBNavigator() { SetDataSet(nullptr); }

void TDBNavigator::SetDataSet(TDataSet* dataSet) {
    if (dataSet == FDataSet) return;
    if (FDataSet) FDataSet->RemoveDataListener(FListener);
    FDataSet = dataSet;
    if (FDataSet)
        FListener = FDataSet->AddDataListener([this](TDataEvent event) {
            if (event == deDestroying) FDataSet = nullptr;
            UpdateButtons();
        });
    UpdateButtons();
}

void TDBNavigator::UpdateButtons() {
    const bool active = FDataSet && FDataSet->Active();
    const TDataSetState state = active ? FDataSet->State() : dsInactive;
    const bool browse = state == dsBrowse;
    const bool editing = state == dsEdit || state == dsInsert;
    const bool canModify = active && FDataSet->CanModify();
    const bool empty = !active || FDataSet->IsEmpty();
    const bool upEnabled = browse && !FDataSet->Bof();
    const bool downEnabled = browse && !FDataSet->Eof();
    const bool enabled[] = {
        upEnabled, upEnabled, downEnabled, downEnabled,
        canModify && browse,                // insert
        canModify && browse && !empty,      // delete
        canModify && browse && !empty,      // edit
        editing, editing,                   // post, cancel
        browse,                             // refresh
    };
    for (int i = nbFirst; i <= nbRefresh; ++i) FButtons[size_t(i)]->setEnabled(enabled[i]);
}

void TDBNavigator::BtnClick(TNavigateBtn button) {
    if (!FDataSet || !FButtons[button]->isEnabled()) return;
    if (OnAllowChange && !OnAllowChange()) return;
    try {
        switch (button) {
            case nbFirst: FDataSet->First(); break;
            case nbPrior: FDataSet->Prior(); break;
            case nbNext: FDataSet->Next(); break;
            case nbLast: FDataSet->Last(); break;
            case nbInsert: FDataSet->Insert(); break;
            case nbDelete:
                if (!FConfirmDelete || !OnConfirm || OnConfirm(QStringLiteral("Delete record?"))) FDataSet->Delete();
                break;
            case nbEdit: FDataSet->Edit(); break;
            case nbPost: FDataSet->Post(); break;
            case nbCancel: FDataSet->Cancel(); break;
            case nbRefresh: FDataSet->Refresh(); break;
        }
    } catch (const std::exception& e) {
        auto* ours = dynamic_cast<const Exception*>(&e);
        emit errorOccurred(ours ? ours->Message() : QString::fromUtf8(e.what()));
    }
    UpdateButtons();
}

}  // namespace calvoro::dac
