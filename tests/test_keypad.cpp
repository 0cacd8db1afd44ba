// The menu buttons and the keypad window: virtual-key codes with Num Lock on and off, real key
// events turned into the main window's clicks, keys dropped while a command is in flight, and the
// window's opening, placing and closing.
#include "support/panel_harness.h"

#include "panel/shell/frm_keypad.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void ready(PanelHarness& h)
{
    h.ready(h.w().fra_btn);
    h.w().cmd_keypad->show(); // as after the first refresh
}

FrmKeypad* open_keypad(PanelHarness& h)
{
    PanelHarness::click(h.w().cmd_keypad);
    return h.w().menu_keys().keypad_window();
}

// Presses one key on the keypad window and returns what went on the wire.
QStringList press(PanelHarness& h, FrmKeypad* k, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    h.serial.clear();
    QTest::keyClick(k, key, mods);
    PanelHarness::pump(10);
    return h.serial.commands;
}

// Presses one key as the platform reports it: with the key's number (X11: evdev code + 8) and its
// Windows virtual-key code, beside the character that the layout and modifiers made of it.
QStringList press_native(PanelHarness& h, FrmKeypad* k, int qt_key, Qt::KeyboardModifiers mods, quint32 scan_code,
                         quint32 vk, const QString& text)
{
    h.serial.clear();
    QKeyEvent down(QEvent::KeyPress, qt_key, mods, scan_code, vk, 0, text);
    QApplication::sendEvent(k, &down);
    PanelHarness::pump(10);
    return h.serial.commands;
}
} // namespace

class TestKeypad : public QObject {
    Q_OBJECT
private slots:
    void virtual_key_codes()
    {
        const auto kp = Qt::KeypadModifier;
        // Keypad with Num Lock on: 96..105.
        for (int d = 0; d <= 9; ++d) QCOMPARE(FrmKeypad::virtual_key(Qt::Key_0 + d, kp), 96 + d);
        // Keypad with Num Lock off: the navigation codes, 5 as Clear.
        const int nav[][2] = {{Qt::Key_Home, 36}, {Qt::Key_Up, 38}, {Qt::Key_PageUp, 33}, {Qt::Key_Left, 37},
                              {Qt::Key_Clear, 12}, {Qt::Key_Right, 39}, {Qt::Key_End, 35}, {Qt::Key_Down, 40},
                              {Qt::Key_PageDown, 34}};
        for (const auto& n : nav) {
            QCOMPARE(FrmKeypad::virtual_key(n[0], kp), n[1]);
            QCOMPARE(FrmKeypad::virtual_key(n[0], Qt::NoModifier), n[1]);
        }
        // Main keyboard: ASCII digits and upper-case letters, Shift not looked at; ';' is 186.
        QCOMPARE(FrmKeypad::virtual_key(Qt::Key_1, Qt::NoModifier), 49);
        QCOMPARE(FrmKeypad::virtual_key(Qt::Key_A, Qt::ShiftModifier), 65);
        QCOMPARE(FrmKeypad::virtual_key(Qt::Key_F, Qt::ControlModifier), 70);
        QCOMPARE(FrmKeypad::virtual_key(Qt::Key_Semicolon, Qt::NoModifier), 186);
        for (int k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Shift})
            QCOMPARE(FrmKeypad::virtual_key(k, Qt::NoModifier), 0);
    }

    void menu_buttons_send_their_commands()
    {
        PanelHarness h;
        ScriptedDevice dev; // ERR000 answers complete each transaction
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        for (QPushButton* b : {w.cmd_menu_menu, w.cmd_menu_exit, w.cmd_menu_ok, w.cmd_menu_up, w.cmd_menu_down,
                               w.cmd_menu_left, w.cmd_menu_right}) {
            QVERIFY(!b->icon().isNull());
            PanelHarness::click(b);
        }
        QCOMPARE(h.serial.commands,
                 (QStringList{"MNX001", "MNE001", "MNO001", "MNU001", "MND001", "MNL001", "MNR001"}));
    }

    void keys_click_the_main_window_with_num_lock_on_and_off()
    {
        PanelHarness h;
        ScriptedDevice dev;
        h.serial.responder = dev.responder();
        ready(h);
        FrmKeypad* k = open_keypad(h);
        QVERIFY(k && k->isVisible());
        const auto kp = Qt::KeypadModifier;

        QCOMPARE(press(h, k, Qt::Key_8, kp), QStringList{"MNU001"});   // 104
        QCOMPARE(press(h, k, Qt::Key_Up, kp), QStringList{"MNU001"});  // 38, Num Lock off
        QCOMPARE(press(h, k, Qt::Key_2, kp), QStringList{"MND001"});
        QCOMPARE(press(h, k, Qt::Key_Down), QStringList{"MND001"});
        QCOMPARE(press(h, k, Qt::Key_4, kp), QStringList{"MNL001"});
        QCOMPARE(press(h, k, Qt::Key_Right, kp), QStringList{"MNR001"});
        QCOMPARE(press(h, k, Qt::Key_5, kp), QStringList{"MNO001"});
        QCOMPARE(press(h, k, Qt::Key_Clear, kp), QStringList{"MNO001"});
        QCOMPARE(press(h, k, Qt::Key_3, kp), QStringList{"MNX001"});
        QCOMPARE(press(h, k, Qt::Key_PageDown, kp), QStringList{"MNX001"});
        QCOMPARE(press(h, k, Qt::Key_1, kp), QStringList{"MNE001"});
        QCOMPARE(press(h, k, Qt::Key_End), QStringList{"MNE001"});
        QCOMPARE(press(h, k, Qt::Key_7, kp), QStringList{"AUD001"}); // mute toggles from the state
        QCOMPARE(press(h, k, Qt::Key_Home, kp), QStringList{"AUD000"});
        QCOMPARE(press(h, k, Qt::Key_9, kp).value(0), QStringLiteral("LCK001"));
        QCOMPARE(press(h, k, Qt::Key_PageUp).value(0), QStringLiteral("LCK000"));

        QCOMPARE(press(h, k, Qt::Key_2).value(0), QStringLiteral("MOD002"));
        QCOMPARE(press(h, k, Qt::Key_S, Qt::ShiftModifier).value(0), QStringLiteral("OUT002"));
        QCOMPARE(press(h, k, Qt::Key_F).value(0), QStringLiteral("OUT004"));
        QCOMPARE(press(h, k, Qt::Key_J).value(0), QStringLiteral("INP001"));
        QCOMPARE(press(h, k, Qt::Key_Semicolon).value(0), QStringLiteral("INP004"));

        for (Qt::Key key : {Qt::Key_4, Qt::Key_Return, Qt::Key_Space, Qt::Key_Escape, Qt::Key_Q})
            QVERIFY(press(h, k, key).isEmpty());
        QVERIFY(k->isVisible()); // Escape does not close it

        // The key counts, not its character: Shift+1, AZERTY's unshifted 1, Shift+;, the A key
        // on a Cyrillic layout, Ctrl+Alt+S, keypad 8 with Num Lock on and off.
        QCOMPARE(press_native(h, k, Qt::Key_Exclam, Qt::ShiftModifier, 10, '1', "!").value(0), QStringLiteral("MOD001"));
        QCOMPARE(press_native(h, k, Qt::Key_Ampersand, Qt::NoModifier, 10, '1', "&").value(0), QStringLiteral("MOD001"));
        QCOMPARE(press_native(h, k, Qt::Key_Colon, Qt::ShiftModifier, 47, 186, ":").value(0), QStringLiteral("INP004"));
        QCOMPARE(press_native(h, k, 0x424, Qt::NoModifier, 38, 'A', QStringLiteral("\u0444")).value(0), QStringLiteral("OUT001"));
        QCOMPARE(press_native(h, k, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier, 39, 'S', {}).value(0), QStringLiteral("OUT002"));
        QCOMPARE(press_native(h, k, Qt::Key_8, kp, 80, 104, "8"), QStringList{"MNU001"});
        QCOMPARE(press_native(h, k, Qt::Key_Up, kp, 80, 38, {}), QStringList{"MNU001"});
        QVERIFY(press_native(h, k, Qt::Key_Dollar, Qt::ShiftModifier, 13, '4', "$").isEmpty());
    }

    void letters_follow_the_layout_digits_the_place()
    {
        PanelHarness h;
        ScriptedDevice dev;
        h.serial.responder = dev.responder();
        ready(h);
        FrmKeypad* k = open_keypad(h);
        // Key number (X11: evdev code + 8) and keysym as X11 reports them; "" = nothing sent.
        const struct {
            quint32 place, keysym;
            Qt::KeyboardModifiers mods;
            const char* sent;
        } keys[] = {
            {24, 'a', {}, "OUT001"}, {38, 'q', {}, ""}, {47, 'm', {}, ""}, // AZERTY: A, Q, M keys
            {59, ';', {}, "INP004"}, {10, '&', {}, "MOD001"},              // AZERTY: ; and 1 keys
            {47, 's', {}, "OUT002"}, {39, 'o', {}, ""}, {54, 'J', Qt::ShiftModifier, "INP001"}, // Dvorak
            {52, ';', {}, "INP004"}, {52, ':', Qt::ShiftModifier, "INP004"}, {11, '2', {}, "MOD002"},
            {38, 0x6c6, {}, "OUT001"}, // Russian ef: no Latin letter, by place
        };
        for (const auto& key : keys) {
            const QStringList sent = press_native(h, k, 0, key.mods, key.place, key.keysym, {});
            QCOMPARE(sent.value(0), QString::fromLatin1(key.sent));
        }
    }

    void keys_during_a_command_or_arrow_wait_are_dropped()
    {
        PanelHarness h;
        ScriptedDevice dev;
        h.serial.responder = dev.responder();
        h.serial.delay_ms = 200;
        ready(h);
        FrmKeypad* k = open_keypad(h);
        // Keys arrive while the down arrow's command is in flight. The mute key would toggle
        // audio_state even with its own send refused, so it shows whether the key was dropped.
        QTimer::singleShot(50, k, [k] { QTest::keyClick(k, Qt::Key_Down); });
        QTimer::singleShot(100, k, [k] { QTest::keyClick(k, Qt::Key_7, Qt::KeypadModifier); });
        QCOMPARE(press(h, k, Qt::Key_Down), QStringList{"MND001"});
        QCOMPARE(h.w().device_state().audio_state, 254);

        // After the answer, the arrow's short wait still holds keys off.
        h.serial.delay_ms = 0;
        QTimer::singleShot(25, k, [k] { QTest::keyClick(k, Qt::Key_Home); });
        QElapsedTimer t;
        t.start();
        QCOMPARE(press(h, k, Qt::Key_Up), QStringList{"MNU001"});
        QVERIFY(t.elapsed() >= 50);
        PanelHarness::pump(50);
        QCOMPARE(h.w().device_state().audio_state, 254);
        QVERIFY(!h.w().session().waiting());
        QCOMPARE(press(h, k, Qt::Key_Home), QStringList{"AUD001"}); // accepted again afterwards
    }

    void keyboard_button_opens_above_and_closes()
    {
        PanelHarness h;
        ready(h);
        auto& w = h.w();
        const QRect avail = w.screen()->availableGeometry();
        w.move(avail.left() + 100, avail.top() + 400);
        PanelHarness::pump(20);

        FrmKeypad* k = open_keypad(h);
        QVERIFY(w.menu_keys().keypad_open());
        QVERIFY(k->isVisible());
        QCOMPARE(k->windowTitle(), QStringLiteral("Keyboard"));
        QCOMPARE(k->size(), QSize(353, 112));
        QCOMPARE(k->img_keypad->geometry(), QRect(6, 8, 339, 96));
        QVERIFY(!k->img_keypad->pixmap().isNull());
        QCOMPARE(k->frameGeometry().left(), w.frameGeometry().left());
        QCOMPARE(k->frameGeometry().top() + k->frameGeometry().height(), w.frameGeometry().top());

        PanelHarness::click(w.cmd_keypad);
        QVERIFY(!w.menu_keys().keypad_open());
        QVERIFY(!k->isVisible());

        // Open again; the user closes it; then the main window closes with it open.
        QCOMPARE(open_keypad(h), k); // only one keypad window exists
        QVERIFY(w.menu_keys().keypad_open());
        k->close();
        QVERIFY(!w.menu_keys().keypad_open());
        open_keypad(h);
        w.close();
        QVERIFY(!k->isVisible());
        QVERIFY(!w.menu_keys().keypad_open());
    }

    void keypad_stays_on_screen_when_the_main_window_is_at_the_top()
    {
        PanelHarness h;
        ready(h);
        auto& w = h.w();
        const QRect avail = w.screen()->availableGeometry();
        w.move(avail.left() + 50, avail.top());
        PanelHarness::pump(20);
        FrmKeypad* k = open_keypad(h);
        QCOMPARE(k->frameGeometry().top(), avail.top());
        QCOMPARE(k->frameGeometry().left(), w.frameGeometry().left());
    }
};

QTEST_MAIN(TestKeypad)
#include "test_keypad.moc"
