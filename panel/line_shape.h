// A straight line between two fixed points, drawn 2 pixels wide in one colour; shown or hidden,
// never moved. Positions are in twips of the container.
#pragma once

#include <QColor>
#include <QWidget>

namespace tavrion {

class LineShape : public QWidget {
    Q_OBJECT
public:
    LineShape(QWidget* parent, int x1, int y1, int x2, int y2, const QColor& colour);
    QPoint p1() const;  // end points in the container's pixels
    QPoint p2() const;
    QColor colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPointF a_, b_; // in the widget's own pixels
    QColor colour_;
};

} // namespace tavrion
