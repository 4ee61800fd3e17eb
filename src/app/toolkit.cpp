#include "toolkit.h"

#include "common/AppTitle.h"
#include "common/Exceptions.h"

#include <QApplication>
#include <QMessageBox>

namespace calvoro::app {

QString QuoteName(const QString& name, bool quote) {
    if (!quote || name.isEmpty() || name.front() == u'`' || name.back() == u'`') return name;
    return u'`' + name + u'`';
}

bool Confirm(const QString& message) {
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), message,
                    QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ConfirmBox"));
    box.setWindowModality(Qt::ApplicationModal);
    return box.exec() == QMessageBox::Yes;
}

QString ErrorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > u'.') return message + u'.';
    return message;
}

void ShowErrorBox(const QString& message) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}

void HandleException(const std::exception& e) {
    if (dynamic_cast<const EAbort*>(&e)) return;
    if (auto* ours = dynamic_cast<const Exception*>(&e))
        ShowErrorBox(ours->Message());
    else
        ShowErrorBox(QString::fromUtf8(e.what()));
}

}  // namespace calvoro::app
