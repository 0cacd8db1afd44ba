#include "protocol/protocol.h"

namespace tavrion {

namespace {
bool is_digit(char c) { return c >= '0' && c <= '9'; }
} // namespace

std::string pad3(int n)
{
    if (n < 0) n = 0;
    if (n > 999) n = 999;
    std::string s(3, '0');
    s[0] = char('0' + n / 100);
    s[1] = char('0' + n / 10 % 10);
    s[2] = char('0' + n % 10);
    return s;
}

std::string frame_command(const std::string& command)
{
    std::string out = command;
    out.push_back(kCR);
    return out;
}

LineVerdict examine_line(std::string& reply_text, int rx_count)
{
    if (rx_count < kLineLength || reply_text.size() < 6) return LineVerdict::NeedMore;
    for (int i = 3; i < 6; ++i)
        if (!is_digit(reply_text[std::size_t(i)])) return LineVerdict::Rejected;
    reply_text.resize(6);
    return LineVerdict::Accepted;
}

std::string reply_code(const std::string& reply_text)
{
    return reply_text.size() >= 3 ? reply_text.substr(0, 3) : std::string();
}

namespace {
int tail_value(const std::string& text, std::size_t digits)
{
    if (text.size() < digits) return -1;
    int v = 0;
    for (std::size_t i = text.size() - digits; i < text.size(); ++i) {
        if (!is_digit(text[i])) return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}
} // namespace

int reply_last_digit(const std::string& reply_text) { return tail_value(reply_text, 1); }
int reply_last_two(const std::string& reply_text) { return tail_value(reply_text, 2); }
int reply_last_three(const std::string& reply_text) { return tail_value(reply_text, 3); }

} // namespace tavrion
