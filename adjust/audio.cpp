#include "adjust/audio.h"

#include "link/device_session.h"
#include "link/protocol.h"
#include "shell/panel_state.h"
#include "shell/state_pictures.h"

#include <QPushButton>
#include <QRadioButton>

namespace tavrion {

Audio::Audio(DeviceSession& session, ReportedState& device, PanelFlags& flags, const StatePictures& pictures,
             const Controls& controls)
    : session_(session), device_(device), flags_(flags), pictures_(pictures), c_(controls)
{
    session.router().add("AUA", [this] { reply_aua(); });
    session.router().add("AUB", [this] { reply_aub(); });
    session.router().add("AUD", [this] { reply_aud(); });
    session.router().add("AUE", [this] { reply_aue(); });
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
    session_.send_command("AUE" + pad3(index));
}

void Audio::opt_da_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    session_.send_command("AUA" + pad3(index));
}

void Audio::opt_db_Click(int index)
{
    if (!flags_.ui_events_enabled) return;
    session_.send_command("AUB" + pad3(index));
}

void Audio::cmd_mute_Click()
{
    // Decided from the last known state and toggled before the send: without an answer the next
    // click sends the other command. The picture waits for the AUD reply.
    if (device_.audio_state == 1) {
        device_.audio_state = 0;
        session_.send_command("AUD000");
    } else {
        device_.audio_state = 1;
        session_.send_command("AUD001");
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

void Audio::reply_aua() { option_reply(c_.opt_da(reply_last_digit(session_.reply_text()))); }
void Audio::reply_aub() { option_reply(c_.opt_db(reply_last_digit(session_.reply_text()))); }
void Audio::reply_aue() { option_reply(c_.opt_audio(reply_last_digit(session_.reply_text()))); }

void Audio::reply_aud()
{
    const int d = reply_last_digit(session_.reply_text());
    if (d < 0) return; // no digit to store (an accepted reply always has one)
    device_.audio_state = d;
    // Any digit but 0 means on (AUD005 too). A picture file that cannot be loaded leaves the
    // button as it was.
    pictures_.show(c_.cmd_mute, d != 0 ? QStringLiteral("speaker_on.bmp") : QStringLiteral("speaker_off.bmp"));
}

} // namespace tavrion
