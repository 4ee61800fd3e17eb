#pragma once
// The query generator window: writes SQL for one table or view (its name, SELECT, INSERT,
// UPDATE, DELETE, CREATE, ALTER, DROP, its field lists) into an editor, where the user may edit
// it before taking it with OK. The texts come from the functions of QueryGenerators.h.

#include <QDialog>
#include <QString>

class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace calvoro::app {

class TData;
class TSynEdit;

class TfrmQueryGenerator : public QDialog {
    Q_OBJECT
public:
    // Client area 594 x 399 at first, at least 560 x 380, centred on the screen.
    explicit TfrmQueryGenerator(TData& data, QWidget* parent = nullptr);
    ~TfrmQueryGenerator() override;

    // Opens the window modally for the object (a name as listed, unquoted); on OK puts the
    // editor's text, edits included, in generatedText and answers true. Answers false without
    // a window while the tools session is busy, since every action reads through it.
    static bool Run(QWidget* parent, TData& data, const QString& objectName, bool isView, QString& generatedText);

    // The table or view, and whether it came from the views list; set before the window shows.
    QString DBObjectName;
    bool DBObjectIsView = false;

    TSynEdit* mmoQueryGenerator;
    QGroupBox* grpAction;
    QListWidget* lbxAction;
    QCheckBox* cbQuoteNames;
    QCheckBox* cbEachFieldOnNewRow;
    QLabel* TntLabel1;
    QLineEdit* edtAlias;
    QPushButton* TntBitBtn1;  // OK
    QPushButton* TntBitBtn2;  // Cancel

    // The selected action, -1 when none.
    int SelectedAction() const;

public slots:
    // Replaces the editor's text by the selected action's text (empty with none), discarding
    // edits. Does nothing while the tools session is busy; a failing DESCRIBE raises the
    // server's error and leaves the text as it was.
    void lbxActionClick();
    // Closes CustomQuery, so that the next window reads its DESCRIBE afresh.
    void FormClose();
    // Escape closes the window with the Cancel result, whichever control has the focus.
    void FormKeyUp(int key);

protected:
    void done(int result) override;
    // The window sees its controls' keys before they do.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    TData& FData;
};

}  // namespace calvoro::app
