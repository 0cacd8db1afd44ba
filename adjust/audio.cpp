// Audio: the EDID capability, the left/right side of each dual pair, and the speaker toggle.
// Clicks send and wait; the replies select the option buttons and set the speaker picture.
#include "shell/frm_main.h"

#include "link/protocol.h"

#include <QPushButton>
#include <QRadioButton>

namespace tavrion {

void FrmMain::opt_audio_Click(int index)
{
    if (!ui_events_enabled) return; // selected by a reply: nothing goes back
    send_command("AUE" + pad3(index));
}

void FrmMain::opt_da_Click(int index)
{
    if (!ui_events_enabled) return;
    send_command("AUA" + pad3(index));
}

void FrmMain::opt_db_Click(int index)
{
    if (!ui_events_enabled) return;
    send_command("AUB" + pad3(index));
}

void FrmMain::cmd_mute_Click()
{
    // Decided from the last known state and toggled before the send: without an answer the next
    // click sends the other command. The picture waits for the AUD reply.
    if (audio_state == 1) {
        audio_state = 0;
        send_command("AUD000");
    } else {
        audio_state = 1;
        send_command("AUD001");
    }
}

// A digit that names no button of the group (AUA003, AUE007) is ignored entirely: no button, no
// change of ui_events_enabled. Selecting a button raises its click event, which the cleared flag
// keeps from sending the value back.
void FrmMain::option_reply(QRadioButton* selected)
{
    if (!selected) return;
    ui_events_enabled = false;
    selected->setChecked(true);
    do_events();
    ui_events_enabled = true;
}

void FrmMain::reply_aua() { option_reply(opt_da(reply_last_digit(reply_text))); }
void FrmMain::reply_aub() { option_reply(opt_db(reply_last_digit(reply_text))); }
void FrmMain::reply_aue() { option_reply(opt_audio(reply_last_digit(reply_text))); }

void FrmMain::reply_aud()
{
    const int d = reply_last_digit(reply_text);
    if (d < 0) return; // no digit to store (an accepted reply always has one)
    audio_state = d;
    // Any digit but 0 means on (AUD005 too). A picture file that cannot be loaded leaves the
    // button as it was.
    show_picture(cmd_mute, d != 0 ? QStringLiteral("speaker_on.bmp") : QStringLiteral("speaker_off.bmp"));
}

} // namespace tavrion
