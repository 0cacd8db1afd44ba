// The state the panel's features keep beside the device model: the toggles' last known state,
// the input last shown, and two flags of the window. Plain values with their start values; the
// window owns them and hands them to the features that read or write them.
#pragma once

namespace tavrion {

// The toggles decide from these and set the requested state before the reply comes; the replies
// set them as reported. 254: not reported yet. The display mode, the current output and the
// pending bezel maximum are the model's.
struct ReportedState {
    int power_state = 254;  // 1 on, 0 standby
    int lock_state = 254;   // 1 locked, 0 unlocked
    int audio_state = 254;  // 1 audio on, 0 off (the digit as reported)
    int cur_input = 1;      // input 1..4 last reported
};

struct PanelFlags {
    // Control events may send commands. A handler that sets a control clears it first, so that
    // values the program shows are never echoed back to the device.
    bool ui_events_enabled = false;
    bool advanced_view = false; // the window is shown at full height
};

} // namespace tavrion
