// How promptly the waiting primitive and the serial receiver wake: a wait step ends when the
// millisecond clock passes its bound (never before it, and not most of a millisecond after it),
// and bytes on the serial line are taken on the next pass of the event loop, not a tick later; a
// wait of tavrion-ctl and the hub ends on its answer; and sessions waiting side by side in threads
// of their own all come to rest.
#include "support/panel_harness.h"
#include "support/test_access.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>

#include <algorithm>
#include <memory>
#include <vector>

using namespace tavrion;
using namespace tavrion::test;

namespace {

// A millisecond clock whose ticks the test can place: align() moves it forward so that the
// present moment lies `phase_ns` into a millisecond.
class PhaseClock : public Clock {
public:
    PhaseClock() { timer_.start(); }
    qint64 now_ms() override { return now_ns() / 1000000; }
    qint64 ns_until_ms(qint64 ms) override { return ms * 1000000 - now_ns(); }
    void align(qint64 phase_ns) { shift_ns_ += ((phase_ns - now_ns() % 1000000) + 1000000) % 1000000; }

private:
    qint64 now_ns() const { return timer_.nsecsElapsed() + shift_ns_; }
    QElapsedTimer timer_;
    qint64 shift_ns_ = 0;
};

// A clock that cannot tell when it ticks next: the wait falls back to whole-millisecond wake-ups.
class CoarseClock : public Clock {
public:
    CoarseClock() { timer_.start(); }
    qint64 now_ms() override { return timer_.elapsed(); }

private:
    QElapsedTimer timer_;
};

// A clock that stops when told: a wait bounded by it can then end only on what it waits for.
class StoppableClock : public Clock {
public:
    StoppableClock() { timer_.start(); }
    qint64 now_ms() override { return stopped_ms_ >= 0 ? stopped_ms_ : timer_.elapsed(); }
    void stop() { stopped_ms_ = timer_.elapsed(); }

private:
    QElapsedTimer timer_;
    qint64 stopped_ms_ = -1;
};

struct Window {
    explicit Window(Clock* clock)
    {
        Platform p;
        p.program_dir = folder.path();
        p.clock = clock;
        p.serial = &serial;
        p.socket = &tcp;
        p.boxes = &boxes;
        w = std::make_unique<FrmMain>(p);
    }
    ProgramFolder folder;
    FakeSerialPort serial;
    FakeTcpClient tcp;
    RecordingBoxes boxes;
    std::unique_ptr<FrmMain> w;
};

} // namespace

class TestWaitWake : public QObject {
    Q_OBJECT
private slots:
    void a_wait_step_ends_when_the_clock_passes_its_bound()
    {
        PhaseClock clock;
        Window win(&clock);
        // Started 0.8 ms into a millisecond, wait_seconds(0.001) may return 1.2 ms later, once the
        // clock has moved on twice; a wake-up counted from the start would come 2 ms later.
        std::vector<double> took_ms;
        for (int i = 0; i < 40; ++i) {
            clock.align(800000);
            const qint64 start = clock.now_ms();
            QElapsedTimer t;
            t.start();
            win.w->session().wait_seconds(0.001f);
            took_ms.push_back(double(t.nsecsElapsed()) / 1e6);
            QVERIFY2(clock.now_ms() - start >= 2, "returned before the clock passed the bound");
        }
        std::sort(took_ms.begin(), took_ms.end());
        const double median = took_ms[took_ms.size() / 2];
        qInfo("wait step from 0.8 ms into a millisecond: median %.3f ms", median);
        QVERIFY2(median < 1.7, qPrintable(QString::number(median)));

        // A clock that cannot say when it ticks still bounds the wait.
        CoarseClock coarse;
        Window plain(&coarse);
        QElapsedTimer t;
        t.start();
        const qint64 start = coarse.now_ms();
        for (int i = 0; i < 20; ++i) plain.w->session().wait_seconds(0.001f);
        QVERIFY(coarse.now_ms() - start >= 40);
        QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
    }

    void serial_bytes_are_taken_on_the_next_pass_of_the_event_loop()
    {
        PanelHarness h;
        QVERIFY(h.load());
        QVERIFY(h.w().session().serial_connected());

        // An unsolicited reply, while no transaction waits: dispatched by the receiver itself.
        h.serial.feed("VER106\r");
        QCoreApplication::processEvents();
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.06"));
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);
        QVERIFY(SessionTestAccess::tim_rx_enabled(h.w().session()));

        // A reply in two pieces: taken as soon as the second completes it.
        h.serial.feed("VER1");
        QCoreApplication::processEvents();
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.06"));
        h.serial.feed("07\r");
        QCoreApplication::processEvents();
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.07"));
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);

        // A piece that completes nothing is left to the 1 ms tick, which still collects it.
        h.serial.feed("VER1");
        QVERIFY(PanelHarness::wait_until([&] { return SessionTestAccess::rx_count(h.w().session()) == 4; }, 1000));
        h.serial.feed("08\r");
        QCoreApplication::processEvents();
        QCOMPARE(h.w().txt_ver->text(), QStringLiteral("1.08"));
    }

    // tavrion-ctl and the hub wait for an answer, not for a step to end: the wait ends on the pass
    // that accepts it, and serial bytes are taken as they come, without the receive tick.
    void a_prompt_wait_ends_on_the_pass_that_takes_the_answer_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("RS-232") << false;
        QTest::newRow("TCP") << true;
    }
    void a_prompt_wait_ends_on_the_pass_that_takes_the_answer()
    {
        QFETCH(bool, tcp);
        StoppableClock clock;
        FakeSerialPort serial;
        FakeTcpClient socket;
        SessionPlatform p;
        p.clock = &clock;
        p.serial = &serial;
        p.socket = &socket;
        p.reply_wait = ReplyWait::Prompt;
        DeviceSession session(p);
        if (tcp) {
            session.set_link_interface(1);
            session.connect_tcp(QStringLiteral("127.0.0.1"));
            QVERIFY(PanelHarness::wait_until([&] { return session.eth_connected(); }, 2000));
        } else {
            session.set_comm();
            QVERIFY(session.serial_connected());
            session.start_receiving();
        }
        CommandWire& wire = tcp ? static_cast<CommandWire&>(socket) : serial;
        auto feed = [&](const QByteArray& bytes) { tcp ? socket.feed(bytes) : serial.feed(bytes); };
        // The answer in two pieces 5 ms apart, and the clock standing still: only the answer can
        // end the wait.
        wire.responder = [&](const QByteArray&) {
            QTimer::singleShot(5, &session, [&] { feed("06\r"); });
            return QByteArray("VER1");
        };
        clock.stop();
        const Exchange e = session.send_command("VER999");
        QCOMPARE(int(e.kind), int(Exchange::Kind::Answered));
        QCOMPARE(e.reply, std::string("VER106"));
        QCOMPARE(SessionTestAccess::wait_step_count(session), quint64(1));
        QVERIFY(!SessionTestAccess::cmd_busy(session));
        if (!tcp) {
            serial.feed("VER1");
            QCoreApplication::processEvents();
            QCOMPARE(SessionTestAccess::rx_count(session), 4);
            QVERIFY(!session.findChild<QTimer*>(QStringLiteral("tim_rx"))->isActive());
        }
    }

    // The hub waits in one session per unit, each in a thread of its own. Once their waits are
    // over, no session keeps a timer running, however the waits of the threads overlapped.
    void sessions_in_threads_of_their_own_come_to_rest()
    {
        constexpr int kThreads = 4;
        std::atomic<int> still_ticking{0};
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back(QThread::create([&still_ticking, i] {
                SteadyClock clock;
                SessionPlatform p;
                p.clock = &clock;
                DeviceSession session(p);
                // Staggered, so that every thread's waits begin and end inside another's.
                for (int step = 0; step < 40 + 7 * i; ++step) session.wait_seconds(0.001f * float(1 + (step + i) % 3));
                for (const QTimer* t : session.findChildren<QTimer*>())
                    if (t->isActive()) ++still_ticking;
            }));
            threads.back()->start();
        }
        for (auto& t : threads) QVERIFY(t->wait(20000));
        QCOMPARE(still_ticking.load(), 0);
    }
};

QTEST_MAIN(TestWaitWake)
#include "test_wait_wake.moc"
