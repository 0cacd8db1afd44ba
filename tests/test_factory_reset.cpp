// Factory reset: the button held while a reset is outstanding, RST001 over RS-232 and over TCP
// (the restart course), and the RST reply completing both resets.
#include "support/panel_harness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void arrive(PanelHarness& h, const QByteArray& reply)
{
    h.serial.feed(reply + '\r');
    PanelHarness::pump(30);
}
} // namespace

class TestFactoryReset : public QObject {
    Q_OBJECT
private slots:
    void serial_reset_is_held_until_the_reply()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["RST001"] = "RST001";
        h.serial.responder = dev.responder();
        h.serial.delay_ms = 100;
        QVERIFY(h.load());
        auto& w = h.w();

        bool held = false;
        QTimer::singleShot(30, [&] { held = !w.cmd_fact_reset->isEnabled(); });
        PanelHarness::click(w.cmd_fact_reset);
        QCOMPARE(h.serial.commands, QStringList{"RST001"});
        QVERIFY(held);
        QVERIFY(w.cmd_fact_reset->isEnabled());
        QVERIFY(h.boxes.texts().isEmpty());
    }

    void serial_reset_without_answer_stays_held_until_a_late_reply()
    {
        PanelHarness h;
        QVERIFY(h.load()); // silent device
        auto& w = h.w();
        PanelHarness::click(w.cmd_fact_reset);
        QCOMPARE(h.serial.commands, QStringList{"RST001"});
        QVERIFY(!w.cmd_fact_reset->isEnabled());
        PanelHarness::click(w.cmd_fact_reset); // cannot be pressed again meanwhile
        QCOMPARE(h.serial.commands.size(), 1);
        arrive(h, "RST002"); // the picture reset's reply does not complete it
        QVERIFY(!w.cmd_fact_reset->isEnabled());
        arrive(h, "RST001");
        QVERIFY(w.cmd_fact_reset->isEnabled());
    }

    void link_down_reports_and_leaves_the_button()
    {
        PanelHarness h;
        QVERIFY(h.load());
        auto& w = h.w();
        PanelHarness::click(w.cmd_disconn);
        PanelHarness::click(w.cmd_fact_reset);
        QCOMPARE(h.boxes.texts(), QStringList{"RS232 port is disconnected !"});
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(w.cmd_fact_reset->isEnabled());
    }

    void tcp_reset_takes_the_restart_course()
    {
        for (bool answers : {false, true}) {
            PanelHarness h;
            ScriptedDevice dev;
            dev.unknown.clear();
            if (answers) dev.answers["RST001"] = "RST001";
            h.tcp.responder = dev.responder();
            QVERIFY(h.load());
            h.connect_tcp();
            auto& w = h.w();
            QVERIFY(w.session().eth_connected());
            w.cmd_keypad->show();
            w.img_start->hide();

            PanelHarness::click(w.cmd_fact_reset);
            QCOMPARE(h.tcp.commands, QStringList{"RST001"});
            QCOMPARE(h.boxes.texts(), QStringList{"Need to re-connect Ethernet after KV-7720 re-boots ready !"});
            QVERIFY(!w.session().eth_connected());
            QVERIFY(w.img_start->isVisible());
            QVERIFY(w.cmd_keypad->isHidden());
            // An answer that came before the disconnect still completes the reset.
            QCOMPARE(w.cmd_fact_reset->isEnabled(), answers);
        }
    }

    void picture_reset_reply_sets_the_shown_rows_to_50_without_sending()
    {
        PanelHarness h;
        QVERIFY(h.load());
        auto& w = h.w();
        h.serial.feed("PWR001\r");
        PanelHarness::pump(30);
        for (int n = 1; n <= 4; ++n)
            for (QScrollBar* s : {w.hsr_bri(n), w.hsr_con(n), w.hsr_hue(n), w.hsr_sat(n)}) {
                const QSignalBlocker quiet(s); // shown, not sent
                s->setValue(20);
            }
        w.cmd_fact_reset->setEnabled(false);
        arrive(h, "RST002");
        QCOMPARE(w.hsr_bri(1)->value(), 50);
        QCOMPARE(w.hsr_sat(1)->value(), 50);
        QCOMPARE(w.txt_con(1)->text().trimmed(), QStringLiteral("50"));
        QCOMPARE(w.hsr_hue(2)->value(), 20); // Matrix: row 1 only
        QVERIFY(!w.cmd_fact_reset->isEnabled()); // not a factory reset
        arrive(h, "RST007"); // names neither reset
        QVERIFY(!w.cmd_fact_reset->isEnabled());
        QVERIFY(h.serial.commands.isEmpty());
    }
};

QTEST_MAIN(TestFactoryReset)
#include "test_factory_reset.moc"
