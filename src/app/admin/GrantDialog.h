#pragma once
// The form of a grant to an account or role: the level (global, database, table, columns,
// procedure, function, or a role), what it names (picked from what the server lists, or
// typed), the privileges of that level and the grant option; for a role, whether it becomes
// the default role. The statements come from the data layer's generators.

#include "dataaccess/mysql/MyAdminStatements.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace calvoro::dac {
class TMyConnection;
}  // namespace calvoro::dac

namespace calvoro::app {

class TAdminSession;

class TGrantDialog : public QDialog {
    Q_OBJECT
public:
    // The levels in the order the level box lists them.
    enum TLevel { lvGlobal, lvDatabase, lvTable, lvColumns, lvProcedure, lvFunction, lvRole };

    TGrantDialog(TAdminSession& session, const dac::TAccountName& grantee, const QStringList& roles, QWidget* parent);

    QComboBox* cbxGrantLevel;
    QComboBox* cbxGrantDatabase;
    QComboBox* cbxGrantObject;
    QListWidget* lbxGrantColumns;
    QListWidget* lbxGrantPrivileges;
    QLineEdit* edtGrantOtherPrivileges;
    QCheckBox* cbGrantOption;
    QComboBox* cbxGrantRole;
    QCheckBox* cbDefaultRole;
    QPushButton* btnGrantOk;
    QPushButton* btnGrantCancel;

    // The statements the form stands for; raises for what is missing.
    std::vector<dac::TAdminStatement> Statements(const dac::TAdminDialect& dialect) const;

    // The privileges of a level, as the server names them.
    static QStringList PrivilegesOf(TLevel level, const dac::TServerKind& server);

private:
    void LevelChanged();
    void DatabaseChanged();
    void ObjectChanged();
    void OkClick();
    // Reads a list on the session; on failure an empty list (the names can still be typed).
    QStringList Read(const std::function<QStringList(dac::TMyConnection&, const dac::TAdminDialect&)>& read);

    TAdminSession& FSession;
    dac::TAccountName FGrantee;
    QLabel* FDatabaseLabel;
    QLabel* FObjectLabel;
    QLabel* FColumnsLabel;
    QLabel* FPrivilegesLabel;
    QLabel* FOtherLabel;
    QLabel* FRoleLabel;
};

}  // namespace calvoro::app
