// Bezel correction: On/Off waits for its answer; the two sliders send each new value without
// waiting. BEH/BEV replies move the sliders, or, right after a maximum query, set their range.
#pragma once

#include "panel/indexed.h"
#include "protocol/command_catalogue.h"

#include <QObject>

class QLineEdit;
class QRadioButton;
class QScrollBar;

namespace tavrion {

class DeviceModel;
class DeviceSession;
struct PanelFlags;

class Bezel : public QObject {
public:
    struct Controls {
        Indexed<QRadioButton, 0, 1> opt_bezel_onoff;
        QScrollBar* hsr_bezel_h;
        QLineEdit* txt_bezel_h;
        QScrollBar* hsr_bezel_v;
        QLineEdit* txt_bezel_v;
    };
    Bezel(DeviceSession& session, DeviceModel& model, PanelFlags& flags, const Controls& controls);

    void hsr_bezel_h_Change();
    void hsr_bezel_v_Change();
    void opt_bezel_onoff_Click(int index);
    // An amount (or, right after a maximum query, a maximum) of axis BEH or BEV, from the model.
    void reply_bezel(int axis, int amount, bool maximum);
    void reply_bez(bool on);

private:
    void bezel_reply(QScrollBar* slider, QLineEdit* box, int p, bool maximum);
    void bezel_slider_change(Code code, QScrollBar* slider, QLineEdit* box);

    DeviceSession& session_;
    PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
