#pragma once
// The application title: captions message boxes and names per-application settings keys.
// It is the program file's name up to its first ".", every character after the first in
// lower case ("CALVORO.bin" -> "Calvoro").

#include <QString>

namespace calvoro {

QString ApplicationTitleFor(const QString& programPath);
// The title of the running program (from QCoreApplication's file path, or argv[0] before
// the application object exists).
QString ApplicationTitle();

}  // namespace calvoro
