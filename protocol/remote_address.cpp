#include "protocol/remote_address.h"

#include <algorithm>

namespace tavrion {

namespace {
bool parse_port(const std::string& s, int& port)
{
    if (s.empty() || s.size() > 5) return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return false;
    port = v;
    return true;
}
} // namespace

RemoteAddress parse_remote_address(const std::string& text)
{
    RemoteAddress r;
    r.host = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) return r;
        const std::string host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (rest.empty()) {
            r.host = host;
        } else if (rest.front() == ':' && parse_port(rest.substr(1), r.port)) {
            r.host = host;
        }
        return r;
    }
    const auto colons = std::count(text.begin(), text.end(), ':');
    if (colons == 1) {
        const auto pos = text.find(':');
        int port = 0;
        if (pos > 0 && parse_port(text.substr(pos + 1), port)) {
            r.host = text.substr(0, pos);
            r.port = port;
        }
    }
    return r; // no colon: plain host; several: a bare IPv6 address on port 23
}

} // namespace tavrion
