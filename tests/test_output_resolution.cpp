// Output resolution: the list position on the wire, the entries refused outside Matrix, and RES
// replies that move the selection without sending it back.
#include "support/panel_harness.h"

#include <QComboBox>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
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
        h.ready(h.w().fra_btn);
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

    void dual_and_tv_wall_refuse_the_fifth_and_sixth_entries_data()
    {
        QTest::addColumn<QByteArray>("mode");
        QTest::newRow("Dual") << QByteArray("MOD002");
        QTest::newRow("TV Wall") << QByteArray("MOD003");
    }
    void dual_and_tv_wall_refuse_the_fifth_and_sixth_entries()
    {
        QFETCH(QByteArray, mode);
        PanelHarness h;
        ScriptedDevice dev; // ERR000 to everything
        h.serial.responder = dev.responder();
        h.ready(h.w().fra_btn);
        auto& w = h.w();
        h.arrive(mode);
        QCOMPARE(w.device_state().display_mode, mode.right(1).toInt());
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
        h.ready(h.w().fra_btn);
        auto& w = h.w();
        QCOMPARE(w.cbo_output->count(), 12);

        h.arrive("RES012");
        QCOMPARE(w.cbo_output->currentIndex(), 11);
        h.arrive("RES103"); // the first digit is not read
        QCOMPARE(w.cbo_output->currentIndex(), 2);
        h.arrive("RES000");
        QCOMPARE(w.cbo_output->currentIndex(), -1);
        h.arrive("RES112");
        QCOMPARE(w.cbo_output->currentIndex(), 11);

        // Numbers beyond the list cannot be shown: the selection stays.
        h.arrive("RES013");
        h.arrive("RES099");
        QCOMPARE(w.cbo_output->currentIndex(), 11);
        QVERIFY(w.flags().ui_events_enabled);
        QVERIFY(h.serial.commands.isEmpty());
    }
};

QTEST_MAIN(TestOutputResolution)
#include "test_output_resolution.moc"
