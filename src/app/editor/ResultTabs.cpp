#include "ResultTabs.h"

#include "app/toolkit.h"
#include "dataaccess/gui/DBGrid.h"
#include "dataaccess/gui/DBNavigator.h"
#include "dataaccess/mysql/MyAccess.h"

#include <QVBoxLayout>

namespace calvoro::app {

TResultTabs::TResultTabs(QWidget* parent) : QTabWidget(parent) {
    setObjectName(QStringLiteral("tabResults"));
    setTabsClosable(true);
    setDocumentMode(true);
    connect(this, &QTabWidget::tabCloseRequested, this, [this](int index) { CloseTab(index); });
}

TResultTabs::~TResultTabs() {
    // Whoever watches the current tab may be half gone already.
    blockSignals(true);
    Clear();
}

std::unique_ptr<dac::TMyQuery> TResultTabs::MakeQuery(dac::TMyConnection& connection) const {
    auto query = std::make_unique<dac::TMyQuery>();
    query->Name = QStringLiteral("ToolsCustomQuery");
    query->SetConnection(&connection);
    query->Options().SetQuoteNames(true);
    query->MyOptions().SetMultipleResults(true);
    if (OnQueryMade) OnQueryMade(*query);
    return query;
}

QString TResultTabs::Title(int number, int rows) {
    return rows == 1 ? QStringLiteral("Result %1 (1 row)").arg(number)
                     : QStringLiteral("Result %1 (%2 rows)").arg(number).arg(rows);
}

void TResultTabs::Add(std::unique_ptr<dac::TMyQuery> query) {
    auto page = std::make_unique<TPage>();
    page->Number = ++FNumbered;
    page->Widget = new QWidget(this);
    page->Widget->setObjectName(QStringLiteral("Result%1").arg(page->Number));
    auto* layout = new QVBoxLayout(page->Widget);
    layout->setContentsMargins(0, 0, 0, 0);
    page->Grid = Make<dac::TDBGrid>("DBGridCustomQueryResults", page->Widget);
    page->Grid->setAccessibleName(QStringLiteral("Result %1").arg(page->Number));
    page->Navigator = Make<dac::TDBNavigator>("DBNavigator2", page->Widget);
    layout->addWidget(page->Grid, 1);
    layout->addWidget(page->Navigator);
    page->Query = std::move(query);
    page->Grid->SetDataSet(page->Query.get());
    page->Navigator->SetDataSet(page->Query.get());
    page->Grid->Model().OnAllowChange = [this] { return !OnAllowChange || OnAllowChange(); };
    page->Navigator->OnAllowChange = [this] { return !OnAllowChange || OnAllowChange(); };
    // Passed on at once: whoever shows them waits until the action that failed is over.
    connect(page->Grid, &dac::TDBGrid::errorOccurred, this, &TResultTabs::errorOccurred);
    if (OnGridMade) OnGridMade(page->Grid);
    connect(page->Navigator, &dac::TDBNavigator::errorOccurred, this, &TResultTabs::errorOccurred);
    // The title follows the rows: deleted ones, inserted ones, a refresh.
    const TPage* shown = page.get();
    QAbstractItemModel* model = &page->Grid->Model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, [this, shown] { UpdateTitle(*shown); });
    connect(model, &QAbstractItemModel::modelReset, this, [this, shown] { UpdateTitle(*shown); });
    // Known before the tab comes: adding it tells the current one's watchers.
    FPages.push_back(std::move(page));
    addTab(shown->Widget, QString());
    UpdateTitle(*shown);
    setCurrentWidget(shown->Widget);
}

void TResultTabs::UpdateTitle(const TPage& page) {
    setTabText(indexOf(page.Widget), Title(page.Number, page.Grid->Model().rowCount()));
}

void TResultTabs::CloseTab(int index) {
    if (index < 0 || index >= Count() || (OnAllowChange && !OnAllowChange())) return;
    std::unique_ptr<TPage> page = std::move(FPages[size_t(index)]);
    FPages.erase(FPages.begin() + index);
    // The widgets let the data set go before it goes.
    page->Grid->SetDataSet(nullptr);
    page->Navigator->SetDataSet(nullptr);
    removeTab(index);
    delete page->Widget;
}

void TResultTabs::Clear() {
    while (!FPages.empty()) {
        std::unique_ptr<TPage> page = std::move(FPages.back());
        FPages.pop_back();
        page->Grid->SetDataSet(nullptr);
        page->Navigator->SetDataSet(nullptr);
        removeTab(indexOf(page->Widget));
        delete page->Widget;
    }
    FNumbered = 0;
}

dac::TMyQuery* TResultTabs::Query(int index) const {
    return index >= 0 && index < Count() ? FPages[size_t(index)]->Query.get() : nullptr;
}

dac::TDBGrid* TResultTabs::Grid(int index) const {
    return index >= 0 && index < Count() ? FPages[size_t(index)]->Grid : nullptr;
}

dac::TDBNavigator* TResultTabs::Navigator(int index) const {
    return index >= 0 && index < Count() ? FPages[size_t(index)]->Navigator : nullptr;
}

}  // namespace calvoro::app
