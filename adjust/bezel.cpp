// Bezel correction: On/Off waits for its answer; the two sliders send each new value without
// waiting. BEH/BEV replies move the sliders, or, right after a maximum query, set their range.
#include "shell/frm_main.h"

#include "link/protocol.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

namespace {
constexpr int kLargestCorrection = 254; // larger numbers are not a correction and are ignored
}

void FrmMain::hsr_bezel_h_Change() { bezel_slider_change("BEH", hsr_bezel_h, txt_bezel_h); }
void FrmMain::hsr_bezel_v_Change() { bezel_slider_change("BEV", hsr_bezel_v, txt_bezel_v); }

void FrmMain::bezel_slider_change(const char* code, QScrollBar* slider, QLineEdit* box)
{
    if (!ui_events_enabled) return; // moved by a reply: nothing goes back
    const int v = slider->value();
    box->setText(QString::number(v));
    send_command_nowait(code + pad3(v));
}

void FrmMain::opt_bezel_onoff_Click(int index)
{
    if (!ui_events_enabled) return;
    // The sliders follow the BEZ reply, not the click.
    send_command("BEZ" + pad3(index));
}

void FrmMain::reply_beh() { bezel_reply(hsr_bezel_h, txt_bezel_h); }
void FrmMain::reply_bev() { bezel_reply(hsr_bezel_v, txt_bezel_v); }

void FrmMain::bezel_reply(QScrollBar* slider, QLineEdit* box)
{
    const int p = reply_last_three(reply_text);
    // Above 254 (or no number at all): nothing changes, not even a pending maximum.
    if (p < 0 || p > kLargestCorrection) return;
    ui_events_enabled = false;
    if (bezel_max_pending) {
        // A lowered maximum pulls the value down with it (the scroll bar's own rule); the change
        // event that raises finds ui_events_enabled false. The value box is left alone.
        slider->setMaximum(p);
        bezel_max_pending = false;
    } else {
        // The box shows the device's number even when the slider's range cannot (slider clamps).
        box->setText(QLatin1Char(' ') + QString::number(p));
        slider->setValue(p);
    }
    do_events();
    ui_events_enabled = true;
}

void FrmMain::reply_bez()
{
    const int d = reply_last_digit(reply_text);
    // A digit other than 0 or 1 (BEZ005) names no option button: the reply is ignored.
    if (!opt_bezel_onoff.has(d)) return;
    ui_events_enabled = false;
    opt_bezel_onoff(d)->setChecked(true);
    do_events();
    const bool on = !opt_bezel_onoff(0)->isChecked();
    hsr_bezel_h->setEnabled(on);
    hsr_bezel_v->setEnabled(on);
    ui_events_enabled = true;
}

} // namespace tavrion
