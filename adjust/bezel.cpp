#include "shell/frm_main.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QPushButton>

namespace tavrion {

void FrmMain::hsr_bezel_h_Change() {}
void FrmMain::hsr_bezel_v_Change() {}
void FrmMain::opt_bezel_onoff_Click(int) {}
void FrmMain::reply_beh() {}
void FrmMain::reply_bev() {}
void FrmMain::reply_bez() {}
void FrmMain::bezel_reply(QScrollBar*, QLineEdit*) {}
void FrmMain::bezel_slider_change(const char*, QScrollBar*, QLineEdit*) {}

} // namespace tavrion
