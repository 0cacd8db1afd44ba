// The device's on-screen menu keys, and the "Keyboard" button that opens the keypad window.
// Menu commands have no reply handler: an answer only completes the transaction.
#include "panel/shell/menu_keys.h"

#include "protocol/command_catalogue.h"
#include "session/device_session.h"
#include "panel/shell/frm_keypad.h"

#include <QPushButton>

namespace tavrion {

MenuKeys::MenuKeys(DeviceSession& session, QWidget* main_window, const KeypadTargets& targets, const Controls& controls)
    : session_(session), main_window_(main_window), targets_(targets), c_(controls)
{
    connect(c_.cmd_menu_up, &QPushButton::clicked, this, [this] { cmd_menu_up_Click(); });
    connect(c_.cmd_menu_down, &QPushButton::clicked, this, [this] { cmd_menu_down_Click(); });
    connect(c_.cmd_menu_left, &QPushButton::clicked, this, [this] { cmd_menu_left_Click(); });
    connect(c_.cmd_menu_right, &QPushButton::clicked, this, [this] { cmd_menu_right_Click(); });
    connect(c_.cmd_menu_ok, &QPushButton::clicked, this, [this] { cmd_menu_ok_Click(); });
    connect(c_.cmd_menu_menu, &QPushButton::clicked, this, [this] { cmd_menu_menu_Click(); });
    connect(c_.cmd_menu_exit, &QPushButton::clicked, this, [this] { cmd_menu_exit_Click(); });
    connect(c_.cmd_keypad, &QPushButton::clicked, this, [this] { cmd_keypad_Click(); });
}

MenuKeys::~MenuKeys()
{
    // The keypad presses this feature's buttons and those of others: it goes first.
    if (frm_keypad) delete frm_keypad.data();
}

void MenuKeys::cmd_menu_menu_Click() { session_.send_command(command_of(Code::MNX, 1)); }
void MenuKeys::cmd_menu_exit_Click() { session_.send_command(command_of(Code::MNE, 1)); }
void MenuKeys::cmd_menu_ok_Click() { session_.send_command(command_of(Code::MNO, 1)); }
void MenuKeys::cmd_menu_up_Click() { session_.send_command(command_of(Code::MNU, 1)); }
void MenuKeys::cmd_menu_down_Click() { session_.send_command(command_of(Code::MND, 1)); }
void MenuKeys::cmd_menu_left_Click() { session_.send_command(command_of(Code::MNL, 1)); }
void MenuKeys::cmd_menu_right_Click() { session_.send_command(command_of(Code::MNR, 1)); }

bool MenuKeys::keypad_open() const { return frm_keypad && frm_keypad->keypad_open(); }

void MenuKeys::cmd_keypad_Click()
{
    if (keypad_open()) {
        if (frm_keypad) frm_keypad->close(); // its close event unloads it
        return;
    }
    // One keypad window for the life of the main window: it is hidden on close and placed anew
    // on every opening.
    if (!frm_keypad)
        frm_keypad = new FrmKeypad(main_window_, session_,
                                   {*this, targets_.power_lock, targets_.audio, targets_.modes, targets_.routing});
    frm_keypad->Form_Load();
    frm_keypad->show();
    frm_keypad->place_above_main(); // again, now that the window manager's frame is known
}

} // namespace tavrion
