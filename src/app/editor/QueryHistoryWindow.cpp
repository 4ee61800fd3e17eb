#include "QueryHistoryWindow.h"

#include "QueryHistoryStore.h"
#include "app/toolkit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace calvoro::app {

namespace {

enum THistoryColumn { hcStarted, hcDatabase, hcDuration, hcRows, hcResult, hcText, hcCount };

// A text's first line, as the table shows it.
QString FirstLine(const QString& text) {
    const QString trimmed = text.trimmed();
    const qsizetype end = trimmed.indexOf(u'\n');
    return end < 0 ? trimmed : trimmed.left(end) + QStringLiteral(" …");
}

}  // namespace

TQueryHistoryWindow::TQueryHistoryWindow(TQueryHistoryStore& store, QWidget* parent) : QDialog(parent), FStore(store) {
    setObjectName(QStringLiteral("QueryHistoryWindow"));
    setWindowTitle(QStringLiteral("Query history"));
    resize(900, 600);
    auto* column = new QVBoxLayout(this);
    auto* search = new QHBoxLayout;
    edtHistoryText = Make<QLineEdit>("edtHistoryText", this);
    edtHistoryText->setPlaceholderText(QStringLiteral("a part of the query"));
    auto* textLabel = new QLabel(QStringLiteral("&Text:"), this);
    textLabel->setBuddy(edtHistoryText);
    cbxHistoryDatabase = Make<QComboBox>("cbxHistoryDatabase", this);
    cbxHistoryDatabase->addItem(QStringLiteral("(any)"), QString());
    for (const QString& db : store.Databases()) cbxHistoryDatabase->addItem(db, db);
    auto* dbLabel = new QLabel(QStringLiteral("&Database:"), this);
    dbLabel->setBuddy(cbxHistoryDatabase);
    chkHistoryFailedOnly = Make<QCheckBox>("chkHistoryFailedOnly", QStringLiteral("&Failed only"), this);
    search->addWidget(textLabel);
    search->addWidget(edtHistoryText, 1);
    search->addWidget(dbLabel);
    search->addWidget(cbxHistoryDatabase);
    search->addWidget(chkHistoryFailedOnly);
    column->addLayout(search);

    auto* split = new QSplitter(Qt::Vertical, this);
    tblHistory = Make<QTableWidget>("tblHistory", 0, int(hcCount), split);
    tblHistory->setAccessibleName(QStringLiteral("Executed queries"));
    tblHistory->setHorizontalHeaderLabels({QStringLiteral("Started (UTC)"), QStringLiteral("Database"),
                                           QStringLiteral("Duration"), QStringLiteral("Rows"), QStringLiteral("Result"),
                                           QStringLiteral("Query")});
    tblHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    tblHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblHistory->verticalHeader()->hide();
    tblHistory->horizontalHeader()->setStretchLastSection(true);
    mmoHistoryText = Make<QPlainTextEdit>("mmoHistoryText", split);
    mmoHistoryText->setAccessibleName(QStringLiteral("Query text"));
    mmoHistoryText->setReadOnly(true);
    split->setSizes({400, 150});
    column->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    lblHistoryState = Make<QLabel>("lblHistoryState", this);
    btnHistoryUse = Make<QPushButton>("btnHistoryUse", QStringLiteral("&Put into editor"), this);
    btnHistoryUse->setEnabled(false);
    btnHistoryUse->setDefault(true);
    btnHistoryClose = Make<QPushButton>("btnHistoryClose", QStringLiteral("Close"), this);
    bottom->addWidget(lblHistoryState, 1);
    bottom->addWidget(btnHistoryUse);
    bottom->addWidget(btnHistoryClose);
    column->addLayout(bottom);

    connect(edtHistoryText, &QLineEdit::textChanged, this, &TQueryHistoryWindow::Search);
    connect(cbxHistoryDatabase, &QComboBox::currentIndexChanged, this, &TQueryHistoryWindow::Search);
    connect(chkHistoryFailedOnly, &QCheckBox::toggled, this, &TQueryHistoryWindow::Search);
    connect(tblHistory, &QTableWidget::currentCellChanged, this, [this](int row) {
        mmoHistoryText->setPlainText(FTexts.value(row));
        btnHistoryUse->setEnabled(row >= 0);
    });
    connect(tblHistory, &QTableWidget::cellDoubleClicked, this, [this] { Choose(); });
    connect(btnHistoryUse, &QPushButton::clicked, this, [this] { Choose(); });
    connect(btnHistoryClose, &QPushButton::clicked, this, &QDialog::reject);
    Search();
}

void TQueryHistoryWindow::Search() {
    THistoryFilter filter;
    filter.Text = edtHistoryText->text();
    filter.Database = cbxHistoryDatabase->currentData().toString();
    filter.FailedOnly = chkHistoryFailedOnly->isChecked();
    const QList<THistoryEntry> entries = FStore.Find(filter);
    tblHistory->setRowCount(0);
    FTexts.clear();
    mmoHistoryText->clear();
    btnHistoryUse->setEnabled(false);
    tblHistory->setRowCount(int(entries.size()));
    for (int row = 0; row < entries.size(); ++row) {
        const THistoryEntry& e = entries[row];
        const QString cells[hcCount] = {
            e.Started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            e.Database,
            FormatElapsed(e.DurationMs).trimmed(),
            e.RowCounts,
            e.Success ? QStringLiteral("done") : QStringLiteral("failed"),
            FirstLine(e.Text),
        };
        for (int c = 0; c < hcCount; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c == hcText) item->setToolTip(QStringLiteral("%1@%2").arg(e.User, e.Server));
            tblHistory->setItem(row, c, item);
        }
        FTexts << e.Text;
    }
    tblHistory->resizeColumnsToContents();
    if (!FStore.IsOpen())
        lblHistoryState->setText(QStringLiteral("No history is kept: %1").arg(FStore.ErrorText()));
    else
        lblHistoryState->setText(entries.size() == 1 ? QStringLiteral("1 query")
                                                     : QStringLiteral("%1 queries").arg(entries.size()));
}

void TQueryHistoryWindow::Choose() {
    const int row = tblHistory->currentRow();
    if (row < 0 || row >= FTexts.size()) return;
    FChosen = FTexts[row];
    accept();
}

}  // namespace calvoro::app
