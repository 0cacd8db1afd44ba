// Factory reset, and the RST reply that completes both it (…1) and the picture reset (…2).
#pragma once

#include <QObject>

class QPushButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class Picture;

class FactoryReset : public QObject {
public:
    struct Controls {
        QPushButton* cmd_fact_reset;
    };
    FactoryReset(DeviceSession& session, DeviceModel& model, Picture& picture, const Controls& controls);

    void cmd_fact_reset_Click();
    void reply_rst(int digit);

private:
    DeviceSession& session_;
    Picture& picture_;
    Controls c_;
};

} // namespace tavrion
