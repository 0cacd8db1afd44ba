// Matrix, Dual and TV Wall: the mode buttons, and the MOD reply that lays the window out for the
// device's mode.
// Reaches across the window: a mode change clears the output and preset highlights; the MOD reply
// sets the output captions, the picture rows' labels, values and sliders, the Dual audio and bezel
// frames and the routing lines.
#pragma once

#include "panel/indexed.h"

#include <QObject>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class RoutingMap;
struct ReportedState;

class DisplayModes : public QObject {
public:
    struct Controls {
        Indexed<QPushButton, 1, 3> cmd_mode;
        Indexed<QPushButton, 1, 4> cmd_out;
        Indexed<QPushButton, 1, 4> cmd_recall;
        Indexed<QPushButton, 1, 4> cmd_save;
        QGroupBox* fra_dual_a;
        QGroupBox* fra_dual_b;
        QGroupBox* fra_bezel;
        Indexed<QLabel, 1, 4> lab_con, lab_bri, lab_sat, lab_hue;
        Indexed<QScrollBar, 1, 4> hsr_con, hsr_bri, hsr_sat, hsr_hue;
        Indexed<QLineEdit, 1, 4> txt_con, txt_bri, txt_sat, txt_hue;
    };
    DisplayModes(DeviceSession& session, DeviceModel& model, ReportedState& device, RoutingMap& routing,
                 const Controls& controls);

    void cmd_mode_Click(int index);
    void reply_mod(int mode);

private:
    DeviceSession& session_;
    DeviceModel& model_;
    ReportedState& device_;
    RoutingMap& routing_;
    Controls c_;
};

} // namespace tavrion
