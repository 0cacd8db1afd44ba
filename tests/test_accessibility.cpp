// Keyboard and screen-reader use of the window: every control that shows only a picture says what
// it does, and Tab walks the window in reading order.
#include "panel/shell/frm_keypad.h"
#include "support/panel_harness.h"

#include <QAccessible>
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
        QVERIFY(keypad.img_keypad->toolTip().contains(QStringLiteral("speaker")));
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
