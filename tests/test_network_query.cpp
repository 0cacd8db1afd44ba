// "Get IP": the three queries on RS-232, the 16-character answers into their boxes, the sequence
// abandoned at the first unanswered query, and the button always restored.
#include "support/panel_harness.h"
#include "support/test_access.h"

#include "panel/colours.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void ready(PanelHarness& h)
{
    QVERIFY(h.load());
    QVERIFY(h.w().session().serial_connected());
    QVERIFY(h.w().cmd_get_ip->isEnabled());
}

QStringList boxes(FrmMain& w) { return {w.txt_get_ip->text(), w.txt_get_mask->text(), w.txt_get_gate->text()}; }

void verify_restored(FrmMain& w)
{
    QVERIFY(w.cmd_get_ip->isEnabled());
    QCOMPARE(back_colour(w.cmd_get_ip), button_face_colour());
    QCOMPARE(SessionTestAccess::net_query_state(w.session()), 254);
}
} // namespace

class TestNetworkQuery : public QObject {
    Q_OBJECT
private slots:
    void all_three_answers_fill_the_boxes_in_order()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["EIP999"] = "192.168.001.100"; // 15 characters and the CR: 16
        dev.answers["EMK999"] = "255.255.255.000";
        dev.answers["EGW999"] = "192.168.001.254";
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        w.txt_get_gate->setText(QStringLiteral("old"));

        bool busy_look = false;
        QTimer::singleShot(1, [&] {
            busy_look = !w.cmd_get_ip->isEnabled() && back_colour(w.cmd_get_ip) == connecting_colour;
        });
        PanelHarness::click(w.cmd_get_ip);
        QCOMPARE(h.serial.commands, (QStringList{"EIP999", "EMK999", "EGW999"}));
        QCOMPARE(boxes(w), (QStringList{"192.168.001.100\r", "255.255.255.000\r", "192.168.001.254\r"}));
        QVERIFY(busy_look);
        verify_restored(w);

        // The panel goes on with ordinary replies afterwards.
        h.serial.feed("AUA002\r");
        PanelHarness::pump(30);
        QVERIFY(w.opt_da(2)->isChecked());
    }

    void first_unanswered_query_ends_the_sequence()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["EIP999"] = "010.000.000.007";
        dev.unknown.clear();
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        PanelHarness::click(w.cmd_get_ip);
        QCOMPARE(h.serial.commands, (QStringList{"EIP999", "EMK999"}));
        QCOMPARE(boxes(w), (QStringList{"010.000.000.007\r", "", ""}));
        verify_restored(w);
    }

    void an_ordinary_reply_is_no_answer()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["EIP999"] = "AUA002"; // seven characters: handled as a reply of its own
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        PanelHarness::click(w.cmd_get_ip);
        QCOMPARE(h.serial.commands, QStringList{"EIP999"});
        QCOMPARE(boxes(w), (QStringList{"", "", ""}));
        QVERIFY(w.opt_da(2)->isChecked());
        verify_restored(w);
    }

    void closed_port_reports_once_and_restores_the_button()
    {
        PanelHarness h;
        ScriptedDevice dev;
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        w.txt_get_ip->setText(QStringLiteral("stale"));
        PanelHarness::click(w.cmd_disconn);
        QVERIFY(!w.session().serial_connected());
        h.boxes.clear();

        PanelHarness::click(w.cmd_get_ip);
        QVERIFY(h.serial.commands.isEmpty());
        QCOMPARE(h.boxes.texts(), QStringList{"RS232 port is disconnected !"});
        QCOMPARE(boxes(w), (QStringList{"", "", ""}));
        verify_restored(w);
    }
};

QTEST_MAIN(TestNetworkQuery)
#include "test_network_query.moc"
