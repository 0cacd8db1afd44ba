// Pictures that belong to the window design and never change with the device's state: the power
// symbol and "Lock" shown before the first reply, the speaker, the menu keys, the start hint and
// the key map of the keypad window. Drawn here so the program needs no files for them. Sizes are in
// pixels of the window; the pixmaps carry the screen's device pixel ratio.
#pragma once

#include <QPixmap>

namespace tavrion {

enum class MenuGlyph { Up, Down, Left, Right, Ok, Menu, Exit };

QPixmap design_power_symbol(QSize size);
QPixmap design_lock_word(QSize size);
QPixmap design_speaker(QSize size);
QPixmap design_menu_key(MenuGlyph glyph); // 46 x 32
QPixmap design_start_hint();              // 170 x 13: arrow and "Click Refresh to START !"
QPixmap design_key_map();                 // 339 x 96: the keypad window's key assignments

} // namespace tavrion
