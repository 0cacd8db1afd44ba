// Carrying out a parsed invocation on a device: each verb as the commands the window's buttons
// send, the status chain as Refresh in the expanded window, backup, restore and diff; results to
// `out`, errors to `err`, and the exit status.
//
// Exit status: 0 done; 1 the device refused (ERR), answered another code, fell silent, did not
// take a value, or its state does not allow the verb, and diff/restore found differences; 2 a
// usage error (found before anything is sent); 3 the link could not be opened, was lost, or a
// restarted device did not come back.
#pragma once

#include "ctl/device.h"
#include "ctl/invocation.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::ctl {

enum ExitStatus : int { kExitDone = 0, kExitDevice = 1, kExitUsage = 2, kExitLink = 3 };

struct Context {
    const std::vector<std::string>* resolutions = nullptr; // output_reso.txt; null when unreadable
    std::string link_name;                                  // "COM1", "10.0.0.7:23": for messages
    std::function<std::string()> timestamp;                 // --verbose; default: local time, ms
    std::string* state_json = nullptr; // when given: the device as the verb's answers reported it
};

int run(const Invocation& invocation, Device& device, std::ostream& out, std::ostream& err,
        const Context& context);

// ---- what main does --------------------------------------------------------------------------

// The link to open, as the options or tavrion.ini name it.
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

// The whole program: parse (usage errors: 2, nothing opened), --help, the link from the options or
// from tavrion.ini in `program_dir`, open (failure: 3), run.
int run_program(const std::vector<std::string>& args, const std::string& program_dir, const DeviceOpener& open,
                std::ostream& out, std::ostream& err);

} // namespace tavrion::ctl
