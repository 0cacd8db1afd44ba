// Draws the state pictures that the panel loads from bmp/ beside the program: power (none, on,
// standby), lock and unlock, speaker on and off. Run at build time: draw_state_pictures <folder>.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cstdio>

namespace {

const QColor kGrey(192, 192, 192);

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(kGrey);
    return img;
}

void power_symbol(QPainter& p, QRectF r, const QColor& c)
{
    p.setPen(QPen(c, 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(r, 120 * 16, -300 * 16);
    p.drawLine(QPointF(r.center().x(), r.top() - 3), QPointF(r.center().x(), r.center().y()));
}

QImage power(const QColor& ring, const QColor& lamp)
{
    QImage img = canvas(60, 33);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    power_symbol(p, QRectF(8, 6, 22, 22), ring);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(lamp);
    p.drawEllipse(QRectF(40, 11, 11, 11));
    return img;
}

QImage padlock(bool locked)
{
    QImage img = canvas(46, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor body = locked ? QColor(176, 0, 0) : QColor(0, 128, 0);
    p.setPen(QPen(Qt::black, 3));
    p.setBrush(Qt::NoBrush);
    // The shackle stands open to the right when unlocked.
    const QRectF shackle = locked ? QRectF(15, 3, 16, 18) : QRectF(23, 0, 16, 18);
    p.drawArc(shackle, 0, 180 * 16);
    p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), 15));
    if (locked) p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), 15));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(11, 14, 24, 16), 2, 2);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(21, 19, 4, 4));
    return img;
}

QImage speaker(bool on)
{
    QImage img = canvas(46, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF body;
    body << QPointF(6, 12) << QPointF(13, 12) << QPointF(22, 4) << QPointF(22, 28) << QPointF(13, 20) << QPointF(6, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPolygon(body);
    if (on) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 128, 0), 2));
        for (int i = 1; i <= 3; ++i) {
            const double rr = 4.0 * i;
            p.drawArc(QRectF(24 - rr, 16 - rr, 2 * rr, 2 * rr), -50 * 16, 100 * 16);
        }
    } else {
        p.setPen(QPen(QColor(200, 0, 0), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(27, 10), QPointF(39, 22));
        p.drawLine(QPointF(39, 10), QPointF(27, 22));
    }
    return img;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: draw_state_pictures <folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    struct Picture {
        const char* name;
        QImage image;
    } pictures[] = {
        {"power_none.bmp", power(QColor(96, 96, 96), QColor(160, 160, 160))},
        {"power_on.bmp", power(QColor(0, 128, 0), QColor(0, 255, 0))},
        {"power_standby.bmp", power(QColor(176, 0, 0), QColor(255, 64, 0))},
        {"lock.bmp", padlock(true)},
        {"unlock.bmp", padlock(false)},
        {"speaker_on.bmp", speaker(true)},
        {"speaker_off.bmp", speaker(false)},
    };
    for (const Picture& p : pictures) {
        if (!p.image.save(out.filePath(QString::fromLatin1(p.name)), "BMP")) {
            std::fprintf(stderr, "cannot write %s\n", p.name);
            return 1;
        }
    }
    return 0;
}
