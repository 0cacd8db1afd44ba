#include "panel/line_shape.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace tavrion {

namespace {
constexpr double kTwipsPerPixel = 15.0;
constexpr int kMargin = 2; // room for the 2-pixel pen around the end points
} // namespace

LineShape::LineShape(QWidget* parent, int x1, int y1, int x2, int y2, const QColor& colour)
    : QWidget(parent), colour_(colour)
{
    const double px1 = x1 / kTwipsPerPixel, py1 = y1 / kTwipsPerPixel;
    const double px2 = x2 / kTwipsPerPixel, py2 = y2 / kTwipsPerPixel;
    const int left = int(std::min(px1, px2)) - kMargin;
    const int top = int(std::min(py1, py2)) - kMargin;
    const int right = int(std::max(px1, px2) + 0.999) + kMargin;
    const int bottom = int(std::max(py1, py2) + 0.999) + kMargin;
    setGeometry(left, top, right - left, bottom - top);
    a_ = QPointF(px1 - left, py1 - top);
    b_ = QPointF(px2 - left, py2 - top);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
}

QPoint LineShape::p1() const { return (a_ + QPointF(pos())).toPoint(); }
QPoint LineShape::p2() const { return (b_ + QPointF(pos())).toPoint(); }

void LineShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(colour_, 2);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.drawLine(a_, b_);
}

} // namespace tavrion
