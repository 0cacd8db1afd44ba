#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_get_ip_Click() {}

} // namespace tavrion
