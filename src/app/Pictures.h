#pragma once
// The pictures of the program, drawn rather than loaded so that the executable needs no image
// files: the maker's logo, the program's mark (also its icon, packaging/calvoro.svg is the same
// drawing) and the splash picture.

#include <QPixmap>
#include <QString>

namespace calvoro::app {

// The mark and the maker's name beside it, 150 x 40.
QPixmap MakerLogo();
// The mark alone: a blue rounded square with a white "V", size x size.
QPixmap LogoMark(int size);
// The splash picture, 500 x 350, with the program's name and version.
QPixmap SplashPicture(const QString& name, const QString& version);

}  // namespace calvoro::app
