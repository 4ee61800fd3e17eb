#pragma once
// The record navigator: buttons that move through a data set and edit it (first, prior, next,
// last, insert, delete, edit, post, cancel, refresh), each enabled only when its action can
// run in the data set's present state.

#include "dataaccess/common/DataSetBase.h"

#include <QWidget>

#include <array>
#include <functional>

class QToolButton;

namespace calvoro::dac {

enum TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };

class TDBNavigator : public QWidget {
    Q_OBJECT

public:
    explicit TDBNavigator(QWidget* parent = nullptr);
    ~TDBNavigator() override;

    TDataSet* DataSet() const { return FDataSet; }
    void SetDataSet(TDataSet* dataSet);
    QToolButton* Button(TNavigateBtn button) const { return FButtons[button]; }
    // Runs a button's action (as a click does).
    void BtnClick(TNavigateBtn button);

    // Delete asks first ("Delete record?") unless this is off.
    bool ConfirmDelete() const { return FConfirmDelete; }
    void SetConfirmDelete(bool value) { FConfirmDelete = value; }
    // The question asked before a delete; by default a message box.
    std::function<bool(const QString& question)> OnConfirm;
    // Asked before every action (each may run statements on the data set's connection: a post
    // on leaving an edited row, a refresh); false refuses it quietly. For a connection that is
    // busy with something else.
    std::function<bool()> OnAllowChange;

signals:
    // An action failed; the data set keeps its state.
    void errorOccurred(const QString& message);

private:
    void UpdateButtons();

    TDataSet* FDataSet = nullptr;
    int FListener = 0;
    bool FConfirmDelete = true;
    std::array<QToolButton*, nbRefresh + 1> FButtons{};
};

}  // namespace calvoro::dac
