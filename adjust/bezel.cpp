#include "adjust/bezel.h"

#include "link/device_session.h"
#include "link/protocol.h"
#include "shell/panel_state.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

namespace {
constexpr int kLargestCorrection = 254; // larger numbers are not a correction and are ignored
}

Bezel::Bezel(DeviceSession& session, ReportedState& device, PanelFlags& flags, const Controls& controls)
    : session_(session), device_(device), flags_(flags), c_(controls)
{
    session.router().add("BEH", [this] { reply_beh(); });
    session.router().add("BEV", [this] { reply_bev(); });
    session.router().add("BEZ", [this] { reply_bez(); });
    for (int i = 0; i <= 1; ++i)
        connect(c_.opt_bezel_onoff(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_bezel_onoff_Click(i); });
    connect(c_.hsr_bezel_h, &QScrollBar::valueChanged, this, [this] { hsr_bezel_h_Change(); });
    connect(c_.hsr_bezel_v, &QScrollBar::valueChanged, this, [this] { hsr_bezel_v_Change(); });
}

void Bezel::hsr_bezel_h_Change() { bezel_slider_change("BEH", c_.hsr_bezel_h, c_.txt_bezel_h); }
void Bezel::hsr_bezel_v_Change() { bezel_slider_change("BEV", c_.hsr_bezel_v, c_.txt_bezel_v); }

void Bezel::bezel_slider_change(const char* code, QScrollBar* slider, QLineEdit* box)
{
    if (!flags_.ui_events_enabled) return; // moved by a reply: nothing goes back
    const int v = slider->value();
    box->setText(QString::number(v));
    session_.send_command_nowait(code + pad3(v));
}

void Bezel::opt_bezel_onoff_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    // The sliders follow the BEZ reply, not the click.
    session_.send_command("BEZ" + pad3(index));
}

void Bezel::reply_beh() { bezel_reply(c_.hsr_bezel_h, c_.txt_bezel_h); }
void Bezel::reply_bev() { bezel_reply(c_.hsr_bezel_v, c_.txt_bezel_v); }

void Bezel::bezel_reply(QScrollBar* slider, QLineEdit* box)
{
    const int p = reply_last_three(session_.reply_text());
    // Above 254 (or no number at all): nothing changes, not even a pending maximum.
    if (p < 0 || p > kLargestCorrection) return;
    flags_.ui_events_enabled = false;
    if (device_.bezel_max_pending) {
        // A lowered maximum pulls the value down with it (the scroll bar's own rule); the change
        // event that raises finds ui_events_enabled false. The value box is left alone.
        slider->setMaximum(p);
        device_.bezel_max_pending = false;
    } else {
        // The box shows the device's number even when the slider's range cannot (slider clamps).
        box->setText(QLatin1Char(' ') + QString::number(p));
        slider->setValue(p);
    }
    session_.do_events();
    flags_.ui_events_enabled = true;
}

void Bezel::reply_bez()
{
    const int d = reply_last_digit(session_.reply_text());
    // A digit other than 0 or 1 (BEZ005) names no option button: the reply is ignored.
    if (!c_.opt_bezel_onoff.has(d)) return;
    flags_.ui_events_enabled = false;
    c_.opt_bezel_onoff(d)->setChecked(true);
    session_.do_events();
    const bool on = !c_.opt_bezel_onoff(0)->isChecked();
    c_.hsr_bezel_h->setEnabled(on);
    c_.hsr_bezel_v->setEnabled(on);
    flags_.ui_events_enabled = true;
}

} // namespace tavrion
