#include "shell/frm_main.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QPushButton>

namespace tavrion {

void FrmMain::cmd_pwr_Click() {}
void FrmMain::cmd_lock_Click() {}
void FrmMain::reply_pwr() {}
void FrmMain::reply_lck() {}
bool FrmMain::show_picture(QPushButton*, const QString&) { return false; }

} // namespace tavrion
