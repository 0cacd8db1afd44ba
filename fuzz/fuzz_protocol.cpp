// Framing and acceptance on their own (no Qt, thousands of inputs a second): the input is a reply
// stream cut into chunks of its own choosing, assembled into the receive buffer chunk by chunk as
// the serial tick and the socket event do, and every verdict is checked against the rule.
//
// Input: one flag byte (bit 0: a network query is pending, so the serial receiver takes a
// 16-character answer whole; bit 1: the socket receiver, which has no such answer), one byte
// for pad3, then chunks of [length byte][bytes].
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_input.h"
#include "protocol/protocol.h"

namespace tavrion::fuzz {

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

void check_pad3(int n)
{
    const std::string s = pad3(n);
    FUZZ_CHECK(s.size() == 3 && digit(s[0]) && digit(s[1]) && digit(s[2]));
    const int clamped = n < 0 ? 0 : n > 999 ? 999 : n;
    FUZZ_CHECK((s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0') == clamped);
    FUZZ_CHECK(frame_command("OUT" + s) == "OUT" + s + "\r");
}

void check_accepted_reply(const std::string& reply, const std::string& before)
{
    FUZZ_CHECK(reply.size() == 6);
    FUZZ_CHECK(before.compare(0, 6, reply) == 0);
    FUZZ_CHECK(reply_code(reply) == before.substr(0, 3));
    const int value = (reply[3] - '0') * 100 + (reply[4] - '0') * 10 + (reply[5] - '0');
    FUZZ_CHECK(reply_last_three(reply) == value);
    FUZZ_CHECK(reply_last_two(reply) == value % 100);
    FUZZ_CHECK(reply_last_digit(reply) == value % 10);
}

} // namespace

int protocol_one(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t flags = in.byte();
    const bool net_pending = flags & 1;
    const bool socket = flags & 2;
    check_pad3(int(std::int8_t(in.byte())) * 9); // -1152..1143: inside and outside 0..999

    std::string reply_text;
    int rx_count = 0;
    while (!in.empty()) {
        const std::string chunk = in.chunk();
        if (chunk.empty()) continue; // a tick that found nothing waiting
        rx_count += int(chunk.size());
        reply_text += chunk;
        FUZZ_CHECK(std::size_t(rx_count) == reply_text.size());
        if (rx_count < kLineLength) continue;

        if (!socket && net_pending && rx_count == kNetAnswerLength) {
            // The network answer stays whole in the buffer; the query routine resets it.
            FUZZ_CHECK(reply_text.size() == 16);
            reply_text.clear();
            rx_count = 0;
            continue;
        }

        const std::string before = reply_text;
        const LineVerdict verdict = examine_line(reply_text, rx_count);
        const bool digits = digit(before[3]) && digit(before[4]) && digit(before[5]);
        if (verdict == LineVerdict::Accepted) {
            FUZZ_CHECK(digits);
            check_accepted_reply(reply_text, before);
        } else {
            FUZZ_CHECK(verdict == LineVerdict::Rejected);
            FUZZ_CHECK(!digits);
        }
        reply_text.clear();
        rx_count = 0;
    }
    // A line still being collected is never examined.
    std::string partial = reply_text;
    if (rx_count < kLineLength) FUZZ_CHECK(examine_line(partial, rx_count) == LineVerdict::NeedMore && partial == reply_text);

    // The rule must stay in bounds even when the count and the buffer disagree.
    std::string odd = reply_text.substr(0, reply_text.size() / 2);
    (void)examine_line(odd, rx_count + kLineLength);
    (void)reply_code(odd);
    (void)reply_last_three(odd);
    return 0;
}

} // namespace tavrion::fuzz

TAVRION_FUZZ_ENTRY(tavrion::fuzz::protocol_one)
