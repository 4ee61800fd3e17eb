#pragma once
// The Users page: the accounts and roles with their plugin, TLS requirement, limits, lock,
// password expiry and roles; the selected one's privileges as a tree (global, databases,
// tables, columns, routines, roles). New account, new role, change, drop, grant and revoke
// go through forms and show their exact statements before they run.

#include "ServerPage.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace calvoro::app {

class TUsersPage : public TServerPage {
    Q_OBJECT
public:
    TUsersPage(TAdminSession& session, QWidget* parent);

    bool Refresh() override;
    void Clear() override;

    QTableWidget* tblAccounts;
    QTreeWidget* tvPrivileges;
    QPushButton* btnNewAccount;
    QPushButton* btnNewRole;
    QPushButton* btnChangeAccount;
    QPushButton* btnDropAccount;
    QPushButton* btnGrant;
    QPushButton* btnRevoke;
    QLabel* lblUsersState;

    const std::vector<dac::TAccountInfo>& Accounts() const { return FAccounts; }
    // Selects the account's row (and reads its privileges); false when it is not listed.
    bool SelectAccount(const dac::TAccountName& name);
    // The privileges shown for the selected account, as read.
    const std::vector<dac::TGrantLine>& Grants() const { return FGrants; }

    void btnNewAccountClick();
    void btnNewRoleClick();
    void btnChangeAccountClick();
    void btnDropAccountClick();
    void btnGrantClick();
    void btnRevokeClick();

private:
    // What a leaf of the tree stands for, to revoke it.
    struct TRevocable {
        enum TKind { rkPrivilege, rkGrantOption, rkRole, rkDefaultRole } Kind;
        dac::TGrantTarget Target;
        QString Privilege, Column;
        dac::TAccountName Role;
    };

    void ShowAccounts();
    void AccountChanged();
    void ReadGrantsOfSelected();
    void ShowGrants();
    void UpdateButtons();
    std::optional<dac::TAccountInfo> Selected() const;
    QStringList Roles() const;
    // Runs the statements after the confirmation, then reads again.
    void Apply(const QString& question, const std::vector<dac::TAdminStatement>& statements);
    QTreeWidgetItem* Leaf(QTreeWidgetItem* parent, const QString& text, std::optional<TRevocable> revocable);

    std::vector<dac::TAccountInfo> FAccounts;
    dac::TAccountSource FSource = dac::acGlobalPriv;
    QStringList FPlugins;
    std::optional<dac::TAccountName> FGrantsOf;
    std::optional<dac::TAccountName> FSelectNext;  // a new account, selected once it is listed
    std::vector<dac::TGrantLine> FGrants;
    std::vector<TRevocable> FRevocables;
};

}  // namespace calvoro::app
