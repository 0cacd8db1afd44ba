// State the window and the session keep to themselves, for the few tests that must put it where
// only a long course or an unlucky timing would: a busy flag without a transaction, a pending
// bezel maximum, control events switched off around a selection.
#pragma once

#include "session/device_session.h"
#include "support/features.h"

namespace tavrion {

class PanelTestAccess {
public:
    static ReportedState& device(FrmMain& w) { return w.device_; }
    static PanelFlags& flags(FrmMain& w) { return w.flags_; }
};

class SessionTestAccess {
public:
    static void set_cmd_busy(DeviceSession& s, bool busy) { s.cmd_busy_ = busy; }
    static void set_reply_ok(DeviceSession& s, bool ok) { s.reply_ok_ = ok; }
    // One tick of the serial receiver, as its timer gives it.
    static void receive_tick(DeviceSession& s) { s.tim_rx_Timer(); }
};

} // namespace tavrion
