// The simulator's receive side: the line framer cuts the byte stream at CR and the device model
// answers each line. The same stream fed whole and in input-chosen pieces must give the same
// lines; every answer must be a well-formed reply; the device state must stay within its ranges.
//
// Input: one byte (bits 0-3: piece size - 1; bit 4: the device starts in standby; bits 5-6:
// display mode 1..3, 0 keeps Matrix), then the bytes the panel would send.
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_input.h"
#include "sim/device_model.h"
#include "sim/line_framer.h"

#include <vector>

namespace tavrion::fuzz {

namespace {

using tavrion_sim::DeviceModel;
using tavrion_sim::DeviceState;
using tavrion_sim::LineFramer;
using tavrion_sim::PresetContent;

bool upper(char c) { return c >= 'A' && c <= 'Z'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

bool in(int v, int lo, int hi) { return v >= lo && v <= hi; }

void check_content(const PresetContent& p, const DeviceState& s)
{
    FUZZ_CHECK(in(p.mode, 1, 3));
    for (int r : p.routes) FUZZ_CHECK(in(r, 1, 4));
    for (const auto* values : {&p.brightness, &p.contrast, &p.hue, &p.saturation})
        for (int v : *values) FUZZ_CHECK(in(v, 0, 100));
    FUZZ_CHECK(in(p.bezel_h, 0, s.bezel_h_max));
    FUZZ_CHECK(in(p.bezel_v, 0, s.bezel_v_max));
    FUZZ_CHECK(in(p.dual_a_audio, 1, 2) && in(p.dual_b_audio, 1, 2));
    FUZZ_CHECK(in(p.resolution, 1, s.resolution_count));
}

void check_state(const DeviceState& s)
{
    check_content(s, s);
    for (const PresetContent& p : s.presets) check_content(p, s);
    FUZZ_CHECK(in(s.audio_edid, 0, 4));
    FUZZ_CHECK(in(s.current_output, 1, 4));
}

void check_reply(const std::string& command, const std::string& reply)
{
    if (reply.empty()) return;
    FUZZ_CHECK(reply.back() == '\r');
    const std::string code = command.substr(0, 3);
    if (reply.size() == 16) { // the address answer to EIP, EMK, EGW
        FUZZ_CHECK(code == "EIP" || code == "EMK" || code == "EGW");
        for (std::size_t i = 0; i < 15; ++i) FUZZ_CHECK(i % 4 == 3 ? reply[i] == '.' : digit(reply[i]));
        return;
    }
    FUZZ_CHECK(reply.size() == 7);
    FUZZ_CHECK(upper(reply[0]) && upper(reply[1]) && upper(reply[2]));
    FUZZ_CHECK(digit(reply[3]) && digit(reply[4]) && digit(reply[5]));
    // The device answers with the command's own code, or refuses it.
    FUZZ_CHECK(reply.compare(0, 3, "ERR") == 0 || reply.compare(0, 3, code) == 0);
}

bool same(const std::vector<LineFramer::Line>& a, const std::vector<LineFramer::Line>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].raw != b[i].raw || a[i].text != b[i].text) return false;
    return true;
}

} // namespace

int sim_parser_one(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t head = in.byte();
    const std::size_t piece = 1 + (head & 0x0F);
    const std::string stream = in.rest();

    LineFramer whole;
    const std::vector<LineFramer::Line> expected = whole.feed(stream);

    LineFramer framer;
    std::vector<LineFramer::Line> lines;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const auto got = framer.feed(stream.data() + at, std::min(piece, stream.size() - at));
        lines.insert(lines.end(), got.begin(), got.end());
    }
    FUZZ_CHECK(same(lines, expected));

    DeviceState start;
    start.power_on = !(head & 0x10);
    if (head & 0x60) start.mode = (head >> 5) & 3;
    DeviceModel device(start);
    for (const LineFramer::Line& line : lines) {
        FUZZ_CHECK(line.raw.size() <= LineFramer::max_line && !line.text.empty());
        FUZZ_CHECK(line.text.size() <= LineFramer::max_line + 1);
        FUZZ_CHECK(line.text.find('\r') == std::string::npos && line.text.find('\n') == std::string::npos);
        const std::string reply = device.handle(line.text);
        check_reply(line.text, reply);
        check_state(device.state());
    }
    return 0;
}

} // namespace tavrion::fuzz

TAVRION_FUZZ_ENTRY(tavrion::fuzz::sim_parser_one)
