#include "AppTitle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace calvoro {

QString ApplicationTitleFor(const QString& programPath) {
    QString name = QFileInfo(programPath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0) name.truncate(dot);
    if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
    return name;
}

QString ApplicationTitle() {
    QString path;
    if (QCoreApplication::instance()) path = QCoreApplication::applicationFilePath();
    if (path.isEmpty() && !QCoreApplication::arguments().isEmpty())
        path = QCoreApplication::arguments().constFirst();
    return ApplicationTitleFor(path);
}

}  // namespace calvoro
