#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_mode_Click(int) {}
void FrmMain::reply_mod() {}

} // namespace tavrion
