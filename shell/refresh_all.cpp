#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_refresh_Click() {}
void FrmMain::cmd_ver_Click() {}
void FrmMain::reply_ver() {}

} // namespace tavrion
