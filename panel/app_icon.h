// Tavrion's application icon: a switcher's four inputs routed to four outputs in the colours of
// the window's routing lines. Drawn, not loaded, so it is sharp at every size and screen scale;
// the build writes it as PNG files for the desktop entry as well.
#pragma once

#include <QIcon>
#include <QImage>

namespace tavrion {

QImage draw_app_icon(int size);  // size x size pixels, transparent outside the rounded square
QIcon app_icon();                // the icon at the usual sizes, for the window title bar

} // namespace tavrion
