#include "shell/frm_main.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QPushButton>

namespace tavrion {

void FrmMain::hsr_bri_Change(int) {}
void FrmMain::hsr_con_Change(int) {}
void FrmMain::hsr_hue_Change(int) {}
void FrmMain::hsr_sat_Change(int) {}
void FrmMain::cmd_pic_refresh_Click() {}
void FrmMain::cmd_pic_reset_Click() {}
void FrmMain::reply_bri() {}
void FrmMain::reply_con() {}
void FrmMain::reply_hue() {}
void FrmMain::reply_sat() {}
void FrmMain::picture_reset_step() {}
void FrmMain::picture_slider_change(const char*, const Indexed<QScrollBar, 1, 4>&, const Indexed<QLineEdit, 1, 4>&, int) {}
void FrmMain::picture_reply(const Indexed<QScrollBar, 1, 4>&, const Indexed<QLineEdit, 1, 4>&) {}

} // namespace tavrion
