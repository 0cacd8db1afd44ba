// The serial device goes away under the panel (the simulator's pseudo-terminal closes: the port the
// panel holds hangs up and turns readable with nothing to read, and the COM link disappears or is
// left pointing nowhere), and comes back at the same path.
#include "fault_matrix.h"
#include "support/test_access.h"

#include "session/serial_port.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

using namespace tavrion;
using namespace tavrion::test;
using namespace tavrion::test::faults;

namespace {

double cpu_seconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QString com1(SimHarness& h) { return h.folder.file(QStringLiteral("serial/COM1")); }

} // namespace

class TestVanishingSerial : public QObject {
    Q_OBJECT
private slots:
#ifdef TAVRION_HAVE_SIM
    // The device goes while the panel is idle, or in the middle of a refresh.
    void vanished_device_is_noticed_and_reconnected_data()
    {
        QTest::addColumn<bool>("in_transaction");
        QTest::newRow("idle") << false;
        QTest::newRow("during a transaction") << true;
    }
    void vanished_device_is_noticed_and_reconnected()
    {
        QFETCH(bool, in_transaction);
        SimHarness h(Link::Serial, true, 0);
        QVERIFY(h.load());
        h.refresh();
        QVERIFY(window_differences(h.w(), h.device()).isEmpty());
        FrmMain& w = h.w();

        QElapsedTimer clock;
        clock.start();
        qint64 vanished_at = -1, closed_at = -1;
        connect(&h.sim(), &tavrion_sim::SimServer::serial_closed, this, [&] { vanished_at = clock.elapsed(); });
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (closed_at < 0 && !w.session().serial_connected()) closed_at = clock.elapsed();
        });
        watch.start(5);

        const DeviceState before = h.device();
        if (in_transaction) {
            change_everything(h.device());
            QVERIFY(h.sim().apply_control(QStringLiteral("vanish RES")));
            Timeline t(h.sim());
            h.refresh();
            // The transaction that lost its device runs out its steps; the refresh stops there.
            const auto longest = t.longest(t.clock.elapsed());
            QVERIFY2(longest.first <= bound_ms(Link::Serial),
                     qPrintable(QStringLiteral("%1 waited %2 ms").arg(longest.second).arg(longest.first)));
            QCOMPARE(t.commands.last(), QStringLiteral("RES999"));
        } else {
            QVERIFY(h.sim().apply_control(QStringLiteral("vanish")));
        }
        QVERIFY(PanelHarness::wait_until([&] { return closed_at >= 0; }, 1000));
        watch.stop();
        QVERIFY(vanished_at >= 0);
        QVERIFY2(closed_at - vanished_at < 1000, qPrintable(QString::number(closed_at - vanished_at)));
        QVERIFY(shows_serial_closed(w));
        QVERIFY(!h.serial_port()->is_open());
        QVERIFY(!QFileInfo(com1(h)).isSymLink());
        QVERIFY2(h.boxes.texts().isEmpty(), qPrintable(joined(h.boxes.texts())));
        QVERIFY(!SessionTestAccess::cmd_busy(w.session()));

        // What was read before the device went stays shown.
        const QSet<QString> fresh = in_transaction ? fresh_parts("RES", Lost) : QSet<QString>{};
        DeviceState expected = shown_state(before, h.device(), fresh);
        expected.current_output = before.current_output;
        QStringList d = partial_differences(w, expected, fresh);
        QVERIFY2(d.isEmpty(), qPrintable(joined(d)));

        // The hung-up line is let go of for good: it does not keep the panel busy.
        const double cpu = cpu_seconds();
        PanelHarness::pump(300);
        QVERIFY2(cpu_seconds() - cpu < 0.05, qPrintable(QString::number(cpu_seconds() - cpu)));

        // Refresh while it is gone: the link message, once, and nothing else happens.
        h.clear_wire();
        h.refresh();
        QCOMPARE(h.boxes.texts(), QStringList{"RS232 port is disconnected !"});
        QVERIFY(h.wire().isEmpty());
        QVERIFY(w.cmd_refresh->isEnabled());
        h.boxes.clear();

        // The device comes back at the same path; Connect opens it and Refresh reads it all.
        QVERIFY(h.sim().apply_control(QStringLiteral("reset")));
        QVERIFY2(h.sim().open_serial(com1(h), 0), qPrintable(h.sim().last_error()));
        PanelHarness::click(w.cmd_conn);
        QVERIFY(w.session().serial_connected());
        QCOMPARE(back_colour(w.cmd_conn), connected_colour);
        QCOMPARE(back_colour(w.cmd_disconn), button_face_colour());
        h.refresh();
        d = window_differences(w, h.device());
        QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
        QVERIFY2(h.boxes.texts().isEmpty(), qPrintable(joined(h.boxes.texts())));
    }

    // A COM link whose device has gone (a pulled USB adapter leaves its link pointing nowhere):
    // Connect must fail and say so, not open some other port in its place.
    void connect_while_the_device_is_gone()
    {
        SimHarness h(Link::Serial, true, 0);
        QVERIFY(h.load());
        FrmMain& w = h.w();
        const QString gone = h.sim().serial_device();
        QVERIFY(h.sim().apply_control(QStringLiteral("vanish")));
        QVERIFY(PanelHarness::wait_until([&] { return !w.session().serial_connected(); }, 1000));
        QVERIFY(!QFileInfo::exists(gone));
        QVERIFY(QFile::link(gone, com1(h)));
        QCOMPARE(serial_device_path(h.folder.path(), 1), com1(h));

        PanelHarness::click(w.cmd_conn);
        QCOMPARE(h.boxes.texts(), QStringList{"COM 1: Fail !"});
        QVERIFY(shows_serial_closed(w));
        QVERIFY(!h.serial_port()->is_open());
        h.boxes.clear();

        // Back again (the simulator replaces the stale link): Connect and Refresh work.
        QVERIFY2(h.sim().open_serial(com1(h), 0), qPrintable(h.sim().last_error()));
        PanelHarness::click(w.cmd_conn);
        QVERIFY(w.session().serial_connected());
        h.refresh();
        const QStringList d = window_differences(w, h.device());
        QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
        QVERIFY(h.boxes.texts().isEmpty());
    }
#endif
};

QTEST_MAIN(TestVanishingSerial)
#include "test_vanishing_serial.moc"
