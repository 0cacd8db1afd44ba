// "Refresh" and "F/W Ver" against a scripted device: the query chain on the wire, where it stops,
// and the window it leaves behind.
#include "device_state_support.h"
#include "panel/line_shape.h"
#include "panel/colours.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
const QStringList kHead = {"VER999", "AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999",
                           "BEZ999", "BEH998", "BEV998", "LCK999", "PWR999", "RES999", "MOD999"};
}

class TestRefreshAll : public QObject {
    Q_OBJECT
private slots:
    void chain_in_each_mode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("advanced");
        QTest::newRow("Matrix") << 1 << true;
        QTest::newRow("Dual") << 2 << true;
        QTest::newRow("TV Wall") << 3 << true;
        QTest::newRow("Dual, compact window") << 2 << false;
    }
    void chain_in_each_mode()
    {
        QFETCH(int, mode);
        QFETCH(bool, advanced);
        PanelHarness h;
        MiniDevice dev;
        dev.mode = mode;
        dev.current = 2;
        dev.route[1] = 3; dev.route[2] = 1; dev.route[3] = 4; dev.route[4] = 2;
        dev.picture["BRI1"] = 61;
        h.serial.responder = dev.responder();
        start(h, advanced);
        FrmMain& w = h.w();

        bool disabled_while_running = false;
        QColor colour_while_running;
        auto inner = h.serial.responder;
        h.serial.responder = [&](const QByteArray& c) {
            if (c == "RES999") {
                disabled_while_running = !w.cmd_refresh->isEnabled();
                colour_while_running = back_colour(w.cmd_refresh);
            }
            return inner(c);
        };

        QVERIFY(w.img_start->isVisibleTo(&w));
        QVERIFY(!w.cmd_keypad->isVisibleTo(&w));
        PanelHarness::click(w.cmd_refresh);

        QStringList expected = kHead;
        if (mode != 3) expected << "OUT999";
        expected << "INP999" << map_queries();
        if (advanced) expected << picture_queries(mode);
        QCOMPARE(h.serial.commands, expected);

        QVERIFY(disabled_while_running);
        QCOMPARE(colour_while_running, connecting_colour);
        QVERIFY(w.cmd_refresh->isEnabled());
        QCOMPARE(back_colour(w.cmd_refresh), button_face_colour());
        QVERIFY(!w.img_start->isVisibleTo(&w));
        QVERIFY(w.cmd_keypad->isVisibleTo(&w));

        QCOMPARE(w.txt_ver->text(), QStringLiteral("1.06"));
        QCOMPARE(w.device_state().display_mode, mode);
        QCOMPARE(w.device_state().power_state, 1);
        QCOMPARE(w.device_state().lock_state, 0);
        QVERIFY(w.fra_btn->isEnabled());
        QVERIFY(w.fra_pic->isEnabled());
        QCOMPARE(w.device_state().cur_output, 4);
        QCOMPARE(back_colour(w.cmd_out(4)), selection_colour);
        QCOMPARE(back_colour(w.cmd_inp(2)), selection_colour);
        int lines = 0;
        for (int o = 1; o <= 4; ++o)
            for (int i = 1; i <= 4; ++i) lines += w.routing().routing_line(o, i)->isVisibleTo(&w) ? 1 : 0;
        if (mode == 3) {
            QCOMPARE(lines, 0);
        } else {
            QCOMPARE(lines, 4);
            QVERIFY(w.routing().routing_line(1, 3)->isVisibleTo(&w));
            QVERIFY(w.routing().routing_line(3, 4)->isVisibleTo(&w));
        }
        QCOMPARE(w.hsr_bri(1)->value(), advanced ? 61 : 0);
        QVERIFY(h.boxes.texts().isEmpty());
    }

    void device_falls_silent_after_lock_query()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.lock = 1;
        dev.fall_silent_after = "LCK999";
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        PanelHarness::click(w.cmd_refresh);

        QStringList expected = kHead.mid(0, kHead.indexOf("PWR999") + 1);
        QCOMPARE(h.serial.commands, expected);
        QCOMPARE(w.device_state().lock_state, 1);
        QCOMPARE(w.device_state().power_state, 254); // power, mode and routing stay unread
        QVERIFY(!w.fra_btn->isEnabled());
        QVERIFY(!w.fra_pic->isEnabled());
        QCOMPARE(w.cmd_out(1)->text(), QStringLiteral("A"));
        QVERIFY(w.cmd_refresh->isEnabled());
        QCOMPARE(back_colour(w.cmd_refresh), button_face_colour());
    }

    void chain_ends_on_reply_of_another_code()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.overrides["AUB999"] = "AUA001";
        h.serial.responder = dev.responder();
        start(h);
        PanelHarness::click(h.w().cmd_refresh);
        QCOMPARE(h.serial.commands, QStringList({"VER999", "AUA999", "AUB999"}));
        QVERIFY(h.w().cmd_refresh->isEnabled());
    }

    void not_connected()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        w.interface_frame().cmd_disconn_Click();
        PanelHarness::click(w.cmd_refresh);
        QVERIFY(h.serial.commands.isEmpty());
        QCOMPARE(h.boxes.texts(), QStringList({"RS232 port is disconnected !"}));
        QVERIFY(w.cmd_refresh->isEnabled());
        QCOMPARE(back_colour(w.cmd_refresh), button_face_colour());
        QVERIFY(!w.img_start->isVisibleTo(&w)); // the hint goes even so
        QVERIFY(w.txt_ver->text().isEmpty());
    }

    // The user closes the window while Refresh waits for an answer, and the window deletes itself
    // on close: nothing of it may go while the chain is still on the stack.
    void window_closed_during_refresh_outlives_the_chain()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        h.serial.delay_ms = 5;
        start(h);
        QPointer<FrmMain> w = h.release_window();
        w->setAttribute(Qt::WA_DeleteOnClose);
        auto inner = h.serial.responder;
        h.serial.responder = [&](const QByteArray& c) {
            if (c == "AUE999") QTimer::singleShot(0, w, [&w] { w->close(); });
            return inner(c);
        };
        PanelHarness::click(w->cmd_refresh);
        QVERIFY(w); // the chain has returned, and the window is still there
        QVERIFY(!w->isVisible());
        QVERIFY(w->cmd_refresh->isEnabled()); // restored on the way out
        QCOMPARE(h.serial.commands.last(), QStringLiteral("AUE999")); // the port closed under it
        QVERIFY(h.boxes.boxes.isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w);
    }

    void version_button()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.overrides["VER999"] = "VER100";
        h.serial.responder = dev.responder();
        start(h);
        PanelHarness::click(h.w().cmd_ver);
        QCOMPARE(h.serial.commands, QStringList({"VER999"}));
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.00"));
    }
};

QTEST_MAIN(TestRefreshAll)
#include "test_refresh_all.moc"
