#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cbo_output_Click() {}
void FrmMain::reply_res() {}

} // namespace tavrion
