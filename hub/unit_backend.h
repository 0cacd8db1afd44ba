// What the hub needs of one unit's link, behind a narrow interface of its own: open the link, read
// the state as typed values, check and run a list of verbs, restore a backup. The only hub
// file that knows how tavrion-ctl carries verbs out; everything runs in the unit's own thread.
#pragma once

#include "hub/unit_stats.h"
#include "verbs/device_status.h"
#include "verbs/link.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavrion::hub {

// The statuses of tavrion-ctl: 0 done, 1 the device refused, answered another code or fell silent,
// 2 a usage error (nothing sent), 3 the link is down or was lost.
enum CommandStatus : int { kDone = 0, kDeviceFailed = 1, kUsage = 2, kLinkDown = 3 };

struct CommandResult {
    std::string command;
    int status = kDone;
    std::string output; // what the tool prints for it, messages included
};

// Where a unit is reached: a serial port (COMn or a path) or a TCP host and port, or tavrion.ini's
// link; taken apart once, when the units are read.
class UnitLink {
public:
    UnitLink() = default; // COM1
    static std::optional<UnitLink> serial(const std::string& port, std::string& error);
    static std::optional<UnitLink> tcp(const std::string& address, std::string& error);
    static std::optional<UnitLink> from_settings(const std::string& program_dir, std::string& error);
    std::string name() const { return target_.name(); } // "COM1", "/dev/ttyUSB0", "10.20.4.11:23"
    bool on_tcp() const { return !target_.serial; }
    const verbs::LinkTarget& target() const { return target_; }

private:
    explicit UnitLink(verbs::LinkTarget target) : target_(std::move(target)) {}
    static std::optional<UnitLink> make(const char* option, const std::string& value, std::string& error);
    verbs::LinkTarget target_;
};

// The entries of output_reso.txt beside the program (empty when it cannot be read), read once by
// the hub and shared, read-only, with every unit and request.
using ResolutionNames = std::shared_ptr<const std::vector<std::string>>;
ResolutionNames resolution_names(const std::string& program_dir);

// A list of verbs checked whole: every line parses and none names a file on this machine.
// Empty when they are fine; otherwise what is wrong, naming the command.
std::string check_commands(const std::vector<std::string>& commands, const ResolutionNames& names);
// Empty when `json` is a backup that restore can put back; otherwise why not.
std::string check_backup(const std::string& json);

class UnitBackend {
public:
    UnitBackend(UnitLink link, std::string program_dir, ResolutionNames names);
    ~UnitBackend();
    UnitBackend(const UnitBackend&) = delete;
    UnitBackend& operator=(const UnitBackend&) = delete;

    // Opens the link as tavrion-ctl does (TCP: up to the panel's 7 s). False, with why, on failure.
    bool open(std::string& error);
    bool link_up() const;
    // Called (in the unit's thread) whenever the open link goes down, also in the middle of a
    // command: the device restarted, dropped the connection, or the serial device went away.
    void on_link_down(std::function<void()> handler);
    // A command that restarts the unit over TCP (power on, factory reset) is under way, as its
    // session tells, or the restarted unit is being waited for: the link's loss is the expected
    // course, not a fault.
    bool restarting() const;
    // The unit's last exchange got no answer it could read (it fell silent); false again once it
    // answers.
    bool unanswered() const;

    // The unit's state is its session's device model: every reply the session accepts (an answer,
    // a late answer, an unsolicited reply) goes into it. `handler` is called (in the unit's thread)
    // for each reply that reached the model, so that the state can be taken again.
    void on_reported(std::function<void()> handler);
    // The model as it stands: what the device has reported so far.
    verbs::DeviceStatus status() const;
    // Whether, since the last call, the device reported what changes more than its replies say (a
    // preset recall, a reset) or took the restart course: only a full reading shows the state then.
    bool take_full_read_due();

    struct StateRead {
        int status = kDone;
        std::string message; // why the reading stopped, when status is not 0
    };
    // The full reading: the status chain as `status --json` runs it, into the model.
    StateRead read_state();

    // Runs checked commands in order and stops at the first that fails. After a restart over TCP
    // (power on, factory reset) it waits for the unit to answer again before going on. Before
    // each command after the first, `stop_here` may end the run there.
    std::vector<CommandResult> run(const std::vector<std::string>& commands,
                                   const std::function<bool()>& stop_here = {});
    // Restores a checked backup as `restore` does; the output lists the differences left.
    CommandResult restore(const std::string& backup_json, std::vector<std::string>& differences);

    // One command line of a protocol-port client, carried out by the session as any exchange is
    // (the late-reply waits of the mode and preset commands, the 16-character network answers).
    // What the device sends during it goes to `heard` as it arrives, exactly as received (nothing
    // when it falls silent), so the client has its reply before the session's wait step ends.
    void pass_through(const std::string& line, const std::function<void(const std::string&)>& heard);
    // Called (in the unit's thread) with what the device sent outside pass_through: the answers
    // of the hub's own exchanges, late answers and the replies it sends by itself.
    void on_received(std::function<void(const std::string&)> handler);
    // Every exchange the hub's own verbs make from now on is counted there (outcome and time).
    void count_into(std::shared_ptr<UnitStats> stats);
    // Called (in the unit's thread) when the device restarts: a power-on, a factory reset, or the
    // TCP restart course.
    void on_restart(std::function<void()> handler);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace tavrion::hub
