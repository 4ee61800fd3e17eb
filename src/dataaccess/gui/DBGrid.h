#pragma once
// A table view bound to a data set through a TDataSetModel: the view's current row and the data
// set's current row follow each other; leaving a row that is being edited posts it first (a
// failed post keeps the row and its edit).

#include "DataSetModel.h"

#include <QTableView>

namespace calvoro::dac {

class TDBGrid : public QTableView {
    Q_OBJECT

public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    TDataSetModel& Model() const { return *FModel; }
    TMemDataSet* DataSet() const { return FModel->DataSet(); }
    void SetDataSet(TMemDataSet* dataSet);

signals:
    void errorOccurred(const QString& message);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    // Puts the view's current cell on the data set's current row.
    void FollowDataSet();

    TDataSetModel* FModel;
    int FListener = 0;
    bool FFollowing = false;
};

}  // namespace calvoro::dac
