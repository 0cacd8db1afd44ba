#include "panel/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tavrion {

QImage draw_app_icon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Everything is laid out on a 48-unit grid and scaled, so small sizes keep the proportions.
    p.scale(size / 48.0, size / 48.0);

    QLinearGradient body(0, 0, 0, 48);
    body.setColorAt(0, QColor(58, 66, 80));
    body.setColorAt(1, QColor(28, 32, 40));
    p.setPen(QPen(QColor(16, 18, 24), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(2.5, 2.5, 43, 43), 7, 7);

    // Inputs 1..4 on the left, outputs A..D on the right; each output takes one input.
    const double ys[4] = {11, 19.5, 28.5, 37};
    const int route[4] = {2, 0, 3, 1};
    const QColor colours[4] = {QColor(255, 60, 60), QColor(60, 220, 60), QColor(80, 140, 255), QColor(255, 220, 0)};
    for (int o = 0; o < 4; ++o) {
        QPainterPath path(QPointF(12, ys[route[o]]));
        path.cubicTo(QPointF(24, ys[route[o]]), QPointF(24, ys[o]), QPointF(36, ys[o]));
        p.setPen(QPen(colours[o], 2.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.setPen(QPen(QColor(16, 18, 24), 0.8));
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(230, 232, 236));
        p.drawEllipse(QPointF(10, ys[i]), 3.2, 3.2);
        p.setBrush(colours[i]);
        p.drawRoundedRect(QRectF(35, ys[i] - 3.2, 6.4, 6.4), 1.2, 1.2);
    }
    return img;
}

QIcon app_icon()
{
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(draw_app_icon(s)));
    return icon;
}

} // namespace tavrion
