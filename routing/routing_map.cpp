#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::cmd_out_Click(int) {}
void FrmMain::cmd_inp_Click(int) {}
void FrmMain::reply_out() {}
void FrmMain::reply_inp() {}
void FrmMain::map_refresh() {}
LineShape* FrmMain::routing_line(int, int) const { return nullptr; }

} // namespace tavrion
