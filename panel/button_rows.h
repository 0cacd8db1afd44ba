// A row of state buttons (outputs, inputs, modes, presets), of which at most one shows the
// selection colour.
#pragma once

#include "panel/colours.h"
#include "panel/indexed.h"

namespace tavrion {

template <class T, int Lo, int Hi>
void clear_row(const Indexed<T, Lo, Hi>& row)
{
    for (int n = Lo; n <= Hi; ++n) set_back_colour(row(n), button_face_colour());
}

// A reply that names no button of the row (OUT007, CAL000) changes nothing: the row keeps
// whatever highlight it has.
template <class T, int Lo, int Hi>
void select_in_row(const Indexed<T, Lo, Hi>& row, int n)
{
    if (!row.has(n)) return;
    clear_row(row);
    set_back_colour(row(n), selection_colour);
}

template <class T, int Lo, int Hi>
void enable_row(const Indexed<T, Lo, Hi>& row, bool on)
{
    for (int n = Lo; n <= Hi; ++n) row(n)->setEnabled(on);
}

} // namespace tavrion
