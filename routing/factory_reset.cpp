#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_fact_reset_Click() {}
void FrmMain::reply_rst() {}

} // namespace tavrion
