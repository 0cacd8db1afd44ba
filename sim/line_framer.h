// Cuts the byte stream from the panel into command lines at each CR, the way the device's
// receiver does. A stray LF (from a sender that ends lines with CR LF) is dropped; anything else
// that is not six characters becomes a line the device refuses.
#pragma once

#include <string>
#include <vector>

namespace tavrion_sim {

class LineFramer {
public:
    struct Line {
        std::string raw;   // the bytes as received, CR included
        std::string text;  // the command without CR and without stray LF
    };

    // Longest line kept; a sender that never sends CR cannot make the device grow without end.
    static constexpr size_t max_line = 64;

    std::vector<Line> feed(const char* data, size_t size);
    std::vector<Line> feed(const std::string& data) { return feed(data.data(), data.size()); }
    void clear() { raw_.clear(); text_.clear(); }

private:
    std::string raw_;
    std::string text_;
};

}  // namespace tavrion_sim
