// "After Refresh the window equals the device": compares what the main window shows with the
// state of the simulated KV-7720, control by control.
//
//   QStringList d = window_differences(h.w(), h.device());
//   QVERIFY2(d.isEmpty(), qPrintable(d.join(QLatin1Char('\n'))));
//
// Compared, as a completed refresh leaves them:
// - always: the version box, the power picture and power_state, the power-gated frames, the lock
//   picture and lock_state;
// - with the device on (in standby it answers nothing else, so the rest is not compared): the
//   speaker picture and audio_state, the audio EDID and Dual A/B options, the bezel option, both
//   bezel sliders (value, maximum, enabled) and value boxes, the resolution list, display_mode
//   with the mode highlight, output captions, picture row labels and the Dual and bezel frames,
//   the current output and input (highlights), the routing lines of every output, and, in the
//   expanded window (advanced_view), every picture row: slider, value box, enabled.
// The device's current output is the one the panel selected last; after a refresh that is D.
#pragma once

#ifdef TAVRION_HAVE_SIM

#include <QStringList>

namespace tavrion {
class FrmMain;
}
namespace tavrion_sim {
struct DeviceState;
}

namespace tavrion::test {

// One line per control whose shown state differs from `device`, naming the control, what it
// shows and what the device holds. Empty when the window shows the device.
QStringList window_differences(FrmMain& w, const tavrion_sim::DeviceState& device);

} // namespace tavrion::test

#endif
