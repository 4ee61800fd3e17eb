#pragma once
// The query history window: the lasting history searched by text, database and failure; the
// chosen entry goes into the editor.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace calvoro::app {

class TQueryHistoryStore;

class TQueryHistoryWindow : public QDialog {
    Q_OBJECT
public:
    TQueryHistoryWindow(TQueryHistoryStore& store, QWidget* parent = nullptr);

    // The text of the entry chosen with "Put into editor" (or a double-click).
    const QString& Chosen() const { return FChosen; }
    // Reads the entries the search asks for (the edits call it as they change).
    void Search();

    QLineEdit* edtHistoryText;
    QComboBox* cbxHistoryDatabase;
    QCheckBox* chkHistoryFailedOnly;
    QTableWidget* tblHistory;
    QPlainTextEdit* mmoHistoryText;
    QLabel* lblHistoryState;
    QPushButton* btnHistoryUse;
    QPushButton* btnHistoryClose;

private:
    void Choose();
    TQueryHistoryStore& FStore;
    QStringList FTexts;  // of the rows shown, in order
    QString FChosen;
};

}  // namespace calvoro::app
