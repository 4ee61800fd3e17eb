#include "UsersPage.h"

#include "AccountDialog.h"
#include "AdminSession.h"
#include "GrantDialog.h"
#include "StatementsDialog.h"
#include "app/toolkit.h"
#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>
#include <memory>

namespace calvoro::app {

namespace {

enum TColumn {
    colUser, colHost, colKind, colPlugin, colTls, colLocked, colExpired, colLimits, colRoles, colDefaultRole, colCount
};

QString TlsText(dac::TTlsKind tls) {
    switch (tls) {
        case dac::tkNone: return QStringLiteral("none");
        case dac::tkSsl: return QStringLiteral("SSL");
        case dac::tkX509: return QStringLiteral("X509");
        case dac::tkSpecified: return QStringLiteral("issuer/subject/cipher");
        case dac::tkTlsUnknown: break;
    }
    return {};
}

QString YesNo(const std::optional<bool>& value) {
    if (!value) return {};
    return *value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString RoleName(const dac::TAccountName& role) { return role.Host.isEmpty() ? role.User : role.User + u'@' + role.Host; }

QString LimitsText(const dac::TResourceLimits& l) {
    QStringList parts;
    const std::pair<const std::optional<qint64>*, const char*> limits[] = {
        {&l.MaxQueriesPerHour, "%1 queries/h"},
        {&l.MaxUpdatesPerHour, "%1 updates/h"},
        {&l.MaxConnectionsPerHour, "%1 connections/h"},
        {&l.MaxUserConnections, "%1 at once"},
    };
    for (const auto& [value, text] : limits)
        if (*value && **value > 0) parts << QString::fromLatin1(text).arg(**value);
    return parts.join(QStringLiteral(", "));
}

}  // namespace

TUsersPage::TUsersPage(TAdminSession& session, QWidget* parent) : TServerPage(session, parent) {
    setObjectName(QStringLiteral("UsersPage"));
    auto* page = new QVBoxLayout(this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* left = new QWidget(split);
    auto* inLeft = new QVBoxLayout(left);
    inLeft->setContentsMargins(0, 0, 0, 0);
    auto* accountsLabel = new QLabel(QStringLiteral("&Accounts and roles:"), left);
    tblAccounts = Make<QTableWidget>("tblAccounts", 0, int(colCount), left);
    accountsLabel->setBuddy(tblAccounts);
    tblAccounts->setHorizontalHeaderLabels({QStringLiteral("User"), QStringLiteral("Host"), QStringLiteral("Kind"),
                                            QStringLiteral("Plugin"), QStringLiteral("TLS"), QStringLiteral("Locked"),
                                            QStringLiteral("Password expired"), QStringLiteral("Limits"),
                                            QStringLiteral("Roles"), QStringLiteral("Default role")});
    tblAccounts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblAccounts->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblAccounts->setSelectionMode(QAbstractItemView::SingleSelection);
    tblAccounts->verticalHeader()->setVisible(false);
    tblAccounts->setWordWrap(false);
    inLeft->addWidget(accountsLabel);
    inLeft->addWidget(tblAccounts, 1);
    auto* right = new QWidget(split);
    auto* inRight = new QVBoxLayout(right);
    inRight->setContentsMargins(0, 0, 0, 0);
    auto* privilegesLabel = new QLabel(QStringLiteral("&Privileges of the selected account:"), right);
    tvPrivileges = Make<QTreeWidget>("tvPrivileges", right);
    privilegesLabel->setBuddy(tvPrivileges);
    tvPrivileges->setHeaderHidden(true);
    tvPrivileges->setSelectionMode(QAbstractItemView::ExtendedSelection);
    inRight->addWidget(privilegesLabel);
    inRight->addWidget(tvPrivileges, 1);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    page->addWidget(split, 1);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](QPushButton*& b, const char* name, const char* caption, const char* hint) {
        b = Make<QPushButton>(name, QString::fromLatin1(caption), this);
        b->setToolTip(QString::fromLatin1(hint));
        buttons->addWidget(b);
    };
    button(btnNewAccount, "btnNewAccount", "New Account...", "CREATE USER");
    button(btnNewRole, "btnNewRole", "New Role...", "CREATE ROLE");
    button(btnChangeAccount, "btnChangeAccount", "Change...", "ALTER USER: password, plugin, TLS, limits, lock");
    button(btnDropAccount, "btnDropAccount", "Drop", "DROP USER or DROP ROLE");
    buttons->addSpacing(16);
    button(btnGrant, "btnGrant", "Grant...", "GRANT privileges or a role");
    button(btnRevoke, "btnRevoke", "Revoke", "REVOKE the privileges and roles selected in the tree");
    buttons->addStretch(1);
    page->addLayout(buttons);
    lblUsersState = Make<QLabel>("lblUsersState", this);
    lblUsersState->setWordWrap(true);
    page->addWidget(lblUsersState);

    connect(tblAccounts, &QTableWidget::itemSelectionChanged, this, [this] { AccountChanged(); });
    connect(tvPrivileges, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(btnNewAccount, &QPushButton::clicked, this, Guarded([this] { btnNewAccountClick(); }));
    connect(btnNewRole, &QPushButton::clicked, this, Guarded([this] { btnNewRoleClick(); }));
    connect(btnChangeAccount, &QPushButton::clicked, this, Guarded([this] { btnChangeAccountClick(); }));
    connect(btnDropAccount, &QPushButton::clicked, this, Guarded([this] { btnDropAccountClick(); }));
    connect(btnGrant, &QPushButton::clicked, this, Guarded([this] { btnGrantClick(); }));
    connect(btnRevoke, &QPushButton::clicked, this, Guarded([this] { btnRevokeClick(); }));
    UpdateButtons();
}

void TUsersPage::Clear() {
    FAccounts.clear();
    FPlugins.clear();
    FGrants.clear();
    FGrantsOf.reset();
    lblUsersState->clear();
    ShowAccounts();
    ShowGrants();
}

bool TUsersPage::Refresh() {
    struct TRead {
        std::vector<dac::TAccountInfo> Accounts;
        dac::TAccountSource Source = dac::acGlobalPriv;
        QStringList Plugins;
    };
    auto read = std::make_shared<TRead>();
    return FSession.Start(
        [read](dac::TMyConnection& c, const dac::TAdminDialect& dialect) {
            read->Accounts = dac::ReadAccounts(c, dialect, &read->Source);
            read->Plugins = dac::ReadAuthenticationPlugins(c);
        },
        [this, read](std::exception_ptr failure) {
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    lblUsersState->setText(QStringLiteral("The accounts could not be read: %1").arg(ErrorMessageOf(e)));
                    SetState(lblUsersState->text());
                }
                return;
            }
            FAccounts = std::move(read->Accounts);
            FSource = read->Source;
            FPlugins = std::move(read->Plugins);
            ShowAccounts();
            lblUsersState->setText(
                QStringLiteral("%1 accounts and roles read at %2 from %3")
                    .arg(FAccounts.size())
                    .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                         FSource == dac::acGlobalPriv   ? QStringLiteral("mysql.global_priv")
                         : FSource == dac::acMysqlUser ? QStringLiteral("mysql.user")
                                                       : QStringLiteral("information_schema.USER_PRIVILEGES: only the "
                                                                        "accounts this login may see, by name")));
            SetState(lblUsersState->text());
            ReadGrantsOfSelected();
        });
}

void TUsersPage::ShowAccounts() {
    const auto selected = Selected();
    {
        const QSignalBlocker quiet(tblAccounts);
        tblAccounts->setRowCount(0);
        for (const auto& a : FAccounts) {
            const int row = tblAccounts->rowCount();
            tblAccounts->insertRow(row);
            QStringList roles;
            for (const auto& r : a.Roles) roles << RoleName(r);
            const QString values[colCount] = {a.Name.User,
                                              a.Name.Host,
                                              a.IsRole ? QStringLiteral("role") : QStringLiteral("account"),
                                              a.Plugin,
                                              TlsText(a.Tls),
                                              YesNo(a.Locked),
                                              YesNo(a.PasswordExpired),
                                              LimitsText(a.Limits),
                                              roles.join(QStringLiteral(", ")),
                                              a.DefaultRole ? RoleName(*a.DefaultRole) : QString()};
            for (int c = 0; c < colCount; ++c) tblAccounts->setItem(row, c, new QTableWidgetItem(values[c]));
        }
        tblAccounts->resizeColumnsToContents();
    }
    if (FSelectNext) {
        SelectAccount(*FSelectNext);
        FSelectNext.reset();
    } else if (selected) {
        SelectAccount(selected->Name);
    }
    UpdateButtons();
}

bool TUsersPage::SelectAccount(const dac::TAccountName& name) {
    for (int row = 0; row < tblAccounts->rowCount(); ++row)
        if (tblAccounts->item(row, colUser)->text() == name.User && tblAccounts->item(row, colHost)->text() == name.Host) {
            tblAccounts->selectRow(row);
            return true;
        }
    return false;
}

std::optional<dac::TAccountInfo> TUsersPage::Selected() const {
    const auto rows = tblAccounts->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    const int row = rows.front().row();
    const dac::TAccountName name{tblAccounts->item(row, colUser)->text(), tblAccounts->item(row, colHost)->text()};
    for (const auto& a : FAccounts)
        if (a.Name == name) return a;
    return std::nullopt;
}

QStringList TUsersPage::Roles() const {
    QStringList roles;
    for (const auto& a : FAccounts)
        if (a.IsRole) roles << RoleName(a.Name);
    return roles;
}

void TUsersPage::AccountChanged() {
    UpdateButtons();
    const auto selected = Selected();
    if (!selected || !FGrantsOf || !(selected->Name == *FGrantsOf)) {
        FGrants.clear();
        FGrantsOf.reset();
        ShowGrants();
    }
    ReadGrantsOfSelected();
}

void TUsersPage::ReadGrantsOfSelected() {
    const auto selected = Selected();
    if (!selected) return;
    const dac::TAccountName name = selected->Name;
    auto lines = std::make_shared<std::vector<dac::TGrantLine>>();
    const bool started = FSession.Start(
        [lines, name](dac::TMyConnection& c, const dac::TAdminDialect& dialect) {
            *lines = dac::ReadGrants(c, name, dialect);
        },
        [this, lines, name](std::exception_ptr failure) {
            const auto now = Selected();
            if (!now || !(now->Name == name)) {
                ReadGrantsOfSelected();  // the selection moved on meanwhile
                return;
            }
            if (failure) {
                try {
                    std::rethrow_exception(failure);
                } catch (const std::exception& e) {
                    lblUsersState->setText(QStringLiteral("The privileges of %1 could not be read: %2")
                                               .arg(RoleName(name), ErrorMessageOf(e)));
                }
                FGrants.clear();
            } else {
                FGrants = std::move(*lines);
            }
            FGrantsOf = name;
            ShowGrants();
            SetState(lblUsersState->text());
        });
    // While other work runs, the privileges are read when it has ended.
    if (!started) {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(&FSession, &TAdminSession::Idle, this, [this, once] {
            disconnect(*once);
            ReadGrantsOfSelected();
        });
    }
}

QTreeWidgetItem* TUsersPage::Leaf(QTreeWidgetItem* parent, const QString& text, std::optional<TRevocable> revocable) {
    auto* item = new QTreeWidgetItem(parent, {text});
    if (revocable) {
        item->setData(0, Qt::UserRole, int(FRevocables.size()));
        FRevocables.push_back(std::move(*revocable));
    } else {
        item->setFlags(Qt::ItemIsEnabled);
    }
    return item;
}

void TUsersPage::ShowGrants() {
    tvPrivileges->clear();
    FRevocables.clear();
    if (!FGrantsOf) return;
    const auto top = [this](const QString& text) {
        auto* item = new QTreeWidgetItem(tvPrivileges, {text});
        item->setFlags(Qt::ItemIsEnabled);
        QFont bold = item->font(0);
        bold.setBold(true);
        item->setFont(0, bold);
        return item;
    };
    QTreeWidgetItem* global = top(QStringLiteral("Global (*.*)"));
    QTreeWidgetItem* databases = top(QStringLiteral("Databases"));
    QTreeWidgetItem* tables = top(QStringLiteral("Tables"));
    QTreeWidgetItem* columns = top(QStringLiteral("Columns"));
    QTreeWidgetItem* routines = top(QStringLiteral("Routines"));
    QTreeWidgetItem* roles = top(QStringLiteral("Roles"));
    QTreeWidgetItem* revoked = top(QStringLiteral("Partial revokes"));
    QTreeWidgetItem* other = top(QStringLiteral("Other"));
    std::map<QString, QTreeWidgetItem*> nodes;
    const auto node = [&](QTreeWidgetItem* parent, const QString& text) {
        const QString key = QString::number(quintptr(parent)) + u'|' + text;
        auto& n = nodes[key];
        if (!n) {
            n = new QTreeWidgetItem(parent, {text});
            n->setFlags(Qt::ItemIsEnabled);
        }
        return n;
    };
    for (const dac::TGrantLine& line : FGrants) {
        switch (line.Kind) {
            case dac::lkPrivileges: {
                const dac::TGrantTarget& t = line.Grant.Target;
                const QString target = dac::GrantTargetText(t);
                // The target's node is made with its first leaf: a grant of columns alone has none.
                const auto parent = [&] {
                    return t.Level == dac::glGlobal     ? global
                           : t.Level == dac::glDatabase ? node(databases, target)
                           : t.Level == dac::glTable    ? node(tables, target)
                                                        : node(routines, target);
                };
                for (const dac::TPrivilege& p : line.Grant.Privileges) {
                    if (p.Columns.isEmpty()) {
                        const bool usage = p.Name == u"USAGE";
                        Leaf(parent(), usage ? QStringLiteral("USAGE (no privileges)") : p.Name,
                             usage ? std::nullopt : std::optional<TRevocable>(TRevocable{TRevocable::rkPrivilege, t, p.Name, {}, {}}));
                        continue;
                    }
                    for (const QString& c : p.Columns)
                        Leaf(node(columns, target + u'.' + dac::QuoteIdentifier(c)), p.Name,
                             TRevocable{TRevocable::rkPrivilege, t, p.Name, c, {}});
                }
                if (line.Grant.GrantOption)
                    Leaf(parent(), QStringLiteral("GRANT OPTION"), TRevocable{TRevocable::rkGrantOption, t, {}, {}, {}});
                break;
            }
            case dac::lkRevoke: {
                QTreeWidgetItem* parent = node(revoked, dac::GrantTargetText(line.Grant.Target));
                for (const dac::TPrivilege& p : line.Grant.Privileges) Leaf(parent, p.Name, std::nullopt);
                break;
            }
            case dac::lkRoles:
                for (const dac::TAccountName& r : line.Roles)
                    Leaf(roles, RoleName(r) + (line.AdminOption ? QStringLiteral(" (with admin option)") : QString()),
                         TRevocable{TRevocable::rkRole, {}, {}, {}, r});
                break;
            case dac::lkDefaultRole:
                for (const dac::TAccountName& r : line.Roles)
                    Leaf(roles, QStringLiteral("default role: %1").arg(RoleName(r)),
                         TRevocable{TRevocable::rkDefaultRole, {}, {}, {}, r});
                break;
            case dac::lkOther:
                Leaf(other, line.Text, std::nullopt);
                break;
        }
    }
    for (QTreeWidgetItem* t : {global, databases, tables, columns, routines, roles, revoked, other})
        if (t->childCount() == 0) delete t;
    tvPrivileges->expandAll();
    UpdateButtons();
}

void TUsersPage::UpdateButtons() {
    const auto selected = Selected();
    btnChangeAccount->setEnabled(selected && !selected->IsRole);
    btnDropAccount->setEnabled(selected.has_value());
    btnGrant->setEnabled(selected.has_value());
    bool revocable = false;
    for (QTreeWidgetItem* item : tvPrivileges->selectedItems()) revocable |= item->data(0, Qt::UserRole).isValid();
    btnRevoke->setEnabled(selected && revocable);
}

void TUsersPage::Apply(const QString& question, const std::vector<dac::TAdminStatement>& statements) {
    if (!ConfirmStatements(this, question, statements)) return;
    std::exception_ptr failure;
    try {
        RunStatements(FSession, statements);
    } catch (const std::exception&) {
        // Reported below, after the page shows what the server holds now.
        failure = std::current_exception();
    }
    FGrantsOf.reset();
    RefreshSoon();
    if (failure) std::rethrow_exception(failure);
    QStringList shown;
    for (const auto& s : statements) shown << s.Masked();
    lblUsersState->setText(QStringLiteral("Done: ") + shown.join(QStringLiteral("; ")));
}

void TUsersPage::btnNewAccountClick() {
    TAccountDialog dialog(std::nullopt, FPlugins, this);
    if (dialog.exec() != QDialog::Accepted) return;
    const dac::TAdminStatement s = dac::CreateUserStatement(dialog.Change(), FSession.Dialect());
    const dac::TAccountName name{dialog.edtAccountUser->text(), dialog.edtAccountHost->text()};
    FSelectNext = name;
    Apply(QStringLiteral("Create the account %1?").arg(RoleName(name)), {s});
}

void TUsersPage::btnNewRoleClick() {
    bool ok = false;
    const QString name = QInputDialog::getText(this, ApplicationTitle(), QStringLiteral("Name of the new role:"),
                                               QLineEdit::Normal, QString(), &ok);
    if (!ok || name.isEmpty()) return;
    Apply(QStringLiteral("Create the role %1?").arg(name),
          {Plain(dac::CreateRoleStatement({name, QString()}, FSession.Dialect()))});
}

void TUsersPage::btnChangeAccountClick() {
    const auto selected = Selected();
    if (!selected || selected->IsRole) return;
    TAccountDialog dialog(selected, FPlugins, this);
    if (dialog.exec() != QDialog::Accepted) return;
    Apply(QStringLiteral("Change the account %1?").arg(RoleName(selected->Name)),
          {dac::AlterUserStatement(dialog.Change(), FSession.Dialect())});
}

void TUsersPage::btnDropAccountClick() {
    const auto selected = Selected();
    if (!selected) return;
    const QString statement = selected->IsRole ? dac::DropRoleStatement(selected->Name, FSession.Dialect())
                                               : dac::DropUserStatement({selected->Name}, FSession.Dialect());
    Apply(QStringLiteral("Drop %1 %2 with all its privileges?")
              .arg(selected->IsRole ? QStringLiteral("the role") : QStringLiteral("the account"), RoleName(selected->Name)),
          {Plain(statement)});
}

void TUsersPage::btnGrantClick() {
    const auto selected = Selected();
    if (!selected) return;
    TGrantDialog dialog(FSession, selected->Name, Roles(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    Apply(QStringLiteral("Grant to %1?").arg(RoleName(selected->Name)), dialog.Statements(FSession.Dialect()));
}

void TUsersPage::btnRevokeClick() {
    const auto selected = Selected();
    if (!selected) return;
    const dac::TAdminDialect& dialect = FSession.Dialect();
    // The privileges of one target go in one REVOKE; a column privilege names its columns.
    std::vector<dac::TGrant> grants;
    std::vector<dac::TAdminStatement> roleStatements;
    const auto grantOf = [&](const dac::TGrantTarget& target) -> dac::TGrant& {
        for (auto& g : grants)
            if (g.Target == target) return g;
        grants.push_back({{}, target, false});
        return grants.back();
    };
    for (QTreeWidgetItem* item : tvPrivileges->selectedItems()) {
        const QVariant index = item->data(0, Qt::UserRole);
        if (!index.isValid()) continue;
        const TRevocable& r = FRevocables[size_t(index.toInt())];
        switch (r.Kind) {
            case TRevocable::rkPrivilege: {
                dac::TGrant& g = grantOf(r.Target);
                dac::TPrivilege* p = nullptr;
                for (auto& existing : g.Privileges)
                    if (existing.Name == r.Privilege && existing.Columns.isEmpty() == r.Column.isEmpty()) p = &existing;
                if (!p) {
                    g.Privileges.push_back({r.Privilege, {}});
                    p = &g.Privileges.back();
                }
                if (!r.Column.isEmpty()) p->Columns << r.Column;
                break;
            }
            case TRevocable::rkGrantOption: grantOf(r.Target).GrantOption = true; break;
            case TRevocable::rkRole: roleStatements.push_back(Plain(dac::RevokeRoleStatement(r.Role, selected->Name, dialect))); break;
            case TRevocable::rkDefaultRole:
                roleStatements.push_back(Plain(dac::SetDefaultRoleStatement(std::nullopt, selected->Name, dialect)));
                break;
        }
    }
    std::vector<dac::TAdminStatement> statements;
    for (const auto& g : grants) statements.push_back(Plain(dac::RevokeStatement(g, selected->Name, dialect)));
    statements.insert(statements.end(), roleStatements.begin(), roleStatements.end());
    if (statements.empty()) return;
    Apply(QStringLiteral("Revoke from %1?").arg(RoleName(selected->Name)), statements);
}

}  // namespace calvoro::app
