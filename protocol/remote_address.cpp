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

std::optional<HostPort> split_host_port(const std::string& text)
{
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) return std::nullopt;
        const std::string rest = text.substr(close + 1);
        if (rest.empty()) return HostPort{text, std::nullopt};
        if (rest.front() != ':') return std::nullopt;
        return HostPort{text.substr(0, close + 1), rest.substr(1)};
    }
    // Several colons without brackets: a bare IPv6 address, which cannot carry a port.
    if (std::count(text.begin(), text.end(), ':') != 1) return HostPort{text, std::nullopt};
    const auto pos = text.find(':');
    return HostPort{text.substr(0, pos), text.substr(pos + 1)};
}

RemoteAddress parse_remote_address(const std::string& text)
{
    RemoteAddress r;
    r.host = text;
    const auto parts = split_host_port(text);
    if (!parts) return r;
    const bool bracketed = !text.empty() && text.front() == '[';
    const std::string host = bracketed ? parts->host.substr(1, parts->host.size() - 2) : parts->host;
    int port = 0;
    if (!parts->port) {
        r.host = host;
    } else if ((bracketed || !host.empty()) && parse_port(*parts->port, port)) {
        r.host = host;
        r.port = port;
    }
    return r; // a port that is not one leaves the whole text as the host
}

} // namespace tavrion
