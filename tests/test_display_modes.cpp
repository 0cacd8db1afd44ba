// Matrix, Dual and TV Wall: the commands a mode button sends, the late MOD reply, and the layout
// every MOD reply applies.
#include "device_state_support.h"
#include "panel/line_shape.h"
#include "panel/colours.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
int visible_lines(FrmMain& w)
{
    int n = 0;
    for (int o = 1; o <= 4; ++o)
        for (int i = 1; i <= 4; ++i) n += w.routing().routing_line(o, i)->isVisibleTo(&w) ? 1 : 0;
    return n;
}

QStringList out_captions(FrmMain& w)
{
    QStringList s;
    for (int n = 1; n <= 4; ++n) s << w.cmd_out(n)->text();
    return s;
}

// Labels of one row across the four property frames must agree; returns row n's caption.
QString row_label(FrmMain& w, int n)
{
    const QString c = w.lab_con(n)->text();
    if (w.lab_bri(n)->text() != c || w.lab_sat(n)->text() != c || w.lab_hue(n)->text() != c) return QStringLiteral("<mixed>");
    return c;
}

bool rows_enabled(FrmMain& w, int n)
{
    const bool e = w.hsr_con(n)->isEnabled();
    if (w.hsr_bri(n)->isEnabled() != e || w.hsr_sat(n)->isEnabled() != e || w.hsr_hue(n)->isEnabled() != e) return !e;
    return e;
}

int selected_mode(FrmMain& w)
{
    int found = 0;
    for (int m = 1; m <= 3; ++m)
        if (back_colour(w.cmd_mode(m)) == selection_colour) found = found ? -1 : m;
    return found;
}
} // namespace

class TestDisplayModes : public QObject {
    Q_OBJECT
private slots:
    void matrix_button()
    {
        PoweredPanel p(2);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        w.txt_bri(3)->setText(QStringLiteral(" 40"));
        set_back_colour(w.cmd_recall(2), selection_colour);

        PanelHarness::click(w.cmd_mode(1));
        QCOMPARE(h.serial.commands, QStringList({"MOD001"}) + map_queries() + picture_queries(1));
        QCOMPARE(w.device_state().display_mode, 1);
        QCOMPARE(selected_mode(w), 1);
        QCOMPARE(out_captions(w), QStringList({"A", "B", "C", "D"}));
        QCOMPARE(visible_lines(w), 4);
        QCOMPARE(back_colour(w.cmd_out(4)), selection_colour);
        QCOMPARE(back_colour(w.cmd_recall(2)), button_face_colour());
        QCOMPARE(row_label(w, 1), QStringLiteral("ALL"));
        for (int n = 2; n <= 4; ++n) {
            QCOMPARE(row_label(w, n), QString());
            QVERIFY(!rows_enabled(w, n));
        }
        QVERIFY(w.txt_bri(3)->text().isEmpty());
        QVERIFY(!w.fra_dual_a->isEnabled());
        QVERIFY(!w.fra_bezel->isEnabled());
        for (int m = 1; m <= 3; ++m) QVERIFY(w.cmd_mode(m)->isEnabled());
    }

    void tv_wall_button()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        w.routing().map_refresh();
        h.serial.clear();

        PanelHarness::click(w.cmd_mode(3));
        QCOMPARE(h.serial.commands, QStringList({"MOD003", "OUT001", "INP999"}) + picture_queries(3));
        QCOMPARE(w.device_state().display_mode, 3);
        QCOMPARE(selected_mode(w), 3);
        QCOMPARE(out_captions(w), QStringList({"", "", "", ""}));
        QCOMPARE(visible_lines(w), 0);
        const QStringList labels = {"Out A", "Out B", "Out C", "Out D"};
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(row_label(w, n), labels[n - 1]);
            QVERIFY(rows_enabled(w, n));
        }
        QVERIFY(w.fra_bezel->isEnabled());
        QVERIFY(!w.fra_dual_a->isEnabled());
        QVERIFY(!w.fra_dual_b->isEnabled());
        // The OUT001 reply colours output 1's blank button; no output is re-coloured after it.
        QCOMPARE(back_colour(w.cmd_out(1)), selection_colour);
    }

    void late_mod_reply_still_refreshes()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        auto inner = h.serial.responder;
        h.serial.responder = [&](const QByteArray& c) -> QByteArray {
            if (c == "MOD002") {
                dev.mode = 2;
                QTimer::singleShot(3000, &w, [&] { h.serial.feed("MOD002\r"); });
                return {};
            }
            return inner(c);
        };
        QElapsedTimer t;
        t.start();
        PanelHarness::click(w.cmd_mode(2));
        QVERIFY(t.elapsed() >= 3000);
        QCOMPARE(h.serial.commands, QStringList({"MOD002"}) + map_queries() + picture_queries(2));
        QCOMPARE(w.device_state().display_mode, 2);
        QCOMPARE(out_captions(w), QStringList({"AL", "AR", "BL", "BR"}));
        QVERIFY(w.fra_dual_a->isEnabled());
        QVERIFY(w.fra_dual_b->isEnabled());
        QCOMPARE(visible_lines(w), 4);
    }

    void no_mod_reply()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        w.routing().map_refresh();
        h.serial.clear();
        dev.overrides["MOD003"] = "";
        PanelHarness::click(w.cmd_mode(3));
        QCOMPARE(h.serial.commands, QStringList({"MOD003"}));
        QCOMPARE(w.device_state().display_mode, 1);
        QCOMPARE(selected_mode(w), 0);
        for (int n = 1; n <= 4; ++n) QCOMPARE(back_colour(w.cmd_out(n)), button_face_colour());
        for (int m = 1; m <= 3; ++m) QVERIFY(w.cmd_mode(m)->isEnabled());
        QCOMPARE(visible_lines(w), 4);

        // The reply comes after all ten waits: the receiver hands it to reply_mod, which lays the
        // window out; nothing is refreshed.
        h.serial.clear();
        h.serial.feed("MOD003\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().display_mode == 3; }, 1000));
        QCOMPARE(selected_mode(w), 3);
        QCOMPARE(visible_lines(w), 0);
        QVERIFY(w.fra_bezel->isEnabled());
        PanelHarness::pump(50);
        QVERIFY(h.serial.commands.isEmpty());
        h.serial.feed("MOD001\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().display_mode == 1; }, 1000));

        // An ERR counts as answered: the layout stays, the refresh of the clicked mode runs.
        h.serial.clear();
        dev.overrides["MOD002"] = "ERR000";
        PanelHarness::click(w.cmd_mode(2));
        QCOMPARE(h.serial.commands, QStringList({"MOD002"}) + map_queries() + picture_queries(1));
        QCOMPARE(w.device_state().display_mode, 1);
        QCOMPARE(back_colour(w.cmd_out(4)), selection_colour);
    }

    void mod_replies()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();

        // Dual while the device has not reported on: the audio frames stay shut.
        h.serial.feed("MOD002\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().display_mode == 2; }));
        QCOMPARE(out_captions(w), QStringList({"AL", "AR", "BL", "BR"}));
        QCOMPARE(row_label(w, 3), QStringLiteral("BL"));
        QVERIFY(!w.fra_dual_a->isEnabled());
        QVERIFY(!w.fra_dual_b->isEnabled());

        // The same mode again still hides the lines and resets the frames.
        w.session().send_command("PWR999");
        w.routing().map_refresh();
        QVERIFY(w.fra_bezel->isEnabled()); // power on opens every gated frame
        QCOMPARE(visible_lines(w), 4);
        h.serial.feed("MOD002\r");
        QVERIFY(PanelHarness::wait_until([&] { return visible_lines(w) == 0; }));
        QVERIFY(!w.fra_bezel->isEnabled());
        QVERIFY(w.fra_dual_a->isEnabled());

        // A mode the window has no layout for is ignored.
        w.routing().map_refresh();
        for (const char* r : {"MOD009\r", "MOD000\r", "MOD004\r"}) {
            h.serial.feed(r);
            PanelHarness::pump(20);
        }
        QCOMPARE(w.device_state().display_mode, 2);
        QCOMPARE(selected_mode(w), 2);
        QCOMPARE(visible_lines(w), 4);
        QCOMPARE(out_captions(w), QStringList({"AL", "AR", "BL", "BR"}));
    }
};

QTEST_MAIN(TestDisplayModes)
#include "test_display_modes.moc"
