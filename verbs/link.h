// Where a unit is reached and what lies beside the program: the link that the options, a units
// file or tavrion.ini name, parsed in one place for tavrion-ctl and tavrion-hub, and the
// resolution list both read.
#pragma once

#include "verbs/device.h"
#include "verbs/grammar.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::verbs {

// The link `option` (--serial or --tcp) names with `value`: COMn or a device path, HOST[:PORT].
// False, with `error`, when it names none or `link` already names one.
bool parse_link(const std::string& option, std::string value, LinkChoice& link, std::string& error);

// The link to open.
struct LinkTarget {
    bool serial = true;
    int com_port = 1;        // serial, when serial_path is empty: COM1..COM9 as the panel opens it
    std::string serial_path; // serial: a device path given with --serial
    RemoteAddress tcp;
    std::string name() const; // "COM1", "/dev/ttyUSB0", "10.0.0.7:23"
};

// The link that `choice` names, or the one of tavrion.ini in `program_dir` (only read) when it
// names none; nothing, with `error` saying why, when tavrion.ini gives no usable link.
std::optional<LinkTarget> link_target(const LinkChoice& choice, const std::string& program_dir, std::string& error);

// Opens the link and returns the session on it; on failure nothing, with `error` naming the port
// or address and what went wrong.
using DeviceOpener = std::function<std::unique_ptr<Device>(const LinkTarget& link, std::string& error)>;

// A file beside the program, when it can be read and is no larger than a settings file may be.
std::optional<std::string> read_beside(const std::string& program_dir, const char* name);
// The entries of output_reso.txt beside the program; nothing when it cannot be read or used.
std::optional<std::vector<std::string>> resolution_list(const std::string& program_dir);

} // namespace tavrion::verbs
