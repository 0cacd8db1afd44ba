#include "shell/frm_keypad.h"

#include "shell/frm_main.h"

namespace tavrion {

FrmKeypad::FrmKeypad(FrmMain* main) : QWidget(main, Qt::Tool), main_(main) {}
FrmKeypad::~FrmKeypad() = default;
void FrmKeypad::Form_Load() {}
void FrmKeypad::Form_KeyDown(int, Qt::KeyboardModifiers) {}
void FrmKeypad::Form_Unload() {}
int FrmKeypad::virtual_key(int, Qt::KeyboardModifiers, quint32) { return 0; }
void FrmKeypad::keyPressEvent(QKeyEvent*) {}
void FrmKeypad::closeEvent(QCloseEvent*) {}

} // namespace tavrion
