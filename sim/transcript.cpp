#include "sim/transcript.h"

#include <cstdio>
#include <fstream>

namespace tavrion_sim {

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string escape_bytes(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c >= 0x20 && c < 0x7f) {
                out += static_cast<char>(c);
            } else {
                char buf[5];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            }
        }
    }
    return out;
}

bool unescape_bytes(const std::string& text, std::string& bytes)
{
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
        case 'r': bytes += '\r'; break;
        case 'n': bytes += '\n'; break;
        case 't': bytes += '\t'; break;
        case '0': bytes += '\0'; break;
        case 'e': bytes += '\x1b'; break;
        case '"': bytes += '"'; break;
        case '\\': bytes += '\\'; break;
        case 'x': {
            int v = 0, digits = 0;
            while (digits < 2 && i + 1 < text.size() && hex_value(text[i + 1]) >= 0) {
                v = v * 16 + hex_value(text[++i]);
                ++digits;
            }
            if (digits == 0) return false;
            bytes += static_cast<char>(v);
            break;
        }
        default: return false;
        }
    }
    return true;
}

std::string format_entry(const TranscriptEntry& e)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%012lld", static_cast<long long>(e.micros));
    if (e.kind == "EV") return std::string(stamp) + " " + e.channel + " EV " + e.bytes;
    return std::string(stamp) + " " + e.channel + " " + e.kind + " \"" + escape_bytes(e.bytes) + "\"";
}

bool parse_entry(const std::string& line, TranscriptEntry& e)
{
    const size_t a = line.find(' ');
    if (a == std::string::npos || a == 0) return false;
    const size_t b = line.find(' ', a + 1);
    if (b == std::string::npos) return false;
    const size_t c = line.find(' ', b + 1);
    if (c == std::string::npos) return false;
    try {
        size_t used = 0;
        e.micros = std::stoll(line.substr(0, a), &used);
        if (used != a) return false;
    } catch (...) {
        return false;
    }
    e.channel = line.substr(a + 1, b - a - 1);
    e.kind = line.substr(b + 1, c - b - 1);
    const std::string rest = line.substr(c + 1);
    if (e.kind == "EV") {
        e.bytes = rest;
        return true;
    }
    if (e.kind != "RX" && e.kind != "TX") return false;
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return false;
    return unescape_bytes(rest.substr(1, rest.size() - 2), e.bytes);
}

bool load_replay(const std::string& path, std::vector<ReplayStep>& steps, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    steps.clear();
    std::string line;
    int number = 0;
    std::int64_t last_micros = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        TranscriptEntry e;
        if (!parse_entry(line, e)) {
            error = path + ":" + std::to_string(number) + ": not a transcript line";
            return false;
        }
        if (e.kind == "RX") {
            ReplayStep step;
            step.command = e.bytes;
            std::string text;
            for (char ch : step.command)
                if (ch != '\r' && ch != '\n') text += ch;
            step.command = text;
            steps.push_back(step);
            last_micros = e.micros;
        } else if (e.kind == "TX") {
            if (steps.empty()) {
                steps.push_back(ReplayStep{});
                last_micros = e.micros;
            }
            const std::int64_t gap = e.micros > last_micros ? e.micros - last_micros : 0;
            steps.back().pieces.push_back({static_cast<int>(gap / 1000), e.bytes});
            last_micros = e.micros;
        }
    }
    return true;
}

}  // namespace tavrion_sim
