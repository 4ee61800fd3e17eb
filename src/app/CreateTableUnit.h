#pragma once
// The CREATE TABLE viewer: shows the statement that creates a table (or view) of the tools
// connection's database, as the server gives it, read anew each time the window is shown.

#include <QDialog>
#include <QString>

class QKeyEvent;
class QPlainTextEdit;
class QPushButton;

namespace calvoro::dac {
class TCustomMyConnection;
}

namespace calvoro::app {

class TCreateTableForm : public QDialog {
    Q_OBJECT
public:
    // Client area 509 x 564, centred on the screen.
    explicit TCreateTableForm(QWidget* parent = nullptr);
    ~TCreateTableForm() override;

    // The connection whose database holds the table; set before the window is shown.
    void SetConnection(dac::TCustomMyConnection* connection) { FConnection = connection; }

    // The table (or view) to show, unquoted.
    QString TableName;

    QPlainTextEdit* TntMemo1;
    QPushButton* TntBitBtn1;  // "Ok"

public slots:
    // Caption and text for TableName: SHOW CREATE TABLE with the name quoted. Raises the
    // server's error (the text box then stays empty).
    void FormShow();
    // Escape closes the window, whichever control has the focus.
    void FormKeyUp(int key);

protected:
    // Fills the window as it shows; an error is reported in the error box and closes it.
    void showEvent(QShowEvent* event) override;
    // The window sees its controls' keys before they do.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    dac::TCustomMyConnection* FConnection = nullptr;
};

}  // namespace calvoro::app
