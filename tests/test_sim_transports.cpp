// The simulator on the wire: its TCP server, its pseudo-terminal with line pacing, the restart
// over TCP, every fault, the control port, the transcript with replay, and the program itself.
// Clients are a plain QTcpSocket and a plain POSIX descriptor on the serial link, in the same
// event loop as the simulator.
#include "sim/sim_server.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using tavrion_sim::SimServer;

namespace {

// Collects what arrives, with the time each batch arrived.
struct Received {
    QByteArray bytes;
    QList<QPair<qint64, QByteArray>> batches;  // ms since `clock` started
    QElapsedTimer clock;
    Received() { clock.start(); }
    void add(const QByteArray& b)
    {
        bytes += b;
        batches.append({clock.elapsed(), b});
    }
    void clear()
    {
        bytes.clear();
        batches.clear();
        clock.restart();
    }
    bool wait_for(int size, int timeout_ms = 2000)
    {
        return QTest::qWaitFor([&] { return bytes.size() >= size; }, timeout_ms);
    }
    // The time the byte at `index` arrived.
    qint64 time_of(int index) const
    {
        int seen = 0;
        for (const auto& b : batches) {
            seen += b.second.size();
            if (seen > index) return b.first;
        }
        return -1;
    }
};

class TcpClient {
public:
    TcpClient()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { in.add(socket.readAll()); });
    }
    bool connect_to(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 2000);
    }
    void send(const QByteArray& line) { socket.write(line); }
    // Sends a command with its CR and waits for `size` bytes of answer.
    QByteArray ask(const QByteArray& command, int size = 7, int timeout_ms = 2000)
    {
        in.clear();
        socket.write(command + "\r");
        in.wait_for(size, timeout_ms);
        return in.bytes;
    }
    bool wait_closed(int timeout_ms = 2000)
    {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeout_ms);
    }
    QTcpSocket socket;
    Received in;
};

// The panel's end of the serial line: the slave side opened through the simulator's link.
class PtyClient {
public:
    explicit PtyClient(const QString& path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_, &QSocketNotifier::activated, [this] { drain(); });
    }
    ~PtyClient()
    {
        delete notifier_;
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool hung_up() const { return hung_up_; }
    void send(const QByteArray& bytes)
    {
        const ssize_t n = ::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size()));
        QCOMPARE(n, static_cast<ssize_t>(bytes.size()));
    }
    QByteArray ask(const QByteArray& command, int size = 7, int timeout_ms = 2000)
    {
        in.clear();
        send(command + "\r");
        in.wait_for(size, timeout_ms);
        return in.bytes;
    }
    Received in;

private:
    void drain()
    {
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                in.add(QByteArray(buf, static_cast<int>(n)));
                continue;
            }
            if (n < 0 && errno == EAGAIN) return;
            if (n < 0 && errno == EINTR) continue;
            // The other side has gone: stop listening, or the notifier would fire for ever.
            hung_up_ = true;
            notifier_->setEnabled(false);
            return;
        }
    }
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    bool hung_up_ = false;
};

}  // namespace

class TestSimTransports : public QObject {
    Q_OBJECT
private slots:
    void tcp_answers_and_records_commands();
    void tcp_serves_one_client_at_a_time();
    void tcp_restart_drops_and_refuses();
    void serial_line_through_the_link();
    void serial_pacing_data();
    void serial_pacing();
    void faults_change_the_reply();
    void faults_shape_the_bytes();
    void faults_end_the_session();
    void faults_on_the_serial_line();
    void unsolicited_and_raw_bytes();
    void control_port_speaks_the_control_language();
    void transcript_and_replay();
    void program_runs_and_stops_cleanly();

private:
    QTemporaryDir dir_;
};

void TestSimTransports::tcp_answers_and_records_commands()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    QVERIFY(sim.tcp_port() != 0);
    QSignalSpy spy(&sim, &SimServer::command_received);
    TcpClient c;
    QVERIFY(c.connect_to(sim.tcp_port()));
    QCOMPARE(c.ask("VER999"), QByteArray("VER106\r"));
    QCOMPARE(c.ask("OUT002"), QByteArray("OUT002\r"));
    QCOMPARE(c.ask("EIP999", 16), QByteArray("192.168.001.100\r"));
    // Stray line feeds are tolerated; a line that is not a command is refused.
    QCOMPARE(c.ask("\nINP003"), QByteArray("INP003\r"));
    QCOMPARE(c.ask("INP03"), QByteArray("ERR001\r"));
    QCOMPARE(sim.device().state().routes[1], 3);
    // A command split across segments is one command.
    c.in.clear();
    c.send("MOD");
    QTest::qWait(30);
    QVERIFY(c.in.bytes.isEmpty());
    c.send("999\r");
    QVERIFY(c.in.wait_for(7));
    QCOMPARE(c.in.bytes, QByteArray("MOD001\r"));

    const QStringList expected{"VER999", "OUT002", "EIP999", "INP003", "INP03", "MOD999"};
    QCOMPARE(sim.received_commands(), expected);
    QCOMPARE(spy.count(), expected.size());
    QCOMPARE(spy.last().at(0).toString(), QString("MOD999"));
    sim.clear_received();
    QVERIFY(sim.received_commands().isEmpty());
}

void TestSimTransports::tcp_serves_one_client_at_a_time()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    auto a = std::make_unique<TcpClient>();
    QVERIFY(a->connect_to(sim.tcp_port()));
    QCOMPARE(a->ask("VER999"), QByteArray("VER106\r"));
    QVERIFY(sim.tcp_client_connected());

    TcpClient b;
    QVERIFY(b.connect_to(sim.tcp_port()));  // the system accepts it; the device does not yet
    b.send("LCK999\r");
    QTest::qWait(150);
    QVERIFY(b.in.bytes.isEmpty());
    QCOMPARE(a->ask("PWR999"), QByteArray("PWR001\r"));

    // When the first client leaves, the waiting one is served, its early command included.
    a->socket.disconnectFromHost();
    QVERIFY(b.in.wait_for(7));
    QCOMPARE(b.in.bytes, QByteArray("LCK000\r"));
    QCOMPARE(b.ask("AUD999"), QByteArray("AUD001\r"));

    // And a client after that again.
    b.socket.disconnectFromHost();
    QVERIFY(QTest::qWaitFor([&] { return !sim.tcp_client_connected(); }, 2000));
    TcpClient c;
    QVERIFY(c.connect_to(sim.tcp_port()));
    QCOMPARE(c.ask("AUD999"), QByteArray("AUD001\r"));
}

void TestSimTransports::tcp_restart_drops_and_refuses()
{
    SimServer sim;
    sim.set_restart_ms(600);
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    const quint16 port = sim.tcp_port();
    sim.device().state().power_on = false;
    QSignalSpy finished(&sim, &SimServer::restart_finished);

    TcpClient c;
    QVERIFY(c.connect_to(port));
    QElapsedTimer t;
    t.start();
    c.send("PWR001\r");
    QVERIFY(c.wait_closed(2000));
    const qint64 dropped_after = t.elapsed();
    QVERIFY2(dropped_after >= 400 && dropped_after < 1200, qPrintable(QString::number(dropped_after)));
    QVERIFY(c.in.bytes.isEmpty());  // no answer to the restart command
    QVERIFY(sim.device().state().power_on);
    QVERIFY(sim.restarting());

    // Refused, not merely unanswered, while the device restarts.
    TcpClient refused;
    refused.socket.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(refused.wait_closed());
    QCOMPARE(refused.socket.error(), QAbstractSocket::ConnectionRefusedError);

    QVERIFY(QTest::qWaitFor([&] { return finished.count() == 1; }, 3000));
    const qint64 back_after = t.elapsed();
    QVERIFY2(back_after >= dropped_after + 500, qPrintable(QString::number(back_after)));
    QCOMPARE(sim.tcp_port(), port);

    // RST001 restarts the same way, after resetting the device.
    TcpClient again;
    QVERIFY(again.connect_to(port));
    QCOMPARE(again.ask("MOD003"), QByteArray("MOD003\r"));
    again.in.clear();
    again.send("RST001\r");
    QVERIFY(again.wait_closed(2000));
    QVERIFY(again.in.bytes.isEmpty());
    QCOMPARE(sim.device().state().mode, 1);
    QVERIFY(QTest::qWaitFor([&] { return finished.count() == 2; }, 3000));
    TcpClient last;
    QVERIFY(last.connect_to(port));
    QCOMPARE(last.ask("PWR999"), QByteArray("PWR001\r"));
    const QStringList tail = sim.received_commands().mid(sim.received_commands().size() - 3);
    QCOMPARE(tail, (QStringList{"MOD003", "RST001", "PWR999"}));
}

void TestSimTransports::serial_line_through_the_link()
{
    const QString link = dir_.filePath("serial-a/COM1");  // the folder does not exist yet
    {
        SimServer sim;
        QVERIFY2(sim.open_serial(link, 0), qPrintable(sim.last_error()));
        QVERIFY(sim.serial_open());
        QFileInfo info(link);
        QVERIFY(info.isSymLink());
        QCOMPARE(info.symLinkTarget(), sim.serial_device());
        QVERIFY(sim.serial_device().startsWith("/dev/pts/"));

        PtyClient panel(link);
        QVERIFY(panel.ok());
        QCOMPARE(panel.ask("MOD999"), QByteArray("MOD001\r"));
        QCOMPARE(panel.ask("EGW999", 16), QByteArray("192.168.001.001\r"));
        // Over the serial line the restart commands are answered like any other.
        sim.device().state().mode = 2;
        QCOMPARE(panel.ask("RST001"), QByteArray("RST001\r"));
        QCOMPARE(sim.device().state().mode, 1);
        QCOMPARE(panel.ask("PWR001"), QByteArray("PWR001\r"));
        QVERIFY(!sim.restarting());
        QCOMPARE(sim.received_commands(), (QStringList{"MOD999", "EGW999", "RST001", "PWR001"}));

        // The panel closing its port and opening it again finds the device still there.
        {
            PtyClient second(link);
            QVERIFY(second.ok());
        }
        QCOMPARE(panel.ask("VER999"), QByteArray("VER106\r"));

        // Opening again replaces a stale link of ours.
        QVERIFY(sim.open_serial(link, 0));
        QVERIFY(QFileInfo(link).isSymLink());
    }
    QVERIFY(!QFileInfo(link).isSymLink());  // the destructor removed it

    // A real file at the path is not ours to replace.
    QFile plain(dir_.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    SimServer sim;
    QVERIFY(!sim.open_serial(plain.fileName(), 0));
    QVERIFY(!sim.last_error().isEmpty());
    QVERIFY(QFileInfo(plain.fileName()).isFile());
}

void TestSimTransports::serial_pacing_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("min_ms");
    QTest::addColumn<int>("max_ms");
    // 8N1: ten bits a byte. 1152 bytes at 115200 baud take 100 ms; 120 at 9600, 125 ms.
    QTest::newRow("115200") << 115200 << 1152 << 90 << 400;
    QTest::newRow("9600") << 9600 << 120 << 115 << 450;
    QTest::newRow("unpaced") << 0 << 8192 << 0 << 60;
}

void TestSimTransports::serial_pacing()
{
    QFETCH(int, baud);
    QFETCH(int, bytes);
    QFETCH(int, min_ms);
    QFETCH(int, max_ms);
    const QString link = dir_.filePath(QStringLiteral("pace-%1").arg(baud));
    SimServer sim;
    QVERIFY(sim.open_serial(link, baud));
    QVERIFY(sim.apply_control(QStringLiteral("flood %1 VER").arg(bytes)));
    PtyClient panel(link);
    QVERIFY(panel.ok());
    panel.in.clear();
    panel.send("VER999\r");
    QVERIFY(panel.in.wait_for(bytes, 5000));
    const qint64 first = panel.in.time_of(0);
    const qint64 last = panel.in.time_of(bytes - 1);
    const qint64 spread = last - first;
    QVERIFY2(spread >= min_ms && spread <= max_ms,
             qPrintable(QStringLiteral("%1 bytes took %2 ms").arg(bytes).arg(spread)));
    QCOMPARE(panel.in.bytes.size(), bytes);

    // A plain reply still comes in one short piece after the flood.
    QVERIFY(sim.apply_control("reset"));
    QCOMPARE(panel.ask("VER999"), QByteArray("VER106\r"));
}

void TestSimTransports::faults_change_the_reply()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    TcpClient c;
    QVERIFY(c.connect_to(sim.tcp_port()));

    // delay: only for its code.
    QVERIFY(sim.apply_control("delay 300 VER"));
    QElapsedTimer t;
    t.start();
    QCOMPARE(c.ask("VER999"), QByteArray("VER106\r"));
    QVERIFY2(t.elapsed() >= 290, qPrintable(QString::number(t.elapsed())));
    t.restart();
    QCOMPARE(c.ask("MOD999"), QByteArray("MOD001\r"));
    QVERIFY(t.elapsed() < 250);

    // Replies keep their order behind a delayed one.
    c.in.clear();
    c.send("VER999\rAUD999\r");
    QVERIFY(c.in.wait_for(14));
    QCOMPARE(c.in.bytes, QByteArray("VER106\rAUD001\r"));

    // silent: the device acts but does not answer.
    QVERIFY(sim.apply_control("silent MOD"));
    QCOMPARE(c.ask("MOD002", 7, 300), QByteArray());
    QCOMPARE(sim.device().state().mode, 2);

    QVERIFY(sim.apply_control("err LCK"));
    QCOMPARE(c.ask("LCK999"), QByteArray("ERR001\r"));
    QVERIFY(sim.apply_control("code AUA BRI"));
    QCOMPARE(c.ask("BRI057"), QByteArray("AUA057\r"));
    QCOMPARE(sim.device().state().brightness[0], 57);

    // once: the next matching reply only.
    QVERIFY(sim.apply_control("err 005 AUE once"));
    QCOMPARE(c.ask("AUE999"), QByteArray("ERR005\r"));
    QCOMPARE(c.ask("AUE999"), QByteArray("AUE000\r"));

    QVERIFY(sim.apply_control("reset"));
    QVERIFY(sim.faults().empty());
    QCOMPARE(c.ask("MOD999"), QByteArray("MOD002\r"));
    QCOMPARE(c.ask("VER999"), QByteArray("VER106\r"));
    QCOMPARE(c.ask("LCK999"), QByteArray("LCK000\r"));
}

void TestSimTransports::faults_shape_the_bytes()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    TcpClient c;
    QVERIFY(c.connect_to(sim.tcp_port()));

    QVERIFY(sim.apply_control("split 3,2 gap 80 VER"));
    QCOMPARE(c.ask("VER999"), QByteArray("VER106\r"));
    QVERIFY(c.in.batches.size() >= 3);
    QCOMPARE(c.in.batches[0].second, QByteArray("VER"));
    QVERIFY(c.in.time_of(3) - c.in.time_of(2) >= 60);
    QVERIFY(c.in.time_of(5) - c.in.time_of(3) >= 60);

    QVERIFY(sim.apply_control("double MOD"));
    QCOMPARE(c.ask("MOD999", 14), QByteArray("MOD001\rMOD001\r"));
    QVERIFY(sim.apply_control("trailing \\n AUD"));
    QCOMPARE(c.ask("AUD999", 8), QByteArray("AUD001\r\n"));

    QVERIFY(sim.apply_control("garbage 10 LCK"));
    const QByteArray junk = c.ask("LCK999", 10);
    QCOMPARE(junk.size(), 10);
    for (char ch : junk) QVERIFY(ch != '\r' && !(ch >= '0' && ch <= '9'));

    QVERIFY(sim.apply_control("flood 65536 PWR"));
    const QByteArray flood = c.ask("PWR999", 65536, 5000);
    QCOMPARE(flood.size(), 65536);
    QVERIFY(!flood.contains('\r'));

    // Nothing is left over after the faults: the next answers are clean.
    QVERIFY(sim.apply_control("reset"));
    QTest::qWait(50);
    QCOMPARE(c.ask("PWR999"), QByteArray("PWR001\r"));
}

void TestSimTransports::faults_end_the_session()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    {
        TcpClient c;
        QVERIFY(c.connect_to(sim.tcp_port()));
        QVERIFY(sim.apply_control("drop-mid VER"));
        c.ask("VER999", 7, 300);
        QVERIFY(c.wait_closed());
        QCOMPARE(c.in.bytes, QByteArray("VER"));
    }
    {
        TcpClient c;
        QVERIFY(c.connect_to(sim.tcp_port()));
        QCOMPARE(c.ask("MOD999"), QByteArray("MOD001\r"));  // drop-mid was for VER only
        QVERIFY(sim.apply_control("ext 007 MOD"));
        QCOMPARE(c.ask("MOD999"), QByteArray("EXT007\r"));
        QVERIFY(c.wait_closed());
    }
    QVERIFY(sim.apply_control("reset"));
    {
        // ext at once: the device ends the session by itself.
        TcpClient c;
        QVERIFY(c.connect_to(sim.tcp_port()));
        QVERIFY(QTest::qWaitFor([&] { return sim.tcp_client_connected(); }, 2000));
        QVERIFY(sim.apply_control("ext"));
        QVERIFY(c.in.wait_for(7));
        QCOMPARE(c.in.bytes, QByteArray("EXT000\r"));
        QVERIFY(c.wait_closed());
    }
    {
        TcpClient c;
        QVERIFY(c.connect_to(sim.tcp_port()));
        QVERIFY(QTest::qWaitFor([&] { return sim.tcp_client_connected(); }, 2000));
        QVERIFY(sim.apply_control("drop"));
        QVERIFY(c.wait_closed());
        QVERIFY(c.in.bytes.isEmpty());
    }
    // Without a client these have nothing to act on.
    QVERIFY(QTest::qWaitFor([&] { return !sim.tcp_client_connected(); }, 2000));
    QVERIFY(!sim.apply_control("ext"));
    QVERIFY(!sim.apply_control("drop"));
    QVERIFY(!sim.last_error().isEmpty());
}

void TestSimTransports::faults_on_the_serial_line()
{
    const QString link = dir_.filePath("serial-f/COM2");
    SimServer sim;
    QVERIFY(sim.open_serial(link, 115200));
    QSignalSpy closed(&sim, &SimServer::serial_closed);
    {
        PtyClient panel(link);
        QVERIFY(panel.ok());
        // drop-mid on a serial line: the rest never comes, the line stays.
        QVERIFY(sim.apply_control("drop-mid VER"));
        QCOMPARE(panel.ask("VER999", 7, 300), QByteArray("VER"));
        QCOMPARE(panel.ask("MOD999"), QByteArray("MOD001\r"));
        // A gap is a gap on the wire, after the paced bytes of the first batch.
        QVERIFY(sim.apply_control("split 4 gap 60 AUD"));
        QCOMPARE(panel.ask("AUD999"), QByteArray("AUD001\r"));
        QVERIFY(panel.in.time_of(4) - panel.in.time_of(3) >= 55);
        // vanish on a command: no answer, the device is gone.
        QVERIFY(sim.apply_control("vanish LCK"));
        QCOMPARE(panel.ask("LCK999", 7, 300), QByteArray());
        QVERIFY(QTest::qWaitFor([&] { return panel.hung_up(); }, 2000));
        QVERIFY(!sim.serial_open());
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(closed.count(), 1);
    }
    QVERIFY(!sim.apply_control("vanish"));  // nothing left to close

    // vanish at once, after the device has come back.
    QVERIFY(sim.apply_control("reset"));
    QVERIFY(sim.open_serial(link, 0));
    PtyClient panel(link);
    QVERIFY(panel.ok());
    QCOMPARE(panel.ask("PWR999"), QByteArray("PWR001\r"));
    QVERIFY(sim.apply_control("vanish"));
    QVERIFY(QTest::qWaitFor([&] { return panel.hung_up(); }, 2000));
    QVERIFY(!QFileInfo(link).exists());
    QCOMPARE(closed.count(), 2);
}

void TestSimTransports::unsolicited_and_raw_bytes()
{
    const QString link = dir_.filePath("serial-u");
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    QVERIFY(sim.open_serial(link, 0));
    TcpClient c;
    QVERIFY(c.connect_to(sim.tcp_port()));
    PtyClient panel(link);
    QVERIFY(panel.ok());
    QVERIFY(QTest::qWaitFor([&] { return sim.tcp_client_connected(); }, 2000));

    // At once, on every open link.
    QVERIFY(sim.apply_control("unsolicited AUD001"));
    QVERIFY(c.in.wait_for(7));
    QVERIFY(panel.in.wait_for(7));
    QCOMPARE(c.in.bytes, QByteArray("AUD001\r"));
    QCOMPARE(panel.in.bytes, QByteArray("AUD001\r"));

    // After each reply to a code.
    QVERIFY(sim.apply_control("unsolicited BEZ001 after 50 MOD"));
    QCOMPARE(c.ask("MOD999", 14), QByteArray("MOD001\rBEZ001\r"));
    QVERIFY(c.in.time_of(7) - c.in.time_of(6) >= 40);
    QCOMPARE(panel.ask("MOD999", 14), QByteArray("MOD001\rBEZ001\r"));

    c.in.clear();
    panel.in.clear();
    sim.send_raw(QByteArray("\x00\xffOUT", 5));
    QVERIFY(c.in.wait_for(5));
    QVERIFY(panel.in.wait_for(5));
    QCOMPARE(c.in.bytes, QByteArray("\x00\xffOUT", 5));
    QVERIFY(sim.apply_control("send PWR000\\r\\n"));
    QVERIFY(c.in.wait_for(13));
    QCOMPARE(c.in.bytes.mid(5), QByteArray("PWR000\r\n"));
}

void TestSimTransports::control_port_speaks_the_control_language()
{
    SimServer sim;
    QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
    QVERIFY(sim.listen_control(QHostAddress::LocalHost, 0));
    TcpClient control;
    QVERIFY(control.connect_to(sim.control_port()));
    auto say = [&](const QByteArray& line, const QByteArray& last) {
        control.in.clear();
        control.send(line + "\n");
        (void)QTest::qWaitFor([&] { return control.in.bytes.endsWith(last); }, 2000);
        return control.in.bytes;
    };
    QCOMPARE(say("silent MOD", "ok\n"), QByteArray("ok\n"));
    QCOMPARE(say("delay 20 VER once", "ok\n"), QByteArray("ok\n"));
    QCOMPARE(say("faults", "ok\n"), QByteArray("silent MOD\ndelay 20 VER times 1\nok\n"));
    QVERIFY(say("status", "ok\n").contains("mode 1, current output 1"));
    QVERIFY(say("bogus", "\n").startsWith("error: "));
    QCOMPARE(say("set version 123", "ok\n"), QByteArray("ok\n"));

    TcpClient panel;
    QVERIFY(panel.connect_to(sim.tcp_port()));
    QCOMPARE(panel.ask("MOD999", 7, 300), QByteArray());
    QCOMPARE(panel.ask("VER999"), QByteArray("VER123\r"));
    QCOMPARE(say("reset", "ok\n"), QByteArray("ok\n"));
    QCOMPARE(panel.ask("MOD999"), QByteArray("MOD001\r"));

    QVERIFY(!sim.apply_control("set mode 9"));
    QVERIFY(!sim.apply_control("set ip 300.1.1.1"));
    QVERIFY(sim.apply_control("set ip 10.0.0.9"));
    QCOMPARE(panel.ask("EIP999", 16), QByteArray("010.000.000.009\r"));
}

void TestSimTransports::transcript_and_replay()
{
    const QString log = dir_.filePath("session.log");
    {
        SimServer sim;
        sim.device().state().version = 123;
        QVERIFY(sim.set_transcript(log));
        QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
        QVERIFY(sim.apply_control("split 3 gap 40 MOD"));
        TcpClient c;
        QVERIFY(c.connect_to(sim.tcp_port()));
        QCOMPARE(c.ask("VER999"), QByteArray("VER123\r"));
        QCOMPARE(c.ask("MOD999"), QByteArray("MOD001\r"));
        QCOMPARE(c.ask("XYZ\x01\"9"), QByteArray("ERR001\r"));
    }
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QStringList words;
    qint64 previous = -1;
    for (const QString& line : lines) {
        const QStringList parts = line.split(' ');
        QVERIFY(parts.size() >= 4);
        const qint64 micros = parts[0].toLongLong();
        QVERIFY(micros >= previous);  // monotonic
        previous = micros;
        if (parts[2] != "EV") words << parts[2] + " " + line.section(' ', 3);
    }
    QCOMPARE(words, (QStringList{"RX \"VER999\\r\"", "TX \"VER123\\r\"", "RX \"MOD999\\r\"",
                                 "TX \"MOD\"", "TX \"001\\r\"", "RX \"XYZ\\x01\\\"9\\r\"",
                                 "TX \"ERR001\\r\""}));

    // Replayed by a device whose own answers differ: the recording wins, in order, with its
    // timing; after it, the device answers for itself.
    SimServer replay;
    QVERIFY(replay.load_replay(log));
    QVERIFY(replay.listen_tcp(QHostAddress::LocalHost, 0));
    QSignalSpy notices(&replay, &SimServer::notice);
    TcpClient c;
    QVERIFY(c.connect_to(replay.tcp_port()));
    QCOMPARE(c.ask("VER999"), QByteArray("VER123\r"));
    QCOMPARE(c.ask("LCK999"), QByteArray("MOD001\r"));  // the second recorded answer
    QVERIFY(c.in.time_of(3) - c.in.time_of(2) >= 30);
    bool warned = false;
    for (const auto& n : notices) warned = warned || n.at(0).toString().contains("LCK999");
    QVERIFY(warned);
    QCOMPARE(c.ask("AUD999"), QByteArray("ERR001\r"));
    QVERIFY(replay.replaying());
    QCOMPARE(c.ask("VER999"), QByteArray("VER106\r"));
    QVERIFY(!replay.replaying());

    QString error;
    QVERIFY(!replay.load_replay(dir_.filePath("missing.log"), &error));
    QVERIFY(!error.isEmpty());
}

void TestSimTransports::program_runs_and_stops_cleanly()
{
    const QString program = QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion-sim");
    if (!QFileInfo(program).isExecutable()) QSKIP("tavrion-sim is not built");
    const QString link = dir_.filePath("prog/serial/COM1");
    const QString log = dir_.filePath("prog.log");

    QProcess p;
    p.start(program, {"--tcp", "127.0.0.1:0", "--serial", link, "--baud", "0", "--log", log,
                      "--fault", "err VER", "--firmware", "107"});
    QByteArray out;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] { out += p.readAllStandardOutput(); });
    QVERIFY(QTest::qWaitFor([&] { return out.contains("serial on"); }, 5000));
    const QRegularExpression port_re("TCP on 127\\.0\\.0\\.1:(\\d+)");
    const auto m = port_re.match(QString::fromLatin1(out));
    QVERIFY(m.hasMatch());

    TcpClient c;
    QVERIFY(c.connect_to(static_cast<quint16>(m.captured(1).toUInt())));
    QCOMPARE(c.ask("VER999"), QByteArray("ERR001\r"));
    QCOMPARE(c.ask("MOD999"), QByteArray("MOD001\r"));
    PtyClient panel(link);
    QVERIFY(panel.ok());
    QCOMPARE(panel.ask("EIP999", 16), QByteArray("192.168.001.100\r"));

    // Control lines on standard input.
    p.write("reset\n");
    QVERIFY(QTest::qWaitFor([&] { return out.endsWith("ok\n"); }, 2000));
    QCOMPARE(c.ask("VER999"), QByteArray("VER107\r"));

    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    QVERIFY(QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo(link).exists());
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo(log).size() > 0);

    // Bad options are refused with a message, not started.
    QProcess bad;
    bad.start(program, {"--tcp", "nonsense:port"});
    QVERIFY(QTest::qWaitFor([&] { return bad.state() == QProcess::NotRunning; }, 5000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--tcp"));
}

QTEST_GUILESS_MAIN(TestSimTransports)
#include "test_sim_transports.moc"
