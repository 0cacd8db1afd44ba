// How the text of the address box names the device: "host", "host:port", "[v6]:port" or a bare
// IPv6 address. Port 23 unless one is given.
#pragma once

#include <optional>
#include <string>

namespace tavrion {

constexpr int kDefaultDevicePort = 23;

struct RemoteAddress {
    std::string host;
    int port = kDefaultDevicePort;
};

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address, taken apart at the port's colon:
// the host as written (an IPv6 address keeps its brackets) and the port's text, when one is written.
// Nothing when a bracket is left open or text follows the closing bracket without a colon.
struct HostPort {
    std::string host;
    std::optional<std::string> port;
};
std::optional<HostPort> split_host_port(const std::string& text);

// `text` is already trimmed. A port that is not a number in 1..65535 leaves the text as the host
// (the connection attempt then fails by the usual timeout rather than going somewhere unexpected).
RemoteAddress parse_remote_address(const std::string& text);

} // namespace tavrion
