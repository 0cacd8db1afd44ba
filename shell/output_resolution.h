// The output resolution list: list position p stands for device resolution p + 1.
#pragma once

#include <QObject>

class QComboBox;

namespace tavrion {

class DeviceSession;
struct ReportedState;
struct PanelFlags;

class OutputResolution : public QObject {
public:
    struct Controls {
        QComboBox* cbo_output;
    };
    OutputResolution(DeviceSession& session, const ReportedState& device, PanelFlags& flags, const Controls& controls);

    void cbo_output_Click();
    void reply_res();

private:
    DeviceSession& session_;
    const ReportedState& device_;
    PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
