// Brightness, contrast, hue and saturation: slider moves go to the device unacknowledged, replies
// move the sliders, "Refresh" reads the values back and "Reset" asks the device to reset them.
#include "shell/frm_main.h"

#include "adjust/picture_codec.h"
#include "link/protocol.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

void FrmMain::hsr_bri_Change(int index) { picture_slider_change("BRI", hsr_bri, txt_bri, index); }
void FrmMain::hsr_con_Change(int index) { picture_slider_change("CON", hsr_con, txt_con, index); }
void FrmMain::hsr_hue_Change(int index) { picture_slider_change("HUE", hsr_hue, txt_hue, index); }
void FrmMain::hsr_sat_Change(int index) { picture_slider_change("SAT", hsr_sat, txt_sat, index); }

void FrmMain::picture_slider_change(const char* code, const Indexed<QScrollBar, 1, 4>& sliders,
                                    const Indexed<QLineEdit, 1, 4>& boxes, int index)
{
    // A value the program set (a reply, the reset) is the device's own: never echo it.
    if (!ui_events_enabled) return;
    if (display_mode < 1 || display_mode > 3) return;
    QScrollBar* slider = sliders(index);
    QLineEdit* box = boxes(index);
    if (!slider || !box) return;
    const int v = slider->value();
    box->setText(QString::number(v));
    const int p = encode_picture_parameter(display_mode, index, v);
    if (p < 0) return;
    send_command_nowait(std::string(code) + pad3(p));
}

void FrmMain::cmd_pic_refresh_Click()
{
    static const char* const codes[] = {"BRI", "CON", "HUE", "SAT"};
    if (display_mode == 1) {
        for (const char* code : codes) {
            send_command(std::string(code) + "999");
            if (!reply_ok) return;
        }
        return;
    }
    if (display_mode != 2 && display_mode != 3) return;
    for (int row = 1; row <= kPictureRows; ++row) {
        const std::string q = pad3(picture_query_parameter(display_mode, row));
        for (const char* code : codes) {
            send_command(code + q);
            // A missing saturation answer does not stop the next row; the others end the refresh.
            if (!reply_ok && std::string(code) != "SAT") return;
        }
    }
}

void FrmMain::cmd_pic_reset_Click() { send_command("RST002"); }

void FrmMain::reply_bri() { picture_reply(hsr_bri, txt_bri); }
void FrmMain::reply_con() { picture_reply(hsr_con, txt_con); }
void FrmMain::reply_hue() { picture_reply(hsr_hue, txt_hue); }
void FrmMain::reply_sat() { picture_reply(hsr_sat, txt_sat); }

void FrmMain::picture_reply(const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes)
{
    // A parameter that names no row or no slider position of this layout (BRI950 in Dual, a value
    // above 100, an unknown layout) is ignored entirely: the rows keep what they show.
    const auto target = decode_picture_parameter(display_mode, reply_last_three(reply_text));
    if (!target) return;
    QScrollBar* slider = sliders(target->row);
    QLineEdit* box = boxes(target->row);
    if (!slider || !box) return;

    // Restore rather than force true: a reply handled inside another handler's event pass must
    // not re-open the echo path before that handler is done.
    const bool events = ui_events_enabled;
    ui_events_enabled = false;
    box->setText(QLatin1Char(' ') + QString::number(target->value)); // blank in the sign position
    slider->setValue(target->value);
    do_events();
    ui_events_enabled = events;
}

void FrmMain::picture_reset_step()
{
    const bool events = ui_events_enabled;
    ui_events_enabled = false;
    const int rows = display_mode == 1 ? 1 : kPictureRows;
    for (int n = 1; n <= rows; ++n) {
        for (QLineEdit* box : {txt_bri(n), txt_con(n), txt_hue(n), txt_sat(n)}) box->setText(QStringLiteral("50"));
        for (QScrollBar* slider : {hsr_bri(n), hsr_con(n), hsr_hue(n), hsr_sat(n)}) slider->setValue(50);
    }
    do_events();
    ui_events_enabled = events;
}

} // namespace tavrion
