// "Refresh": read every state the window shows from the device, one query after the other; and the
// firmware version.
#include "shell/frm_main.h"

#include "shell/colours.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

void FrmMain::cmd_refresh_Click()
{
    cmd_refresh->setEnabled(false);
    set_back_colour(cmd_refresh, connecting_colour);
    img_start->hide();
    cmd_keypad->show();

    // The chain stops at the first query left unanswered; what was read before it stays shown.
    [this] {
        cmd_ver_Click();
        if (!reply_ok) return;
        for (const char* q : {"AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999", "BEZ999"}) {
            send_command(q);
            if (!reply_ok) return;
        }
        // The next BEH/BEV replies carry the sliders' maximums, not their values. Once both are
        // answered the flag is put down: a refusal (ERR, as from a device in standby) leaves it
        // up, and the next refresh would then take the BEH999 value for a maximum. Only a query
        // left unanswered keeps it, for its late answer.
        bezel_max_pending = true;
        send_command("BEH998");
        if (!reply_ok) return;
        bezel_max_pending = true;
        send_command("BEV998");
        if (!reply_ok) return;
        bezel_max_pending = false;
        for (const char* q : {"LCK999", "PWR999", "RES999", "MOD999"}) {
            send_command(q);
            if (!reply_ok) return;
        }
        // A video wall has no current output of its own to ask for.
        if (display_mode != 3) {
            send_command("OUT999");
            if (!reply_ok) return;
        }
        send_command("INP999");
        map_refresh();
        if (advanced_view) cmd_pic_refresh_Click();
    }();

    set_back_colour(cmd_refresh, button_face_colour());
    cmd_refresh->setEnabled(true);
}

void FrmMain::cmd_ver_Click() { send_command("VER999"); }

void FrmMain::reply_ver()
{
    // VER106 shows as 1.06.
    if (reply_text.size() < 6) return;
    txt_ver->setText(QString::fromLatin1(reply_text.substr(3, 1).c_str()) + QLatin1Char('.')
                     + QString::fromLatin1(reply_text.substr(4, 2).c_str()));
}

} // namespace tavrion
