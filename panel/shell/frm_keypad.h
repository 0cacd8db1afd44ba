// The "Keyboard" window: turns PC key presses into clicks on the main window's buttons.
#pragma once

#include <QWidget>

class QLabel;

namespace tavrion {

class Audio;
class DeviceSession;
class DisplayModes;
class MenuKeys;
class PowerLock;
class RoutingMap;

class FrmKeypad : public QWidget {
    Q_OBJECT
public:
    // The features whose buttons the keys press.
    struct Targets {
        MenuKeys& menu;
        PowerLock& power_lock;
        Audio& audio;
        DisplayModes& modes;
        RoutingMap& routing;
    };
    // A tool window of `main`, placed above it and closed with it.
    FrmKeypad(QWidget* main, DeviceSession& session, const Targets& targets);
    ~FrmKeypad() override;

    bool keypad_open() const { return keypad_open_; } // loaded, and not unloaded since
    void Form_Load();
    void Form_KeyDown(int key_code, Qt::KeyboardModifiers shift);
    void Form_Unload();

    // Puts the window's bottom edge on the main window's top edge, left edges aligned; never
    // above the top of the screen's available area.
    void place_above_main();

    // The virtual-key code of a Qt key event (keypad digits with Num Lock 96..105, Home 36 ...):
    // the key pressed, not the character that the layout and Shift make of it. 0 for keys the key
    // map does not know.
    static int virtual_key(int qt_key, Qt::KeyboardModifiers modifiers, quint32 native_virtual_key = 0,
                           quint32 native_scan_code = 0);

    QLabel* img_keypad = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* main_;
    DeviceSession& session_;
    Targets targets_;
    bool keypad_open_ = false;
};

} // namespace tavrion
