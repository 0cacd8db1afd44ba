// The Ethernet link on the real QTcpSocket against a device played by a QTcpServer on 127.0.0.1:
// connecting, replies in segments, EXT, the 7 s attempt timeout, the 100 ms link watch, the
// session without it (the socket's own news and keep-alive), and the switch between the two links.
#include "session/clock.h"
#include "support/test_access.h"
#include "session/tcp_client.h"
#include "panel/colours.h"
#include "support/features.h"
#include "support/fakes.h"
#include "support/panel_harness.h"
#include "support/program_folder.h"
#include "support/sim_harness.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

using namespace tavrion;
using namespace tavrion::test;

namespace {

struct Piece {
    int at_ms;
    QByteArray bytes;
};

// The device: accepts connections on a free loopback port, collects commands, and answers each
// with timed pieces (each piece one TCP segment).
class Peer : public QObject {
public:
    using Plan = std::function<QList<Piece>(const QByteArray& command)>;
    Peer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                clients << s;
                connect(s, &QTcpSocket::readyRead, this, [this, s] { take(s); });
            }
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()); }
    QTcpSocket* client() const { return clients.isEmpty() ? nullptr : clients.last().data(); }
    void send(const QByteArray& bytes)
    {
        if (QTcpSocket* s = client()) {
            s->write(bytes);
            s->flush();
        }
    }
    QList<QPointer<QTcpSocket>> clients;
    QStringList commands;
    Plan plan;

private:
    void take(QTcpSocket* s)
    {
        pending_ += s->readAll();
        int cr;
        while ((cr = pending_.indexOf('\r')) >= 0) {
            const QByteArray command = pending_.left(cr);
            pending_.remove(0, cr + 1);
            commands << QString::fromLatin1(command);
            if (!plan) continue;
            for (const Piece& p : plan(command)) {
                QPointer<QTcpSocket> to(s);
                const QByteArray bytes = p.bytes;
                QTimer::singleShot(p.at_ms, Qt::PreciseTimer, this, [to, bytes] {
                    if (!to) return;
                    to->write(bytes);
                    to->flush();
                });
            }
        }
    }
    QTcpServer server_;
    QByteArray pending_;
};

// The panel on the real TCP client (and a fake serial port), started on the Ethernet link.
class SocketPanel {
public:
    SocketPanel()
    {
        Settings s;
        s.link_interface = 1;
        folder.write_settings(s);
        Platform p;
        p.program_dir = folder.path();
        p.clock = &clock;
        p.serial = &serial;
        p.socket = &tcp;
        p.boxes = &boxes;
        window_ = std::make_unique<FrmMain>(p);
    }
    ~SocketPanel()
    {
        window_->close();
        window_.reset();
        QCoreApplication::processEvents();
    }
    FrmMain& w() { return *window_; }
    // Types the address and presses Connect; true once the link is up.
    bool connect_to(const QString& address, int ms = 2000)
    {
        w().txt_ip->setText(address);
        PanelHarness::click(w().cmd_conn_eth);
        return PanelHarness::wait_until([this] { return w().session().eth_connected(); }, ms);
    }

    ProgramFolder folder;
    RecordingBoxes boxes;
    SteadyClock clock;
    FakeSerialPort serial;
    QtTcpClient tcp;

private:
    std::unique_ptr<FrmMain> window_;
};

bool shows_idle(FrmMain& w)
{
    return w.cmd_conn_eth->isEnabled() && back_colour(w.cmd_conn_eth) == button_face_colour()
        && !w.cmd_disconn_eth->isEnabled() && back_colour(w.cmd_disconn_eth) == disconnected_colour
        && w.lab_eth_state->isHidden() && !SessionTestAccess::tim_eth(w.session())->isActive() && SessionTestAccess::tim_eth(w.session())->interval() == 7000;
}

// A loopback port on which a connection attempt neither completes nor is refused: a listener whose
// accept queue is already full drops further connection requests.
class FullListener {
public:
    FullListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 0) != 0) return;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        for (int& f : fillers_) {
            f = ::socket(AF_INET, SOCK_STREAM, 0);
            ::fcntl(f, F_SETFL, O_NONBLOCK);
            (void)::connect(f, reinterpret_cast<sockaddr*>(&a), len);
        }
    }
    ~FullListener()
    {
        for (int f : fillers_) ::close(f);
        ::close(fd_);
    }
    int port = 0;

private:
    int fd_ = -1;
    int fillers_[3] = {-1, -1, -1};
};

// The client socket's keep-alive settings: SO_KEEPALIVE, then the idle time, the interval and the
// count of the probes, and how long sent data may stay unacknowledged.
QList<int> keep_alive_of(const QtTcpClient& client)
{
    const QTcpSocket* socket = client.findChild<QTcpSocket*>();
    const int fd = socket ? int(socket->socketDescriptor()) : -1;
    QList<int> out;
    const std::pair<int, int> options[] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE},
                                           {IPPROTO_TCP, TCP_KEEPINTVL}, {IPPROTO_TCP, TCP_KEEPCNT},
                                           {IPPROTO_TCP, TCP_USER_TIMEOUT}};
    for (const auto& [level, name] : options) {
        int value = -1;
        socklen_t size = sizeof value;
        if (fd < 0 || ::getsockopt(fd, level, name, &value, &size) != 0) value = -1;
        out << value;
    }
    return out;
}

// A session on the real TCP client without the window's link watch, as the hub runs it: what it
// logged and announced, in order.
struct UnwatchedSession {
    UnwatchedSession()
    {
        SessionPlatform p;
        p.clock = &clock;
        p.socket = &tcp;
        p.boxes = &boxes;
        p.link_watch = LinkWatch::Socket;
        session = std::make_unique<DeviceSession>(p);
        session->set_link_interface(1);
        QObject::connect(session.get(), &DeviceSession::log_entry, session.get(),
                         [this](const std::string& text) { heard << QString::fromStdString(text); });
        QObject::connect(session.get(), &DeviceSession::ethernet_link_down, session.get(), [this] { heard << "down"; });
    }
    SteadyClock clock;
    QtTcpClient tcp;
    RecordingBoxes boxes;
    std::unique_ptr<DeviceSession> session;
    QStringList heard;
};

// A loopback port nobody listens on: connections are refused at once.
int closed_port()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const int port = s.serverPort();
    s.close();
    return port;
}

} // namespace

class TestEthernetLink : public QObject {
    Q_OBJECT
private slots:
    void connect_and_replies_in_segments()
    {
        Peer peer;
        SocketPanel p;
        QVERIFY(p.w().Form_Load());
        QCOMPARE(p.w().session().link_interface(), 1);
        QVERIFY(!p.w().session().eth_connected());
        QVERIFY(shows_idle(p.w()));

        // Blanks around the address are not handed to the socket; during the attempt Connect is
        // disabled, so a second press does nothing.
        p.w().txt_ip->setText("  " + peer.address() + "  ");
        PanelHarness::click(p.w().cmd_conn_eth);
        QVERIFY(!p.w().cmd_conn_eth->isEnabled());
        QCOMPARE(back_colour(p.w().cmd_conn_eth), connecting_colour);
        QVERIFY(!p.w().lab_eth_state->isHidden());
        QVERIFY(SessionTestAccess::tim_eth(p.w().session())->isActive());
        PanelHarness::click(p.w().cmd_conn_eth);
        QVERIFY(PanelHarness::wait_until([&] { return p.w().session().eth_connected(); }, 2000));
        QCOMPARE(back_colour(p.w().cmd_conn_eth), connected_colour);
        QVERIFY(p.w().cmd_disconn_eth->isEnabled());
        QCOMPARE(back_colour(p.w().cmd_disconn_eth), button_face_colour());
        QVERIFY(p.w().lab_eth_state->isHidden());
        QCOMPARE(SessionTestAccess::tim_eth(p.w().session())->interval(), 100);
        QVERIFY(SessionTestAccess::tim_eth(p.w().session())->isActive());
        PanelHarness::pump(50);
        QCOMPARE(peer.clients.size(), 1);

        // 3 then 4 characters are assembled into one reply.
        peer.plan = [](const QByteArray& c) -> QList<Piece> {
            if (c == "OUT999") return {{0, "OUT"}, {60, "002\r"}};
            if (c == "OUT003") return {{0, "OUT003\rOUT004\r"}};
            return {};
        };
        int count_between = -1;
        QTimer::singleShot(35, &p.w(), [&] { count_between = SessionTestAccess::rx_count(p.w().session()); });
        p.w().session().send_command("OUT999");
        QCOMPARE(count_between, 3);
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QCOMPARE(p.w().device_state().cur_output, 2);

        // 14 characters at once: only the first reply counts.
        p.w().session().send_command("OUT003");
        QVERIFY(SessionTestAccess::reply_ok(p.w().session()));
        QCOMPARE(p.w().device_state().cur_output, 3);
        PanelHarness::pump(100);
        QCOMPARE(p.w().device_state().cur_output, 3);
        QCOMPARE(SessionTestAccess::rx_count(p.w().session()), 0);
        QCOMPARE(peer.commands, (QStringList{"OUT999", "OUT003"}));

        // A reply without a transaction is dispatched by the socket's receiver.
        peer.send("OUT004\r");
        QVERIFY(PanelHarness::wait_until([&] { return p.w().device_state().cur_output == 4; }, 1000));

        // Connect while connected: the message, and nothing else changes.
        p.w().interface_frame().cmd_conn_eth_Click();
        QCOMPARE(p.boxes.texts(), QStringList{"Ethernet is already connected!"});
        QCOMPARE(p.boxes.boxes[0].icon, BoxIcon::Critical);
        QVERIFY(!p.w().cmd_conn_eth->isEnabled());
        QVERIFY(SessionTestAccess::tim_eth(p.w().session())->isActive());
        QVERIFY(p.w().session().eth_connected());
        PanelHarness::pump(200);
        QVERIFY(p.w().session().eth_connected());
        QCOMPARE(peer.clients.size(), 1);
        QCOMPARE(p.boxes.boxes.size(), 1);

        PanelHarness::click(p.w().cmd_disconn_eth);
        QVERIFY(!p.w().session().eth_connected());
        QVERIFY(shows_idle(p.w()));
        QVERIFY(PanelHarness::wait_until([&] { return peer.client()->state() == QAbstractSocket::UnconnectedState; }, 1000));
        QCOMPARE(p.boxes.boxes.size(), 1);
    }

    void ext_reply_ends_the_session_only_when_idle()
    {
        Peer peer;
        SocketPanel p;
        QVERIFY(p.w().Form_Load());
        QVERIFY(p.connect_to(peer.address()));

        // During a transaction EXT is a reply of another code.
        peer.plan = [](const QByteArray&) { return QList<Piece>{{0, "EXT000\r"}}; };
        const quint64 steps = SessionTestAccess::wait_step_count(p.w().session());
        p.w().session().send_command("OUT002");
        QVERIFY(!SessionTestAccess::reply_ok(p.w().session()));
        QVERIFY(SessionTestAccess::wait_step_count(p.w().session()) - steps < 100); // answered, not timed out
        QVERIFY(p.w().session().eth_connected());
        QCOMPARE(p.tcp.state(), int(TcpClient::Connected));

        // Idle, it closes the connection without a message.
        peer.send("EXT000\r");
        QVERIFY(PanelHarness::wait_until([&] { return !p.w().session().eth_connected(); }, 1000));
        QVERIFY(shows_idle(p.w()));
        QVERIFY(PanelHarness::wait_until([&] { return peer.client()->state() == QAbstractSocket::UnconnectedState; }, 1000));
        PanelHarness::pump(300); // the link watch has nothing more to say
        QVERIFY(p.boxes.boxes.isEmpty());
    }

    void link_watch_notices_a_lost_connection()
    {
        Peer peer;
        SocketPanel p;
        QVERIFY(p.w().Form_Load());
        QVERIFY(p.connect_to(peer.address()));
        QCOMPARE(keep_alive_of(p.tcp).first(), 0); // the window's socket is left as the system has it
        PanelHarness::pump(250); // a few quiet rounds of the watch
        QVERIFY(p.boxes.boxes.isEmpty());

        QElapsedTimer t;
        qint64 shown_after = -1;
        p.boxes.on_show = [&](const RecordingBoxes::Box&) { shown_after = t.elapsed(); };
        t.start();
        peer.client()->abort();
        QVERIFY(PanelHarness::wait_until([&] { return !p.boxes.boxes.isEmpty(); }, 2000));
        QVERIFY2(shown_after < 1000, qPrintable(QString::number(shown_after)));
        QCOMPARE(p.boxes.texts(), QStringList{"Ethernet is disconnected !"});
        QCOMPARE(p.boxes.boxes[0].icon, BoxIcon::Critical);
        QVERIFY(!p.w().session().eth_connected());
        QVERIFY(shows_idle(p.w()));
        PanelHarness::pump(500);
        QCOMPARE(p.boxes.boxes.size(), 1);

        // Connect again from the idle state.
        QVERIFY(p.connect_to(peer.address()));
        QCOMPARE(peer.clients.size(), 2);
    }

    // Without the watch, no timer runs once the link is up; the socket probes an idle peer, and
    // the link's end is heard at once, after whatever the peer sent before it. Closing it ourselves
    // says nothing more.
    void session_without_the_watch_hears_the_socket_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QStringList>("heard");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("the peer closes after a reply")
            << "close" << QStringList{"OUT004\r", "down"} << QStringList{"Ethernet is disconnected !"};
        QTest::newRow("the peer resets the connection")
            << "reset" << QStringList{"down"} << QStringList{"Ethernet is disconnected !"};
        QTest::newRow("our own disconnect") << "own" << QStringList{"down"} << QStringList{};
    }
    void session_without_the_watch_hears_the_socket()
    {
        QFETCH(QString, end);
        QFETCH(QStringList, heard);
        QFETCH(QStringList, messages);
        Peer peer;
        UnwatchedSession u;
        u.session->connect_tcp(peer.address());
        QVERIFY(PanelHarness::wait_until([&] { return u.session->eth_connected() && peer.client(); }, 2000));
        for (const QTimer* t : u.session->findChildren<QTimer*>()) QVERIFY2(!t->isActive(), qPrintable(t->objectName()));
        QCOMPARE(keep_alive_of(u.tcp), (QList<int>{1, 10, 5, 3, 25000}));

        QElapsedTimer t;
        t.start();
        if (end == "close") {
            peer.send("OUT004\r");
            peer.client()->disconnectFromHost();
        } else if (end == "reset") {
            peer.client()->abort();
        } else {
            u.session->disconnect_eth();
        }
        QVERIFY(PanelHarness::wait_until([&] { return !u.session->eth_connected(); }, 2000));
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
        PanelHarness::pump(200); // nothing more comes of it
        QCOMPARE(u.heard, heard);
        QCOMPARE(u.boxes.texts(), messages);
        QCOMPARE(u.tcp.state(), int(TcpClient::Closed));

        // And the link can be opened again.
        u.session->connect_tcp(peer.address());
        QVERIFY(PanelHarness::wait_until([&] { return u.session->eth_connected(); }, 2000));
        QCOMPARE(keep_alive_of(u.tcp).first(), 1);
    }

    void attempt_runs_out_after_seven_seconds()
    {
        // One panel whose attempt hangs, one whose attempt is refused at once: both are told only
        // when the 7000 ms run out.
        FullListener full;
        QVERIFY(full.port > 0);
        const int refused = closed_port();
        SocketPanel hanging, refusing;
        QVERIFY(hanging.w().Form_Load());
        QVERIFY(refusing.w().Form_Load());
        QElapsedTimer t;
        qint64 hanging_at = -1, refusing_at = -1;
        hanging.boxes.on_show = [&](const RecordingBoxes::Box&) { hanging_at = t.elapsed(); };
        refusing.boxes.on_show = [&](const RecordingBoxes::Box&) { refusing_at = t.elapsed(); };
        t.start();
        hanging.w().txt_ip->setText(QStringLiteral("127.0.0.1:%1").arg(full.port));
        hanging.w().interface_frame().cmd_conn_eth_Click();
        refusing.w().txt_ip->setText(QStringLiteral("127.0.0.1:%1").arg(refused));
        refusing.w().interface_frame().cmd_conn_eth_Click();

        PanelHarness::pump(1000);
        QCOMPARE(hanging.tcp.state(), int(TcpClient::Connecting));
        QVERIFY(hanging.boxes.boxes.isEmpty());
        QVERIFY(refusing.boxes.boxes.isEmpty());
        QVERIFY(!refusing.w().lab_eth_state->isHidden());

        QVERIFY(PanelHarness::wait_until([&] { return hanging_at >= 0 && refusing_at >= 0; }, 9000));
        for (SocketPanel* p : {&hanging, &refusing}) {
            QCOMPARE(p->boxes.texts(), QStringList{"Client could not find Server."});
            QCOMPARE(p->boxes.boxes[0].icon, BoxIcon::Critical);
            QVERIFY(!p->w().session().eth_connected());
            QVERIFY(shows_idle(p->w()));
            QCOMPARE(p->tcp.state(), int(TcpClient::Closed));
        }
        for (qint64 at : {hanging_at, refusing_at})
            QVERIFY2(at >= 6990 && at < 8000, qPrintable(QString::number(at)));
    }

    void switching_between_the_links()
    {
        Peer peer;
        SocketPanel p;
        QVERIFY(p.w().Form_Load());
        QCOMPARE(p.serial.open_calls, 0);
        QVERIFY(p.connect_to(peer.address()));

        // RS-232 while connected: the socket is closed without a message and the COM port opened.
        PanelHarness::click(p.w().opt_interface(0));
        QCOMPARE(p.w().session().link_interface(), 0);
        QVERIFY(!p.w().session().eth_connected());
        QVERIFY(p.w().session().serial_connected());
        QCOMPARE(p.serial.opened_port, p.w().session().com_port());
        QCOMPARE(p.tcp.state(), int(TcpClient::Closed));
        QVERIFY(p.w().cmd_conn_eth->isHidden() && p.w().cmd_disconn_eth->isHidden());
        QVERIFY(p.w().txt_ip->isHidden() && p.w().lab_ip->isHidden());
        QVERIFY(!p.w().cmd_conn->isHidden() && !p.w().cmd_disconn->isHidden() && !p.w().cbo_com->isHidden());
        QVERIFY(p.w().cmd_get_ip->isEnabled());
        QVERIFY(!SessionTestAccess::tim_eth(p.w().session())->isActive());
        QVERIFY(PanelHarness::wait_until([&] { return peer.client()->state() == QAbstractSocket::UnconnectedState; }, 1000));
        PanelHarness::pump(300);
        QVERIFY(p.boxes.boxes.isEmpty());

        // Ethernet again: the COM port is closed; a new attempt gets the full 7000 ms.
        PanelHarness::click(p.w().opt_interface(1));
        QVERIFY(!p.w().session().serial_connected());
        QCOMPARE(p.serial.opened_port, 0);
        QVERIFY(!p.w().cmd_get_ip->isEnabled());
        QVERIFY(p.w().cmd_conn->isHidden() && p.w().cbo_com->isHidden());
        QVERIFY(!p.w().txt_ip->isHidden() && !p.w().cmd_conn_eth->isHidden());
        PanelHarness::click(p.w().cmd_conn_eth);
        QCOMPARE(SessionTestAccess::tim_eth(p.w().session())->interval(), 7000);
        QVERIFY(SessionTestAccess::tim_eth(p.w().session())->isActive());
        QVERIFY(PanelHarness::wait_until([&] { return p.w().session().eth_connected(); }, 2000));
        QCOMPARE(peer.clients.size(), 2);
        QVERIFY(p.boxes.boxes.isEmpty());
    }

    void a_wait_inside_the_receiver_still_gets_its_reply()
    {
        // Whatever the socket's receiver leads to may itself wait for a reply (a handler that lets
        // a queued click run): that reply must still be received.
        Peer peer;
        SocketPanel p;
        QVERIFY(p.w().Form_Load());
        QVERIFY(p.connect_to(peer.address()));
        peer.plan = [](const QByteArray& c) { return QList<Piece>{{5, c + '\r'}}; };
        bool nested_ok = false;
        bool once = false;
        QObject::connect(&p.tcp, &TcpClient::data_arrival, &p.w(), [&] {
            if (once) return;
            once = true;
            p.w().session().send_command("OUT003");
            nested_ok = SessionTestAccess::reply_ok(p.w().session());
        });
        peer.send("OUT002\r");
        QVERIFY(PanelHarness::wait_until([&] { return once; }, 1000));
        QVERIFY(nested_ok);
        QCOMPARE(p.w().device_state().cur_output, 3);
    }

#ifdef TAVRION_HAVE_SIM
    void round_trips_with_the_simulated_device()
    {
        SimHarness h(SimHarness::Link::Tcp);
        check_round_trips(h);
    }
#endif
};

QTEST_MAIN(TestEthernetLink)
#include "test_ethernet_link.moc"
