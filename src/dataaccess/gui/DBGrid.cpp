#include "DBGrid.h"

#include "common/ScopeGuard.h"

#include <QHeaderView>

namespace calvoro::dac {

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), FModel(new TDataSetModel(this)) {
    setModel(FModel);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Fixed row heights: the view never measures a million rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(FModel, &TDataSetModel::errorOccurred, this, &TDBGrid::errorOccurred);
    connect(FModel, &QAbstractItemModel::modelReset, this, [this] { FollowDataSet(); });
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

}  // namespace calvoro::dac
