// Output resolution: the list position on the wire, the entries refused outside Matrix, and RES
// replies that move the selection without sending it back.
#include "support/panel_harness.h"

#include <QComboBox>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void ready(PanelHarness& h)
{
    QVERIFY(h.load());
    h.serial.feed("PWR001\r");
    QVERIFY(PanelHarness::wait_until([&] { return h.w().fra_btn->isEnabled(); }, 2000));
    h.serial.clear();
}

void arrive(PanelHarness& h, const QByteArray& reply)
{
    h.serial.feed(reply + '\r');
    PanelHarness::pump(30);
}

// The user picks list position p (from 0).
void choose(PanelHarness& h, int p) { h.w().cbo_output->setCurrentIndex(p); }

QStringList twelve_entries()
{
    QStringList e;
    for (int n = 1; n <= 12; ++n) e << QStringLiteral("R%1").arg(n);
    return e;
}
} // namespace

class TestOutputResolution : public QObject {
    Q_OBJECT
private slots:
    void matrix_sends_the_one_based_position()
    {
        PanelHarness h;
        ScriptedDevice dev;
        dev.answers["RES006"] = "RES006";
        h.serial.responder = dev.responder();
        h.serial.delay_ms = 100;
        ready(h);
        auto& w = h.w();
        QCOMPARE(w.cbo_output->count(), ProgramFolder::shipped_resolutions().size());
        QCOMPARE(w.cbo_output->currentIndex(), -1);

        bool disabled_in_flight = false;
        QTimer::singleShot(5, [&] { disabled_in_flight = !w.cbo_output->isEnabled(); });
        choose(h, 5);
        PanelHarness::pump(30);
        QCOMPARE(h.serial.commands, QStringList{"RES006"}); // the answer is not sent back
        QCOMPARE(w.cbo_output->currentIndex(), 5);
        QVERIFY(disabled_in_flight);
        QVERIFY(w.cbo_output->isEnabled());
    }

    void dual_refuses_the_fifth_and_sixth_entries()
    {
        PanelHarness h;
        ScriptedDevice dev; // ERR000 to everything
        h.serial.responder = dev.responder();
        ready(h);
        auto& w = h.w();
        arrive(h, "MOD002");
        QCOMPARE(w.device_state().display_mode, 2);
        h.serial.clear();

        choose(h, 4);
        QCOMPARE(w.cbo_output->currentIndex(), 4); // the list keeps the user's choice
        choose(h, 5);
        QVERIFY(h.serial.commands.isEmpty());
        choose(h, 6);
        QCOMPARE(h.serial.commands, QStringList{"RES007"});
        QCOMPARE(w.cbo_output->currentIndex(), 6); // ERR moves nothing
    }

    void replies_move_the_selection_without_echo()
    {
        PanelHarness h;
        h.folder.write_resolutions(twelve_entries());
        ready(h);
        auto& w = h.w();
        QCOMPARE(w.cbo_output->count(), 12);

        arrive(h, "RES012");
        QCOMPARE(w.cbo_output->currentIndex(), 11);
        arrive(h, "RES103"); // the first digit is not read
        QCOMPARE(w.cbo_output->currentIndex(), 2);
        arrive(h, "RES000");
        QCOMPARE(w.cbo_output->currentIndex(), -1);
        arrive(h, "RES112");
        QCOMPARE(w.cbo_output->currentIndex(), 11);

        // Numbers beyond the list cannot be shown: the selection stays.
        arrive(h, "RES013");
        arrive(h, "RES099");
        QCOMPARE(w.cbo_output->currentIndex(), 11);
        QVERIFY(w.flags().ui_events_enabled);
        QVERIFY(h.serial.commands.isEmpty());
    }
};

QTEST_MAIN(TestOutputResolution)
#include "test_output_resolution.moc"
