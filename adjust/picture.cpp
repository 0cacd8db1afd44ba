// Brightness, contrast, hue and saturation: slider moves go to the device unacknowledged, replies
// move the sliders, "Refresh" reads the values back and "Reset" asks the device to reset them.
#include "adjust/picture.h"

#include "adjust/picture_codec.h"
#include "link/device_session.h"
#include "link/protocol.h"
#include "shell/panel_state.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

Picture::Picture(DeviceSession& session, const ReportedState& device, PanelFlags& flags, const Controls& controls)
    : session_(session), device_(device), flags_(flags), c_(controls)
{
    session.router().add("BRI", [this] { reply_bri(); });
    session.router().add("CON", [this] { reply_con(); });
    session.router().add("HUE", [this] { reply_hue(); });
    session.router().add("SAT", [this] { reply_sat(); });
    for (int n = 1; n <= 4; ++n) {
        connect(c_.hsr_bri(n), &QScrollBar::valueChanged, this, [this, n] { hsr_bri_Change(n); });
        connect(c_.hsr_con(n), &QScrollBar::valueChanged, this, [this, n] { hsr_con_Change(n); });
        connect(c_.hsr_hue(n), &QScrollBar::valueChanged, this, [this, n] { hsr_hue_Change(n); });
        connect(c_.hsr_sat(n), &QScrollBar::valueChanged, this, [this, n] { hsr_sat_Change(n); });
    }
    connect(c_.cmd_pic_refresh, &QPushButton::clicked, this, [this] { cmd_pic_refresh_Click(); });
    connect(c_.cmd_pic_reset, &QPushButton::clicked, this, [this] { cmd_pic_reset_Click(); });
}

void Picture::hsr_bri_Change(int index) { picture_slider_change("BRI", c_.hsr_bri, c_.txt_bri, index); }
void Picture::hsr_con_Change(int index) { picture_slider_change("CON", c_.hsr_con, c_.txt_con, index); }
void Picture::hsr_hue_Change(int index) { picture_slider_change("HUE", c_.hsr_hue, c_.txt_hue, index); }
void Picture::hsr_sat_Change(int index) { picture_slider_change("SAT", c_.hsr_sat, c_.txt_sat, index); }

void Picture::picture_slider_change(const char* code, const Indexed<QScrollBar, 1, 4>& sliders,
                                    const Indexed<QLineEdit, 1, 4>& boxes, int index)
{
    // A value the program set (a reply, the reset) is the device's own: never echo it.
    if (!flags_.ui_events_enabled) return;
    if (device_.display_mode < 1 || device_.display_mode > 3) return;
    QScrollBar* slider = sliders(index);
    QLineEdit* box = boxes(index);
    if (!slider || !box) return;
    const int v = slider->value();
    box->setText(QString::number(v));
    const int p = encode_picture_parameter(device_.display_mode, index, v);
    if (p < 0) return;
    session_.send_command_nowait(std::string(code) + pad3(p));
}

void Picture::cmd_pic_refresh_Click()
{
    static const char* const codes[] = {"BRI", "CON", "HUE", "SAT"};
    if (device_.display_mode == 1) {
        for (const char* code : codes) {
            session_.send_command(std::string(code) + "999");
            if (!session_.reply_ok()) return;
        }
        return;
    }
    if (device_.display_mode != 2 && device_.display_mode != 3) return;
    for (int row = 1; row <= kPictureRows; ++row) {
        const std::string q = pad3(picture_query_parameter(device_.display_mode, row));
        for (const char* code : codes) {
            session_.send_command(code + q);
            // A missing saturation answer does not stop the next row; the others end the refresh.
            if (!session_.reply_ok() && std::string(code) != "SAT") return;
        }
    }
}

void Picture::cmd_pic_reset_Click() { session_.send_command("RST002"); }

void Picture::reply_bri() { picture_reply(c_.hsr_bri, c_.txt_bri); }
void Picture::reply_con() { picture_reply(c_.hsr_con, c_.txt_con); }
void Picture::reply_hue() { picture_reply(c_.hsr_hue, c_.txt_hue); }
void Picture::reply_sat() { picture_reply(c_.hsr_sat, c_.txt_sat); }

void Picture::picture_reply(const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes)
{
    // A parameter that names no row or no slider position of this layout (BRI950 in Dual, a value
    // above 100, an unknown layout) is ignored entirely: the rows keep what they show.
    const auto target = decode_picture_parameter(device_.display_mode, reply_last_three(session_.reply_text()));
    if (!target) return;
    QScrollBar* slider = sliders(target->row);
    QLineEdit* box = boxes(target->row);
    if (!slider || !box) return;

    // Restore rather than force true: a reply handled inside another handler's event pass must
    // not re-open the echo path before that handler is done.
    const bool events = flags_.ui_events_enabled;
    flags_.ui_events_enabled = false;
    box->setText(QLatin1Char(' ') + QString::number(target->value)); // blank in the sign position
    slider->setValue(target->value);
    session_.do_events();
    flags_.ui_events_enabled = events;
}

void Picture::picture_reset_step()
{
    const bool events = flags_.ui_events_enabled;
    flags_.ui_events_enabled = false;
    const int rows = device_.display_mode == 1 ? 1 : kPictureRows;
    for (int n = 1; n <= rows; ++n) {
        for (QLineEdit* box : {c_.txt_bri(n), c_.txt_con(n), c_.txt_hue(n), c_.txt_sat(n)}) box->setText(QStringLiteral("50"));
        for (QScrollBar* slider : {c_.hsr_bri(n), c_.hsr_con(n), c_.hsr_hue(n), c_.hsr_sat(n)}) slider->setValue(50);
    }
    session_.do_events();
    flags_.ui_events_enabled = events;
}

} // namespace tavrion
