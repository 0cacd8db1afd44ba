// Audio: the EDID capability, the left/right side of each dual pair, and the speaker toggle.
// Clicks send and wait; the replies select the option buttons and set the speaker picture.
#pragma once

#include "panel/indexed.h"

#include <QObject>

class QPushButton;
class QRadioButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class StatePictures;
struct ReportedState;
struct PanelFlags;

class Audio : public QObject {
public:
    struct Controls {
        Indexed<QRadioButton, 0, 4> opt_audio;
        Indexed<QRadioButton, 1, 2> opt_da;
        Indexed<QRadioButton, 1, 2> opt_db;
        QPushButton* cmd_mute;
    };
    Audio(DeviceSession& session, DeviceModel& model, ReportedState& device, PanelFlags& flags,
          const StatePictures& pictures, const Controls& controls);

    void opt_audio_Click(int index);
    void opt_da_Click(int index);
    void opt_db_Click(int index);
    void cmd_mute_Click();
    void reply_dual(int pair, int side);
    void reply_aud(int digit);
    void reply_aue(int edid);

private:
    void option_reply(QRadioButton* selected);

    DeviceSession& session_;
    ReportedState& device_;
    PanelFlags& flags_;
    const StatePictures& pictures_;
    Controls c_;
};

} // namespace tavrion
