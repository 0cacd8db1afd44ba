// How the text of the address box names the device: "host", "host:port", "[v6]:port" or a bare
// IPv6 address. Port 23 unless one is given.
#pragma once

#include <string>

namespace tavrion {

constexpr int kDefaultDevicePort = 23;

struct RemoteAddress {
    std::string host;
    int port = kDefaultDevicePort;
};

// `text` is already trimmed. A port that is not a number in 1..65535 leaves the text as the host
// (the connection attempt then fails by the usual timeout rather than going somewhere unexpected).
RemoteAddress parse_remote_address(const std::string& text);

} // namespace tavrion
