// Power (on / standby) and the front-panel lock, and the pictures that show their state.
// Reaches across the window: the PWR reply enables or disables the routing panel and six frames,
// and enables "Factory Reset"; switching on shows the speaker on.
#pragma once

#include <QObject>

class QPushButton;
class QWidget;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class StatePictures;
struct ReportedState;

class PowerLock : public QObject {
public:
    struct Controls {
        QPushButton* cmd_pwr;
        QPushButton* cmd_lock;
        QPushButton* cmd_mute;
        QPushButton* cmd_fact_reset;
        // Enabled only while the device is on.
        QWidget* fra_btn;
        QWidget* fra_recall_save;
        QWidget* fra_dual_a;
        QWidget* fra_dual_b;
        QWidget* fra_bezel;
        QWidget* fra_pic;
        QWidget* fra_audio;
    };
    PowerLock(DeviceSession& session, DeviceModel& model, ReportedState& device, const StatePictures& pictures,
              const Controls& controls);

    void cmd_pwr_Click();
    void cmd_lock_Click();
    void reply_pwr(bool on);
    void reply_lck(bool locked);

private:
    DeviceSession& session_;
    ReportedState& device_;
    const StatePictures& pictures_;
    Controls c_;
};

} // namespace tavrion
