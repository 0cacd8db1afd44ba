// The state the panel's features share: what the device last reported, and two flags of the
// window. Plain values with their start values; the window owns them and hands them to the
// features that read or write them.
#pragma once

namespace tavrion {

// The device as last reported. 254: not reported yet.
struct ReportedState {
    int power_state = 254;  // 1 on, 0 standby
    int lock_state = 254;   // 1 locked, 0 unlocked
    int audio_state = 254;  // 1 audio on, 0 off
    int display_mode = 1;   // 1 Matrix, 2 Dual, 3 TV Wall; written only by reply_mod
    int cur_output = 1;     // output and input 1..4 last reported
    int cur_input = 1;
    bool bezel_max_pending = false; // the next BEH or BEV reply is a slider maximum
};

struct PanelFlags {
    // Control events may send commands. A handler that sets a control clears it first, so that
    // values the program shows are never echoed back to the device.
    bool ui_events_enabled = false;
    bool advanced_view = false; // the window is shown at full height
};

} // namespace tavrion
