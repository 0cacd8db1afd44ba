// "Refresh" reads every state the window shows from the device, one query after the other; "F/W
// Ver" reads the firmware version. The start hint and "Keyboard" tell whether the device has been
// read since the last restart.
#pragma once

#include <QObject>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;
struct PanelFlags;

class RefreshAll : public QObject {
public:
    struct Controls {
        QPushButton* cmd_refresh;
        QLabel* img_start;
        QPushButton* cmd_keypad;
        QPushButton* cmd_ver;
        QLineEdit* txt_ver;
    };
    RefreshAll(DeviceSession& session, DeviceModel& model, const PanelFlags& flags, const Controls& controls);

    void cmd_refresh_Click();
    void cmd_ver_Click();
    void reply_ver(int version);

private:
    void show_restart(); // the device restarts: the user must connect and refresh again

    DeviceSession& session_;
    DeviceModel& model_;
    const PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
