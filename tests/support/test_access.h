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
    // The transaction engine's inner state, as the receivers and the waits leave it.
    static bool cmd_busy(const DeviceSession& s) { return s.cmd_busy_; }
    static bool reply_ok(const DeviceSession& s) { return s.reply_ok_; }
    // The receive buffer; while a handler runs, the six-character reply.
    static const std::string& reply_text(const DeviceSession& s) { return s.reply_text_; }
    static int rx_count(const DeviceSession& s) { return s.rx_count_; }
    // Calls of wait_seconds, and one for each wait that ends on the answer (ReplyWait::Prompt).
    static quint64 wait_step_count(const DeviceSession& s) { return s.wait_step_count_; }
    static bool tim_rx_enabled(const DeviceSession& s) { return s.tim_rx_on_; }
    static void set_tim_rx_enabled(DeviceSession& s, bool on) { s.set_tim_rx_enabled(on); }
    // Network query: 254 idle, 0..2 the query sent, 3 its 16-character answer received.
    static int net_query_state(const DeviceSession& s) { return s.net_query_state_; }
    static void set_net_query_state(DeviceSession& s, int state) { s.net_query_state_ = state; }
    static const QTimer* tim_eth(const DeviceSession& s) { return s.tim_eth_; }
    static ReplyRouter& router(DeviceSession& s) { return s.router_; }
    static void set_cmd_busy(DeviceSession& s, bool busy) { s.cmd_busy_ = busy; }
    static void set_reply_ok(DeviceSession& s, bool ok) { s.reply_ok_ = ok; }
    // One tick of the serial receiver, as its timer gives it.
    static void receive_tick(DeviceSession& s) { s.tim_rx_Timer(); }
};

} // namespace tavrion
