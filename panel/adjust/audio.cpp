#include "panel/adjust/audio.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "panel/panel_state.h"
#include "panel/state_pictures.h"

#include <QPushButton>
#include <QRadioButton>

namespace tavrion {

Audio::Audio(DeviceSession& session, DeviceModel& model, ReportedState& device, PanelFlags& flags,
             const StatePictures& pictures, const Controls& controls)
    : session_(session), device_(device), flags_(flags), pictures_(pictures), c_(controls)
{
    connect(&model, &DeviceModel::dual_audio_reported, this, [this](int pair, int side) { reply_dual(pair, side); });
    connect(&model, &DeviceModel::audio_reported, this, [this](int digit) { reply_aud(digit); });
    connect(&model, &DeviceModel::edid_reported, this, [this](int edid) { reply_aue(edid); });
    for (int i = 1; i <= 2; ++i) {
        connect(c_.opt_da(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_da_Click(i); });
        connect(c_.opt_db(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_db_Click(i); });
    }
    for (int i = 0; i <= 4; ++i)
        connect(c_.opt_audio(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_audio_Click(i); });
    connect(c_.cmd_mute, &QPushButton::clicked, this, [this] { cmd_mute_Click(); });
}

void Audio::opt_audio_Click(int index)
{
    if (!flags_.ui_events_enabled) return; // selected by a reply: nothing goes back
    session_.send_command(command_of(Code::AUE, index));
}

void Audio::opt_da_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    session_.send_command(command_of(Code::AUA, index));
}

void Audio::opt_db_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    session_.send_command(command_of(Code::AUB, index));
}

void Audio::cmd_mute_Click()
{
    // Decided from the last known state and toggled before the send: without an answer the next
    // click sends the other command. The picture waits for the AUD reply.
    if (device_.audio_state == 1) {
        device_.audio_state = 0;
        session_.send_command(command_of(Code::AUD, 0));
    } else {
        device_.audio_state = 1;
        session_.send_command(command_of(Code::AUD, 1));
    }
}

// A digit that names no button of the group (AUA003, AUE007) is ignored entirely: no button, no
// change of ui_events_enabled. Selecting a button raises its click event, which the cleared flag
// keeps from sending the value back.
void Audio::option_reply(QRadioButton* selected)
{
    if (!selected) return;
    flags_.ui_events_enabled = false;
    selected->setChecked(true);
    session_.do_events();
    flags_.ui_events_enabled = true;
}

void Audio::reply_dual(int pair, int side) { option_reply(pair == 1 ? c_.opt_da(side) : c_.opt_db(side)); }
void Audio::reply_aue(int edid) { option_reply(c_.opt_audio(edid)); }

void Audio::reply_aud(int digit)
{
    const int d = digit;
    device_.audio_state = d;
    // Any digit but 0 means on (AUD005 too). A picture file that cannot be loaded leaves the
    // button as it was.
    pictures_.show(c_.cmd_mute, d != 0 ? QStringLiteral("speaker_on.bmp") : QStringLiteral("speaker_off.bmp"));
}

} // namespace tavrion
