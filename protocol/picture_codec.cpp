#include "protocol/picture_codec.h"

namespace tavrion {

namespace {
bool per_output_layout(int display_mode) { return display_mode == 2 || display_mode == 3; }
} // namespace

int encode_picture_parameter(int display_mode, int row, int value)
{
    if (row < 1 || row > kPictureRows || value < 0 || value > kPictureMax) return -1;
    if (display_mode == 1) return value; // one set of values serves every output
    if (per_output_layout(display_mode)) return value + kPictureRowStride * (row - 1);
    return -1;
}

std::optional<PictureTarget> decode_picture_parameter(int display_mode, int parameter)
{
    if (parameter < 0) return std::nullopt;
    if (display_mode == 1) {
        if (parameter > kPictureMax) return std::nullopt;
        return PictureTarget{1, parameter};
    }
    if (!per_output_layout(display_mode)) return std::nullopt;
    const int row = parameter / kPictureRowStride + 1;
    const int value = parameter - kPictureRowStride * (row - 1);
    if (row > kPictureRows || value > kPictureMax) return std::nullopt;
    return PictureTarget{row, value};
}

int picture_query_parameter(int display_mode, int row)
{
    if (display_mode == 1) return 999;
    if (per_output_layout(display_mode) && row >= 1 && row <= kPictureRows) return 990 + row;
    return -1;
}

} // namespace tavrion
