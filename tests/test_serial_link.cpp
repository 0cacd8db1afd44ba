// The RS-232 link on the real QSerialPort: the device is the master side of a pseudo-terminal
// whose slave is linked into the program folder as serial/COMn.
#include "session/clock.h"
#include "session/serial_port.h"
#include "panel/colours.h"
#include "support/features.h"
#include "support/fakes.h"
#include "support/panel_harness.h"
#include "support/program_folder.h"
#include "support/sim_harness.h"
#include "support/test_access.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <numeric>

using namespace tavrion;
using namespace tavrion::test;

namespace {

// One pseudo-terminal pair; the test plays the device on the master side.
class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0) return;
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        if (const char* name = ::ptsname(master_)) slave = QString::fromLocal8Bit(name);
    }
    ~Pty() { close_master(); }
    bool ok() const { return master_ >= 0 && !slave.isEmpty(); }
    void close_master()
    {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    QByteArray read_all()
    {
        QByteArray out;
        char buf[256];
        while (master_ >= 0) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break; // nothing waiting, or no slave open (EIO)
            out.append(buf, int(n));
        }
        return out;
    }
    void write(const QByteArray& bytes)
    {
        if (master_ >= 0) (void)!::write(master_, bytes.constData(), size_t(bytes.size()));
    }

    QString slave;

private:
    int master_ = -1;
};

// How often this process has `path` open (the panel's port, seen from outside).
int open_count(const QString& path)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == path) ++n;
    return n;
}

// The device behind a pty: reads the commands the panel writes and answers each with timed
// pieces of bytes.
struct Piece {
    int at_ms;
    QByteArray bytes;
};
class PtyDevice : public QObject {
public:
    using Plan = std::function<QList<Piece>(const QByteArray& command)>;
    explicit PtyDevice(Pty& pty) : pty_(pty)
    {
        poll_.setInterval(2);
        connect(&poll_, &QTimer::timeout, this, [this] { take(); });
        poll_.start();
    }
    void stop() { poll_.stop(); }
    QStringList commands;
    Plan plan;

private:
    void take()
    {
        pending_ += pty_.read_all();
        int cr;
        while ((cr = pending_.indexOf('\r')) >= 0) {
            const QByteArray command = pending_.left(cr);
            pending_.remove(0, cr + 1);
            commands << QString::fromLatin1(command);
            if (!plan) continue;
            for (const Piece& p : plan(command)) {
                const QByteArray bytes = p.bytes;
                QTimer::singleShot(p.at_ms, Qt::PreciseTimer, this, [this, bytes] { pty_.write(bytes); });
            }
        }
    }
    Pty& pty_;
    QTimer poll_;
    QByteArray pending_;
};

// The panel on the real serial port (and a fake socket), with its program folder.
class SerialPanel {
public:
    SerialPanel() : serial(folder.path()) {}
    ~SerialPanel()
    {
        if (window_) window_->close();
        window_.reset();
        QCoreApplication::processEvents();
    }
    void link_com(int n, const QString& target)
    {
        QDir().mkpath(folder.file(QStringLiteral("serial")));
        QVERIFY(QFile::link(target, folder.file(QStringLiteral("serial/COM%1").arg(n))));
    }
    bool load()
    {
        Platform p;
        p.program_dir = folder.path();
        p.clock = &clock;
        p.serial = &serial;
        p.socket = &tcp;
        p.boxes = &boxes;
        window_ = std::make_unique<FrmMain>(p);
        return window_->Form_Load();
    }
    FrmMain& w() { return *window_; }

    ProgramFolder folder;
    RecordingBoxes boxes;
    SteadyClock clock;
    QtSerialPort serial;
    FakeTcpClient tcp;

private:
    std::unique_ptr<FrmMain> window_;
};

bool shows_open(FrmMain& w)
{
    return back_colour(w.cmd_conn) == connected_colour && back_colour(w.cmd_disconn) == button_face_colour();
}
bool shows_closed(FrmMain& w)
{
    return back_colour(w.cmd_conn) == button_face_colour() && back_colour(w.cmd_disconn) == disconnected_colour;
}

} // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void replies_in_pieces_and_bursts()
    {
        Pty pty;
        QVERIFY(pty.ok());
        SerialPanel p;
        p.link_com(1, pty.slave);
        QVERIFY(p.load());
        QVERIFY(p.w().session().serial_connected());
        QVERIFY(shows_open(p.w()));
        QCOMPARE(open_count(pty.slave), 1);
        PtyDevice dev(pty);

        // 4 then 3 bytes: the first tick only collects, the second accepts.
        dev.plan = [](const QByteArray& c) -> QList<Piece> {
            if (c == "OUT999") return {{0, "OUT0"}, {60, "02\r"}};
            if (c == "OUT003") return {{0, "OUT003\r\n\n"}};
            return {};
        };
        int count_between = -1;
        std::string text_between;
        QTimer::singleShot(35, &p.w(), [&] {
            count_between = SessionTestAccess::rx_count(p.w().session());
            text_between = SessionTestAccess::reply_text(p.w().session());
        });
        p.w().session().send_command("OUT999");
        QCOMPARE(dev.commands, QStringList{"OUT999"});
        QCOMPARE(count_between, 4);
        QCOMPARE(text_between, std::string("OUT0"));
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QCOMPARE(p.w().device_state().cur_output, 2);
        QVERIFY(SessionTestAccess::tim_rx_enabled(p.w().session()));

        // Nine bytes at once: one reply, the two extra bytes go with the rest of the line.
        p.w().session().send_command("OUT003");
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QCOMPARE(p.w().device_state().cur_output, 3);
        PanelHarness::pump(50);
        QCOMPARE(SessionTestAccess::rx_count(p.w().session()), 0);
        QVERIFY(SessionTestAccess::reply_text(p.w().session()).empty());

        // A reply that finds no transaction is dispatched by the receive tick.
        pty.write("OUT004\r");
        QVERIFY(PanelHarness::wait_until([&] { return p.w().device_state().cur_output == 4; }, 1000));
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QVERIFY(p.boxes.boxes.isEmpty());
    }

    void network_answer_of_sixteen_characters_data()
    {
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<bool>("taken");
        QTest::newRow("16 at once") << QList<int>{16} << true;
        QTest::newRow("4 then 12") << QList<int>{4, 12} << true;
        // Pieces at line speed: collected until the sixteen are whole.
        QTest::newRow("10 then 6") << QList<int>{10, 6} << true;
        QTest::newRow("7 then 9") << QList<int>{7, 9} << true;
        QTest::newRow("20 at once") << QList<int>{20} << false;
    }
    void network_answer_of_sixteen_characters()
    {
        QFETCH(QList<int>, pieces);
        QFETCH(bool, taken);
        Pty pty;
        QVERIFY(pty.ok());
        SerialPanel p;
        p.link_com(1, pty.slave);
        QVERIFY(p.load());
        PtyDevice dev(pty);
        const QByteArray answer = QByteArray("192.168.001.100\rABCD").left(std::accumulate(pieces.begin(), pieces.end(), 0));
        dev.plan = [&](const QByteArray&) {
            QList<Piece> out;
            int at = 0;
            for (int i = 0, from = 0; i < pieces.size(); from += pieces[i], ++i, at += 60)
                out.append({at, answer.mid(from, pieces[i])});
            return out;
        };

        SessionTestAccess::set_net_query_state(p.w().session(), 0);
        p.w().session().send_command_nowait("EIP999");
        QVERIFY(PanelHarness::wait_until([&] { return !dev.commands.isEmpty(); }, 1000));
        QCOMPARE(dev.commands, QStringList{"EIP999"});
        if (taken) {
            QVERIFY(PanelHarness::wait_until([&] { return SessionTestAccess::net_query_state(p.w().session()) == 3; }, 1000));
            QCOMPARE(SessionTestAccess::reply_text(p.w().session()), answer.toStdString());
            QCOMPARE(SessionTestAccess::rx_count(p.w().session()), 16);
            QVERIFY(!SessionTestAccess::cmd_busy(p.w().session()));
            QVERIFY(SessionTestAccess::tim_rx_enabled(p.w().session()));
        } else {
            // More than sixteen at once is examined as an ordinary line: ".16" fails the digit
            // test and the bytes are dropped.
            PanelHarness::pump(60 * pieces.size() + 100);
            QCOMPARE(SessionTestAccess::net_query_state(p.w().session()), 0);
            QVERIFY(!SessionTestAccess::reply_ok(p.w().session()));
            QCOMPARE(SessionTestAccess::rx_count(p.w().session()), 0);
            QVERIFY(p.w().txt_cmd->toPlainText().startsWith("192.168.00"));
        }
    }

    void ordinary_reply_during_a_network_query()
    {
        // A line end within sixteen characters marks an ordinary reply even while a query waits.
        Pty pty;
        QVERIFY(pty.ok());
        SerialPanel p;
        p.link_com(1, pty.slave);
        QVERIFY(p.load());
        SessionTestAccess::set_net_query_state(p.w().session(), 0);
        pty.write("OUT003");
        PanelHarness::pump(20);
        pty.write("\r");
        QVERIFY(PanelHarness::wait_until([&] { return p.w().device_state().cur_output == 3; }, 1000));
        QCOMPARE(SessionTestAccess::net_query_state(p.w().session()), 0);
    }

    void com_ports_are_selected_from_the_list()
    {
        if (QFileInfo::exists(QStringLiteral("/dev/ttyS2")))
            QSKIP("this machine has a /dev/ttyS2, so COM3 is not missing here");
        Pty one, five;
        QVERIFY(one.ok() && five.ok());
        SerialPanel p;
        p.link_com(1, one.slave);
        p.link_com(5, five.slave);
        QVERIFY(p.load());
        QVERIFY(p.w().session().serial_connected());
        QCOMPARE(open_count(one.slave), 1);

        // "COM5:" while connected: the old port is closed and COM5 opened.
        p.w().cbo_com->setCurrentIndex(4);
        QCOMPARE(p.w().session().com_port(), 5);
        QVERIFY(p.w().session().serial_connected());
        QCOMPARE(open_count(one.slave), 0);
        QCOMPARE(open_count(five.slave), 1);
        PtyDevice dev(five);
        dev.plan = [](const QByteArray&) { return QList<Piece>{{0, "OUT002\r"}}; };
        p.w().session().send_command("OUT002");
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QCOMPARE(dev.commands, QStringList{"OUT002"});
        QVERIFY(one.read_all().isEmpty());

        // A port that does not exist: the message, no port open.
        p.w().cbo_com->setCurrentIndex(2);
        QCOMPARE(p.boxes.texts(), QStringList{"COM 3: Fail !"});
        QCOMPARE(p.boxes.boxes[0].icon, BoxIcon::None);
        QVERIFY(!p.w().session().serial_connected());
        QVERIFY(shows_closed(p.w()));
        QCOMPARE(open_count(five.slave), 0);
        QVERIFY(!p.serial.is_open());

        // With control events off a selection only records the number.
        PanelTestAccess::flags(p.w()).ui_events_enabled = false;
        p.w().cbo_com->setCurrentIndex(0);
        PanelTestAccess::flags(p.w()).ui_events_enabled = true;
        QCOMPARE(p.w().session().com_port(), 1);
        QVERIFY(!p.w().session().serial_connected());
        QCOMPARE(open_count(one.slave), 0);
        PanelHarness::click(p.w().cmd_conn);
        QVERIFY(p.w().session().serial_connected());
        QVERIFY(shows_open(p.w()));
        QCOMPARE(open_count(one.slave), 1);
        PanelHarness::click(p.w().cmd_disconn);
        QVERIFY(!p.w().session().serial_connected());
        QVERIFY(shows_closed(p.w()));
        QCOMPARE(open_count(one.slave), 0);
        QCOMPARE(p.boxes.boxes.size(), 1);
    }

    void vanished_device_closes_the_port()
    {
        auto pty = std::make_unique<Pty>();
        QVERIFY(pty->ok());
        const QString slave = pty->slave;
        SerialPanel p;
        p.link_com(1, slave);
        QVERIFY(p.load());
        QVERIFY(p.w().session().serial_connected());

        // The device end goes away while the panel holds the port, in the middle of a transaction.
        QElapsedTimer t;
        t.start();
        qint64 closed_after = -1;
        QTimer::singleShot(50, &p.w(), [&] { pty.reset(); });
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &p.w(), [&] {
            if (closed_after < 0 && !p.w().session().serial_connected()) closed_after = t.elapsed();
        });
        watch.start(5);
        p.w().session().send_command("OUT002");
        watch.stop();
        QVERIFY(!SessionTestAccess::reply_ok(p.w().session()));
        QVERIFY2(closed_after >= 50 && closed_after < 1050, qPrintable(QString::number(closed_after)));
        QVERIFY(shows_closed(p.w()));
        QVERIFY(!p.serial.is_open());
        QCOMPARE(open_count(slave), 0);
        QVERIFY(p.boxes.boxes.isEmpty());

        // Closed for good: the hung-up line does not keep the process busy.
        rusage u0{}, u1{};
        ::getrusage(RUSAGE_SELF, &u0);
        PanelHarness::pump(500);
        ::getrusage(RUSAGE_SELF, &u1);
        const double cpu = (u1.ru_utime.tv_sec - u0.ru_utime.tv_sec) + (u1.ru_stime.tv_sec - u0.ru_stime.tv_sec)
            + (u1.ru_utime.tv_usec - u0.ru_utime.tv_usec + u1.ru_stime.tv_usec - u0.ru_stime.tv_usec) / 1e6;
        QVERIFY2(cpu < 0.05, qPrintable(QString::number(cpu)));

        // The panel goes on: a send reports the closed port.
        p.w().session().send_command("OUT002");
        QCOMPARE(p.boxes.texts(), QStringList{"RS232 port is disconnected !"});
        QVERIFY(!SessionTestAccess::cmd_busy(p.w().session()));
    }

    void idle_window_with_the_port_open_costs_next_to_nothing()
    {
        Pty pty;
        QVERIFY(pty.ok());
        SerialPanel p;
        p.link_com(1, pty.slave);
        QVERIFY(p.load());
        QVERIFY(p.w().session().serial_connected());
        QVERIFY(SessionTestAccess::tim_rx_enabled(p.w().session()));
        PanelHarness::pump(200); // let start-up settle

        auto cpu_seconds = [] {
            rusage u{};
            ::getrusage(RUSAGE_SELF, &u);
            return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        QElapsedTimer wall;
        const double cpu0 = cpu_seconds();
        wall.start();
        QEventLoop idle;
        QTimer::singleShot(3000, &idle, &QEventLoop::quit);
        idle.exec();
        const double cpu = cpu_seconds() - cpu0;
        const double seconds = wall.nsecsElapsed() / 1e9;
        const double share = 100.0 * cpu / seconds;
        qInfo("idle CPU with the serial port open: %.4f s in %.2f s = %.3f%% of one core", cpu, seconds, share);
        QVERIFY2(share <= 1.0, qPrintable(QString::number(share)));

        // Still receiving after the rest.
        PtyDevice dev(pty);
        pty.write("OUT003\r");
        QVERIFY(PanelHarness::wait_until([&] { return p.w().device_state().cur_output == 3; }, 1000));
    }

#ifdef TAVRION_HAVE_SIM
    void round_trips_with_the_simulated_device()
    {
        SimHarness h(SimHarness::Link::Serial);
        check_round_trips(h);
    }
#endif
};

QTEST_MAIN(TestSerialLink)
#include "test_serial_link.moc"
