// The four presets: recall and save rows. The device does the work; the panel waits for its
// (possibly late) answer, highlights the confirmed preset and, after a recall, re-reads the routing.
#pragma once

#include "panel/indexed.h"

#include <QObject>

class QPushButton;

namespace tavrion {

class DeviceModel;
class DeviceSession;
class RoutingMap;

class Presets : public QObject {
public:
    struct Controls {
        Indexed<QPushButton, 1, 4> cmd_recall;
        Indexed<QPushButton, 1, 4> cmd_save;
    };
    Presets(DeviceSession& session, DeviceModel& model, RoutingMap& routing, const Controls& controls);

    void cmd_recall_Click(int index);
    void cmd_save_Click(int index);
    void reply_cal(int digit);
    void reply_sav(int digit);

private:
    DeviceSession& session_;
    RoutingMap& routing_;
    Controls c_;
};

} // namespace tavrion
