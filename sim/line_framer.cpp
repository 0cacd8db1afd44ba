#include "sim/line_framer.h"

namespace tavrion_sim {

std::vector<LineFramer::Line> LineFramer::feed(const char* data, size_t size)
{
    std::vector<Line> lines;
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (raw_.size() < max_line) raw_ += c;
        if (c == '\r') {
            // A bare CR (an empty line) is line noise, not a command: no answer.
            if (!text_.empty()) lines.push_back(Line{raw_, text_});
            raw_.clear();
            text_.clear();
            continue;
        }
        if (c == '\n') continue;
        // Keep one character more than a command can have, so that an overlong line still
        // counts as not six characters however long it grows.
        if (text_.size() <= max_line) text_ += c;
    }
    return lines;
}

}  // namespace tavrion_sim
