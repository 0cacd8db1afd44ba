#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_recall_Click(int) {}
void FrmMain::cmd_save_Click(int) {}
void FrmMain::reply_cal() {}
void FrmMain::reply_sav() {}

} // namespace tavrion
