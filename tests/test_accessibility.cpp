// Keyboard and screen-reader use of the window: every control that shows only a picture says what
// it does, names tell controls apart in every mode, the states that colours and pictures show are
// reported and announced, the focus stays put through a command, and Tab walks the window in
// reading order.
#include "device_state_support.h"
#include "panel/shell/frm_keypad.h"
#include "support/panel_harness.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <algorithm>

// Qt raises accessibility events only while a platform bridge reports a listening screen reader,
// which the offscreen platform never does. Its default platform accessibility is switched on by
// hand, as Qt's own tests do, through two functions that Qt exports but does not publish (the
// platform does not override the first, which does not use its object).
QT_BEGIN_NAMESPACE
class QPlatformAccessibility {
public:
    void setActive(bool active);
};
class QPlatformIntegration {
public:
    QPlatformAccessibility* accessibility() const;
};
QT_END_NAMESPACE

using namespace tavrion;
using namespace tavrion::test;

namespace {

constexpr int kRowTolerance = 10; // pixels: controls this close in height share a row

QPoint at(QWidget* w) { return w->mapTo(w->window(), QPoint(0, 0)); }

QString where(QWidget* w)
{
    const QPoint p = at(w);
    return QStringLiteral("%1 (%2,%3)").arg(w->objectName()).arg(p.x()).arg(p.y());
}

// The controls Tab visits, in the window's focus chain order.
QList<QWidget*> tab_chain(QWidget* window, bool enabled_only)
{
    QList<QWidget*> chain;
    QSet<QWidget*> seen;
    for (QWidget* w = window->nextInFocusChain(); w != window && !seen.contains(w); w = w->nextInFocusChain()) {
        seen.insert(w);
        if (w->window() != window || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(window)) continue;
        if (enabled_only && !w->isEnabled()) continue;
        chain << w;
    }
    return chain;
}

// b may follow a in reading order: never noticeably upwards, and back to the left only on a
// lower row.
bool reads_after(QWidget* a, QWidget* b)
{
    const QPoint pa = at(a), pb = at(b);
    if (pb.y() < pa.y() - kRowTolerance) return false;
    if (pb.x() < pa.x() && pb.y() <= pa.y()) return false;
    return true;
}

// What Qt tells a screen reader while this lives: the objects whose name or checked state changed.
QList<QPair<QObject*, QAccessible::Event>> heard;

void listen(QAccessibleEvent* e)
{
    if (e->type() == QAccessible::NameChanged
        || (e->type() == QAccessible::StateChanged && static_cast<QAccessibleStateChangeEvent*>(e)->changedStates().checked))
        heard.append({e->object(), e->type()});
}

struct Listening {
    Listening()
    {
        heard.clear();
        QAccessible::installUpdateHandler(listen);
        static const char any = 0;
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            platform = reinterpret_cast<const QPlatformIntegration*>(&any)->accessibility();
        if (platform) platform->setActive(true);
    }
    ~Listening()
    {
        if (platform) platform->setActive(false);
        QAccessible::installUpdateHandler(nullptr);
    }
    QPlatformAccessibility* platform = nullptr;
};

QAccessibleInterface* ui(QObject* o) { return QAccessible::queryAccessibleInterface(o); }
QString name_of(QObject* o) { return ui(o) ? ui(o)->text(QAccessible::Name) : QString(); }

// The controls a user can reach or read: buttons, options, sliders, text boxes, lists.
QList<QWidget*> controls_of(QWidget* window)
{
    QList<QWidget*> out;
    for (QWidget* c : window->findChildren<QWidget*>())
        if ((qobject_cast<QAbstractButton*>(c) || qobject_cast<QAbstractSlider*>(c) || qobject_cast<QLineEdit*>(c)
             || qobject_cast<QComboBox*>(c) || qobject_cast<QPlainTextEdit*>(c))
            && c->isVisibleTo(window) && !c->parentWidget()->objectName().startsWith(QLatin1String("qt_")))
            out << c; // not the parts Qt builds inside a control (a log's scroll bar)
    return out;
}

void enable_frames(FrmMain& w)
{
    for (QWidget* f : {w.fra_btn, static_cast<QWidget*>(w.fra_dual_a), static_cast<QWidget*>(w.fra_dual_b),
                       static_cast<QWidget*>(w.fra_bezel), static_cast<QWidget*>(w.fra_pic),
                       static_cast<QWidget*>(w.fra_audio), static_cast<QWidget*>(w.fra_recall_save)})
        f->setEnabled(true);
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void picture_controls_say_what_they_do()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        const QList<QPushButton*> pictures = {w.cmd_pwr, w.cmd_lock, w.cmd_mute, w.cmd_menu_up, w.cmd_menu_down,
                                              w.cmd_menu_left, w.cmd_menu_right, w.cmd_menu_ok, w.cmd_menu_menu,
                                              w.cmd_menu_exit};
        QSet<QString> names;
        for (QPushButton* b : pictures) {
            QVERIFY2(b->text().isEmpty(), qPrintable(b->objectName()));
            QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
            QVERIFY2(b->toolTip().size() > b->accessibleName().size(), qPrintable(b->objectName()));
            names.insert(b->accessibleName());
            // What a screen reader is told, through Qt's accessibility bridge.
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), b->accessibleName());
            QCOMPARE(a->role(), QAccessible::PushButton);
        }
        QCOMPARE(names.size(), pictures.size()); // no two buttons share a name
        QVERIFY(w.cmd_pwr->toolTip().contains(QStringLiteral("standby")));
        QVERIFY(w.cmd_menu_up->toolTip().contains(QStringLiteral("menu")));

        // The state pictures replace the design pictures; the names stay.
        const QString power = w.cmd_pwr->accessibleName();
        QVERIFY(w.pictures().show(w.cmd_pwr, QStringLiteral("power_on.bmp")));
        QCOMPARE(w.cmd_pwr->accessibleName(), power);

        QVERIFY(!w.img_start->accessibleName().isEmpty());
        QVERIFY(!w.img_start->toolTip().isEmpty());
        w.menu_keys().cmd_keypad_Click();
        FrmKeypad& keypad = *w.menu_keys().keypad_window();
        QVERIFY(!keypad.img_keypad->accessibleName().isEmpty());
        QCOMPARE(ui(&keypad)->role(), QAccessible::Window);
        QVERIFY(keypad.img_keypad->toolTip().contains(QStringLiteral("speaker")));
    }

    void names_tell_controls_apart_in_every_mode()
    {
        Listening listening;
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        QCOMPARE(ui(&w)->role(), QAccessible::Window); // a frame to the bridge, not a filler
        const struct {
            int mode; // 0: as built
            QWidget* control;
            const char* name;
        } expected[] = {
            {0, w.hsr_con(2), "Contrast, Out B"}, {0, w.txt_hue(4), "Hue value, Out D"},
            {0, w.cmd_inp(3), "Input 3"}, {0, w.txt_bezel_v, "Bezel V Correction value"},
            {0, w.opt_db(2), "Dual B Audio, Right"}, {0, w.txt_get_mask, "Subnet Mask"},
            {0, w.cbo_output, "Output Resolution"}, {1, w.hsr_con(1), "Contrast, ALL"},
            {1, w.hsr_bri(3), "Brightness, row 3"}, {1, w.cmd_out(4), "Output D"},
            {2, w.cmd_out(2), "Output AR"}, {2, w.txt_hue(4), "Hue value, BR"},
            {3, w.cmd_out(3), "Output C"}, // no caption in TV Wall
            {0, w.fra_con, "Contrast"}, {0, w.fra_hue, "Hue"}, // not their outer frame's "Picture"
        };
        for (int mode : {0, 1, 2, 3}) {
            if (mode) power_on_in_mode(h, dev, mode);
            for (const auto& e : expected)
                if (e.mode == mode) QCOMPARE(name_of(e.control), QString::fromLatin1(e.name));
            QHash<QString, QString> owner; // every control has a name of its own
            for (QWidget* c : controls_of(&w)) {
                const QString name = name_of(c);
                QVERIFY2(!name.isEmpty() && !owner.contains(name),
                         qPrintable(QStringLiteral("mode %1: %2 %3 \"%4\"").arg(mode).arg(owner.value(name), c->objectName(), name)));
                owner.insert(name, c->objectName());
            }
        }
        QVERIFY(heard.contains({w.hsr_con(1), QAccessible::NameChanged})); // a renamed row is announced
        heard.clear(); // a name that stays is not announced again
        h.serial.feed("MOD003\r");
        PanelHarness::pump(30);
        QVERIFY(!heard.contains({w.cmd_out(1), QAccessible::NameChanged}));
        QVERIFY(!heard.contains({w.hsr_con(1), QAccessible::NameChanged}));
        QVERIFY(!ui(w.txt_get_ip)->relations(QAccessible::Label).isEmpty()); // related to its label
        // Linux names a list by its current item; its label comes by relation.
        const QPair<QWidget*, QString> lists[] = {{w.cbo_output, QStringLiteral("Output Resolution")},
                                                  {w.cbo_com, QStringLiteral("COM port")}};
        for (const auto& list : lists) {
            QStringList labels;
            for (const auto& r : ui(list.first)->relations(QAccessible::Label)) labels << r.first->text(QAccessible::Name);
            QVERIFY2(labels.contains(list.second), qPrintable(labels.join(QLatin1Char('|'))));
        }
    }

    void states_shown_by_colour_or_picture_are_reported()
    {
        Listening listening;
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        // A reply of the device, then the buttons that read as on and those that read as off.
        const struct {
            const char* reply;
            QList<QWidget*> on, off;
        } steps[] = {
            {"PWR001", {w.cmd_pwr}, {}},
            {"MOD001", {w.cmd_mode(1)}, {w.cmd_mode(2), w.cmd_mode(3)}},
            {"OUT002", {w.cmd_out(2)}, {w.cmd_out(1), w.cmd_out(3)}},
            {"INP003", {w.cmd_inp(3)}, {w.cmd_inp(1)}},
            {"LCK001", {w.cmd_lock}, {}},
            {"LCK000", {}, {w.cmd_lock}},
            {"AUD001", {w.cmd_mute}, {}},
            {"AUD000", {}, {w.cmd_mute}},
            {"MOD003", {w.cmd_mode(3)}, {w.cmd_mode(1), w.cmd_out(2)}}, // TV Wall clears the output
            {"PWR000", {}, {w.cmd_pwr}},
        };
        for (const auto& s : steps) {
            heard.clear();
            h.serial.feed(QByteArray(s.reply) + '\r');
            PanelHarness::pump(30);
            for (QWidget* b : s.on + s.off) {
                const bool on = s.on.contains(b);
                const QString what = QString::fromLatin1(s.reply) + QLatin1Char(' ') + b->objectName();
                QVERIFY2(ui(b)->state().checkable && bool(ui(b)->state().checked) == on, qPrintable(what));
                QVERIFY2(heard.contains({b, QAccessible::StateChanged}) || !on, qPrintable(what));
                // Never "pressed" for a state: the Linux bridge does not announce that one, so a
                // screen reader would keep an old value of it.
                QVERIFY2(!ui(b)->state().pressed, qPrintable(what));
            }
        }
        // The press action clicks.
        w.session().send_command("PWR001");
        h.serial.clear();
        ui(w.cmd_inp(2))->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(PanelHarness::wait_until([&] { return h.serial.commands.value(0) == QLatin1String("INP002"); }, 1000));
    }

    void focus_stays_with_a_control_disabled_during_its_command()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        for (QPushButton* b : {w.cmd_refresh, w.cmd_mode(3), w.cmd_mode(1)}) {
            b->setFocus(Qt::TabFocusReason);
            bool kept = false; // looked at while the command runs, with the button disabled
            QTimer::singleShot(0, &w, [&] { kept = !b->isEnabled() && w.focusWidget() == b; });
            b->click();
            QVERIFY2(kept && b->isEnabled() && w.focusWidget() == b, qPrintable(b->objectName()));
        }
        // Tab still moves on from a disabled control.
        w.cmd_refresh->setFocus(Qt::TabFocusReason);
        w.cmd_refresh->setEnabled(false);
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(&w, &tab);
        QVERIFY(w.focusWidget() != w.cmd_refresh);
        w.cmd_refresh->setEnabled(true);

        // A control whose frame is disabled under it (standby) gets the focus back with it.
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w)) QSKIP("window activation is not available on this platform");
        w.cmd_out(2)->setFocus(Qt::TabFocusReason);
        for (const char* reply : {"PWR000\r", "PWR001\r"}) {
            h.serial.feed(reply);
            PanelHarness::pump(30);
        }
        QVERIFY(w.fra_btn->isEnabled());
        QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.cmd_out(2)));
    }

    void tab_chain_reads_top_left_to_bottom_right()
    {
        PanelHarness h(Settings{}); // expanded window, RS-232
        QVERIFY(h.load());
        FrmMain& w = h.w();
        const QList<QWidget*> chain = tab_chain(&w, false);
        // Every part of the window with a keyboard use is in the chain, and only once.
        QVERIFY(chain.contains(w.cmd_refresh));
        QVERIFY(chain.contains(w.cmd_menu_ok));
        QVERIFY(chain.contains(w.cbo_output));
        QVERIFY(chain.contains(w.hsr_hue(4)));
        QVERIFY(chain.contains(w.txt_get_gate));
        QCOMPARE(QSet<QWidget*>(chain.begin(), chain.end()).size(), chain.size());
        QCOMPARE(chain.first(), static_cast<QWidget*>(w.cmd_refresh));
        for (int i = 1; i < chain.size(); ++i)
            QVERIFY2(reads_after(chain[i - 1], chain[i]),
                     qPrintable(where(chain[i - 1]) + QStringLiteral(" -> ") + where(chain[i])));
        // The log lies below the window: Tab never goes there.
        QVERIFY(!chain.contains(w.txt_cmd));
        QVERIFY(!chain.contains(w.cmd_clear));

        // Row by row: the three rows of the menu block come in keypad order within the walk.
        auto before = [&](QWidget* a, QWidget* b) { return chain.indexOf(a) < chain.indexOf(b); };
        QVERIFY(before(w.cmd_mute, w.cmd_menu_up) && before(w.cmd_menu_up, w.cmd_lock));
        QVERIFY(before(w.cmd_lock, w.cmd_menu_left));
        QVERIFY(before(w.cmd_menu_right, w.cmd_menu_exit));
        QVERIFY(before(w.cmd_out(1), w.cmd_out(4)) && before(w.cmd_out(4), w.cmd_inp(1)));
        QVERIFY(before(w.hsr_con(1), w.hsr_con(2)));
    }

    void tab_key_walks_the_chain()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        enable_frames(w); // as after the device reported power on
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w)) QSKIP("window activation is not available on this platform");
        w.cmd_refresh->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.cmd_refresh));
        const QList<QWidget*> chain = tab_chain(&w, true);
        QList<QWidget*> walked{QApplication::focusWidget()};
        for (int i = 1; i < chain.size() + 1; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget();
        }
        // Radio buttons of one group take one Tab stop (the arrow keys move inside the group), so
        // the walk may skip some; it must never leave reading order before it wraps around.
        int wrapped = -1;
        for (int i = 1; i < walked.size(); ++i) {
            if (walked[i] == w.cmd_refresh) { wrapped = i; break; }
            QVERIFY2(reads_after(walked[i - 1], walked[i]),
                     qPrintable(where(walked[i - 1]) + QStringLiteral(" -> ") + where(walked[i])));
        }
        QVERIFY2(wrapped > 40, qPrintable(QString::number(wrapped)));
        QVERIFY(walked.contains(w.cmd_menu_menu));
        QVERIFY(walked.contains(w.cmd_save(4)));
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
