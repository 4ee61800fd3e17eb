#pragma once
// The splash window shown at start-up: the program's picture for 1.5 s, or until a click or a
// key.

#include <QDialog>

class QLabel;
class QTimer;

namespace calvoro::app {

class TSplashScrForm : public QDialog {
    Q_OBJECT
public:
    // Borderless, sized to its picture (500 x 350), centred on the screen; Timer1 (1500 ms)
    // disabled until the window shows.
    explicit TSplashScrForm(QWidget* parent = nullptr);

    QLabel* Image1;
    QTimer* Timer1;

public slots:
    void TntFormActivate();
    void Timer1Timer();
    void Image1Click();
    void FormKeyPress();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Whether the main window shows the splash from FormShow; the tests turn it off.
bool& ShowSplashAtStart();

}  // namespace calvoro::app
