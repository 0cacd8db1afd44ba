// The "Keyboard" window: turns PC key presses into clicks on the main window's buttons.
#pragma once

#include <QWidget>

class QLabel;

namespace tavrion {

class FrmMain;

class FrmKeypad : public QWidget {
    Q_OBJECT
public:
    explicit FrmKeypad(FrmMain* main);
    ~FrmKeypad() override;

    void Form_Load();
    void Form_KeyDown(int key_code, Qt::KeyboardModifiers shift);
    void Form_Unload();

    // Puts the window's bottom edge on the main window's top edge, left edges aligned; never
    // above the top of the screen's available area.
    void place_above_main();

    // The virtual-key code of a Qt key event (keypad digits with Num Lock 96..105, Home 36 ...);
    // 0 for keys the key map does not know.
    static int virtual_key(int qt_key, Qt::KeyboardModifiers modifiers, quint32 native_virtual_key = 0);

    QLabel* img_keypad = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FrmMain* main_;
};

} // namespace tavrion
