#include "ProcessesPage.h"

#include "AdminSession.h"
#include "StatementsDialog.h"
#include "app/toolkit.h"
#include "common/Exceptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace calvoro::app {

namespace {

// The statement last: it is the long one, and the mark of our own connections stays in sight.
enum TColumn { colId, colUser, colHost, colDatabase, colCommand, colTime, colState, colOurs, colStatement, colCount };

const QString AnyUser = QStringLiteral("(all users)");
const QString AnyDatabase = QStringLiteral("(all databases)");

QString Describe(const dac::TProcessInfo& p) {
    QString text = QStringLiteral("%1 %2@%3").arg(p.Id).arg(p.User, p.Host);
    if (p.Info) text += QStringLiteral(" running %1").arg(p.Info->simplified().left(80));
    else text += QStringLiteral(" (%1)").arg(p.Command);
    return text;
}

}  // namespace

TProcessesPage::TProcessesPage(TAdminSession& session, QWidget* parent) : TServerPage(session, parent) {
    setObjectName(QStringLiteral("ProcessesPage"));
    auto* page = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    cbHideSleeping = Make<QCheckBox>("cbHideSleeping", QStringLiteral("Hide sleeping connections"), this);
    auto* userLabel = new QLabel(QStringLiteral("&User:"), this);
    cbxProcessUser = Make<QComboBox>("cbxProcessUser", this);
    cbxProcessUser->setMinimumWidth(160);
    userLabel->setBuddy(cbxProcessUser);
    auto* dbLabel = new QLabel(QStringLiteral("&Database:"), this);
    cbxProcessDatabase = Make<QComboBox>("cbxProcessDatabase", this);
    cbxProcessDatabase->setMinimumWidth(160);
    dbLabel->setBuddy(cbxProcessDatabase);
    filters->addWidget(cbHideSleeping);
    filters->addSpacing(12);
    filters->addWidget(userLabel);
    filters->addWidget(cbxProcessUser);
    filters->addWidget(dbLabel);
    filters->addWidget(cbxProcessDatabase);
    filters->addStretch(1);
    page->addLayout(filters);

    auto* split = new QSplitter(Qt::Vertical, this);
    tblProcesses = Make<QTableWidget>("tblProcesses", 0, int(colCount), split);
    tblProcesses->setAccessibleName(QStringLiteral("Processes"));
    tblProcesses->setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("User"), QStringLiteral("Host"),
                                             QStringLiteral("Database"), QStringLiteral("Command"),
                                             QStringLiteral("Time"), QStringLiteral("State"),
                                             QStringLiteral("Calvoro's own"), QStringLiteral("Statement")});
    tblProcesses->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblProcesses->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblProcesses->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblProcesses->verticalHeader()->setVisible(false);
    tblProcesses->horizontalHeader()->setStretchLastSection(true);
    // Captions over the start of their columns: the statement's may be wider than the view.
    tblProcesses->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tblProcesses->setWordWrap(false);
    auto* infoBox = new QWidget(split);
    auto* inInfo = new QVBoxLayout(infoBox);
    inInfo->setContentsMargins(0, 0, 0, 0);
    auto* infoLabel = new QLabel(QStringLiteral("Statement of the selected process:"), infoBox);
    mmoProcessInfo = Make<QPlainTextEdit>("mmoProcessInfo", infoBox);
    mmoProcessInfo->setReadOnly(true);
    infoLabel->setBuddy(mmoProcessInfo);
    inInfo->addWidget(infoLabel);
    inInfo->addWidget(mmoProcessInfo);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    page->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    lblProcessesState = Make<QLabel>("lblProcessesState", this);
    lblProcessesState->setWordWrap(true);
    btnKillQuery = Make<QPushButton>("btnKillQuery", QStringLiteral("Kill Query"), this);
    btnKillQuery->setToolTip(QStringLiteral("Ends the running statement of the selected processes; they stay connected"));
    btnKillConnection = Make<QPushButton>("btnKillConnection", QStringLiteral("Kill Connection"), this);
    btnKillConnection->setToolTip(QStringLiteral("Ends the selected connections"));
    bottom->addWidget(lblProcessesState, 1);
    bottom->addWidget(btnKillQuery);
    bottom->addWidget(btnKillConnection);
    page->addLayout(bottom);

    connect(cbHideSleeping, &QCheckBox::toggled, this, [this] { ShowProcesses(); });
    connect(cbxProcessUser, &QComboBox::currentIndexChanged, this, [this] { ShowProcesses(); });
    connect(cbxProcessDatabase, &QComboBox::currentIndexChanged, this, [this] { ShowProcesses(); });
    connect(tblProcesses, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(btnKillQuery, &QPushButton::clicked, this, Guarded([this] { btnKillQueryClick(); }));
    connect(btnKillConnection, &QPushButton::clicked, this, Guarded([this] { btnKillConnectionClick(); }));
    Clear();
}

void TProcessesPage::Clear() {
    FProcesses.clear();
    {
        const QSignalBlocker a(cbxProcessUser), b(cbxProcessDatabase);
        cbxProcessUser->clear();
        cbxProcessUser->addItem(AnyUser);
        cbxProcessDatabase->clear();
        cbxProcessDatabase->addItem(AnyDatabase);
    }
    ShowProcesses();
}

QString TProcessesPage::PausedBecause() const {
    return tblProcesses->selectionModel()->hasSelection() ? QStringLiteral("processes are selected") : QString();
}

bool TProcessesPage::Refresh() {
    auto list = std::make_shared<std::vector<dac::TProcessInfo>>();
    auto source = std::make_shared<dac::TProcessListSource>(dac::psInformationSchema);
    return FSession.Start(
        [list, source](dac::TMyConnection& c, const dac::TAdminDialect&) { *list = dac::ReadProcessList(c, source.get()); },
        [this, list, source](std::exception_ptr failure) {
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    lblProcessesState->setText(QStringLiteral("The process list could not be read: %1").arg(ErrorMessageOf(e)));
                    SetState(lblProcessesState->text());
                }
                return;
            }
            FProcesses = std::move(*list);
            FSource = *source;
            FillFilterLists();
            ShowProcesses();
        });
}

void TProcessesPage::FillFilterLists() {
    const auto fill = [](QComboBox* box, const QString& any, QStringList names) {
        names.removeDuplicates();
        names.sort();
        const QString current = box->currentText();
        const QSignalBlocker quiet(box);
        box->clear();
        box->addItem(any);
        box->addItems(names);
        // A filter whose user or database left stays as chosen, so that the list does not jump.
        if (current != any && !names.contains(current)) box->addItem(current);
        box->setCurrentText(current);
    };
    QStringList users, databases;
    for (const auto& p : FProcesses) {
        users << p.User;
        if (p.Database) databases << *p.Database;
    }
    fill(cbxProcessUser, AnyUser, users);
    fill(cbxProcessDatabase, AnyDatabase, databases);
}

void TProcessesPage::ShowProcesses() {
    const std::vector<qint64> selected = SelectedIds();
    dac::TProcessFilter filter;
    filter.HideSleeping = cbHideSleeping->isChecked();
    if (cbxProcessUser->currentIndex() > 0) filter.User = cbxProcessUser->currentText();
    if (cbxProcessDatabase->currentIndex() > 0) filter.Database = cbxProcessDatabase->currentText();
    const QSignalBlocker quiet(tblProcesses);
    tblProcesses->setRowCount(0);
    int shown = 0;
    for (const auto& p : FProcesses) {
        if (!dac::ProcessShown(p, filter)) continue;
        const int row = tblProcesses->rowCount();
        tblProcesses->insertRow(row);
        const QString ours = OwnConnection(p.Id);
        const QString values[colCount] = {QString::number(p.Id),
                                          p.User,
                                          p.Host,
                                          p.Database.value_or(QString()),
                                          p.Command,
                                          QString::number(p.Time),
                                          p.State,
                                          ours,
                                          p.Info ? p.Info->simplified().left(200) : QString()};
        for (int c = 0; c < colCount; ++c) {
            auto* item = new QTableWidgetItem(values[c]);
            if (c == colId) item->setData(Qt::UserRole, p.Id);
            if (c == colTime) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (!ours.isEmpty()) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                item->setBackground(QColor(255, 246, 204));
            }
            tblProcesses->setItem(row, c, item);
        }
        ++shown;
    }
    tblProcesses->resizeColumnsToContents();
    tblProcesses->setColumnWidth(colStatement, std::min(tblProcesses->columnWidth(colStatement), 420));
    SelectIds(selected);
    SelectionChanged();
    if (FProcesses.empty() && LastState().isEmpty()) {
        lblProcessesState->clear();
        return;
    }
    lblProcessesState->setText(
        QStringLiteral("%1 processes, %2 shown; read from %3 at %4")
            .arg(FProcesses.size())
            .arg(shown)
            .arg(FSource == dac::psInformationSchema ? QStringLiteral("information_schema.PROCESSLIST")
                                                     : QStringLiteral("SHOW FULL PROCESSLIST"),
                 QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))));
    SetState(lblProcessesState->text());
}

std::vector<qint64> TProcessesPage::ShownIds() const {
    std::vector<qint64> ids;
    for (int row = 0; row < tblProcesses->rowCount(); ++row)
        ids.push_back(tblProcesses->item(row, colId)->data(Qt::UserRole).toLongLong());
    return ids;
}

std::vector<qint64> TProcessesPage::SelectedIds() const {
    std::vector<qint64> ids;
    for (int row = 0; row < tblProcesses->rowCount(); ++row)
        if (tblProcesses->item(row, colId) && tblProcesses->item(row, colId)->isSelected())
            ids.push_back(tblProcesses->item(row, colId)->data(Qt::UserRole).toLongLong());
    return ids;
}

void TProcessesPage::SelectIds(const std::vector<qint64>& ids) {
    tblProcesses->clearSelection();
    for (int row = 0; row < tblProcesses->rowCount(); ++row) {
        const qint64 id = tblProcesses->item(row, colId)->data(Qt::UserRole).toLongLong();
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
        for (int c = 0; c < colCount; ++c) tblProcesses->item(row, c)->setSelected(true);
    }
}

void TProcessesPage::SelectionChanged() {
    const std::vector<qint64> ids = SelectedIds();
    btnKillQuery->setEnabled(!ids.empty());
    btnKillConnection->setEnabled(!ids.empty());
    QString info;
    if (!ids.empty())
        for (const auto& p : FProcesses)
            if (p.Id == ids.front()) info = p.Info.value_or(QString());
    mmoProcessInfo->setPlainText(info);
    emit Refreshed();  // the pause follows the selection
}

void TProcessesPage::btnKillQueryClick() { Kill(dac::kkQuery); }
void TProcessesPage::btnKillConnectionClick() { Kill(dac::kkConnection); }

void TProcessesPage::Kill(dac::TKillKind kind) {
    const std::vector<qint64> ids = SelectedIds();
    if (ids.empty()) return;
    std::vector<dac::TAdminStatement> statements;
    QStringList named, ours;
    // Our own tab's connection goes last: its KILL ends the connection that runs it.
    std::vector<qint64> ordered = ids;
    std::stable_partition(ordered.begin(), ordered.end(), [this](qint64 id) { return id != FSession.ConnectionId(); });
    for (const qint64 id : ordered) {
        statements.push_back(Plain(dac::KillStatement(id, kind)));
        QString what = QString::number(id);
        for (const auto& p : FProcesses)
            if (p.Id == id) what = Describe(p);
        named << what;
        if (const QString own = OwnConnection(id); !own.isEmpty()) ours << QStringLiteral("%1 (%2)").arg(id).arg(own);
    }
    const QString question = (kind == dac::kkQuery ? QStringLiteral("End the running statement of these processes?\n")
                                                   : QStringLiteral("End these connections?\n")) +
                             named.join(u'\n');
    if (!ConfirmStatements(this, question, statements)) return;
    if (!ours.isEmpty() &&
        !Confirm(QStringLiteral("These are Calvoro's own connections: %1.\nEnding them breaks off what runs on them; "
                                "they connect again when next used. End them anyway?")
                     .arg(ours.join(QStringLiteral(", ")))))
        return;
    QStringList failures;
    const qint64 tabId = FSession.ConnectionId();
    for (size_t i = 0; i < statements.size(); ++i) {
        try {
            RunStatements(FSession, {statements[i]});
        } catch (const std::exception& e) {
            // A KILL of this tab's own connection ends the statement that asked for it too.
            if (ordered[i] != tabId) failures << ErrorMessageOf(e);
        }
        if (ordered[i] == tabId && kind == dac::kkConnection) FSession.Close();
    }
    RefreshSoon();
    if (!failures.isEmpty()) throw Exception(failures.join(u'\n'));
}

}  // namespace calvoro::app
