// The parameter of the picture commands and replies (BRI, CON, HUE, SAT): which row of the window
// and which slider value a three-digit parameter stands for in each layout. Free of Qt so that it
// can be tested on its own.
#pragma once

#include <optional>

namespace tavrion {

constexpr int kPictureRows = 4;
constexpr int kPictureMax = 100; // slider range is 0..100
constexpr int kPictureRowStride = 200;

struct PictureTarget {
    int row;   // 1..4
    int value; // 0..100
};

// The parameter to send when slider `row` is set to `value` in `display_mode` (1 Matrix: the value
// itself; 2 Dual, 3 TV Wall: value + 200 per row below the first). -1 when the layout is unknown
// or row or value lie outside the window's controls, so nothing is sent.
int encode_picture_parameter(int display_mode, int row, int value);

// The row and value a reply parameter names, or nothing when it names no row or no slider position
// of the window (a Matrix value above 100, a Dual/TV Wall parameter of 800 or more or with a value
// part above 100, a negative parameter, an unknown layout).
std::optional<PictureTarget> decode_picture_parameter(int display_mode, int parameter);

// The query parameter of a refresh: 999 for the single Matrix value, 991..994 for rows 1..4 in
// Dual and TV Wall; -1 for anything else.
int picture_query_parameter(int display_mode, int row);

} // namespace tavrion
