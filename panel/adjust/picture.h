// Brightness, contrast, hue and saturation: one row of sliders for all outputs in Matrix, a row per
// output in Dual and TV Wall.
#pragma once

#include "panel/indexed.h"
#include "protocol/command_catalogue.h"

#include <QObject>

class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tavrion {

class DeviceModel;
class DeviceSession;
struct PanelFlags;

class Picture : public QObject {
public:
    struct Controls {
        Indexed<QScrollBar, 1, 4> hsr_con, hsr_bri, hsr_sat, hsr_hue;
        Indexed<QLineEdit, 1, 4> txt_con, txt_bri, txt_sat, txt_hue;
        QPushButton* cmd_pic_refresh;
        QPushButton* cmd_pic_reset;
    };
    Picture(DeviceSession& session, DeviceModel& model, PanelFlags& flags, const Controls& controls);

    void hsr_bri_Change(int index);
    void hsr_con_Change(int index);
    void hsr_hue_Change(int index);
    void hsr_sat_Change(int index);
    void cmd_pic_refresh_Click();
    void cmd_pic_reset_Click();
    // A reply for `row` (1..4) of the current layout, decoded by the model.
    void reply_picture(int property, int row, int value);
    void picture_reset_step(); // the RST...2 course, called by reply_rst

private:
    // One routine for the four picture properties.
    void picture_slider_change(Code code, const Indexed<QScrollBar, 1, 4>& sliders,
                               const Indexed<QLineEdit, 1, 4>& boxes, int index);
    void picture_reply(const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes, int row,
                       int value);

    DeviceSession& session_;
    DeviceModel& model_;
    PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
