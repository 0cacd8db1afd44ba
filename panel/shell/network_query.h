// "Get IP": reads the device's address, subnet mask and gateway over RS-232.
#pragma once

#include <QObject>

#include <string>

class QLineEdit;
class QPushButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;

class NetworkQuery : public QObject {
public:
    struct Controls {
        QPushButton* cmd_get_ip;
        QLineEdit* txt_get_ip;
        QLineEdit* txt_get_mask;
        QLineEdit* txt_get_gate;
    };
    NetworkQuery(DeviceSession& session, DeviceModel& model, const Controls& controls);

    void cmd_get_ip_Click();
    void reply_network(int setting, const std::string& answer);

private:
    DeviceSession& session_;
    Controls c_;
};

} // namespace tavrion
