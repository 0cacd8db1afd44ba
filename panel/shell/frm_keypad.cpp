// The keypad window. The numeric keypad drives the menu, mute and lock buttons; the main
// keyboard's 1-3, A S D F and J K L ; drive the mode, output and input buttons.
#include "panel/shell/frm_keypad.h"

#include "panel/adjust/audio.h"
#include "session/device_session.h"
#include "panel/routing/display_modes.h"
#include "panel/routing/routing_map.h"
#include "panel/design_pictures.h"
#include "panel/shell/menu_keys.h"
#include "panel/shell/power_lock.h"
#include "panel/accessibility.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

namespace tavrion {

namespace {
constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

// Virtual-key codes of the key map.
enum Vk {
    VkClear = 12, VkPageUp = 33, VkPageDown = 34, VkEnd = 35, VkHome = 36,
    VkLeft = 37, VkUp = 38, VkRight = 39, VkDown = 40, VkInsert = 45,
    VkNumpad0 = 96, VkSemicolon = 186,
};

// The virtual-key code of the key with the xkb key number `code` (evdev code + 8, as X11 and
// Wayland report it): the key's place on the keyboard, whatever the layout and Shift make of it.
// A numeric-keypad key gives its digit code while it types a digit (Num Lock on), its navigation
// code otherwise. 0 for keys that the key map has no use for.
int virtual_key_at(quint32 code, int qt_key)
{
    if (code >= 10 && code <= 19) return code == 19 ? '0' : int('1' + (code - 10));
    const struct { quint32 first; const char* keys; } rows[] = {{24, "QWERTYUIOP"}, {38, "ASDFGHJKL"}, {52, "ZXCVBNM"}};
    for (const auto& r : rows)
        if (code >= r.first && code < r.first + qstrlen(r.keys)) return r.keys[code - r.first];
    if (code == 47) return VkSemicolon;
    const struct { quint32 code; int digit, navigation; } keypad[] = {
        {79, 7, VkHome}, {80, 8, VkUp}, {81, 9, VkPageUp}, {83, 4, VkLeft}, {84, 5, VkClear},
        {85, 6, VkRight}, {87, 1, VkEnd}, {88, 2, VkDown}, {89, 3, VkPageDown}, {90, 0, VkInsert}};
    for (const auto& k : keypad)
        if (k.code == code) return qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9 ? VkNumpad0 + k.digit : k.navigation;
    const int navigation[] = {VkHome, VkUp, VkPageUp, VkLeft, VkRight, VkEnd, VkDown, VkPageDown}; // 110..117
    if (code >= 110 && code <= 117) return navigation[code - 110];
    return 0;
}

// The key that the layout makes of an X11 keysym, for the keys that follow the layout: the Latin
// letters (AZERTY's A key is A, Dvorak's S sits where US has ;) and the semicolon, which on such
// layouts may lie on a place that is a letter. 0 for every other keysym (digits, keypad,
// Cyrillic letters ...): those keys go by their place.
int layout_key(quint32 keysym)
{
    if (keysym >= 'a' && keysym <= 'z') return int(keysym - 'a' + 'A');
    if (keysym >= 'A' && keysym <= 'Z') return int(keysym);
    if (keysym == ';' || keysym == ':') return VkSemicolon;
    return 0;
}
} // namespace

FrmKeypad::FrmKeypad(QWidget* main, DeviceSession& session, const Targets& targets)
    : QWidget(main, Qt::Tool), main_(main), session_(session), targets_(targets)
{
    mark_as_frame(this);
    setObjectName(QStringLiteral("frm_keypad"));
    setWindowTitle(QStringLiteral("Keyboard"));
    // A fixed tool window: a title and a close button, nothing to minimise or maximise.
    setWindowFlags(Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                   | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(px(5295), px(1680));
    setFocusPolicy(Qt::StrongFocus);

    img_keypad = new QLabel(this);
    img_keypad->setObjectName(QStringLiteral("img_keypad"));
    img_keypad->setGeometry(px(90), px(120), px(5085), px(1440));
    img_keypad->setPixmap(design_key_map());
    img_keypad->setAccessibleName(QStringLiteral("Key map"));
    {
        const QString keys = QStringLiteral(
            "Keys: 1 Matrix, 2 Dual, 3 TV Wall; A S D F outputs A to D; J K L ; inputs 1 to 4; "
            "numeric keypad: 7 speaker, 8 up, 9 lock, 4 left, 5 OK, 6 right, 1 exit, 2 down, 3 menu");
        img_keypad->setAccessibleDescription(keys);
        img_keypad->setToolTip(keys);
    }

    // Closing the main window closes the keypad with it.
    main_->installEventFilter(this);
}

FrmKeypad::~FrmKeypad() = default;

void FrmKeypad::Form_Load()
{
    keypad_open_ = true;
    place_above_main();
}

void FrmKeypad::place_above_main()
{
    // Frame geometry: the title bars are part of both heights. Before the window is first shown
    // the frame is not known yet, so the caller places it once more after showing it.
    const QRect main_frame = main_->frameGeometry();
    int top = main_frame.top() - frameGeometry().height();
    if (QScreen* screen = main_->screen()) {
        // A main window near the top of the screen would push the keypad off it: clamp it to the
        // top of the available area instead (it then overlaps the main window).
        const int available_top = screen->availableGeometry().top();
        if (top < available_top) top = available_top;
    }
    move(main_frame.left(), top);
}

void FrmKeypad::Form_Unload() { keypad_open_ = false; }

void FrmKeypad::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

bool FrmKeypad::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == main_ && event->type() == QEvent::Close && isVisible()) close();
    return QWidget::eventFilter(watched, event);
}

int FrmKeypad::virtual_key(int qt_key, Qt::KeyboardModifiers modifiers, quint32 native_virtual_key,
                           quint32 native_scan_code)
{
#if defined(Q_OS_WIN)
    // On Windows the native key is the virtual-key code itself, whatever Shift does to the text.
    Q_UNUSED(native_scan_code);
    if (native_virtual_key != 0) return int(native_virtual_key);
#elif defined(Q_OS_DARWIN)
    Q_UNUSED(native_virtual_key);
    Q_UNUSED(native_scan_code);
#else
    // Elsewhere the key is the character typed (Shift+1 is '!', AZERTY's 1 is '&'); the key number
    // names the key itself, the keysym what the layout puts on it. Letters follow the layout, as
    // virtual-key codes do; the rest goes by place.
    if (native_scan_code != 0) {
        // Only in the block of typing keys (key numbers 10 to 61): the numeric keypad and the
        // navigation keys never follow the layout.
        const bool typing_key = native_scan_code >= 10 && native_scan_code <= 61;
        if (const int vk = typing_key ? layout_key(native_virtual_key) : 0) return vk;
        return virtual_key_at(native_scan_code, qt_key);
    }
#endif
    // No native key (a synthesised event): the character decides.
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9)
        return keypad ? VkNumpad0 + (qt_key - Qt::Key_0) : '0' + (qt_key - Qt::Key_0);
    if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return 'A' + (qt_key - Qt::Key_A);
    // The navigation keys send the same codes from the keypad (Num Lock off) and from their own
    // block; keypad 5 without Num Lock is Clear.
    switch (qt_key) {
    case Qt::Key_Clear: return VkClear;
    case Qt::Key_PageUp: return VkPageUp;
    case Qt::Key_PageDown: return VkPageDown;
    case Qt::Key_End: return VkEnd;
    case Qt::Key_Home: return VkHome;
    case Qt::Key_Left: return VkLeft;
    case Qt::Key_Up: return VkUp;
    case Qt::Key_Right: return VkRight;
    case Qt::Key_Down: return VkDown;
    case Qt::Key_Semicolon: return VkSemicolon;
    default: return 0;
    }
}

void FrmKeypad::keyPressEvent(QKeyEvent* event)
{
    Form_KeyDown(virtual_key(event->key(), event->modifiers(), event->nativeVirtualKey(), event->nativeScanCode()),
                 event->modifiers());
    event->accept();
}

void FrmKeypad::Form_KeyDown(int key_code, Qt::KeyboardModifiers)
{
    // Keys that come while a command or a wait runs are dropped, not queued.
    if (session_.waiting()) return;
    MenuKeys& menu = targets_.menu;
    RoutingMap& routing = targets_.routing;
    bool arrow = false;
    switch (key_code) {
    case VkClear: case VkNumpad0 + 5: menu.cmd_menu_ok_Click(); break;
    case VkPageUp: case VkNumpad0 + 9: targets_.power_lock.cmd_lock_Click(); break;
    case VkPageDown: case VkNumpad0 + 3: menu.cmd_menu_menu_Click(); break;
    case VkEnd: case VkNumpad0 + 1: menu.cmd_menu_exit_Click(); break;
    case VkHome: case VkNumpad0 + 7: targets_.audio.cmd_mute_Click(); break;
    case VkLeft: case VkNumpad0 + 4: menu.cmd_menu_left_Click(); arrow = true; break;
    case VkUp: case VkNumpad0 + 8: menu.cmd_menu_up_Click(); arrow = true; break;
    case VkRight: case VkNumpad0 + 6: menu.cmd_menu_right_Click(); arrow = true; break;
    case VkDown: case VkNumpad0 + 2: menu.cmd_menu_down_Click(); arrow = true; break;
    case '1': case '2': case '3': targets_.modes.cmd_mode_Click(key_code - '0'); break;
    case 'A': routing.cmd_out_Click(1); break;
    case 'S': routing.cmd_out_Click(2); break;
    case 'D': routing.cmd_out_Click(3); break;
    case 'F': routing.cmd_out_Click(4); break;
    case 'J': routing.cmd_inp_Click(1); break;
    case 'K': routing.cmd_inp_Click(2); break;
    case 'L': routing.cmd_inp_Click(3); break;
    case VkSemicolon: routing.cmd_inp_Click(4); break;
    default: return;
    }
    // Auto-repeated arrows arriving during this short wait are dropped by the test above.
    if (arrow) session_.wait_seconds(0.05f);
}

} // namespace tavrion
