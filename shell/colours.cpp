#include "shell/colours.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace tavrion {

QColor button_face_colour() { return QApplication::palette().color(QPalette::Button); }

void set_back_colour(QWidget* w, const QColor& c)
{
    if (!w) return;
    QPalette p = w->palette();
    if (p.color(QPalette::Button) == c) return;
    p.setColor(QPalette::Button, c);
    w->setPalette(p);
}

QColor back_colour(const QWidget* w) { return w ? w->palette().color(QPalette::Button) : QColor(); }

} // namespace tavrion
