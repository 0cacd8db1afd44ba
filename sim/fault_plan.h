// Faults the simulator can inject into its replies, and the control language that sets them.
// Qt-free; the server turns the planned chunks into bytes on the wire.
#pragma once

#include <string>
#include <vector>

namespace tavrion_sim {

enum class FaultKind {
    Delay,        // delay MS: hold the reply back
    Silent,       // no reply at all
    Err,          // answer ERR + three digits instead
    Code,         // answer with another code (the digits stay)
    Split,        // send the reply in batches with a gap between them
    Double,       // send the reply twice in one piece
    Trailing,     // append bytes after the reply (a line feed, say)
    Garbage,      // send N bytes of junk instead of the reply
    Flood,        // send N bytes instead of the reply
    DropMid,      // send the first half of the reply, then drop the connection
    Ext,          // send EXT + three digits instead of the reply, then close (TCP)
    Unsolicited,  // send another line of the device's own after the reply
    Vanish,       // instead of replying, close the link (serial: the device disappears)
};

const char* fault_name(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::Silent;
    std::string target;     // command code it applies to; empty = every code
    int remaining = -1;     // replies it still applies to; -1 = until reset
    int number = 0;         // Delay ms, Err/Ext digits, Garbage/Flood byte count
    std::string text;       // Code replacement, Trailing bytes, Unsolicited line (no CR)
    std::vector<int> sizes; // Split batch sizes
    int gap_ms = 20;        // Split gap
    int after_ms = 0;       // Unsolicited delay after the reply

    std::string describe() const;  // in the control language
};

// What happens on the link after a chunk has gone out.
enum class LinkAction {
    None,
    Close,   // TCP: close the connection after the bytes; serial: nothing
    Vanish,  // serial: close the pseudo-terminal; TCP: drop the connection at once
};

struct Chunk {
    int delay_ms = 0;  // wait before sending, counted from the end of the previous chunk
    std::string bytes;
    LinkAction after = LinkAction::None;
};

// One parsed control line.
struct ControlRequest {
    enum Type {
        Arm,          // arm `fault`
        Reset,        // back to normal behaviour
        List,         // list the armed faults
        Status,       // describe the device state
        Help,
        Send,         // send `bytes` now, as they are
        ExtNow,       // send EXT + pad3(number) now and close the TCP connection
        VanishNow,    // close the serial link now
        DropNow,      // drop the TCP connection now
        RestartNow,   // restart the device now (TCP drops and refuses for the restart time)
        Set,          // set a device value: `key` = `value`
    };
    Type type = Help;
    Fault fault;
    std::string bytes;
    int number = 0;
    std::string key, value;
};

// Parses one line of the control language (see sim/README.md). Returns false with `error` set.
bool parse_control(const std::string& line, ControlRequest& out, std::string& error);

// The help text for the control language, also printed by --help.
const char* control_help();

class FaultPlan {
public:
    // Arms a fault; it replaces one of the same kind and target.
    void arm(const Fault& fault);
    void reset() { faults_.clear(); }
    const std::vector<Fault>& faults() const { return faults_; }
    bool empty() const { return faults_.empty(); }

    // The chunks that answer a command with this code, whose normal reply is `reply`
    // (which may be empty). Uses up one application of each fault that acts.
    std::vector<Chunk> plan(const std::string& code, const std::string& reply);

private:
    std::vector<Fault> faults_;
};

}  // namespace tavrion_sim
