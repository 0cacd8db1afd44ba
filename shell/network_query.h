// "Get IP": reads the device's address, subnet mask and gateway over RS-232.
#pragma once

#include <QObject>

class QLineEdit;
class QPushButton;

namespace tavrion {

class DeviceSession;

class NetworkQuery : public QObject {
public:
    struct Controls {
        QPushButton* cmd_get_ip;
        QLineEdit* txt_get_ip;
        QLineEdit* txt_get_mask;
        QLineEdit* txt_get_gate;
    };
    NetworkQuery(DeviceSession& session, const Controls& controls);

    void cmd_get_ip_Click();

private:
    DeviceSession& session_;
    Controls c_;
};

} // namespace tavrion
