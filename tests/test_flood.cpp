// A device (or a line) gone mad: a stream of random bytes over the serial line and over TCP, while
// the window idles and while Refresh runs. Memory must stay bounded, the window must keep
// answering, and once the stream stops the next reply must be taken as usual.
//
// The amount is TAVRION_FLOOD_MB per run (default 8; the reliability figure is taken with 64:
//   TAVRION_FLOOD_MB=64 QT_QPA_PLATFORM=offscreen build/tests/test_flood).
#include "support/hygiene.h"
#include "support/test_access.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"
#include "support/sanitizer.h"

#include "session/serial_port.h"
#include "session/tcp_client.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tavrion;
using namespace tavrion::test;

#ifdef TAVRION_HAVE_SIM

namespace {

constexpr qint64 kMB = 1024 * 1024;
constexpr qint64 kAllowedGrowth = 8 * kMB;
constexpr qint64 kAllowedStallMs = 100;

qint64 flood_bytes()
{
    bool ok = false;
    const double mb = qEnvironmentVariable("TAVRION_FLOOD_MB").toDouble(&ok);
    return ok && mb > 0 ? qint64(mb * double(kMB)) : 8 * kMB;
}

// Random bytes, all 256 values, fed to the simulator in pieces so that neither it nor this
// process ever holds more than a little of the stream: what grows, grows in the panel.
class FloodSource : public QObject {
public:
    explicit FloodSource(tavrion_sim::SimServer& sim) : sim_(sim)
    {
        pump_.setTimerType(Qt::PreciseTimer);
        pump_.setInterval(1);
        connect(&pump_, &QTimer::timeout, this, [this] { top_up(); });
    }
    void start(qint64 bytes)
    {
        total_ = bytes;
        sent_ = 0;
        pump_.start();
        top_up();
    }
    bool done() const { return sent_ >= total_; }
    qint64 sent() const { return sent_; }

private:
    void top_up()
    {
        constexpr qint64 kPiece = 16 * 1024;
        constexpr qint64 kBacklog = 64 * 1024;
        while (!done() && sim_.unsent_bytes() < kBacklog) {
            QByteArray piece(int(std::min(kPiece, total_ - sent_)), Qt::Uninitialized);
            for (char& c : piece) c = char(next() >> 24);
            sim_.send_raw(piece);
            sent_ += piece.size();
        }
        if (done()) pump_.stop();
    }
    quint32 next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

    tavrion_sim::SimServer& sim_;
    QTimer pump_;
    qint64 total_ = 0;
    qint64 sent_ = 0;
    quint32 state_ = 0x2545F491u;
};

// A heartbeat in the event loop: the longest gap between two beats is the longest time the window
// could not react; the resident set is sampled on every beat.
class LoopWatch : public QObject {
public:
    LoopWatch()
    {
        beat_.setTimerType(Qt::PreciseTimer);
        beat_.setInterval(5);
        connect(&beat_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.elapsed();
            longest_gap = std::max(longest_gap, now - last_);
            last_ = now;
            peak_rss = std::max(peak_rss, Hygiene::resident_bytes());
        });
    }
    void start()
    {
        longest_gap = 0;
        peak_rss = Hygiene::resident_bytes();
        clock_.start();
        last_ = 0;
        beat_.start();
    }
    void stop() { beat_.stop(); }
    qint64 longest_gap = 0;
    qint64 peak_rss = 0;

private:
    QTimer beat_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
};

} // namespace

class TestFlood : public QObject {
    Q_OBJECT

private:
    // Counts what leaves the device and reaches the panel, so the end of the stream can be told
    // from a pause in it.
    struct ArrivalCounter {
        qint64 events = 0;
        QElapsedTimer since_last;
    };

    void flood(SimHarness::Link link, bool during_refresh)
    {
        const char* link_name = link == SimHarness::Link::Serial ? "serial" : "TCP";
        // No line pacing: the stream comes as fast as the panel takes it.
        SimHarness h(link, true, 0);
        QVERIFY(h.load());
        h.refresh();
        QCOMPARE(h.w().device_state().power_state, 1);
        if (link == SimHarness::Link::Tcp) QVERIFY2(Hygiene::non_loopback_sockets().isEmpty(), "a connection leaves loopback");

        ArrivalCounter arrivals;
        arrivals.since_last.start();
        auto arrived = [&arrivals] {
            ++arrivals.events;
            arrivals.since_last.restart();
        };
        connect(&h.sim(), &tavrion_sim::SimServer::bytes_sent, this, arrived); // not quiet while bytes travel
        if (link == SimHarness::Link::Serial)
            connect(h.serial_port(), &SerialPort::ready_read, this, arrived);
        else
            connect(h.tcp_client(), &TcpClient::data_arrival, this, arrived);

        FloodSource source(h.sim());
        LoopWatch watch;
        const qint64 total = flood_bytes();
        const qint64 before = Hygiene::resident_bytes();
        QElapsedTimer took;
        took.start();
        watch.start();
        source.start(total);
        int refreshes = 0;
        auto drained = [&] { return source.done() && h.sim().idle() && arrivals.since_last.elapsed() > 100; };
        while (during_refresh && !source.done()) {
            h.refresh();
            ++refreshes;
        }
        while (!drained()) PanelHarness::wait_until(drained, 1000);
        watch.stop();
        const qint64 growth = watch.peak_rss - before;
        const qint64 seconds_ms = took.elapsed();
        qInfo("flood %s %s: %.1f MB in %.1f s (%.1f MB/s), %d refreshes; resident %.1f MB before, "
              "peak %.1f MB, growth %.2f MB; longest event-loop gap %lld ms",
              link_name, during_refresh ? "during refresh" : "idle", double(source.sent()) / kMB,
              seconds_ms / 1000.0, double(source.sent()) / kMB / (seconds_ms / 1000.0), refreshes,
              double(before) / kMB, double(watch.peak_rss) / kMB, double(growth) / kMB, watch.longest_gap);
        QCOMPARE(source.sent(), total);
        if (kResidentMemoryMeaningful)
            QVERIFY2(growth <= kAllowedGrowth, qPrintable(QStringLiteral("resident memory grew by %1 bytes").arg(growth)));
        QVERIFY2(watch.longest_gap <= kAllowedStallMs,
                 qPrintable(QStringLiteral("the event loop stood still for %1 ms").arg(watch.longest_gap)));

        // The stream is over: the next reply is taken as usual, and so is a whole refresh.
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        h.clear_wire();
        h.w().session().send_command("VER999");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.06"));
        h.device().power_on = false;
        h.refresh();
        QCOMPARE(h.w().device_state().power_state, 0);
        QCOMPARE(h.wire().first(), QStringLiteral("VER999"));
        QVERIFY(h.w().cmd_refresh->isEnabled());
    }

private slots:
    void initTestCase() { Hygiene::start(); }
    void cleanup() { TAVRION_VERIFY_HYGIENE(); }

    void serial_idle() { flood(SimHarness::Link::Serial, false); }
    void serial_during_refresh() { flood(SimHarness::Link::Serial, true); }
    void tcp_idle() { flood(SimHarness::Link::Tcp, false); }
    void tcp_during_refresh() { flood(SimHarness::Link::Tcp, true); }
};

#else

class TestFlood : public QObject {
    Q_OBJECT
private slots:
    void needs_the_simulator() { QSKIP("built without the simulator"); }
};

#endif

QTEST_MAIN(TestFlood)
#include "test_flood.moc"
