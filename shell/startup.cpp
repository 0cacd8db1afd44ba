#include "shell/frm_main.h"

namespace tavrion {

bool FrmMain::Form_Load() { return true; }
void FrmMain::Form_Unload() {}
void FrmMain::cmd_advance_Click() {}
void FrmMain::set_outer_height(int) {}
QString FrmMain::settings_path() const { return QString(); }
QString FrmMain::resolution_list_path() const { return QString(); }
QString FrmMain::picture_path(const QString&) const { return QString(); }

} // namespace tavrion
