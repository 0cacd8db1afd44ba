// Bezel correction: unacknowledged slider sends, On/Off through a transaction, the replies that
// move the sliders or set their maxima, and replies that must change nothing.
#include "support/panel_harness.h"
#include "support/test_access.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void ready(PanelHarness& h)
{
    h.ready(h.w().fra_bezel);
    h.w().command_log().cmd_clear_Click();
}
} // namespace

class TestBezel : public QObject {
    Q_OBJECT
private slots:
    void slider_sends_without_waiting_and_the_answer_does_not_echo()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["BEV007"] = "BEV007";
        dev.unknown.clear(); // only the last value is answered
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();

        w.hsr_bezel_v->setValue(6);
        w.hsr_bezel_v->triggerAction(QAbstractSlider::SliderSingleStepAdd); // an arrow click
        PanelHarness::pump(50);
        QCOMPARE(h.serial.commands, (QStringList{"BEV006", "BEV007"}));
        // The answer came back as a reply and rewrote the box in the reply's form, sending nothing.
        QCOMPARE(w.txt_bezel_v->text(), QStringLiteral(" 7"));
        QCOMPARE(w.hsr_bezel_v->value(), 7);
        QVERIFY(!w.txt_cmd->toPlainText().contains(QStringLiteral("BEV006"))); // sends are not logged

        w.hsr_bezel_h->setValue(12);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("BEH012"));
        QCOMPARE(w.txt_bezel_h->text(), QStringLiteral("12"));

        // Keys go the way of the slider's arrows: Right and Up raise, Page Down lowers by 10.
        const struct {
            Qt::Key key;
            const char* sent;
        } keys[] = {{Qt::Key_Right, "BEH013"}, {Qt::Key_Up, "BEH014"}, {Qt::Key_PageDown, "BEH004"},
                    {Qt::Key_Left, "BEH003"}, {Qt::Key_End, "BEH254"}};
        for (const auto& k : keys) {
            QTest::keyClick(w.hsr_bezel_h, k.key);
            QCOMPARE(h.serial.commands.last(), QString::fromLatin1(k.sent));
        }
    }

    void value_replies_move_the_sliders_and_large_ones_are_ignored()
    {
        PanelHarness h;
        ready(h);
        auto& w = h.w();
        h.arrive("BEH030");
        QCOMPARE(w.hsr_bezel_h->value(), 30);
        QCOMPARE(w.txt_bezel_h->text(), QStringLiteral(" 30"));

        w.model().expect_answer_to("BEH998");
        h.arrive("BEH255");
        h.arrive("BEV999");
        QCOMPARE(w.hsr_bezel_h->value(), 30);
        QCOMPARE(w.hsr_bezel_h->maximum(), 254);
        QCOMPARE(w.hsr_bezel_v->maximum(), 254);
        QVERIFY(w.device_state().bezel_max_pending); // not consumed by a reply it ignored
        QVERIFY(w.flags().ui_events_enabled);
        QVERIFY(h.serial.commands.isEmpty());
    }

    void refresh_pairs_the_maxima_with_their_sliders()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers = {{"VER999", "VER106"}, {"AUA999", "AUA001"}, {"AUB999", "AUB002"}, {"AUD999", "AUD001"},
                       {"AUE999", "AUE000"}, {"BEH999", "BEH030"}, {"BEV999", "BEV020"}, {"BEZ999", "BEZ001"},
                       {"BEH998", "BEH120"}, {"BEV998", "BEV090"}};
        h.serial.responder = dev.responder(); // the rest answer ERR000: the chain goes on
        ready(h);
        auto& w = h.w();
        PanelHarness::click(w.cmd_refresh);
        QVERIFY(h.serial.commands.contains(QStringLiteral("BEV998")));
        QCOMPARE(w.hsr_bezel_h->maximum(), 120);
        QCOMPARE(w.hsr_bezel_v->maximum(), 90);
        QCOMPARE(w.hsr_bezel_h->value(), 30);
        QCOMPARE(w.hsr_bezel_v->value(), 20);
        QCOMPARE(w.txt_bezel_h->text(), QStringLiteral(" 30"));
        QCOMPARE(w.txt_bezel_v->text(), QStringLiteral(" 20"));
        QVERIFY(!w.device_state().bezel_max_pending);
        QVERIFY(!h.serial.commands.contains(QStringLiteral("BEH120"))); // nothing echoed
        QVERIFY(!h.serial.commands.contains(QStringLiteral("BEV090")));
    }

    void unanswered_maximum_query_leaves_the_next_reply_as_a_maximum()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers = {{"VER999", "VER106"}, {"AUA999", "AUA001"}, {"AUB999", "AUB002"}, {"AUD999", "AUD001"},
                       {"AUE999", "AUE000"}, {"BEH999", "BEH030"}, {"BEV999", "BEV060"}, {"BEZ999", "BEZ001"}};
        dev.unknown.clear(); // BEH998 is never answered
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        PanelHarness::click(w.cmd_refresh);
        QCOMPARE(h.serial.commands.last(), QStringLiteral("BEH998")); // the chain stopped there
        QVERIFY(w.device_state().bezel_max_pending);
        QCOMPARE(w.hsr_bezel_v->value(), 60);

        // Whatever it answers, the next BEV reply sets the vertical maximum; lowered below the
        // value, the slider follows it down and nothing is sent; the box keeps its text.
        h.serial.clear();
        h.arrive("BEV040");
        QCOMPARE(w.hsr_bezel_v->maximum(), 40);
        QCOMPARE(w.hsr_bezel_v->value(), 40);
        QCOMPARE(w.txt_bezel_v->text(), QStringLiteral(" 60"));
        QCOMPARE(w.hsr_bezel_h->maximum(), 254);
        QVERIFY(!w.device_state().bezel_max_pending);
        QVERIFY(h.serial.commands.isEmpty());
    }

    void on_off_follows_the_bez_reply()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.unknown.clear();
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();

        h.arrive("BEZ000");
        QVERIFY(w.opt_bezel_onoff(0)->isChecked());
        QVERIFY(!w.hsr_bezel_h->isEnabled());
        QVERIFY(!w.hsr_bezel_v->isEnabled());
        QVERIFY(h.serial.commands.isEmpty());

        // The click sends; the sliders wait for the device (which is silent here).
        PanelHarness::click(w.opt_bezel_onoff(1));
        QCOMPARE(h.serial.commands, QStringList{"BEZ001"});
        QVERIFY(!w.hsr_bezel_h->isEnabled());

        h.arrive("BEZ001");
        QVERIFY(w.opt_bezel_onoff(1)->isChecked());
        QVERIFY(w.hsr_bezel_h->isEnabled());
        QVERIFY(w.hsr_bezel_v->isEnabled());

        // A digit that names no button changes nothing.
        h.arrive("BEZ005");
        QVERIFY(w.opt_bezel_onoff(1)->isChecked());
        QVERIFY(w.hsr_bezel_h->isEnabled());
        QCOMPARE(h.serial.commands, QStringList{"BEZ001"});
        QVERIFY(w.flags().ui_events_enabled);
    }
};

QTEST_MAIN(TestBezel)
#include "test_bezel.moc"
