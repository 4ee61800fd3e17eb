#pragma once
// The main window: the top bar with the database selector and the side-window buttons, and the
// page control with the five tabs.

#include <QMainWindow>
#include <QString>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace calvoro::app {

class TData;

// Process-wide application identity, filled by FormShow.
struct AppIdentity {
    QByteArray AppName;
    QByteArray AppCode;
    QString AppVersion;
    QByteArray UpdaterUrl;
    QByteArray InfoUrl;
    QByteArray VersionUrl;
    QByteArray ContactInfoUrl;
    QByteArray RemoteVersion;
};
AppIdentity& Identity();

class TTessrinForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TTessrinForm(QWidget* parent = nullptr);
    ~TTessrinForm() override;

    // The tools session; set once by start-up right after the window is created.
    void SetData(TData* data) { FData = data; }

    // What the idle check does while nothing is connected: tabs 2 to 5 hidden, the database
    // selector cleared and disabled, "Create Database" disabled.
    void ShowDisconnectedState();

    // Top bar.
    QLabel* TntLabel2;
    QComboBox* cbxDataBases;
    QToolButton* spbtnConnect;
    QToolButton* spbtnReloadDBobjects;
    QPushButton* spbtnAbout;
    QPushButton* spbtnContactUs;
    QLabel* Image1;
    QPushButton* spbtnExit;

    // Page control.
    QTabWidget* TntPageControl1;
    QWidget* TntTabSheet1;
    QWidget* TntTabSheet2;
    QWidget* TntTabSheet3;
    QWidget* TntTabSheet4;
    QWidget* TntTabSheet5;

    // "  Database  " tab.
    QPushButton* btnConnectToServer;
    QGroupBox* TntGroupBox1;
    QLabel* TntLabel5;
    QLineEdit* TntEdit1;
    QPushButton* TntBitBtn2;
    QLabel* TntLabel6;
    QLabel* TntLabel17;
    QLabel* TntLabel18;
    QLabel* TntLabel19;

public slots:
    void FormCreate();
    void FormShow();
    void Image1Click();
    void spbtnExitClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTopBar(QWidget* bar);
    void CreateDatabaseTab();

    TData* FData = nullptr;
    bool FShown = false;
};

}  // namespace calvoro::app
