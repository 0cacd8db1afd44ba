#include "panel/design_pictures.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace tavrion {

namespace {
const QColor kLightGrey(192, 192, 192);

// Drawn at the screen's scale (2 device pixels a pixel on a doubled screen), so the pictures stay
// sharp there; painters work in the picture's own pixels either way.
QPixmap blank(QSize size, const QColor& fill = kLightGrey)
{
    const qreal scale = qGuiApp ? qMax<qreal>(1.0, qGuiApp->devicePixelRatio()) : 1.0;
    QPixmap pm(size * scale);
    pm.setDevicePixelRatio(scale);
    pm.fill(fill);
    return pm;
}

QRect area(const QPixmap& pm) { return QRect(QPoint(0, 0), pm.deviceIndependentSize().toSize()); }

QFont arial(double points, bool bold = false)
{
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void draw_speaker(QPainter& p, const QRectF& r, const QColor& c)
{
    const double w = r.width(), h = r.height();
    QPolygonF body;
    body << QPointF(r.left() + w * 0.10, r.top() + h * 0.35) << QPointF(r.left() + w * 0.30, r.top() + h * 0.35)
         << QPointF(r.left() + w * 0.55, r.top() + h * 0.10) << QPointF(r.left() + w * 0.55, r.top() + h * 0.90)
         << QPointF(r.left() + w * 0.30, r.top() + h * 0.65) << QPointF(r.left() + w * 0.10, r.top() + h * 0.65);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(body);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c, std::max(1.0, w / 16)));
    for (int i = 1; i <= 2; ++i) {
        const double rr = w * 0.14 * i;
        p.drawArc(QRectF(r.left() + w * 0.55 - rr, r.center().y() - rr, 2 * rr, 2 * rr), -45 * 16, 90 * 16);
    }
}

void draw_triangle(QPainter& p, const QRectF& r, MenuGlyph g, const QColor& c)
{
    const QPointF m = r.center();
    const double s = std::min(r.width(), r.height()) * 0.35;
    QPolygonF t;
    switch (g) {
    case MenuGlyph::Up: t << QPointF(m.x(), m.y() - s) << QPointF(m.x() + s, m.y() + s * 0.7) << QPointF(m.x() - s, m.y() + s * 0.7); break;
    case MenuGlyph::Down: t << QPointF(m.x(), m.y() + s) << QPointF(m.x() + s, m.y() - s * 0.7) << QPointF(m.x() - s, m.y() - s * 0.7); break;
    case MenuGlyph::Left: t << QPointF(m.x() - s, m.y()) << QPointF(m.x() + s * 0.7, m.y() - s) << QPointF(m.x() + s * 0.7, m.y() + s); break;
    case MenuGlyph::Right: t << QPointF(m.x() + s, m.y()) << QPointF(m.x() - s * 0.7, m.y() - s) << QPointF(m.x() - s * 0.7, m.y() + s); break;
    default: return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(t);
}
} // namespace

QPixmap design_power_symbol(QSize size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const double d = std::min(size.width(), size.height()) * 0.6;
    const QRectF r(size.width() / 2.0 - d / 2, size.height() / 2.0 - d / 2 + 1, d, d);
    p.setPen(QPen(Qt::black, std::max(2.0, d / 10), Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, 120 * 16, -300 * 16);
    p.drawLine(QPointF(r.center().x(), r.top() - 2), QPointF(r.center().x(), r.center().y()));
    return pm;
}

QPixmap design_lock_word(QSize size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setFont(arial(9.75, true));
    p.drawText(area(pm), Qt::AlignCenter, QStringLiteral("Lock"));
    return pm;
}

QPixmap design_speaker(QSize size)
{
    QPixmap pm = blank(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw_speaker(p, QRectF(QPointF(size.width() * 0.2, size.height() * 0.15), QSizeF(size.width() * 0.6, size.height() * 0.7)), Qt::black);
    return pm;
}

QPixmap design_menu_key(MenuGlyph glyph)
{
    QPixmap pm = blank(QSize(46, 32));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (glyph) {
    case MenuGlyph::Ok:
    case MenuGlyph::Menu:
    case MenuGlyph::Exit: {
        p.setFont(arial(9, true));
        p.setPen(Qt::black);
        const char* word = glyph == MenuGlyph::Ok ? "OK" : glyph == MenuGlyph::Menu ? "Menu" : "Exit";
        p.drawText(area(pm), Qt::AlignCenter, QString::fromLatin1(word));
        break;
    }
    default: draw_triangle(p, QRectF(area(pm)), glyph, Qt::black);
    }
    return pm;
}

QPixmap design_start_hint()
{
    QPixmap pm = blank(QSize(170, 13));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor red(255, 0, 0);
    QPolygonF arrow;
    arrow << QPointF(1, 6.5) << QPointF(8, 1) << QPointF(8, 4) << QPointF(16, 4) << QPointF(16, 9) << QPointF(8, 9) << QPointF(8, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(red);
    p.drawPolygon(arrow);
    QFont f = arial(7, true);
    f.setPixelSize(11);
    p.setFont(f);
    p.setPen(red);
    p.drawText(QRect(20, 0, 150, 13), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Click Refresh to START !"));
    return pm;
}

QPixmap design_key_map()
{
    // Key caps with red legends: the main keyboard row on the left, the numeric keypad on the right.
    QPixmap pm = blank(QSize(339, 96), QColor(224, 224, 224));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor red(200, 0, 0);
    auto cap = [&](int x, int y, const QString& key, const QString& legend, MenuGlyph glyph = MenuGlyph::Ok, bool draw_glyph = false, bool speaker = false) {
        const QRectF r(x, y, 26, 26);
        p.setPen(QPen(Qt::darkGray, 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(r, 3, 3);
        QFont kf = arial(6);
        kf.setPixelSize(8);
        p.setFont(kf);
        p.setPen(Qt::black);
        p.drawText(QRectF(x + 2, y + 1, 22, 9), Qt::AlignLeft | Qt::AlignTop, key);
        const QRectF lr(x + 1, y + 9, 24, 16);
        if (speaker) {
            draw_speaker(p, lr.adjusted(5, 1, -5, -1), red);
        } else if (draw_glyph) {
            draw_triangle(p, lr, glyph, red);
        } else {
            QFont lf = arial(6, true);
            lf.setPixelSize(legend.size() > 3 ? 7 : 9);
            p.setFont(lf);
            p.setPen(red);
            p.drawText(lr, Qt::AlignCenter, legend);
        }
    };
    // Main keyboard: modes, outputs, inputs.
    cap(4, 4, "1", "Matrix");
    cap(32, 4, "2", "Dual");
    cap(60, 4, "3", "Wall");
    const char* outs[] = {"A", "S", "D", "F"};
    const char* out_legend[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i) cap(12 + 28 * i, 34, outs[i], out_legend[i]);
    const char* ins[] = {"J", "K", "L", ";"};
    for (int i = 0; i < 4; ++i) cap(130 + 28 * i, 34, ins[i], QString::number(i + 1));
    QFont tf = arial(6);
    tf.setPixelSize(9);
    p.setFont(tf);
    p.setPen(Qt::black);
    p.drawText(QRect(4, 66, 240, 26), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("1-3: display mode   A S D F: output   J K L ;: input"));
    // Numeric keypad block.
    const int kx = 250, ky = 4;
    cap(kx, ky, "7", "", MenuGlyph::Ok, false, true);
    cap(kx + 28, ky, "8", "", MenuGlyph::Up, true);
    cap(kx + 56, ky, "9", "Lock");
    cap(kx, ky + 30, "4", "", MenuGlyph::Left, true);
    cap(kx + 28, ky + 30, "5", "OK");
    cap(kx + 56, ky + 30, "6", "", MenuGlyph::Right, true);
    cap(kx, ky + 60, "1", "Exit");
    cap(kx + 28, ky + 60, "2", "", MenuGlyph::Down, true);
    cap(kx + 56, ky + 60, "3", "Menu");
    return pm;
}

} // namespace tavrion
