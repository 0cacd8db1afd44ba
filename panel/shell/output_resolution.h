// The output resolution list: list position p stands for device resolution p + 1.
#pragma once

#include <QObject>

class QComboBox;

namespace tavrion {

class DeviceModel;
class DeviceSession;
struct PanelFlags;

class OutputResolution : public QObject {
public:
    struct Controls {
        QComboBox* cbo_output;
    };
    OutputResolution(DeviceSession& session, DeviceModel& model, PanelFlags& flags, const Controls& controls);

    void cbo_output_Click();
    void reply_res(int number);

private:
    DeviceSession& session_;
    const DeviceModel& model_;
    PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
