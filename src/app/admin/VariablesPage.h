#pragma once
// The Variables page: global values read on the tab's connection, session values of the tools
// session (the session the other tabs use, read while it is idle), with whether each variable
// can change; searchable. A dynamic variable is set with SET SESSION (on the tools session) or
// SET GLOBAL after the statement is shown; a read-only one says so and offers no change.

#include "ServerPage.h"
#include "dataaccess/mysql/MyAdminReaders.h"

#include <QDialog>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace calvoro::app {

// Asks for a variable's new value: typed or picked from its values, or its default.
class TVariableDialog : public QDialog {
    Q_OBJECT
public:
    TVariableDialog(const dac::TVariableInfo& variable, dac::TVariableScope scope, QWidget* parent);
    QLabel* lblVariableName;
    QComboBox* cbxVariableValue;
    QCheckBox* cbVariableDefault;
    QPushButton* btnVariableOk;
    QPushButton* btnVariableCancel;
};

class TVariablesPage : public TServerPage {
    Q_OBJECT
public:
    TVariablesPage(TAdminSession& session, QWidget* parent);

    bool Refresh() override;
    void Clear() override;

    QLineEdit* edtVariableFilter;
    QTableWidget* tblVariables;
    QPushButton* btnSetSessionVariable;
    QPushButton* btnSetGlobalVariable;
    QLabel* lblVariablesState;

    const std::vector<dac::TVariableInfo>& Variables() const { return FVariables; }
    // Selects the variable's row; false when it is not shown.
    bool SelectVariable(const QString& name);

    void btnSetSessionVariableClick();
    void btnSetGlobalVariableClick();

private:
    void ReadSession();
    void ShowVariables();
    void SelectionChanged();
    const dac::TVariableInfo* Selected() const;
    void SetVariable(dac::TVariableScope scope);

    std::vector<dac::TVariableInfo> FVariables;
    // How statements are written for the tools session, once read.
    std::optional<dac::TAdminDialect> FToolsDialect;
    QString FSessionNote;
};

}  // namespace calvoro::app
