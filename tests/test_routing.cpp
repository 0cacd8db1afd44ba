// Routing: output and input clicks on the wire, the highlights and lines the replies draw, and the
// read-back of all four routes.
#include "device_state_support.h"
#include "support/test_access.h"
#include "panel/line_shape.h"
#include "panel/colours.h"

#include <QPushButton>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
// The visible line of each output (0 for none), as a string like "3104".
QString lines_shown(FrmMain& w)
{
    QString s;
    for (int o = 1; o <= 4; ++o) {
        int shown = 0, count = 0;
        for (int i = 1; i <= 4; ++i)
            if (w.routing().routing_line(o, i)->isVisibleTo(&w)) { shown = i; ++count; }
        s += count > 1 ? QChar('X') : QChar('0' + shown);
    }
    return s;
}

int selected(const Indexed<QPushButton, 1, 4>& row)
{
    int found = 0;
    for (int i = 1; i <= 4; ++i) {
        const QColor c = back_colour(row(i));
        if (c == selection_colour) found = found ? -1 : i;
        else if (c != button_face_colour()) return -2;
    }
    return found;
}
} // namespace

class TestRouting : public QObject {
    Q_OBJECT
private slots:
    void output_click_then_input_reply()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        dev.route[1] = 1; dev.route[2] = 3;
        w.routing().map_refresh();
        QCOMPARE(lines_shown(w), QStringLiteral("1334"));
        h.serial.clear();

        dev.route[2] = 1; // changed on the device's front panel
        PanelHarness::click(w.cmd_out(2));
        QCOMPARE(h.serial.commands, QStringList({"OUT002", "INP999"}));
        QCOMPARE(selected(w.cmd_out), 2);
        QCOMPARE(selected(w.cmd_inp), 1);
        QCOMPARE(lines_shown(w), QStringLiteral("1134"));
        // The highlight as the window shows it: the selection colour across the face.
        QVERIFY(PanelHarness::face_share(w.cmd_out(2), selection_colour) >= 0.75);

        PanelHarness::click(w.cmd_inp(3));
        QCOMPARE(h.serial.commands.last(), QStringLiteral("INP003"));
        QCOMPARE(selected(w.cmd_inp), 3);
        QCOMPARE(selected(w.cmd_out), 2);
        QCOMPARE(lines_shown(w), QStringLiteral("1334"));
        QCOMPARE(dev.route[2], 3);
    }

    void full_map_refresh_draws_one_line_per_output()
    {
        PoweredPanel p(2);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        dev.route[1] = 4; dev.route[2] = 4; dev.route[3] = 1; dev.route[4] = 2;
        w.routing().map_refresh();
        QCOMPARE(h.serial.commands, map_queries());
        QVERIFY(SessionTestAccess::reply_ok(w.session()));
        QCOMPARE(lines_shown(w), QStringLiteral("4412"));
        QCOMPARE(w.device_state().cur_output, 4);
        QCOMPARE(selected(w.cmd_out), 4);
        QCOMPARE(selected(w.cmd_inp), 2);
        // Red, green, blue, yellow; each from its output button down to its input button.
        const QColor colours[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};
        for (int o = 1; o <= 4; ++o) {
            LineShape* l = w.routing().routing_line(o, dev.route[o]);
            QCOMPARE(l->colour(), colours[o - 1]);
            const QRect out = w.cmd_out(o)->geometry(), in = w.cmd_inp(dev.route[o])->geometry();
            QVERIFY(qAbs(l->p1().x() - out.center().x()) <= out.width() / 2);
            QVERIFY(l->p1().y() >= out.bottom() - 1 && l->p1().y() < in.top());
            QVERIFY(qAbs(l->p2().x() - in.center().x()) <= in.width() / 2);
            QVERIFY(qAbs(l->p2().y() - in.top()) <= 1);
        }
    }

    void map_refresh_stops_at_the_first_silence()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        w.routing().map_refresh();
        QCOMPARE(lines_shown(w), QStringLiteral("1234"));

        dev.route[1] = 2; dev.route[3] = 1;
        dev.overrides["OUT002"] = "";
        h.serial.clear();
        w.routing().map_refresh();
        QCOMPARE(h.serial.commands, QStringList({"OUT001", "INP999", "OUT002"}));
        QVERIFY(!SessionTestAccess::reply_ok(w.session()));
        QCOMPARE(lines_shown(w), QStringLiteral("2234")); // B to D keep what they had

        // An ERR counts as answered and changes nothing: the read-back goes on.
        dev.overrides["OUT002"] = "ERR000";
        h.serial.clear();
        w.routing().map_refresh();
        QCOMPARE(h.serial.commands, map_queries());
        QCOMPARE(lines_shown(w), QStringLiteral("2214"));
    }

    void tv_wall_routing()
    {
        PoweredPanel p(3);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        PanelHarness::click(w.cmd_out(2));
        QVERIFY(h.serial.commands.isEmpty());
        PanelHarness::click(w.cmd_inp(3));
        QCOMPARE(h.serial.commands, QStringList({"INP003"}));
        QCOMPARE(selected(w.cmd_inp), 3);
        QCOMPARE(lines_shown(w), QStringLiteral("0000"));
    }

    void replies_naming_no_button_are_ignored()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        w.routing().map_refresh();
        for (const char* r : {"OUT007\r", "OUT000\r", "INP009\r", "INP000\r"}) {
            h.serial.feed(r);
            PanelHarness::pump(20);
        }
        QCOMPARE(w.device_state().cur_output, 4);
        QCOMPARE(w.device_state().cur_input, 4);
        QCOMPARE(selected(w.cmd_out), 4);
        QCOMPARE(selected(w.cmd_inp), 4);
        QCOMPARE(lines_shown(w), QStringLiteral("1234"));
        // And the window still works afterwards.
        h.serial.feed("OUT002\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().cur_output == 2; }));
        h.serial.feed("INP004\r");
        QVERIFY(PanelHarness::wait_until([&] { return lines_shown(w) == QStringLiteral("1434"); }));
    }

    void failures()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();

        // A second click while the first waits for its reply is dropped.
        h.serial.delay_ms = 80;
        QTimer::singleShot(20, &w, [&] { PanelHarness::click(w.cmd_out(3)); });
        PanelHarness::click(w.cmd_out(1));
        QCOMPARE(h.serial.commands, QStringList({"OUT001", "INP999"}));
        QCOMPARE(selected(w.cmd_out), 1);

        // A reply of another code: nothing changes, and INP999 still follows.
        h.serial.delay_ms = 0;
        h.serial.clear();
        dev.overrides["OUT002"] = "INP002";
        PanelHarness::click(w.cmd_out(2));
        QCOMPARE(h.serial.commands, QStringList({"OUT002", "INP999"}));
        QCOMPARE(w.device_state().cur_output, 1);

        // Not connected: the message once per command, nothing on the wire.
        w.interface_frame().cmd_disconn_Click();
        h.serial.clear();
        h.boxes.clear();
        w.routing().map_refresh();
        QVERIFY(h.serial.commands.isEmpty());
        QCOMPARE(h.boxes.texts(), QStringList({"RS232 port is disconnected !"}));
    }
};

QTEST_MAIN(TestRouting)
#include "test_routing.moc"
