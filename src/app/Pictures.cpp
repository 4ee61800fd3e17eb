#include "Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>

namespace calvoro::app {

namespace {

const QColor MarkBlue(0x00, 0x5A, 0xE1);

// The mark in a 40 x 40 box; packaging/calvoro.svg draws the same shapes.
void DrawMark(QPainter& p, const QRectF& box) {
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 40.0, box.height() / 40.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(MarkBlue);
    p.drawRoundedRect(QRectF(1, 1, 38, 38), 8, 8);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({{9, 9}, {15, 9}, {20, 24}, {25, 9}, {31, 9}, {23, 31}, {17, 31}}));
    p.restore();
}

}  // namespace

QPixmap LogoMark(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    DrawMark(p, QRectF(0, 0, size, size));
    return pixmap;
}

QPixmap MakerLogo() {
    QPixmap pixmap(150, 40);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawMark(p, QRectF(0, 0, 40, 40));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(18);
    p.setFont(f);
    p.setPen(MarkBlue);
    p.drawText(QRectF(46, 0, 104, 40), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Vornesk"));
    return pixmap;
}

QPixmap SplashPicture(const QString& name, const QString& version) {
    QPixmap pixmap(500, 350);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 350);
    sky.setColorAt(0, QColor(0x0B, 0x2A, 0x5B));
    sky.setColorAt(1, QColor(0x00, 0x5A, 0xE1));
    p.fillRect(pixmap.rect(), sky);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawRect(QRectF(0.5, 0.5, 499, 349));
    // The mark on a white tile so that its blue stands out against the background.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(206, 46, 88, 88), 18, 18);
    DrawMark(p, QRectF(210, 50, 80, 80));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(34);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 150, 500, 50), Qt::AlignCenter, name);
    f.setBold(false);
    f.setPixelSize(16);
    p.setFont(f);
    p.drawText(QRectF(0, 200, 500, 24), Qt::AlignCenter,
               QStringLiteral("MySQL and MariaDB administration and queries"));
    p.drawText(QRectF(0, 226, 500, 24), Qt::AlignCenter, QStringLiteral("Version %1").arg(version));
    f.setPixelSize(13);
    p.setFont(f);
    p.setPen(QColor(255, 255, 255, 190));
    p.drawText(QRectF(0, 306, 500, 30), Qt::AlignCenter, QStringLiteral("Vornesk · freeware"));
    return pixmap;
}

}  // namespace calvoro::app
