// The read sequences the window and tavrion-ctl share: Refresh, the routing map read-back, the
// picture read-back of the current layout, the re-read after a mode command and the network query.
// Each command goes through `Ask`, which sends it, waits for its answer and says whether the
// sequence goes on; the replies reach the model on their way, so a sequence reads the mode there,
// right after the reply that changed it.
#pragma once

#include "session/exchange.h"

#include <functional>
#include <optional>
#include <string>

namespace tavrion {

class DeviceModel;
class DeviceSession;

using Ask = std::function<bool(const std::string& command)>;
// Whether a network query was answered (the answer goes into the model on its way).
using NetworkQueryFn = std::function<bool(const std::string& command)>;

// The window's transaction: send_command; the sequence goes on after an answer or a refusal.
Ask ask_session(DeviceSession& session);

// send_command, followed by the late-reply waits for a command whose answer may come late (the
// mode and preset commands): what the exchange came to.
Exchange send_awaiting_late_reply(DeviceSession& session, const std::string& command);

// OUT001/INP999 to OUT004/INP999; false at the first command left unanswered.
bool read_routing_map(const Ask& ask);

// The four picture properties of every row of the model's current layout. In Dual and TV Wall a
// missing saturation answer does not stop the next row; the other queries end the read-back.
void read_picture(const DeviceModel& model, const Ask& ask);

// After a mode command was answered: the routing map and the picture, or in a video wall (no map)
// output 1, its input and the picture.
void reread_after_mode(int mode, const DeviceModel& model, const Ask& ask);

// Refresh: the firmware version and every state, then the routing map. Ends at the first query
// left unanswered (what was read before it stays read) and returns false; true when it went as far
// as the map, after which the window in its expanded view and tavrion-ctl read the picture.
bool refresh_device(const DeviceModel& model, const Ask& ask);

// "Get IP": EIP999, EMK999 and EGW999; the first query left unanswered ends it and is returned,
// nothing when all three were answered.
std::optional<std::string> read_network(const NetworkQueryFn& query);

} // namespace tavrion
