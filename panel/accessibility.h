// What a screen reader is told beyond Qt's defaults: names for controls that share a caption or
// show none, the on/off state of buttons that show it only by colour or picture, and the main
// window's role.
#pragma once

#include "panel/indexed.h"

#include <QString>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QWidget;

namespace tavrion {

struct MainControls;

// How a button shows its state without words: the selection colour (mode, output, input,
// presets) or an on/off picture (power, audio output, lock).
enum class StateMark { Selection, Picture };

// Gives the button an accessible interface that reports its state as checked. Before the button
// is first asked for its interface, that is, while the window is built.
void mark_state_button(QAbstractButton* b, StateMark kind);
// Whether the marked button shows "on"; a change is announced to screen readers. Widgets that
// are not marked, or not of that kind, are left alone.
void set_shown_on(QWidget* w, StateMark kind, bool on);
bool shown_on(const QWidget* w);

// Reported as a frame (a window), not as a filler.
void mark_as_frame(QWidget* window);

// Names, buddies and state marks of the main window's controls; once, while building it.
void name_controls(MainControls& c);

// The names that depend on the captions a display mode gives: the output buttons ("Output A",
// "Output AL") and the picture rows ("Contrast, Out B", "Contrast value, ALL").
void name_outputs(const Indexed<QPushButton, 1, 4>& cmd_out);
void name_picture_rows(const char* property, const Indexed<QLabel, 1, 4>& labels,
                       const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes);

// After the captions changed: every control of C named from them, C being the main window's
// controls or a feature's share of them.
template <class C>
void name_from_captions(const C& c)
{
    name_outputs(c.cmd_out);
    name_picture_rows("Contrast", c.lab_con, c.hsr_con, c.txt_con);
    name_picture_rows("Brightness", c.lab_bri, c.hsr_bri, c.txt_bri);
    name_picture_rows("Saturation", c.lab_sat, c.hsr_sat, c.txt_sat);
    name_picture_rows("Hue", c.lab_hue, c.hsr_hue, c.txt_hue);
}

} // namespace tavrion
