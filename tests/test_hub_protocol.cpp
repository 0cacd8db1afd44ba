// A unit's device-protocol port on tavrion-hub: raw clients get their own replies and the
// device's own replies, the rules that drop a client, the link's fate passed on to the clients,
// tavrion-ctl and the window through the port, and the options that set a port up; the audit
// trail of every change, whatever made it, and the port's guard.
#include "hub/audit.h"
#include "hub/hub_config.h"
#include "sim/sim_server.h"
#include "support/hub_process.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"
#include "support/state_compare.h"

#include <QDateTime>
#include <QDir>
#include <QUrl>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using tavrion_test::start_hub;
using tavrion_test::write_units;

namespace {

constexpr int kAnswerMs = 20000; // a generous bound on a loaded machine; answers come far sooner

// A client of the protocol port that writes lines and keeps everything it is sent.
class Raw {
public:
    explicit Raw(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] { got += socket.readAll(); });
    }
    void send(const QByteArray& bytes) { socket.write(bytes); }
    bool has(int bytes) { return QTest::qWaitFor([&] { return got.size() >= bytes; }, kAnswerMs); }
    bool dropped(int ms = kAnswerMs)
    {
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    QTcpSocket socket;
    QByteArray got;
};

// A hub process serving `sim` as unit "room" over TCP (and, given a serial path, unit "desk"
// there), each with a protocol port; the ports, once it has read the units.
struct HubUnderTest {
    QProcess process;
    quint16 http = 0;
    quint16 protocol = 0; // room's
    quint16 desk = 0;
    QByteArray token;

    // `room` adds keys to room's entry in the units file; `more` options to the command line.
    bool start(const QTemporaryDir& dir, quint16 sim_port, const QString& serial = {}, const QJsonObject& room = {},
               int poll_seconds = 0, const QStringList& more = {})
    {
        QJsonObject first{{"id", "room"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(sim_port)}, {"protocol_listen", "127.0.0.1:0"}};
        for (auto it = room.begin(); it != room.end(); ++it) first[it.key()] = it.value();
        QJsonArray list{first};
        if (!serial.isEmpty()) list.append(QJsonObject{{"id", "desk"}, {"serial", serial}, {"protocol_listen", "0"}});
        QByteArray printed;
        http = start_hub(process, write_units(dir.filePath("units.json"), list, poll_seconds), dir.filePath("hub.token"),
                         more, &printed);
        auto port_of = [&](const char* id) {
            return quint16(QRegularExpression(QStringLiteral("unit %1: the device protocol on 127\\.0\\.0\\.1:(\\d+)").arg(id))
                               .match(QString::fromLatin1(printed)).captured(1).toUInt());
        };
        protocol = port_of("room");
        desk = port_of("desk");
        QFile f(dir.filePath("hub.token"));
        if (!http || !protocol || (!serial.isEmpty() && !desk) || !f.open(QIODevice::ReadOnly)) return false;
        token = f.readAll().trimmed();
        return up() && (serial.isEmpty() || up("desk"));
    }
    // The unit is linked and read.
    bool up(const QByteArray& id = "room")
    {
        return QTest::qWaitFor([&] {
            const QJsonObject d = finish(*send("GET", "/api/units/" + id));
            return d.value("link").toObject().value("state") == "up" && d.value("power") == "on";
        }, kAnswerMs);
    }
    // A request on a connection of its own; finish() takes its answer.
    std::unique_ptr<QTcpSocket> send(const QByteArray& method, const QByteArray& path, const QByteArray& body = {})
    {
        auto s = std::make_unique<QTcpSocket>();
        s->connectToHost(QHostAddress::LocalHost, http);
        s->write(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(http)
                 + "\r\nAuthorization: Bearer " + token + "\r\nContent-Type: application/json\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return s;
    }
    static QJsonObject finish(QTcpSocket& s, int* status = nullptr)
    {
        QByteArray all;
        // No answer in time leaves an empty document, which the caller's checks catch.
        (void)QTest::qWaitFor([&] {
            all += s.readAll();
            return s.state() == QAbstractSocket::UnconnectedState;
        }, kAnswerMs);
        all += s.readAll();
        if (status) *status = all.mid(9, 3).toInt();
        return QJsonDocument::fromJson(all.mid(all.indexOf("\r\n\r\n") + 4)).object();
    }
    QJsonObject unit() { return finish(*send("GET", "/api/units/room")); }
    std::unique_ptr<QTcpSocket> run(const QString& command)
    {
        return send("POST", "/api/units/room/run",
                    QJsonDocument(QJsonObject{{"commands", QJsonArray{command}}}).toJson(QJsonDocument::Compact));
    }
    ~HubUnderTest() { stop(); }
    void stop()
    {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000)) process.kill();
    }
};

// The unit document without what only the hub adds: what tavrion-ctl's status --json shows.
QJsonObject device_part(QJsonObject d)
{
    for (const char* key : {"link", "id", "name", "names", "problem", "version"}) d.remove(QLatin1String(key));
    return d;
}

} // namespace

class TestHubProtocol : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    tavrion_sim::SimServer sim_, pty_;
    HubUnderTest hub_;
    // A hub that polls every second, with RST refused on its port and its audit trail beside its
    // token (the default place).
    QTemporaryDir audit_dir_;
    tavrion_sim::SimServer audited_sim_;
    HubUnderTest audited_;

    // The newest entry of `hub` for room of `via` since `since_ms` whose commands read as `what`
    // (a pattern); polled through GET /api/audit.
    static QJsonObject audit_entry(HubUnderTest& hub, const QString& via, const QRegularExpression& what, qint64 since_ms,
                                   int ms = kAnswerMs)
    {
        const QByteArray since = QUrl::toPercentEncoding(QDateTime::fromMSecsSinceEpoch(since_ms, Qt::UTC).toString(Qt::ISODateWithMs));
        QJsonObject found;
        (void)QTest::qWaitFor([&] {
            const QJsonObject r = HubUnderTest::finish(*hub.send("GET", "/api/audit?unit=room&limit=50&since=" + since));
            for (const QJsonValue& v : r.value("entries").toArray()) {
                const QJsonObject e = v.toObject();
                if (e.value("via") == via && what.match(commands_of(e)).hasMatch()) {
                    found = e;
                    return true;
                }
            }
            return false;
        }, ms);
        return found;
    }
    static QString commands_of(const QJsonObject& entry)
    {
        QStringList what;
        for (const QJsonValue& c : entry.value("commands").toArray())
            what << c.toObject().value("what").toString() + " (" + c.toObject().value("outcome").toString() + ")";
        return what.join("; ");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(sim_.listen_tcp(QHostAddress::LocalHost, 0));
        sim_.set_restart_ms(300);
        QDir().mkpath(dir_.filePath("serial"));
        QVERIFY(pty_.open_serial(dir_.filePath("serial/COM1")));
        QVERIFY(hub_.start(dir_, sim_.tcp_port(), dir_.filePath("serial/COM1")));
        QVERIFY(audited_sim_.listen_tcp(QHostAddress::LocalHost, 0));
        QVERIFY(audited_.start(audit_dir_, audited_sim_.tcp_port(), {}, {{"protocol_refuse", QJsonArray{"RST", "SAV"}}}, 1));
    }
    void cleanupTestCase()
    {
        hub_.stop();
        audited_.stop();
    }
    void cleanup()
    {
        sim_.apply_control(QStringLiteral("reset"));
        pty_.apply_control(QStringLiteral("reset"));
        audited_sim_.apply_control(QStringLiteral("reset"));
    }

    // Two clients' commands, interleaved without waiting: each gets its own replies, in order,
    // byte for byte as the device sent them (the 16-character network answer included), and the
    // unit heard every command once in arrival order; over TCP and RS-232 alike.
    void each_client_gets_its_own_replies_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("TCP") << false;
        QTest::newRow("RS-232") << true;
    }
    void each_client_gets_its_own_replies()
    {
        QFETCH(bool, serial);
        tavrion_sim::SimServer& sim = serial ? pty_ : sim_;
        const quint16 port = serial ? hub_.desk : hub_.protocol;
        Raw a(port), b(port);
        sim.clear_received();
        const QList<QPair<Raw*, QByteArray>> order{{&a, "VER999"}, {&b, "PWR999"}, {&a, "EIP999"}, {&b, "LCK999"},
                                                   {&a, "OUT002"}, {&b, "INP999"}, {&a, "XYZ999"}};
        // The device answers slowly, so that the lines wait in the queue together.
        QVERIFY(sim.apply_control(QStringLiteral("delay 20")));
        for (const auto& [client, command] : order) {
            client->send(command + "\r");
            client->socket.flush();
            QTest::qWait(5); // arrival in this order
        }
        QByteArray a_expected, b_expected;
        QStringList heard;
        for (const auto& [client, command] : order) {
            (client == &a ? a_expected : b_expected) += QByteArray::fromStdString(sim.device().handle(command.toStdString()));
            heard << QString::fromLatin1(command);
        }
        QVERIFY(a.has(a_expected.size()) && b.has(b_expected.size()));
        QTest::qWait(100); // and nothing more
        QCOMPARE(a.got, a_expected);
        QCOMPARE(b.got, b_expected);
        QVERIFY(a.got.contains("192.168.001.100\r"));
        QVERIFY(b.got.endsWith("INP002\r")); // B hears A's OUT002 in the device's state
        QCOMPARE(sim.received_commands(), heard);
    }

    // A reply the device sends by itself reaches every client, and the page's model.
    void unsolicited_reply_reaches_every_client()
    {
        Raw a(hub_.protocol), b(hub_.protocol);
        QVERIFY(QTest::qWaitFor([&] { return a.socket.state() == QAbstractSocket::ConnectedState; }, 5000));
        QTest::qWait(50);
        sim_.send_raw("LCK001\r");
        QVERIFY(a.has(7) && b.has(7));
        QCOMPARE(a.got, QByteArray("LCK001\r"));
        QCOMPARE(b.got, QByteArray("LCK001\r"));
        QVERIFY(QTest::qWaitFor([&] { return hub_.unit().value("lock") == "on"; }, kAnswerMs));
        sim_.send_raw("LCK000\r");
        QVERIFY(a.has(14));
    }

    // An exchange the device leaves unanswered makes the unit silent however it came: a protocol
    // client's line, a verb of an API run (the 16-character network query among them), or the
    // hub's own poll; the next answer makes it up again.
    void an_unanswered_line_makes_the_unit_silent_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QString>("way");
        QTest::addColumn<QByteArray>("command");
        for (const bool serial : {false, true})
            for (const QByteArray command : {QByteArray("VER999"), QByteArray("EIP999")})
                for (const QString way : {"port", "API"}) {
                    // The verbs send a network query on RS-232 only.
                    if (way == "API" && !serial && command == "EIP999") continue;
                    QTest::newRow(qPrintable((serial ? "RS-232, " : "TCP, ") + way + ", " + command)) << serial << way << command;
                }
        QTest::newRow("TCP, poll, VER999") << false << QStringLiteral("poll") << QByteArray("VER999");
    }
    void an_unanswered_line_makes_the_unit_silent()
    {
        QFETCH(bool, serial);
        QFETCH(QString, way);
        QFETCH(QByteArray, command);
        // The poll's own unit: a hub that reads it every second, on a device of its own.
        QTemporaryDir polled_dir;
        tavrion_sim::SimServer polled_sim;
        HubUnderTest polled;
        if (way == "poll") {
            QVERIFY(polled_sim.listen_tcp(QHostAddress::LocalHost, 0));
            QVERIFY(polled.start(polled_dir, polled_sim.tcp_port(), {}, {}, 1));
        }
        HubUnderTest& hub = way == "poll" ? polled : hub_;
        tavrion_sim::SimServer& sim = way == "poll" ? polled_sim : serial ? pty_ : sim_;
        const QByteArray id = serial ? "desk" : "room";
        auto state = [&] { return HubUnderTest::finish(*hub.send("GET", "/api/units/" + id)).value("link").toObject().value("state"); };
        QVERIFY(sim.apply_control(QStringLiteral("silent ") + QString::fromLatin1(command.left(3))));
        Raw client(serial ? hub.desk : hub.protocol);
        if (way == "API") {
            const QString verb = command == "VER999" ? QStringLiteral("version") : QStringLiteral("send ") + command;
            const QJsonObject answer = HubUnderTest::finish(*hub.send(
                "POST", "/api/units/" + id + "/run",
                QJsonDocument(QJsonObject{{"commands", QJsonArray{verb}}}).toJson(QJsonDocument::Compact)));
            QCOMPARE(answer.value("state").toObject().value("link").toObject().value("state").toString(), QStringLiteral("silent"));
        } else if (way == "port") {
            client.send(command + "\r");
        }
        QVERIFY2(QTest::qWaitFor([&] { return state() == "silent"; }, kAnswerMs), qPrintable(state().toString()));
        QVERIFY(client.got.isEmpty());
        QVERIFY(sim.apply_control(QStringLiteral("reset")));
        Raw again(serial ? hub.desk : hub.protocol);
        again.send("PWR999\r");
        QVERIFY(again.has(7));
        QVERIFY(QTest::qWaitFor([&] { return state() == "up"; }, kAnswerMs));
    }

    // A client that breaks the rules is dropped with nothing of its lines sent; the others go on.
    void a_bad_client_goes_alone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("a line over 64 bytes") << QByteArray("VER999\r") + QByteArray(65, 'A') + "\r";
        QTest::newRow("a control byte") << QByteArray("VER999\rVER\x01" "99\r");
        QTest::newRow("a byte over 126") << QByteArray("VER999\rVER\xe9" "99\r");
        QByteArray many;
        for (int i = 0; i < 65; ++i) many += "VER999\r";
        QTest::newRow("65 commands waiting") << many;
    }
    void a_bad_client_goes_alone()
    {
        QFETCH(QByteArray, bytes);
        Raw good(hub_.protocol), bad(hub_.protocol);
        QVERIFY(good.socket.state() == QAbstractSocket::ConnectedState);
        sim_.clear_received();
        bad.send(bytes);
        QVERIFY(bad.dropped());
        good.send("PWR999\r");
        QVERIFY(good.has(7));
        QCOMPARE(good.got, QByteArray("PWR001\r"));
        QCOMPARE(sim_.received_commands(), QStringList{"PWR999"});
        QVERIFY(bad.got.isEmpty());
    }

    // A client gone mid-exchange loses its reply, and only its reply.
    void a_client_gone_mid_exchange()
    {
        Raw stays(hub_.protocol);
        {
            Raw goes(hub_.protocol);
            QVERIFY(sim_.apply_control(QStringLiteral("delay 300 VER once")));
            goes.send("VER999\r");
            QVERIFY(QTest::qWaitFor([&] { return sim_.received_commands().contains("VER999"); }, kAnswerMs));
        }
        stays.send("PWR999\r");
        QVERIFY(stays.has(7));
        QTest::qWait(100);
        QCOMPARE(stays.got, QByteArray("PWR001\r"));
    }

    // At most eight clients; the ninth is closed at once and the hub's log says so.
    void the_ninth_client_is_refused()
    {
        QTest::qWait(500); // the hub has seen the clients of the tests before go
        std::vector<std::unique_ptr<Raw>> eight;
        for (int i = 0; i < 8; ++i) eight.push_back(std::make_unique<Raw>(hub_.protocol));
        eight.back()->send("VER999\r");
        QVERIFY(eight.back()->has(7)); // the eighth is served
        Raw ninth(hub_.protocol);
        QVERIFY(ninth.dropped());
        QByteArray log;
        QVERIFY(QTest::qWaitFor([&] { return (log += hub_.process.readAllStandardError()).contains("refused: 8 are connected"); }, 5000));
    }

    // Eight clients keep 60 preset recalls waiting each, every one followed by a full reading (its
    // client's turn): an API request waits for one turn of each client at most, not for all of
    // theirs (480 recalls, 28 s, when the port's lines and the API shared one queue).
    void an_api_request_waits_one_turn_of_each_client()
    {
        QTest::qWait(500); // the clients of the tests before have gone
        QByteArray recalls;
        for (int i = 0; i < 60; ++i) recalls += "CAL00" + QByteArray::number(1 + i % 4) + "\r";
        std::vector<std::unique_ptr<Raw>> clients;
        for (int i = 0; i < 8; ++i) {
            clients.push_back(std::make_unique<Raw>(hub_.protocol));
            clients.back()->send(recalls);
        }
        // Every client has had a turn: all eight have lines waiting.
        QVERIFY(QTest::qWaitFor([&] {
            return std::all_of(clients.begin(), clients.end(), [](const auto& c) { return !c->got.isEmpty(); });
        }, kAnswerMs));
        const int before = int(sim_.received_commands().size());
        QElapsedTimer waited;
        waited.start();
        const QJsonObject r = HubUnderTest::finish(*hub_.run(QStringLiteral("lock on")));
        const qint64 ms = waited.elapsed();
        QCOMPARE(r.value("results").toArray().first().toObject().value("status").toInt(-1), 0);
        const QStringList heard = sim_.received_commands().mid(before);
        const int lock = int(heard.indexOf(QStringLiteral("LCK001")));
        QVERIFY(lock >= 0);
        const auto ahead = heard.mid(0, lock).filter(QRegularExpression(QStringLiteral("^CAL"))).size();
        // One turn of each client, and the recalls in flight as the request was sent and queued.
        QVERIFY2(ahead <= 10, qPrintable(heard.mid(0, lock).join(' ')));
        qInfo("the API's request waited %lld ms behind %lld recalls", ms, qlonglong(ahead));
    }

    // tavrion-ctl --tcp through the port reads what the unit holds, and the hub's model took the
    // same replies: its document is what tavrion-ctl printed.
    void tavrion_ctl_through_the_port()
    {
        auto& d = sim_.device().state();
        d.routes = {{4, 3, 2, 1}};
        d.locked = true;
        d.brightness = {{11, 11, 11, 11}};
        QProcess ctl;
        ctl.start(QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion-ctl"),
                  {"--tcp", QStringLiteral("127.0.0.1:%1").arg(hub_.protocol), "status", "--json"});
        QVERIFY(QTest::qWaitFor([&] { return ctl.state() == QProcess::NotRunning; }, kAnswerMs));
        QCOMPARE(ctl.exitCode(), 0);
        const QJsonObject printed = QJsonDocument::fromJson(ctl.readAllStandardOutput()).object();
        QCOMPARE(printed.value("routes").toObject().value("A").toInt(), 4);
        QVERIFY(QTest::qWaitFor([&] { return device_part(hub_.unit()) == printed; }, 5000));
    }

    // The link dropping, the device ending the session, and a restart: every client is dropped,
    // one that comes while the unit is away is closed at once, and once it is back it is served.
    void the_link_going_drops_every_client_data()
    {
        QTest::addColumn<QString>("control");
        QTest::newRow("the link drops") << "drop";
        QTest::newRow("the device ends the session") << "ext";
        QTest::newRow("a restart") << "restart";
    }
    void the_link_going_drops_every_client()
    {
        QFETCH(QString, control);
        Raw a(hub_.protocol), b(hub_.protocol);
        a.send("VER999\r");
        QVERIFY(a.has(7));
        QVERIFY(sim_.apply_control(control));
        QVERIFY(a.dropped() && b.dropped());
        Raw meanwhile(hub_.protocol);
        QVERIFY(meanwhile.dropped(3000));
        QVERIFY(hub_.up());
        Raw after(hub_.protocol);
        after.send("PWR999\r");
        QVERIFY(after.has(7));
    }

    // The options that set a port up, and what they refuse.
    void protocol_listen_options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("unit");  // in the units file: its "protocol_listen" ("" none)
        QTest::addColumn<QString>("where"); // the port set up for unit "a", or the error's start
        QTest::newRow("none") << QStringList{} << "" << "";
        QTest::newRow("file, port only") << QStringList{} << "2401" << "127.0.0.1:2401";
        QTest::newRow("file, all addresses") << QStringList{} << "0.0.0.0:2401" << "0.0.0.0:2401";
        QTest::newRow("file, IPv6") << QStringList{} << "[::1]:2401" << "::1:2401";
        QTest::newRow("file, a name") << QStringList{} << "hub.example:2401" << "error: units.json: units[0].protocol_listen";
        QTest::newRow("file, no port") << QStringList{} << "127.0.0.1:" << "error: units.json: units[0].protocol_listen";
        QTest::newRow("option") << QStringList{"--protocol-listen", "a=127.0.0.1:2402"} << "" << "127.0.0.1:2402";
        QTest::newRow("option over the file") << QStringList{"--protocol-listen=a=2403"} << "2401" << "127.0.0.1:2403";
        QTest::newRow("option, unknown unit") << QStringList{"--protocol-listen", "b=2401"} << "" << "error: --protocol-listen: no unit \"b\"";
        QTest::newRow("option, no unit") << QStringList{"--protocol-listen", "2401"} << "" << "error: --protocol-listen takes ID=ADDR:PORT";
        QTest::newRow("option, port too big") << QStringList{"--protocol-listen", "a=127.0.0.1:65536"} << "" << "error: --protocol-listen takes";
    }
    void protocol_listen_options()
    {
        using namespace tavrion::hub;
        QFETCH(QStringList, args);
        QFETCH(QString, unit);
        QFETCH(QString, where);
        QJsonObject a{{"id", "a"}, {"tcp", "127.0.0.1:23"}};
        if (!unit.isEmpty()) a["protocol_listen"] = unit;
        const QString file = write_units(dir_.filePath("units.json"), QJsonArray{a}, 0);
        QString error;
        auto options = parse_options(args, error);
        auto setup = options ? read_units_file(file, error) : std::nullopt;
        const bool applied = setup && apply_protocol_listen(*options, *setup, error);
        QString got;
        if (!applied) got = QStringLiteral("error: ") + error.replace(dir_.path() + QLatin1Char('/'), QString());
        else if (const auto& p = setup->units[0].protocol_listen) got = p->address.toString() + QLatin1Char(':') + QString::number(p->port);
        QVERIFY2(got == where || (!where.isEmpty() && got.startsWith(where)), qPrintable(got));
    }

    // Every change is one entry, whoever made it: the API (the sign-in and its address), a protocol
    // client (its address and port), the device itself (a front-panel change a poll found, a reply
    // it sent by itself); with each command's outcome. A query line is no entry; a line of a
    // refused code gets the device's refusal, is never sent, and is an entry.
    void audit_entry_for_each_source_data()
    {
        // "guarded": the hub that polls and refuses RST and SAV on its port; otherwise the one that
        // never polls, so that no reading takes a reply the device sends by itself.
        QTest::addColumn<bool>("guarded");
        QTest::addColumn<QString>("control"); // for the simulator first ("" none)
        QTest::addColumn<QString>("action");  // "api VERBS", "port LINE", "front", "says LINE"
        QTest::addColumn<QString>("via");     // "" no entry
        QTest::addColumn<QString>("who");     // a pattern
        QTest::addColumn<QString>("what");    // a pattern of the commands and their outcomes
        QTest::addColumn<QByteArray>("reply"); // a port client's, when it is known
        const QString api = QStringLiteral("^admin \\(127\\.0\\.0\\.1\\)$"), client = QStringLiteral("^127\\.0\\.0\\.1:\\d+$");
        QTest::newRow("API") << false << "" << "api route B 3" << "api" << api << "^route B 3 \\(answered\\)$" << QByteArray();
        QTest::newRow("API, two verbs, the first refused") << false << "err 002 LCK once" << "api lock on|route A 2" << "api" << api
                                                           << "^lock on \\(refused\\); route A 2 \\(not sent\\)$" << QByteArray();
        QTest::newRow("API, a read") << false << "" << "api status" << "" << "" << "" << QByteArray();
        QTest::newRow("port") << false << "" << "port LCK001" << "port" << client << "^LCK001 \\(answered\\)$" << QByteArray("LCK001\r");
        QTest::newRow("port, refused by the device") << false << "err 003 AUD once" << "port AUD000" << "port" << client
                                                     << "^AUD000 \\(refused\\)$" << QByteArray("ERR003\r");
        QTest::newRow("port, guarded") << true << "" << "port RST002" << "port" << client << "^RST002 \\(refused by the hub\\)$"
                                       << QByteArray("ERR001\r");
        QTest::newRow("port, a guarded query") << true << "" << "port SAV999" << "port" << client
                                               << "^SAV999 \\(refused by the hub\\)$" << QByteArray("ERR001\r");
        QTest::newRow("port, a query") << false << "" << "port VER999" << "" << "" << "" << QByteArray();
        QTest::newRow("front panel, found by the poll") << true << "" << "front" << "device" << "^device$"
                                                        << "^routes\\.C: \\d -> 1 \\(reported\\)$" << QByteArray();
        QTest::newRow("a reply the device sent by itself") << false << "" << "says BEH007" << "device" << "^device$"
                                                           << "^bezel\\.h: \\d+ -> 7 \\(reported\\)$" << QByteArray();
    }
    void audit_entry_for_each_source()
    {
        QFETCH(bool, guarded);
        QFETCH(QString, control);
        QFETCH(QString, action);
        QFETCH(QString, via);
        QFETCH(QString, who);
        QFETCH(QString, what);
        QFETCH(QByteArray, reply);
        HubUnderTest& hub = guarded ? audited_ : hub_;
        tavrion_sim::SimServer& sim = guarded ? audited_sim_ : sim_;
        QVERIFY(hub.up());
        if (!control.isEmpty()) QVERIFY(sim.apply_control(control));
        sim.clear_received();
        const qint64 since = QDateTime::currentMSecsSinceEpoch();
        const QString verb = action.section(' ', 0, 0), rest = action.section(' ', 1);
        std::unique_ptr<Raw> client;
        if (verb == "api") {
            QJsonArray commands;
            for (const QString& c : rest.split('|')) commands.append(c);
            int status = 0;
            HubUnderTest::finish(*hub.send("POST", "/api/units/room/run", QJsonDocument(QJsonObject{{"commands", commands}}).toJson()), &status);
            QVERIFY(status == 200 || status == 502);
        } else if (verb == "port") {
            client = std::make_unique<Raw>(hub.protocol);
            client->send(rest.toLatin1() + "\r");
            QVERIFY(client->has(reply.isEmpty() ? 7 : int(reply.size())));
            if (!reply.isEmpty()) QCOMPARE(client->got, reply);
            if (reply == "ERR001\r") QVERIFY(!sim.received_commands().contains(rest)); // guarded: never sent
        } else if (verb == "front") {
            sim.device().state().routes[2] = 1;
        } else {
            sim.send_raw(rest.toLatin1() + "\r");
        }
        if (via.isEmpty()) {
            QTest::qWait(300);
            for (const char* v : {"api", "port"}) QVERIFY(audit_entry(hub, v, QRegularExpression("."), since, 0).isEmpty());
            return;
        }
        const QJsonObject e = audit_entry(hub, via, QRegularExpression(what), since);
        QVERIFY2(!e.isEmpty(), qPrintable(QString::fromUtf8(QJsonDocument(HubUnderTest::finish(*hub.send("GET", "/api/audit?limit=5"))).toJson())));
        QVERIFY2(QRegularExpression(who).match(e.value("who").toString()).hasMatch(), qPrintable(e.value("who").toString()));
        if (client) QCOMPARE(e.value("who").toString(), client->socket.localAddress().toString() + ":" + QString::number(client->socket.localPort()));
        QVERIFY(e.value("version_after").toDouble() >= e.value("version_before").toDouble());
        if (via == "device") QVERIFY(e.value("version_after").toDouble() > e.value("version_before").toDouble());
        // The same entry, whole, in the file beside the token.
        QFile file((guarded ? audit_dir_ : dir_).filePath("tavrion-hub-audit.jsonl"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(QJsonDocument(e).toJson(QJsonDocument::Compact) + "\n"));
    }

    // The audit's query refuses what it cannot read, with 400.
    void audit_query_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("status");
        QTest::newRow("all") << QByteArray("") << 200;
        QTest::newRow("a unit, a time with its zone, a limit") << QByteArray("?unit=room&since=2026-01-01T00:00:00%2B01:00&limit=3") << 200;
        QTest::newRow("limit 0") << QByteArray("?limit=0") << 400;
        QTest::newRow("limit 1001") << QByteArray("?limit=1001") << 400;
        QTest::newRow("limit not a number") << QByteArray("?limit=ten") << 400;
        QTest::newRow("a time that is none") << QByteArray("?since=yesterday") << 400;
        QTest::newRow("a time without its zone") << QByteArray("?since=2026-12-09T08:00:00") << 400;
        QTest::newRow("a day that is none") << QByteArray("?since=2026-02-30T08:00:00Z") << 400;
    }
    void audit_query()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, status);
        int got = 0;
        const QJsonObject r = HubUnderTest::finish(*audited_.send("GET", "/api/audit" + query), &got);
        QCOMPARE(got, status);
        QCOMPARE(r.contains("entries"), status == 200);
        int post = 0;
        HubUnderTest::finish(*audited_.send("POST", "/api/audit"), &post);
        QCOMPARE(post, 405);
    }

    // An audit file that cannot be written stops nothing: the request is answered, the log says
    // why, and GET /api/units tells. (Tests run as root, whom permissions do not stop: the path is
    // one no user can write.)
    void an_audit_file_that_cannot_be_written_data()
    {
        QTest::addColumn<QString>("path"); // in the test's folder
        QTest::newRow("a folder") << "folder";
        QTest::newRow("under a regular file") << "plain/audit.jsonl";
    }
    void an_audit_file_that_cannot_be_written()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        tavrion_sim::SimServer sim;
        QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
        HubUnderTest hub;
        QVERIFY(hub.start(dir, sim.tcp_port(), {}, {}, 0, {"--audit-file", dir.filePath(path)}));
        int status = 0;
        const QJsonObject r = HubUnderTest::finish(*hub.run("route A 4"), &status);
        QCOMPARE(status, 200);
        QCOMPARE(sim.device().state().routes[0], 4);
        const QString audit = HubUnderTest::finish(*hub.send("GET", "/api/units")).value("audit").toString();
        QVERIFY2(audit.startsWith("failing: " + dir.filePath(path)), qPrintable(audit));
        QByteArray log;
        QVERIFY(QTest::qWaitFor([&] { return (log += hub.process.readAllStandardError()).contains("error audit: "); }, 5000));
        QVERIFY2(log.contains("cannot be written") && log.contains("route A 4 (answered)"), log.constData());
        // The error is said once, not at every entry.
        HubUnderTest::finish(*hub.run("route A 3"));
        QTest::qWait(100);
        log += hub.process.readAllStandardError();
        QCOMPARE(log.count("error audit: "), 1);
        hub.stop();
    }

    // The trail rotates past its size, keeping five files, and is read back newest first across
    // them, by unit, time and number.
    void the_trail_rotates_and_reads_back()
    {
        using namespace tavrion::hub;
        QTemporaryDir dir;
        qputenv("TAVRION_HUB_AUDIT_ROTATE_BYTES", "1000");
        AuditTrail trail(dir.filePath("audit.jsonl"));
        qunsetenv("TAVRION_HUB_AUDIT_ROTATE_BYTES");
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 60; ++i) {
            AuditEntry e;
            e.time_ms = start + i * 1000;
            e.unit = i % 2 ? "odd" : "even";
            e.via = "api";
            e.who = "admin (127.0.0.1)";
            e.what << QStringLiteral("route A %1").arg(i);
            e.outcomes << "answered";
            trail.record(e);
        }
        QCOMPARE(trail.health(), QString("ok"));
        for (int n = 0; n < 6; ++n) {
            const QFileInfo f(n ? dir.filePath("audit.jsonl.%1").arg(n) : dir.filePath("audit.jsonl"));
            QCOMPARE(f.exists(), n < AuditTrail::kFilesKept);
            if (n < AuditTrail::kFilesKept) QVERIFY2(f.size() <= 1000, qPrintable(f.fileName()));
        }
        auto numbers = [](const QJsonArray& entries) {
            QList<int> n;
            for (const QJsonValue& e : entries)
                n << e.toObject().value("commands").toArray().first().toObject().value("what").toString().section(' ', 2).toInt();
            return n;
        };
        const QList<int> all = numbers(trail.query({}, std::nullopt, 1000));
        QVERIFY(all.size() >= 20 && all.size() < 60);
        QCOMPARE(all.first(), 59);
        for (int i = 1; i < all.size(); ++i) QCOMPARE(all[i], all[i - 1] - 1); // every one kept, newest first
        QCOMPARE(numbers(trail.query("odd", std::nullopt, 3)), (QList<int>{59, 57, 55}));
        QCOMPARE(numbers(trail.query({}, start + 56 * 1000, 1000)), (QList<int>{59, 58, 57, 56}));
        QCOMPARE(numbers(trail.query("even", start + 56 * 1000, 1000)), (QList<int>{58, 56}));
    }

    // A unit's protocol_refuse: command codes only.
    void protocol_refuse_in_the_units_file_data()
    {
        QTest::addColumn<QJsonValue>("refuse");
        QTest::addColumn<QString>("error"); // its start; "" accepted
        QTest::newRow("two codes") << QJsonValue(QJsonArray{"RST", "SAV"}) << "";
        QTest::newRow("none") << QJsonValue(QJsonArray{}) << "";
        QTest::newRow("a string") << QJsonValue("RST") << "units.json: units[0].protocol_refuse: a list";
        QTest::newRow("an unknown code") << QJsonValue(QJsonArray{"RST", "XYZ"}) << "units.json: units[0].protocol_refuse[1]: not a command code";
        QTest::newRow("lower case") << QJsonValue(QJsonArray{"rst"}) << "units.json: units[0].protocol_refuse[0]: not a command code";
        QTest::newRow("a whole line") << QJsonValue(QJsonArray{"RST001"}) << "units.json: units[0].protocol_refuse[0]: not a command code";
        QTest::newRow("a number") << QJsonValue(QJsonArray{1}) << "units.json: units[0].protocol_refuse[0]: not a command code";
    }
    void protocol_refuse_in_the_units_file()
    {
        QFETCH(QJsonValue, refuse);
        QFETCH(QString, error);
        const QString file = write_units(dir_.filePath("units.json"),
                                         QJsonArray{QJsonObject{{"id", "a"}, {"tcp", "127.0.0.1:23"}, {"protocol_refuse", refuse}}}, 0);
        QString why;
        const auto setup = tavrion::hub::read_units_file(file, why);
        QCOMPARE(bool(setup), error.isEmpty());
        if (setup) QCOMPARE(setup->units[0].protocol_refuse.size(), std::size_t(refuse.toArray().size()));
        else QVERIFY2(why.replace(dir_.path() + QLatin1Char('/'), QString()).startsWith(error), qPrintable(why));
    }

    // The window on the hub's port runs Refresh while the API routes another output: the window
    // shows the device as it is, the route included, and the page's document took the window's
    // readings, which the hub had not read itself.
    void the_window_and_the_page_share_the_unit()
    {
        using namespace tavrion::test;
        SimHarness h(SimHarness::Link::Tcp);
        QTemporaryDir dir;
        HubUnderTest hub;
        QVERIFY(hub.start(dir, h.sim().tcp_port()));
        h.aim_tcp_at(QStringLiteral("127.0.0.1:%1").arg(hub.protocol));
        QVERIFY(h.load());
        auto& d = h.device();
        d.routes = {{3, 1, 4, 2}};
        d.bezel_h = 12;
        d.contrast = {{55, 55, 55, 55}};
        // The API's request comes as the chain starts, and its place in the queue is before the
        // window's next command: the device holds back its second answer a while.
        QVERIFY(h.sim().apply_control(QStringLiteral("delay 300 AUA once")));
        std::unique_ptr<QTcpSocket> request;
        QObject watch;
        connect(&h.sim(), &tavrion_sim::SimServer::command_received, &watch, [&](const QString& c) {
            if (c == QLatin1String("VER999") && !request) request = hub.run(QStringLiteral("route D 1"));
        });
        h.refresh();
        QVERIFY(request);
        const QJsonObject routed = HubUnderTest::finish(*request);
        QCOMPARE(routed.value("results").toArray().first().toObject().value("status").toInt(-1), 0);
        QCOMPARE(d.routes[3], 1);
        const QStringList diff = window_differences(h.w(), d);
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join(QStringLiteral("; "))));
        const QJsonObject page = hub.unit();
        QCOMPARE(page.value("routes").toObject(), (QJsonObject{{"A", 3}, {"B", 1}, {"C", 4}, {"D", 1}}));
        QCOMPARE(page.value("bezel").toObject().value("h").toInt(), 12);
        QVERIFY(h.boxes.boxes.isEmpty());
        hub.stop();
    }
};

QTEST_MAIN(TestHubProtocol)
#include "test_hub_protocol.moc"
