// What tavrion-ctl needs of a device session: one transaction at a time, with the same bounded
// waits as the window, the late-reply waits of the mode and preset commands, the 16-character
// network answer, a way to wait for a restarted device, and the model its replies went into. The program's main puts a thin adapter
// over the real session behind it; the tests put a scripted device there.
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

    // --verbose: every command sent and every text received, as the window's command log holds
    // them (received text as received, terminator included). Implementations call log_wire.
    using WireLog = std::function<void(bool sent, const std::string& text)>;
    void set_wire_log(WireLog log) { wire_log_ = std::move(log); }

protected:
    void log_wire(bool sent, const std::string& text) const
    {
        if (wire_log_) wire_log_(sent, text);
    }

private:
    WireLog wire_log_;
};

} // namespace tavrion::verbs
