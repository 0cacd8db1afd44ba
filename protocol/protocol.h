// The KV-7720 line protocol: framing, the acceptance rule for received lines and pad3.
// Free of Qt so that it can be unit-tested and fuzzed on its own.
#pragma once

#include <string>

namespace tavrion {

constexpr char kCR = 13;
constexpr int kLineLength = 7;       // six characters and a terminator
constexpr int kNetAnswerLength = 16; // the answer to EIP999 / EMK999 / EGW999

// Three decimal digits with leading zeros. Values outside 0..999 are clamped, so the result is
// always a three-character parameter the device can parse.
std::string pad3(int n);

// The seven bytes that go on the wire for a six-character command.
std::string frame_command(const std::string& command);

enum class LineVerdict {
    NeedMore, // fewer than seven characters collected: nothing examined yet
    Rejected, // characters 4..6 are not all digits: the buffer must be emptied
    Accepted, // the buffer has been cut to the six-character reply
};

// Applies the acceptance rule to the receive buffer. On Accepted `reply_text` is cut to its first
// six characters; on Rejected the caller empties it (and resets its count).
LineVerdict examine_line(std::string& reply_text, int rx_count);

// The reply's code (characters 1..3); empty when the text is shorter.
std::string reply_code(const std::string& reply_text);

// The numeric value of the reply's last character, or -1 when it is not a digit.
int reply_last_digit(const std::string& reply_text);

// The numeric value of the reply's last two characters, or -1 when they are not both digits.
int reply_last_two(const std::string& reply_text);

// The numeric value of the reply's last three characters, or -1 when they are not all digits.
int reply_last_three(const std::string& reply_text);

} // namespace tavrion
