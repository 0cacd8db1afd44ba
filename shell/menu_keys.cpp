#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_menu_menu_Click() {}
void FrmMain::cmd_menu_exit_Click() {}
void FrmMain::cmd_menu_ok_Click() {}
void FrmMain::cmd_menu_up_Click() {}
void FrmMain::cmd_menu_down_Click() {}
void FrmMain::cmd_menu_left_Click() {}
void FrmMain::cmd_menu_right_Click() {}
void FrmMain::cmd_keypad_Click() {}

} // namespace tavrion
