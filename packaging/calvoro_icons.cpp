// Writes the program's mark as PNG icons: <folder>/<size>/calvoro.png for each size given.
#include "app/Pictures.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: calvoro_icons FOLDER SIZE...\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const QString size = QString::fromLatin1(argv[i]);
        const QString file = folder.filePath(size + QStringLiteral("/calvoro.png"));
        if (!folder.mkpath(size) || !calvoro::app::LogoMark(size.toInt()).save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
