// The simulator's transcript: one line per received command and per sent reply, so that a
// session can be read by a person and replayed by the simulator.
//
//   <microseconds> <channel> <RX|TX|EV> "<bytes>"
//
// microseconds: monotonic time since the simulator started, zero-padded to 12 digits.
// channel: tcp or serial. RX: a received command line as it arrived (CR included);
// TX: bytes handed to the line in one piece; EV: an event (connect, restart, ...) in plain words.
// Bytes are quoted: printable ASCII as is, except \" and \\; \r \n \t; everything else \xHH.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrion_sim {

std::string escape_bytes(const std::string& bytes);
// Reverses escape_bytes (and accepts \0, \e, \xH). Returns false on a malformed escape.
bool unescape_bytes(const std::string& text, std::string& bytes);

struct TranscriptEntry {
    std::int64_t micros = 0;
    std::string channel;  // "tcp", "serial"
    std::string kind;     // "RX", "TX", "EV"
    std::string bytes;    // unescaped
};

std::string format_entry(const TranscriptEntry& e);
bool parse_entry(const std::string& line, TranscriptEntry& e);

// A recorded session prepared for replay: the replies that followed each received command,
// with their delays.
struct ReplayStep {
    std::string command;  // the recorded command, without CR (for a mismatch warning)
    struct Piece {
        int delay_ms;      // after the previous piece (the first: after the command arrived)
        std::string bytes;
    };
    std::vector<Piece> pieces;
};

// Reads a transcript; TX lines before the first RX become step 0 with an empty command.
// Returns false and sets `error` when the file cannot be read or a line is malformed.
bool load_replay(const std::string& path, std::vector<ReplayStep>& steps, std::string& error);

}  // namespace tavrion_sim
