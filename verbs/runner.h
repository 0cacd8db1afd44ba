// Carrying out one verb on a device: each verb as the commands the window's buttons send, the
// status chain as Refresh in the expanded window, backup, restore and diff. The result is a typed
// value that tavrion-ctl prints and tavrion-hub serialises.
//
// Exit status: 0 done; 1 the device refused (ERR), answered another code, fell silent, did not
// take a value, or its state does not allow the verb, and diff/restore found differences; 2 a
// usage error (found before anything is sent); 3 the link could not be opened, was lost, or a
// restarted device did not come back.
#pragma once

#include "verbs/device.h"
#include "verbs/device_status.h"
#include "verbs/grammar.h"

#include <string>
#include <vector>

namespace tavrion::verbs {

enum ExitStatus : int { kExitDone = 0, kExitDevice = 1, kExitUsage = 2, kExitLink = 3 };

// One thing a verb reports, in order: a line of text, a status read, or a difference found.
struct Report {
    enum class Kind { Line, Status, Difference };
    Kind kind = Kind::Line;
    std::string line;        // Line
    DeviceStatus status;     // Status
    bool json = false;       // Status: as the JSON document rather than the table
    Difference difference;   // Difference
};

struct VerbResult {
    int status = kExitDone;
    std::vector<Report> reports;       // what the verb reports, in order
    std::vector<std::string> messages; // notes and the failure, for the user (without a program name)
    DeviceStatus state;                // the link's model afterwards: what the device has reported

    std::vector<Difference> differences() const;
};

// The text of one report as the command line prints it (a table or document for a status read).
std::string report_text(const Report& report, const std::vector<std::string>* resolutions);
// All reports as text, one after the other.
std::string reports_text(const VerbResult& result, const std::vector<std::string>* resolutions);

struct Context {
    const std::vector<std::string>* resolutions = nullptr; // output_reso.txt; null when unreadable
    std::string link_name;                                  // "COM1", "10.0.0.7:23": for messages
    int wait_ready = 0; // seconds to wait for a restarted device; 0 = do not wait
};

VerbResult run_verb(const Verb& verb, Device& device, const Context& context);

} // namespace tavrion::verbs
