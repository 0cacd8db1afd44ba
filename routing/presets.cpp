// The four presets: recall and save rows. The device does the work; the panel waits for its
// (possibly late) answer, highlights the confirmed preset and, after a recall, re-reads the routing.
#include "shell/frm_main.h"

#include "link/protocol.h"
#include "shell/colours.h"

#include <QPushButton>

namespace tavrion {

namespace {
void clear_row(const Indexed<QPushButton, 1, 4>& row)
{
    for (int n = 1; n <= 4; ++n) set_back_colour(row(n), button_face_colour());
}

void enable_row(const Indexed<QPushButton, 1, 4>& row, bool on)
{
    for (int n = 1; n <= 4; ++n) row(n)->setEnabled(on);
}

// A reply whose last character names no preset (CAL009, SAV000) is ignored entirely: the row
// keeps whatever highlight it has.
void highlight(const Indexed<QPushButton, 1, 4>& row, int preset)
{
    if (!row.has(preset)) return;
    clear_row(row);
    set_back_colour(row(preset), selection_colour);
}
} // namespace

void FrmMain::cmd_recall_Click(int index)
{
    clear_row(cmd_recall);
    enable_row(cmd_recall, false);
    send_command("CAL" + pad3(index));
    await_late_reply(); // restoring a preset takes the device a while
    if (reply_ok) map_refresh();
    enable_row(cmd_recall, true);
}

void FrmMain::cmd_save_Click(int index)
{
    clear_row(cmd_save);
    enable_row(cmd_save, false);
    send_command("SAV" + pad3(index));
    await_late_reply();
    enable_row(cmd_save, true);
}

void FrmMain::reply_cal() { highlight(cmd_recall, reply_last_digit(reply_text)); }
void FrmMain::reply_sav() { highlight(cmd_save, reply_last_digit(reply_text)); }

} // namespace tavrion
