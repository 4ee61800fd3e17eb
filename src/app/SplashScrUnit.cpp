#include "SplashScrUnit.h"

#include "Pictures.h"
#include "VorneskUtils.h"
#include "common/CodePage.h"

#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace calvoro::app {

TSplashScrForm::TSplashScrForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("SplashScrForm"));
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Image1);
    setFixedSize(500, 350);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1500);
    connect(Timer1, &QTimer::timeout, this, &TSplashScrForm::Timer1Timer);
}

void TSplashScrForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) TntFormActivate();
}

void TSplashScrForm::TntFormActivate() {
    const AppIdentity& id = Identity();
    Image1->setPixmap(SplashPicture(id.AppName.isEmpty() ? QStringLiteral("MySQL Calvoro") : AnsiToUnicode(id.AppName),
                                    id.AppVersion));
    if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
    Timer1->start();
}

void TSplashScrForm::Timer1Timer() {
    Timer1->stop();
    close();
}

// A click or a key ends the showing as the timer would.
void TSplashScrForm::Image1Click() { Timer1Timer(); }

void TSplashScrForm::FormKeyPress() { Timer1Timer(); }

void TSplashScrForm::keyPressEvent(QKeyEvent*) { FormKeyPress(); }

bool TSplashScrForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && event->type() == QEvent::MouseButtonPress) {
        Image1Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool& ShowSplashAtStart() {
    static bool show = true;
    return show;
}

}  // namespace calvoro::app
