// The main window's "  View Data  " tab: the rows of a table or view of the current database in
// an editable grid (ToolsQuery), limited to a chosen number of rows, with the table's row count;
// emptying the table, setting its AUTO_INCREMENT counter and showing its CREATE statement.
// Every statement goes through the tools session; the data layer builds them, quoting the
// table's raw name.

#include "CreateTableUnit.h"
#include "DataUnit.h"
#include "TessrinUnit.h"
#include "ViewDataLoader.h"
#include "import/CsvImportDialog.h"
#include "toolkit.h"
#include "common/ScopeGuard.h"
#include "dataaccess/gui/DBGrid.h"
#include "app/export/GridExport.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"
#include "dataaccess/mysql/ReadOnlySession.h"
#include "dataaccess/mysql/MyObjectStatements.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <limits>
#include <optional>

namespace calvoro::app {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// What the count of rows read says when a stop ended the reading before the last row.
const QString StoppedNote = QStringLiteral(" (stopped)");

// The table's row count, read through `count`; none when a stop ended the reading.
std::optional<QString> CountRows(dac::TMyQuery& count, const QString& table) {
    count.Close();
    count.SQL().SetText(dac::CountRowsStatement(table));
    count.Execute();
    ScopeExit close([&] { count.Close(); });
    if (count.FetchStopped() || count.IsEmpty()) return std::nullopt;
    return count.Fields()[0].AsString();
}

// The text of the AUTO_INCREMENT box as the value to set: digits only (blanks around them
// allowed), at most 2^64 - 1 (the largest BIGINT UNSIGNED key); nothing for anything else.
std::optional<QString> AutoIncrementValue(const QString& text) {
    const QString digits = text.trimmed();
    if (digits.isEmpty()) return std::nullopt;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9') return std::nullopt;
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok);
    if (!ok) return std::nullopt;
    return QString::number(value);
}

}  // namespace

void TTessrinForm::CreateViewDataTab() {
    QWidget* tab = TntTabSheet4;
    auto* page = new QVBoxLayout(tab);

    auto* top = new QHBoxLayout;
    auto* selectLabel = Named(new QLabel(QStringLiteral("Select table:"), tab), "TntLabel16");
    cbxTablesViews = Named(new QComboBox(tab), "cbxTablesViews");
    cbxTablesViews->setMaxVisibleItems(20);
    cbxTablesViews->setMinimumWidth(260);
    selectLabel->setBuddy(cbxTablesViews);
    auto* limitLabel = Named(new QLabel(QStringLiteral("Fetch rows:"), tab), "TntLabel25");
    spEdtRecordLimit = Named(new QSpinBox(tab), "spEdtRecordLimit");
    spEdtRecordLimit->setRange(0, 10000);
    spEdtRecordLimit->setSingleStep(100);
    spEdtRecordLimit->setValue(100);
    spEdtRecordLimit->setToolTip(QStringLiteral("0 reads every row"));
    limitLabel->setBuddy(spEdtRecordLimit);
    btnRefresh = Named(new QPushButton(QStringLiteral("Refresh"), tab), "btnRefresh");
    btnStopViewData = Named(new QPushButton(QStringLiteral("Stop"), tab), "btnStopViewData");
    btnStopViewData->setToolTip(QStringLiteral("Stops reading the rows; those read so far stay"));
    TntBitBtn8 = Named(new QPushButton(QStringLiteral("Show create table"), tab), "TntBitBtn8");
    TntBitBtn8->setToolTip(QStringLiteral("Shows CREATE TABLE statement for selected table"));
    btnImportCsv = Named(new QPushButton(QStringLiteral("Import CSV..."), tab), "btnImportCsv");
    btnImportCsv->setToolTip(QStringLiteral("Loads the rows of a CSV file into selected table"));
    top->addWidget(selectLabel);
    top->addWidget(cbxTablesViews);
    top->addSpacing(16);
    top->addWidget(limitLabel);
    top->addWidget(spEdtRecordLimit);
    top->addWidget(btnRefresh);
    top->addWidget(btnStopViewData);
    top->addStretch(1);
    top->addWidget(btnImportCsv);  // the bottom row keeps its room for the counts
    top->addWidget(TntBitBtn8);
    page->addLayout(top);

    TntDBGrid1 = Named(new dac::TDBGrid(tab), "TntDBGrid1");
    TntDBGrid1->setAccessibleName(QStringLiteral("Table data"));
    InstallGridExport(TntDBGrid1, [this] { return FData; });
    page->addWidget(TntDBGrid1, 1);

    auto* bottom = new QHBoxLayout;
    DBNavigator1 = Named(new dac::TDBNavigator(tab), "DBNavigator1");
    DBNavigator1->setAccessibleName(QStringLiteral("Record navigator"));
    lblRecordsFetched = Named(new QLabel(QStringLiteral("Records fetched:"), tab), "lblRecordsFetched");
    auto* countLabel = Named(new QLabel(QStringLiteral("Records in table:"), tab), "Label1");
    Label2 = Named(new QLabel(QStringLiteral("Number of records"), tab), "Label2");
    // A screen reader reads the number itself, and the caption as what it is.
    Label2->setAccessibleDescription(countLabel->text());
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TntBitBtn6 = Named(new QPushButton(QStringLiteral("Clear all table"), tab), "TntBitBtn6");
    TntBitBtn6->setToolTip(QStringLiteral("Deletes all the data from selected table"));
    TntBitBtn7 = Named(new QPushButton(QStringLiteral("Set auto_increment value"), tab), "TntBitBtn7");
    TntBitBtn7->setToolTip(QStringLiteral("Sets auto_increment value for selected table"));
    // Narrow gaps: at the window's smallest width a count of seven digits and its stop note
    // still fit.
    bottom->addWidget(DBNavigator1);
    bottom->addSpacing(6);
    bottom->addWidget(lblRecordsFetched);
    bottom->addSpacing(12);
    bottom->addWidget(countLabel);
    bottom->addWidget(Label2);
    bottom->addStretch(1);
    bottom->addWidget(TntBitBtn6);
    bottom->addWidget(TntBitBtn7);
    page->addLayout(bottom);

    CreateTableForm = new TCreateTableForm(this);
    ViewDataLoader = new TViewDataLoader(btnStopViewData, lblRecordsFetched, TntDBGrid1, DBNavigator1, this);

    // A choice of the user's; refilling the list chooses nothing.
    connect(cbxTablesViews, &QComboBox::activated, this, Guarded([this] { cbxTablesViewsChange(); }));
    connect(btnRefresh, &QPushButton::clicked, this, Guarded([this] { btnRefreshClick(); }));
    connect(TntBitBtn6, &QPushButton::clicked, this, Guarded([this] { TntBitBtn6Click(); }));
    connect(TntBitBtn7, &QPushButton::clicked, this, Guarded([this] { TntBitBtn7Click(); }));
    connect(TntBitBtn8, &QPushButton::clicked, this, Guarded([this] { TntBitBtn8Click(); }));
    connect(btnImportCsv, &QPushButton::clicked, this, Guarded([this] { btnImportCsvClick(); }));
    connect(TntPageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        if (TntPageControl1->widget(index) == TntTabSheet4) TntTabSheet4Show();
    });
    // Errors of grid edits and navigator actions, shown once the edit that failed is over.
    connect(TntDBGrid1, &dac::TDBGrid::errorOccurred, this, &ShowErrorBox, Qt::QueuedConnection);
    connect(DBNavigator1, &dac::TDBNavigator::errorOccurred, this, &ShowErrorBox, Qt::QueuedConnection);
    // Grid edits and navigator actions run statements on the tools connection too.
    TntDBGrid1->Model().OnAllowChange = [this] { return !FData || !FData->Busy(); };
    DBNavigator1->OnAllowChange = [this] { return !FData || !FData->Busy(); };
    if (auto* dispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { UpdateViewDataStates(); });
}

void TTessrinForm::UpdateViewDataStates() {
    const bool idle = !FData || !FData->Busy();
    for (QWidget* control : std::initializer_list<QWidget*>{cbxTablesViews, spEdtRecordLimit, btnRefresh, TntBitBtn6, btnImportCsv,
                                                            TntBitBtn7, TntBitBtn8, DBNavigator1})
        control->setEnabled(idle);
}

void TTessrinForm::cbxTablesViewsChange() {
    if (!FData || FData->Busy()) return;
    const QString name = cbxTablesViews->currentText();
    if (name.isEmpty()) return;
    SelectedTable = name;
    // The tab's controls, disabled while the rows came, are back as soon as the open ends.
    ScopeExit enable([this] { UpdateViewDataStates(); });
    TData::TBusy busy(*FData);
    OpenSelectedTable();
}

void TTessrinForm::btnRefreshClick() { cbxTablesViewsChange(); }

void TTessrinForm::OpenSelectedTable() {
    dac::TMyQuery& query = *FData->ToolsQuery;
    dac::TMyQuery& count = *FData->CustomQuery;
    query.Close();
    query.AfterScroll = [this](dac::TDataSet* dataSet) { ToolsQueryAfterScroll(dataSet); };
    query.SQL().SetText(dac::SelectRowsStatement(SelectedTable, spEdtRecordLimit->value()));
    query.SetFetchAll(true);
    std::optional<QString> rows;
    bool stopped = false;
    {
        // Also for an empty or failed result, so that the label never shows the count of
        // another table.
        ScopeExit fetched([&] { ToolsQueryAfterScroll(&query); });
        const QString table = SelectedTable;
        stopped = ViewDataLoader->Run(query, {&query, &count}, [&] {
            query.Execute();
            // A stop ends the whole open: the count too, which may take as long as the rows.
            if (!ViewDataLoader->StopRequested()) rows = CountRows(count, table);
        });
    }
    if (stopped && !query.Active()) lblRecordsFetched->setText(QStringLiteral("Records fetched: 0") + StoppedNote);
    LimitDisplayWidths(query, 20);
    TntDBGrid1->SizeColumns();
    if (rows) Label2->setText(*rows);
    else if (stopped) Label2->setText(QStringLiteral("not counted"));
}

void TTessrinForm::ShowRecordsInTable() {
    if (const std::optional<QString> rows = CountRows(*FData->CustomQuery, SelectedTable)) Label2->setText(*rows);
}

void TTessrinForm::ToolsQueryAfterScroll(dac::TDataSet* DataSet) {
    QString text = QString::asprintf("Records fetched: %d", DataSet->RecordCount());
    // Rows whose reading was stopped are not all the rows the statement has.
    if (const auto* query = dynamic_cast<const dac::TCustomMyDataSet*>(DataSet); query && query->FetchStopped())
        text += StoppedNote;
    lblRecordsFetched->setText(text);
}

void TTessrinForm::TntTabSheet4Show() {
    const dac::TMyQuery* query = FData ? FData->ToolsQuery.get() : nullptr;
    if (!query || !query->Active() || query->IsEmpty()) Label2->setText(QStringLiteral("0"));
}

void TTessrinForm::TntBitBtn6Click() {
    if (!FData || FData->Busy() || SelectedTable.isEmpty()) return;
    dac::CheckWritable(*FData->ToolsConnection, QStringLiteral("Clear all table"));
    TData::TBusy busy(*FData);
    if (!Confirm(QStringLiteral("Are you sure you want to erase all the data from %1 table?").arg(SelectedTable)))
        return;
    FData->ToolsCommand->SQL().SetText(dac::DeleteAllRowsStatement(SelectedTable));
    FData->ToolsCommand->Execute();
    dac::TMyQuery& query = *FData->ToolsQuery;
    if (query.Active()) {
        // The row an unfinished edit was meant for is gone with the others.
        if (query.State() != dac::dsBrowse) query.Cancel();
        query.Refresh();
        ToolsQueryAfterScroll(&query);
    }
    ShowRecordsInTable();
}

void TTessrinForm::TntBitBtn7Click() {
    if (!FData || FData->Busy() || SelectedTable.isEmpty()) return;
    dac::CheckWritable(*FData->ToolsConnection, QStringLiteral("Set auto_increment"));
    TData::TBusy busy(*FData);
    QInputDialog box(this);
    box.setObjectName(QStringLiteral("InputBox"));
    box.setWindowTitle(QStringLiteral("Tessrin"));
    box.setLabelText(QStringLiteral("Enter new auto_increment value for ") + SelectedTable);
    box.setTextValue(QStringLiteral("-999"));
    if (box.exec() != QDialog::Accepted) return;
    const std::optional<QString> value = AutoIncrementValue(box.textValue());
    if (!value) {
        ShowErrorBox(QStringLiteral("'%1' is not a valid auto_increment value: enter a whole number from 0 to %2")
                         .arg(box.textValue())
                         .arg(std::numeric_limits<qulonglong>::max()));
        return;
    }
    dac::PrepareSetAutoIncrement(*FData->ToolsCommand, SelectedTable, *value);
    FData->ToolsCommand->Execute();
    ShowMessage(QStringLiteral("Auto_increment changed successfully"));
}

void TTessrinForm::TntBitBtn8Click() {
    if (!FData || FData->Busy() || SelectedTable.isEmpty()) return;
    TData::TBusy busy(*FData);
    CreateTableForm->SetConnection(FData->ToolsConnection.get());
    CreateTableForm->TableName = SelectedTable;
    CreateTableForm->exec();
}

void TTessrinForm::btnImportCsvClick() {
    if (!FData || FData->Busy() || SelectedTable.isEmpty()) return;
    TData::TBusy busy(*FData);
    TCsvImportDialog dialog(*FData->ToolsConnection, {QString(), SelectedTable}, this);
    dialog.exec();
    if (dialog.RowsLoaded()) OpenSelectedTable();
}

}  // namespace calvoro::app
