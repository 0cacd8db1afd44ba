#include "shell/frm_main.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QPushButton>

namespace tavrion {

void FrmMain::opt_audio_Click(int) {}
void FrmMain::opt_da_Click(int) {}
void FrmMain::opt_db_Click(int) {}
void FrmMain::cmd_mute_Click() {}
void FrmMain::reply_aua() {}
void FrmMain::reply_aub() {}
void FrmMain::reply_aud() {}
void FrmMain::reply_aue() {}
void FrmMain::option_reply(QRadioButton*) {}

} // namespace tavrion
