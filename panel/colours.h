// Button backgrounds that show state, and how a button is given one.
#pragma once

#include <QColor>

class QWidget;

namespace tavrion {

inline const QColor selection_colour{80, 192, 255};
inline const QColor connected_colour{0, 192, 0};
inline const QColor connecting_colour{192, 192, 0};
inline const QColor disconnected_colour{255, 0, 0};
inline const QColor light_grey_colour{192, 192, 192};

// The system's button face colour.
QColor button_face_colour();

// Any colour but the button face fills the button's face flat with exactly that colour, enabled
// or disabled; the button face gives the system's own look back.
void set_back_colour(QWidget* w, const QColor& c);
QColor back_colour(const QWidget* w);

} // namespace tavrion
