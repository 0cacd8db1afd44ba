#include "panel/adjust/bezel.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "panel/panel_state.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

Bezel::Bezel(DeviceSession& session, DeviceModel& model, PanelFlags& flags, const Controls& controls)
    : session_(session), flags_(flags), c_(controls)
{
    connect(&model, &DeviceModel::bezel_reported, this, [this](int axis, int amount) { reply_bezel(axis, amount, false); });
    connect(&model, &DeviceModel::bezel_maximum_reported, this,
            [this](int axis, int maximum) { reply_bezel(axis, maximum, true); });
    connect(&model, &DeviceModel::bezel_switch_reported, this, [this](bool on) { reply_bez(on); });
    for (int i = 0; i <= 1; ++i)
        connect(c_.opt_bezel_onoff(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_bezel_onoff_Click(i); });
    connect(c_.hsr_bezel_h, &QScrollBar::valueChanged, this, [this] { hsr_bezel_h_Change(); });
    connect(c_.hsr_bezel_v, &QScrollBar::valueChanged, this, [this] { hsr_bezel_v_Change(); });
}

void Bezel::hsr_bezel_h_Change() { bezel_slider_change(Code::BEH, c_.hsr_bezel_h, c_.txt_bezel_h); }
void Bezel::hsr_bezel_v_Change() { bezel_slider_change(Code::BEV, c_.hsr_bezel_v, c_.txt_bezel_v); }

void Bezel::bezel_slider_change(Code code, QScrollBar* slider, QLineEdit* box)
{
    if (!flags_.ui_events_enabled) return; // moved by a reply: nothing goes back
    const int v = slider->value();
    box->setText(QString::number(v));
    session_.send_command_nowait(command_of(code, v));
}

void Bezel::opt_bezel_onoff_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    // The sliders follow the BEZ reply, not the click.
    session_.send_command(command_of(Code::BEZ, index));
}

void Bezel::reply_bezel(int axis, int amount, bool maximum)
{
    if (axis == kBezelH) bezel_reply(c_.hsr_bezel_h, c_.txt_bezel_h, amount, maximum);
    else bezel_reply(c_.hsr_bezel_v, c_.txt_bezel_v, amount, maximum);
}

void Bezel::bezel_reply(QScrollBar* slider, QLineEdit* box, int p, bool maximum)
{
    // Numbers above the largest amount never come here: the model ignores them, pending maximum
    // and all.
    flags_.ui_events_enabled = false;
    if (maximum) {
        // A lowered maximum pulls the value down with it (the scroll bar's own rule); the change
        // event that raises finds ui_events_enabled false. The value box is left alone.
        slider->setMaximum(p);
    } else {
        // The box shows the device's number even when the slider's range cannot (slider clamps).
        box->setText(QLatin1Char(' ') + QString::number(p));
        slider->setValue(p);
    }
    session_.do_events();
    flags_.ui_events_enabled = true;
}

void Bezel::reply_bez(bool on_reported)
{
    // A digit other than 0 or 1 (BEZ005) names no option button: the model ignores the reply.
    const int d = on_reported ? 1 : 0;
    flags_.ui_events_enabled = false;
    c_.opt_bezel_onoff(d)->setChecked(true);
    session_.do_events();
    const bool on = !c_.opt_bezel_onoff(0)->isChecked();
    c_.hsr_bezel_h->setEnabled(on);
    c_.hsr_bezel_v->setEnabled(on);
    flags_.ui_events_enabled = true;
}

} // namespace tavrion
