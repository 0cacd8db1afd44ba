// The roles a sign-in may have, in their own header so that settings (MQTT) can name one.
#pragma once

namespace tavrion::hub {

// What a sign-in may do: viewers read, operators run the room, administrators change the unit's
// set-up as well. Ordered: each role may do all the one before it may.
enum class Role { Viewer, Operator, Admin };

} // namespace tavrion::hub
