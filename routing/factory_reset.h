// Factory reset, and the RST reply that completes both it (…1) and the picture reset (…2).
#pragma once

#include <QObject>

class QPushButton;

namespace tavrion {

class DeviceSession;
class Picture;

class FactoryReset : public QObject {
public:
    struct Controls {
        QPushButton* cmd_fact_reset;
    };
    FactoryReset(DeviceSession& session, Picture& picture, const Controls& controls);

    void cmd_fact_reset_Click();
    void reply_rst();

private:
    DeviceSession& session_;
    Picture& picture_;
    Controls c_;
};

} // namespace tavrion
