// The device's on-screen menu keys, and the "Keyboard" button that opens the keypad window, whose
// keys press the panel's buttons: menu keys, lock, speaker, modes, outputs and inputs.
#pragma once

#include <QObject>
#include <QPointer>

class QPushButton;
class QWidget;

namespace tavrion {

class Audio;
class DeviceSession;
class DisplayModes;
class FrmKeypad;
class PowerLock;
class RoutingMap;

class MenuKeys : public QObject {
public:
    struct Controls {
        QPushButton* cmd_menu_menu;
        QPushButton* cmd_menu_exit;
        QPushButton* cmd_menu_ok;
        QPushButton* cmd_menu_up;
        QPushButton* cmd_menu_down;
        QPushButton* cmd_menu_left;
        QPushButton* cmd_menu_right;
        QPushButton* cmd_keypad;
    };
    // The buttons the keypad window presses.
    struct KeypadTargets {
        PowerLock& power_lock;
        Audio& audio;
        DisplayModes& modes;
        RoutingMap& routing;
    };
    MenuKeys(DeviceSession& session, QWidget* main_window, const KeypadTargets& targets, const Controls& controls);
    ~MenuKeys() override;

    void cmd_menu_menu_Click();
    void cmd_menu_exit_Click();
    void cmd_menu_ok_Click();
    void cmd_menu_up_Click();
    void cmd_menu_down_Click();
    void cmd_menu_left_Click();
    void cmd_menu_right_Click();
    void cmd_keypad_Click();

    bool keypad_open() const; // the keypad window is loaded
    FrmKeypad* keypad_window() const { return frm_keypad; }

private:
    DeviceSession& session_;
    QWidget* main_window_;
    KeypadTargets targets_;
    Controls c_;
    QPointer<FrmKeypad> frm_keypad;
};

} // namespace tavrion
