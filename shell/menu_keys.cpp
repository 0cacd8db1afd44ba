// The device's on-screen menu keys, and the "Keyboard" button that opens the keypad window.
// Menu commands have no reply handler: an answer only completes the transaction.
#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_menu_menu_Click() { send_command("MNX001"); }
void FrmMain::cmd_menu_exit_Click() { send_command("MNE001"); }
void FrmMain::cmd_menu_ok_Click() { send_command("MNO001"); }
void FrmMain::cmd_menu_up_Click() { send_command("MNU001"); }
void FrmMain::cmd_menu_down_Click() { send_command("MND001"); }
void FrmMain::cmd_menu_left_Click() { send_command("MNL001"); }
void FrmMain::cmd_menu_right_Click() { send_command("MNR001"); }

void FrmMain::cmd_keypad_Click()
{
    if (keypad_open) {
        if (frm_keypad) frm_keypad->close(); // its close event unloads it
        return;
    }
    // One keypad window for the life of the main window: it is hidden on close and placed anew
    // on every opening.
    if (!frm_keypad) frm_keypad = new FrmKeypad(this);
    frm_keypad->Form_Load();
    frm_keypad->show();
    frm_keypad->place_above_main(); // again, now that the window manager's frame is known
}

} // namespace tavrion
