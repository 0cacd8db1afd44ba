// What one command's exchange with the device came to: the value send_command hands back, so that
// nobody learns how an exchange went from a shared flag or from the command log.
#pragma once

#include <string>

namespace tavrion {

// Which way a line of the link went: a command to the device, or text from it.
enum class Direction { Sent, Received };

struct Exchange {
    enum class Kind {
        Answered,   // a reply with the command's own code
        Refused,    // an ERR reply
        OtherCode,  // a reply with another code (not taken as the answer)
        Silent,     // nothing accepted within the bounded wait
        Unreadable, // text came, but none the acceptance rule takes (`reply` holds it)
        LinkDown,   // the link is not open, or went away
        Restarted,  // TCP restart course: the command went out and the link dropped as expected
        Ended,      // the device ended the session (EXT) instead of answering
    };
    Kind kind = Kind::Silent;
    std::string reply; // the six characters received, where there was a reply
    // The reply came during the late-reply waits and ended them; the window reads back after any
    // such reply, whatever its code.
    bool late = false;

    // The device took the command: it answered with its code or refused it. A read sequence goes
    // on after either, as the window's did after a reply it accepted.
    bool ok() const { return kind == Kind::Answered || kind == Kind::Refused; }
    bool answered() const { return kind == Kind::Answered; }
};

// The kind of an accepted reply to `command`.
Exchange::Kind classify_reply(const std::string& command, const std::string& reply);

} // namespace tavrion
