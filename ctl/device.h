// What tavrion-ctl needs of a device session: one transaction at a time, with the same bounded
// waits as the window, the late-reply waits of the mode and preset commands, the 16-character
// network answer, and a way to wait for a restarted device. The program's main puts a thin adapter
// over the real session behind it; the tests put a scripted device there.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tavrion::ctl {

struct Answer {
    enum class Kind {
        Answered,  // a reply with the command's own code
        Refused,   // an ERR reply
        OtherCode, // a reply with another code (the window drops it as no answer)
        Silent,    // nothing accepted within the bounded wait
        Unreadable, // text came, but none the acceptance rule takes (`reply` holds it)
        LinkDown,  // the link is not open, or went away
        Restarted, // TCP restart course: the command went out and the link dropped as expected
    };
    Kind kind = Kind::Silent;
    std::string reply; // the six characters received, where there was a reply
};

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

} // namespace tavrion::ctl
