// What tavrion-ctl and the hub need of a device session: one transaction at a time, with the same
// bounded waits as the window, the late-reply waits of the mode and preset commands, the
// 16-character network answer, a way to wait for a restarted device, the model its replies went
// into, and word of the lines, the link and the restarts as they happen. The programs put a thin
// adapter over the real session behind it; the tests put a scripted device there.
#pragma once

#include "protocol/command_catalogue.h"
#include "session/exchange.h"

#include <functional>
#include <optional>
#include <string>

namespace tavrion {
class DeviceModel;
}

namespace tavrion::verbs {

// One transaction's outcome, as the session hands it back.
using Answer = Exchange;

// A command answered with 16 characters, not a six-character reply.
inline bool network_query_command(const std::string& command) { return network_query(command); }
// A command that may answer after the bounded wait: it takes the late-reply waits.
inline bool late_reply_command(const std::string& command) { return late_reply(command); }

// Why the device restarts.
enum class Restart { PowerOn, FactoryReset, TcpCourse };

class Device {
public:
    virtual ~Device() = default;

    // One transaction with the window's bounded wait.
    virtual Answer ask(const std::string& command) = 0;
    // The same, followed by the late-reply waits while nothing came (MOD, CAL, SAV).
    virtual Answer ask_slow(const std::string& command) = 0;
    // EIP999, EMK999 or EGW999: the 16-character answer as received; nothing when it did not
    // come. Only the RS-232 receiver takes this answer.
    virtual std::optional<std::string> network_query(const std::string& command) = 0;
    virtual bool on_serial() const = 0;
    // After a restart: reconnect until the device answers again, at most `seconds`.
    virtual bool wait_ready(int seconds) = 0;
    // The one model of this link: every reply the device sent, answers or not, went into it.
    virtual DeviceModel& model() = 0;

    // What the link tells whoever drives it, as it happens (each may be left empty).
    struct Events {
        // Every command sent and every text received, as the window's command log holds them
        // (received text as received, terminator included): --verbose, a protocol port's replies.
        std::function<void(Direction, const std::string&)> line;
        // The link went down (also in the middle of a command) or came up again.
        std::function<void(bool up)> link;
        // The device restarts: a power-on after standby, a factory reset, or the TCP restart
        // course of a command.
        std::function<void(Restart)> restarted;
    };
    void set_events(Events events) { events_ = std::move(events); }

protected:
    // Implementations tell their users through these.
    void tell_line(Direction direction, const std::string& text) const
    {
        if (events_.line) events_.line(direction, text);
    }
    void tell_link(bool up) const
    {
        if (events_.link) events_.link(up);
    }
    void tell_restart(Restart why) const
    {
        if (events_.restarted) events_.restarted(why);
    }

private:
    Events events_;
};

} // namespace tavrion::verbs
