// Brightness, contrast, hue and saturation: slider moves go to the device unacknowledged, replies
// move the sliders, "Refresh" reads the values back and "Reset" asks the device to reset them.
#include "panel/adjust/picture.h"

#include "protocol/command_catalogue.h"
#include "protocol/picture_codec.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "session/read_sequences.h"
#include "panel/panel_state.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

Picture::Picture(DeviceSession& session, DeviceModel& model, PanelFlags& flags, const Controls& controls)
    : session_(session), model_(model), flags_(flags), c_(controls)
{
    connect(&model, &DeviceModel::picture_reported, this,
            [this](int property, int row, int value) { reply_picture(property, row, value); });
    for (int n = 1; n <= 4; ++n) {
        connect(c_.hsr_bri(n), &QScrollBar::valueChanged, this, [this, n] { hsr_bri_Change(n); });
        connect(c_.hsr_con(n), &QScrollBar::valueChanged, this, [this, n] { hsr_con_Change(n); });
        connect(c_.hsr_hue(n), &QScrollBar::valueChanged, this, [this, n] { hsr_hue_Change(n); });
        connect(c_.hsr_sat(n), &QScrollBar::valueChanged, this, [this, n] { hsr_sat_Change(n); });
    }
    connect(c_.cmd_pic_refresh, &QPushButton::clicked, this, [this] { cmd_pic_refresh_Click(); });
    connect(c_.cmd_pic_reset, &QPushButton::clicked, this, [this] { cmd_pic_reset_Click(); });
}

void Picture::hsr_bri_Change(int index) { picture_slider_change(kPictureCodes[kBrightness], c_.hsr_bri, c_.txt_bri, index); }
void Picture::hsr_con_Change(int index) { picture_slider_change(kPictureCodes[kContrast], c_.hsr_con, c_.txt_con, index); }
void Picture::hsr_hue_Change(int index) { picture_slider_change(kPictureCodes[kHue], c_.hsr_hue, c_.txt_hue, index); }
void Picture::hsr_sat_Change(int index) { picture_slider_change(kPictureCodes[kSaturation], c_.hsr_sat, c_.txt_sat, index); }

void Picture::picture_slider_change(Code code, const Indexed<QScrollBar, 1, 4>& sliders,
                                    const Indexed<QLineEdit, 1, 4>& boxes, int index)
{
    // A value the program set (a reply, the reset) is the device's own: never echo it.
    if (!flags_.ui_events_enabled) return;
    const int mode = model_.display_mode();
    if (mode < 1 || mode > 3) return;
    QScrollBar* slider = sliders(index);
    QLineEdit* box = boxes(index);
    if (!slider || !box) return;
    const int v = slider->value();
    box->setText(QString::number(v));
    const int p = encode_picture_parameter(mode, index, v);
    if (p < 0) return;
    session_.send_command_nowait(command_of(code, p));
}

void Picture::cmd_pic_refresh_Click() { read_picture(model_, ask_session(session_)); }

void Picture::cmd_pic_reset_Click() { session_.send_command(command_of(Code::RST, 2)); }

void Picture::reply_picture(int property, int row, int value)
{
    switch (property) {
    case kBrightness: picture_reply(c_.hsr_bri, c_.txt_bri, row, value); break;
    case kContrast: picture_reply(c_.hsr_con, c_.txt_con, row, value); break;
    case kHue: picture_reply(c_.hsr_hue, c_.txt_hue, row, value); break;
    case kSaturation: picture_reply(c_.hsr_sat, c_.txt_sat, row, value); break;
    default: break;
    }
}

void Picture::picture_reply(const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes, int row,
                            int value)
{
    // The model reports only parameters that name a row and a slider position of the current
    // layout (BRI950 in Dual or a value above 100 are ignored there): the rows keep what they show.
    QScrollBar* slider = sliders(row);
    QLineEdit* box = boxes(row);
    if (!slider || !box) return;

    // Restore rather than force true: a reply handled inside another handler's event pass must
    // not re-open the echo path before that handler is done.
    const bool events = flags_.ui_events_enabled;
    flags_.ui_events_enabled = false;
    box->setText(QLatin1Char(' ') + QString::number(value)); // blank in the sign position
    slider->setValue(value);
    session_.do_events();
    flags_.ui_events_enabled = events;
}

void Picture::picture_reset_step()
{
    const bool events = flags_.ui_events_enabled;
    flags_.ui_events_enabled = false;
    const int rows = model_.display_mode() == 1 ? 1 : kPictureRows;
    for (int n = 1; n <= rows; ++n) {
        for (QLineEdit* box : {c_.txt_bri(n), c_.txt_con(n), c_.txt_hue(n), c_.txt_sat(n)}) box->setText(QStringLiteral("50"));
        for (QScrollBar* slider : {c_.hsr_bri(n), c_.hsr_con(n), c_.hsr_hue(n), c_.hsr_sat(n)}) slider->setValue(50);
    }
    session_.do_events();
    flags_.ui_events_enabled = events;
}

} // namespace tavrion
