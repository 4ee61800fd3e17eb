#include "VariablesPage.h"

#include "AdminSession.h"
#include "StatementsDialog.h"
#include "app/DataUnit.h"
#include "app/toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTime>
#include <QVBoxLayout>

#include <memory>

namespace calvoro::app {

namespace {

enum TColumn { colName, colSession, colGlobal, colScope, colChange, colCount };

QString ScopeText(dac::TVariableAvailability a) {
    switch (a) {
        case dac::vaSessionAndGlobal: return QStringLiteral("session and global");
        case dac::vaGlobalOnly: return QStringLiteral("global");
        case dac::vaSessionOnly: return QStringLiteral("session");
        case dac::vaUnknown: break;
    }
    return QStringLiteral("?");
}

QString DynamicText(dac::TVariableDynamic d) {
    switch (d) {
        case dac::vdDynamic: return QStringLiteral("dynamic");
        case dac::vdReadOnly: return QStringLiteral("read-only");
        case dac::vdUnknown: break;
    }
    return QStringLiteral("the server decides");
}

bool HasScope(const dac::TVariableInfo& v, dac::TVariableScope scope) {
    if (scope == dac::vsSession) return v.Availability != dac::vaGlobalOnly;
    return v.Availability != dac::vaSessionOnly;
}

}  // namespace

TVariableDialog::TVariableDialog(const dac::TVariableInfo& variable, dac::TVariableScope scope, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("VariableDialog"));
    setWindowTitle(ApplicationTitle());
    auto* layout = new QVBoxLayout(this);
    const bool session = scope == dac::vsSession;
    lblVariableName = Make<QLabel>(
        "lblVariableName",
        QStringLiteral("New %1 value of %2 (now %3):")
            .arg(session ? QStringLiteral("session") : QStringLiteral("global"), variable.Name,
                 (session ? variable.SessionValue : variable.GlobalValue).value_or(QStringLiteral("NULL"))),
        this);
    lblVariableName->setWordWrap(true);
    cbxVariableValue = Make<QComboBox>("cbxVariableValue", this);
    cbxVariableValue->setEditable(true);
    cbxVariableValue->setMinimumWidth(360);
    QStringList values = variable.AllowedValues;
    if (values.isEmpty() && variable.Kind == dac::vkBoolean) values = {QStringLiteral("ON"), QStringLiteral("OFF")};
    // A set's values combine: the list only helps with the names.
    cbxVariableValue->addItems(values);
    cbxVariableValue->setCurrentText((session ? variable.SessionValue : variable.GlobalValue).value_or(QString()));
    lblVariableName->setBuddy(cbxVariableValue);
    cbVariableDefault = Make<QCheckBox>(
        "cbVariableDefault",
        session ? QStringLiteral("Set to the global value (DEFAULT)") : QStringLiteral("Set to the server's default (DEFAULT)"),
        this);
    btnVariableOk = Make<QPushButton>("btnVariableOk", QStringLiteral("OK"), this);
    btnVariableOk->setDefault(true);
    btnVariableCancel = Make<QPushButton>("btnVariableCancel", QStringLiteral("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnVariableOk);
    buttons->addWidget(btnVariableCancel);
    layout->addWidget(lblVariableName);
    layout->addWidget(cbxVariableValue);
    layout->addWidget(cbVariableDefault);
    layout->addLayout(buttons);
    connect(cbVariableDefault, &QCheckBox::toggled, cbxVariableValue, &QWidget::setDisabled);
    connect(btnVariableOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnVariableCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TVariablesPage::TVariablesPage(TAdminSession& session, QWidget* parent) : TServerPage(session, parent) {
    setObjectName(QStringLiteral("VariablesPage"));
    auto* page = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    edtVariableFilter = Make<QLineEdit>("edtVariableFilter", this);
    edtVariableFilter->setPlaceholderText(QStringLiteral("part of a name, e.g. buffer"));
    edtVariableFilter->setClearButtonEnabled(true);
    searchLabel->setBuddy(edtVariableFilter);
    top->addWidget(searchLabel);
    top->addWidget(edtVariableFilter, 1);
    page->addLayout(top);
    tblVariables = Make<QTableWidget>("tblVariables", 0, int(colCount), this);
    tblVariables->setAccessibleName(QStringLiteral("Variables"));
    tblVariables->setHorizontalHeaderLabels({QStringLiteral("Variable"), QStringLiteral("Session value"),
                                             QStringLiteral("Global value"), QStringLiteral("Scope"),
                                             QStringLiteral("Change")});
    tblVariables->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblVariables->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblVariables->setSelectionMode(QAbstractItemView::SingleSelection);
    tblVariables->verticalHeader()->setVisible(false);
    tblVariables->setWordWrap(false);
    for (int c = 0; c < colCount; ++c)
        tblVariables->horizontalHeader()->setSectionResizeMode(
            c, c == colSession || c == colGlobal ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    page->addWidget(tblVariables, 1);
    auto* bottom = new QHBoxLayout;
    lblVariablesState = Make<QLabel>("lblVariablesState", this);
    lblVariablesState->setWordWrap(true);
    btnSetSessionVariable = Make<QPushButton>("btnSetSessionVariable", QStringLiteral("Set Session Value..."), this);
    btnSetSessionVariable->setToolTip(QStringLiteral("SET SESSION on the tools session the other tabs use"));
    btnSetGlobalVariable = Make<QPushButton>("btnSetGlobalVariable", QStringLiteral("Set Global Value..."), this);
    btnSetGlobalVariable->setToolTip(QStringLiteral("SET GLOBAL: new sessions start with it"));
    bottom->addWidget(lblVariablesState, 1);
    bottom->addWidget(btnSetSessionVariable);
    bottom->addWidget(btnSetGlobalVariable);
    page->addLayout(bottom);
    connect(edtVariableFilter, &QLineEdit::textChanged, this, [this] { ShowVariables(); });
    connect(tblVariables, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(btnSetSessionVariable, &QPushButton::clicked, this, Guarded([this] { btnSetSessionVariableClick(); }));
    connect(btnSetGlobalVariable, &QPushButton::clicked, this, Guarded([this] { btnSetGlobalVariableClick(); }));
    SelectionChanged();
}

void TVariablesPage::Clear() {
    FVariables.clear();
    FToolsDialect.reset();
    FSessionNote.clear();
    lblVariablesState->clear();
    ShowVariables();
}

bool TVariablesPage::Refresh() {
    auto variables = std::make_shared<std::vector<dac::TVariableInfo>>();
    return FSession.Start(
        [variables](dac::TMyConnection& c, const dac::TAdminDialect& dialect) {
            *variables = dac::ReadVariables(c, dialect);
        },
        [this, variables](std::exception_ptr failure) {
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    lblVariablesState->setText(QStringLiteral("The variables could not be read: %1").arg(ErrorMessageOf(e)));
                    SetState(lblVariablesState->text());
                }
                return;
            }
            // Session values carried over until the tools session can be read again.
            for (auto& v : *variables)
                for (const auto& old : FVariables)
                    if (old.Name == v.Name && HasScope(v, dac::vsSession)) v.SessionValue = old.SessionValue;
            FVariables = std::move(*variables);
            ReadSession();
            ShowVariables();
            SetState(lblVariablesState->text());
        });
}

void TVariablesPage::ReadSession() {
    // The tools session answers between the other tabs' work, never during it.
    if (!FData || !FData->ToolsConnected()) {
        FSessionNote = QStringLiteral("No tools session: session values are not shown.");
        for (auto& v : FVariables) v.SessionValue.reset();
    } else if (FData->Busy()) {
        FSessionNote = QStringLiteral("The tools session is busy: session values are those read before.");
    } else {
        TData::TBusy busy(*FData);
        try {
            dac::TAdminDialect dialect;
            RunInBackground([&] {
                dac::ReadSessionValues(*FData->ToolsConnection, FVariables);
                dialect = dac::ReadDialect(*FData->ToolsConnection);
            });
            FToolsDialect = dialect;
            FSessionNote = QStringLiteral("Session values are those of the tools session the other tabs use.");
        } catch (const std::exception& e) {
            FSessionNote = QStringLiteral("Session values could not be read: %1").arg(ErrorMessageOf(e));
        }
    }
    lblVariablesState->setText(QStringLiteral("%1 variables read at %2. %3")
                                   .arg(FVariables.size())
                                   .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), FSessionNote));
}

void TVariablesPage::ShowVariables() {
    const QString selected = Selected() ? Selected()->Name : QString();
    const QString search = edtVariableFilter->text();
    const QSignalBlocker quiet(tblVariables);
    tblVariables->setUpdatesEnabled(false);
    tblVariables->setRowCount(0);
    for (const auto& v : FVariables) {
        if (!dac::VariableMatches(v, search)) continue;
        const int row = tblVariables->rowCount();
        tblVariables->insertRow(row);
        const QString values[colCount] = {v.Name, v.SessionValue.value_or(QString()), v.GlobalValue.value_or(QString()),
                                          ScopeText(v.Availability), DynamicText(v.Dynamic)};
        for (int c = 0; c < colCount; ++c) {
            auto* item = new QTableWidgetItem(values[c]);
            if (v.Dynamic == dac::vdReadOnly) item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
            tblVariables->setItem(row, c, item);
        }
    }
    tblVariables->setUpdatesEnabled(true);
    if (!selected.isEmpty()) SelectVariable(selected);
    SelectionChanged();
}

bool TVariablesPage::SelectVariable(const QString& name) {
    for (int row = 0; row < tblVariables->rowCount(); ++row)
        if (tblVariables->item(row, colName)->text() == name) {
            tblVariables->selectRow(row);
            tblVariables->scrollToItem(tblVariables->item(row, colName));
            return true;
        }
    return false;
}

const dac::TVariableInfo* TVariablesPage::Selected() const {
    const auto rows = tblVariables->selectionModel()->selectedRows();
    if (rows.isEmpty()) return nullptr;
    const QString name = tblVariables->item(rows.front().row(), colName)->text();
    for (const auto& v : FVariables)
        if (v.Name == name) return &v;
    return nullptr;
}

void TVariablesPage::SelectionChanged() {
    const dac::TVariableInfo* v = Selected();
    const bool changeable = v && v->Dynamic != dac::vdReadOnly;
    btnSetSessionVariable->setEnabled(changeable && HasScope(*v, dac::vsSession));
    btnSetGlobalVariable->setEnabled(changeable && HasScope(*v, dac::vsGlobal));
    const QString why = v && v->Dynamic == dac::vdReadOnly
                            ? QStringLiteral("%1 is read-only: it is set when the server starts.").arg(v->Name)
                            : QString();
    btnSetSessionVariable->setToolTip(why.isEmpty() ? QStringLiteral("SET SESSION on the tools session the other tabs use")
                                                    : why);
    btnSetGlobalVariable->setToolTip(why.isEmpty() ? QStringLiteral("SET GLOBAL: new sessions start with it") : why);
    if (!why.isEmpty()) lblVariablesState->setText(why);
}

void TVariablesPage::btnSetSessionVariableClick() { SetVariable(dac::vsSession); }
void TVariablesPage::btnSetGlobalVariableClick() { SetVariable(dac::vsGlobal); }

void TVariablesPage::SetVariable(dac::TVariableScope scope) {
    const dac::TVariableInfo* selected = Selected();
    if (!selected) return;
    const dac::TVariableInfo v = *selected;
    const bool session = scope == dac::vsSession;
    if (session && (!FData || !FData->ToolsConnected()))
        throw Exception(QStringLiteral("There is no tools session to set %1 on; connect first.").arg(v.Name));
    TVariableDialog dialog(v, scope, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const dac::TAdminDialect dialect = session ? FToolsDialect.value_or(FSession.Dialect()) : FSession.Dialect();
    const QString statement = dialog.cbVariableDefault->isChecked()
                                  ? dac::SetVariableToDefaultStatement(scope, v.Name)
                                  : dac::SetVariableStatement(
                                        scope, v.Name,
                                        dac::VariableValueLiteral(v.Kind, dialog.cbxVariableValue->currentText(), dialect));
    const QString question =
        session ? QStringLiteral("Change %1 for the tools session the other tabs use?").arg(v.Name)
                : QStringLiteral("Change %1 for the whole server? New sessions start with the new value; it lasts until "
                                 "the server restarts.")
                      .arg(v.Name);
    if (!ConfirmStatements(this, question, {Plain(statement)})) return;
    if (session) {
        if (FData->Busy())
            throw Exception(QStringLiteral("The tools session is busy (a query, script, backup or restore runs); set %1 "
                                           "when it has ended.")
                                .arg(v.Name));
        TData::TBusy busy(*FData);
        RunStatementsOn(*FData->ToolsConnection, {Plain(statement)});
    } else {
        RunStatements(FSession, {Plain(statement)});
    }
    RefreshSoon();
}

}  // namespace calvoro::app
