// tavrion-hub as a program against two simulated units (one on a pseudo-terminal, one on TCP) and
// one whose address refuses: the API's answers and statuses, what reaches the wire, the event
// streams, a silent unit beside a working one, the security checks, and start-up errors.
#include "hub/metrics.h"
#include "hub/sign_in.h"
#include "hub/unit_state.h"
#include "sim/sim_server.h"
#include "support/hub_process.h"
#include "support/sanitizer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

#include <csignal>
#include <unistd.h>

namespace {

const QString kHub = tavrion_test::hub_program();
using tavrion_test::start_hub;
using tavrion_test::write_units;
using tavrion_test::kRequestMs;
using tavrion_test::kIdleMs;
constexpr int kAnswerMs = 20000;
// A unit whose address refuses, for hubs tested without a device.
const QJsonArray kNoDevice{QJsonObject{{"id", "x"}, {"tcp", "127.0.0.1:1"}}}; // a generous bound on a loaded machine; answers come far sooner

using Headers = QList<QPair<QByteArray, QByteArray>>;

struct Response {
    int status = 0;
    QByteArray head;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// One HTTP/1.1 exchange on a connection of its own, written by hand so that every header is the
// test's choice. Headers given with an empty value are left out.
class Http {
public:
    Http(quint16 port, QByteArray token) : port_(port), token_(std::move(token)) {}

    QTcpSocket* send(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                     const Headers& extra = {}) const
    {
        Headers h{{"Host", "127.0.0.1:" + QByteArray::number(port_)}, {"Authorization", "Bearer " + token_}};
        if (method == "POST") h.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
        for (const auto& e : extra) {
            h.erase(std::remove_if(h.begin(), h.end(), [&](const auto& x) { return x.first == e.first; }), h.end());
            if (!e.second.isEmpty()) h.append(e);
        }
        QByteArray req = method + " " + path + " HTTP/1.1\r\n";
        for (const auto& x : h) req += x.first + ": " + x.second + "\r\n";
        req += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        auto* s = new QTcpSocket;
        s->connectToHost(QHostAddress::LocalHost, port_);
        s->write(req);
        return s;
    }

    static Response finish(QTcpSocket* s, int ms = kAnswerMs)
    {
        QByteArray all;
        auto complete = [&] {
            all += s->readAll();
            const int end = all.indexOf("\r\n\r\n");
            if (end < 0) return false;
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("content-length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption)
                    .match(QString::fromLatin1(all.left(end)));
            return m.hasMatch() && all.size() >= end + 4 + m.captured(1).toInt();
        };
        QTest::qWaitFor([&] { return complete() || s->state() == QAbstractSocket::UnconnectedState; }, ms);
        all += s->readAll();
        delete s;
        return parsed(all);
    }

    // An answer's status (0 for none), head and body.
    static Response parsed(const QByteArray& all)
    {
        Response r;
        const int end = all.indexOf("\r\n\r\n");
        if (end < 0) return r;
        r.head = all.left(end);
        r.body = all.mid(end + 4);
        r.status = r.head.mid(9, 3).toInt();
        return r;
    }

    Response request(const QByteArray& method, const QByteArray& path, const QByteArray& body = {},
                     const Headers& extra = {}) const
    {
        return finish(send(method, path, body, extra));
    }
    Response run(const QByteArray& unit, const QStringList& commands, const QJsonObject& more = {}) const
    {
        QJsonObject o = more;
        o[QStringLiteral("commands")] = QJsonArray::fromStringList(commands);
        return request("POST", "/api/units/" + unit + "/run", QJsonDocument(o).toJson(QJsonDocument::Compact));
    }

private:
    quint16 port_;
    QByteArray token_;
};

// A Server-Sent Events client: every `data:` event as JSON, with the time it arrived.
class EventClient {
public:
    EventClient(const Http& http, const QByteArray& unit)
    {
        socket_ = http.send("GET", "/api/units/" + unit + "/events");
        QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] {
            buffer_ += socket_->readAll();
            for (int end; (end = buffer_.indexOf("\n\n")) >= 0;) {
                const QByteArray block = buffer_.left(end);
                buffer_.remove(0, end + 2);
                for (const QByteArray& line : block.split('\n'))
                    if (line.startsWith("data: ")) {
                        events.append(QJsonDocument::fromJson(line.mid(6)).object());
                        clock.restart();
                    }
            }
        });
    }
    ~EventClient() { delete socket_; }
    bool closed() const { return socket_->state() == QAbstractSocket::UnconnectedState; }
    QList<QJsonObject> events;
    QElapsedTimer clock; // restarted at every event

private:
    QTcpSocket* socket_;
    QByteArray buffer_;
};

// What a raw request got: the answer, and whether the hub closed the connection (within
// `close_ms` of the answer).
struct RawOutcome {
    Response answer;
    bool closed = false;
};

RawOutcome raw_exchange(quint16 port, const QByteArray& bytes, int close_ms)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(5000)) return {};
    // Written in pieces, as a slow or hostile client would; a hub that closes early stops it.
    for (int at = 0; at < bytes.size() && s.state() == QAbstractSocket::ConnectedState; at += 64 * 1024) {
        s.write(bytes.mid(at, 64 * 1024));
        s.waitForBytesWritten(2000);
    }
    QByteArray all;
    // An answer may never come, and the connection may stay open: both are outcomes, not failures.
    const bool ended = QTest::qWaitFor([&] {
        all += s.readAll();
        return all.contains("\r\n\r\n") || s.state() == QAbstractSocket::UnconnectedState;
    }, kAnswerMs);
    const bool closed = ended && QTest::qWaitFor([&] {
        all += s.readAll();
        return s.state() == QAbstractSocket::UnconnectedState;
    }, close_ms);
    all += s.readAll();
    return {Http::parsed(all), closed};
}

// The hub's open descriptors, and its CPU time in clock ticks.
int open_descriptors(qint64 pid) { return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::System).size()); }
qint64 cpu_ticks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(')').value(1).split(' ');
    return fields.value(12).toLongLong() + fields.value(13).toLongLong(); // utime, stime
}

// A self-signed certificate for 127.0.0.1 made with openssl, its key owner-only; false without openssl.
bool make_certificate(const QString& cert, const QString& key, const QString& name)
{
    QProcess p;
    p.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                                        "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=" + name,
                                        "-addext", "subjectAltName=IP:127.0.0.1"});
    return p.waitForFinished(20000) && p.exitCode() == 0
        && QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void trust(QSslSocket& s, const QString& cert)
{
    QSslConfiguration c = s.sslConfiguration();
    c.setCaCertificates(QSslCertificate::fromPath(cert));
    s.setSslConfiguration(c);
}

// The hub's resident memory in KiB (0 when unknown).
qint64 resident_kib(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+)")).match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : 0;
}

} // namespace

class TestHub : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    tavrion_sim::SimServer pty_, net_;
    QProcess hub_;
    quint16 port_ = 0;
    QByteArray token_;
    std::unique_ptr<Http> http_;
    QHash<QString, QByteArray> sign_in_tokens_; // named sign-in: its token

    // `tavrion-hub user ARGS` beside the test hub's token; its exit status and what it printed.
    int user_command(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr)
    {
        QProcess p;
        p.start(kHub, QStringList{"user"} + args + QStringList{"--token-file", path("hub.token")});
        if (!p.waitForFinished(20000)) return -1;
        if (out) *out = p.readAllStandardOutput();
        if (err) *err = p.readAllStandardError();
        return p.exitCode();
    }
    // Adds a named sign-in and keeps its token (from the address printed once).
    bool add_sign_in(const QString& name, const QString& role)
    {
        QByteArray out;
        if (user_command({"add", name, "--role", role}, &out) != 0) return false;
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\?token=([0-9a-f]{64})")).match(QString::fromLatin1(out));
        sign_in_tokens_[name] = m.captured(1).toLatin1();
        return m.hasMatch();
    }

    QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
    tavrion_sim::SimServer& sim(const QByteArray& unit) { return unit == "pty" ? pty_ : net_; }

    void clear_wires()
    {
        pty_.clear_received();
        net_.clear_received();
    }
    // A hub of its own for the unit `id` on the device at loopback port `device`; its port once the
    // unit has been read, or 0.
    quint16 start_single_hub(QProcess& hub, quint16 device, const QString& id, int poll_seconds)
    {
        const quint16 port = start_hub(hub, write_units(path("single.json"), QJsonArray{QJsonObject{
            {"id", id}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(device)}}}, poll_seconds), path("hub.token"));
        const Http http(port, token_);
        const bool read = port && QTest::qWaitFor([&] {
            return http.request("GET", "/api/units/" + id.toLatin1()).json().value("power") == "on";
        }, kAnswerMs);
        return read ? port : 0;
    }

    // Nothing reached either unit, also a little later.
    bool wires_quiet()
    {
        QTest::qWait(150);
        return pty_.received_commands().isEmpty() && net_.received_commands().isEmpty();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(QFileInfo::exists(kHub));
        QDir().mkpath(path("serial"));
        QVERIFY(pty_.open_serial(path("serial/COM1")));
        QVERIFY(net_.listen_tcp(QHostAddress::LocalHost, 0));
        QTcpServer closed; // a port that refuses: listened on, then closed
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 refusing = closed.serverPort();
        closed.close();
        const QString units = write_units(path("units.json"), QJsonArray{
            QJsonObject{{"id", "pty"}, {"name", "Serial room"}, {"serial", path("serial/COM1")}},
            QJsonObject{{"id", "net"}, {"name", "TCP room"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(net_.tcp_port())},
                        {"inputs", QJsonObject{{"1", "Lectern PC"}, {"4", "<b>Cam</b>"}}}, {"outputs", QJsonObject{{"B", "Projector"}}}},
            QJsonObject{{"id", "gone"}, {"name", "Switched off"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(refusing)}},
        }, 0);
        for (const char* role : {"viewer", "operator", "admin"}) QVERIFY(add_sign_in(QStringLiteral("desk-") + role, role));
        port_ = start_hub(hub_, units, path("hub.token"), {"--allow-host", "tablet-hub.example"});
        QVERIFY(port_);
        QFile token(path("hub.token"));
        QVERIFY(token.open(QIODevice::ReadOnly));
        token_ = token.readAll().trimmed();
        QCOMPARE(token.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        http_ = std::make_unique<Http>(port_, token_);
        // Both simulated units are read once they are linked.
        QVERIFY(QTest::qWaitFor([&] {
            const QJsonArray units = http_->request("GET", "/api/units").json().value("units").toArray();
            return units.size() == 3 && units[0].toObject().value("state") == "up" && units[1].toObject().value("state") == "up"
                && units[0].toObject().value("power") == "on" && units[1].toObject().value("power") == "on";
        }, kAnswerMs));
    }

    void cleanupTestCase()
    {
        http_.reset();
        hub_.terminate();
        QVERIFY(hub_.waitForFinished(30000));
        QCOMPARE(hub_.exitCode(), 0);
        // Clients that closed or idled out are nothing an operator needs to read about.
        const QByteArray err = hub_.readAllStandardError();
        QVERIFY2(!err.contains("Unknown error"), err.constData());
    }

    void cleanup()
    {
        pty_.apply_control(QStringLiteral("reset"));
        net_.apply_control(QStringLiteral("reset"));
    }

    // Each request's HTTP status and per-command exit statuses, and what reached the wire.
    void run_results_data()
    {
        QTest::addColumn<QByteArray>("unit");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("http");
        QTest::addColumn<QList<int>>("statuses");
        // What went out, exactly; ending in " ..." only its start; "" = nothing at all.
        QTest::addColumn<QString>("wire");
        auto body = [](const QStringList& c, const QJsonObject& more = {}) {
            QJsonObject o = more;
            o["commands"] = QJsonArray::fromStringList(c);
            return QJsonDocument(o).toJson(QJsonDocument::Compact);
        };
        QTest::newRow("route on the pty") << QByteArray("pty") << "" << body({"route B 3"}) << 200 << QList<int>{0} << "OUT002 INP999 INP003";
        QTest::newRow("route over TCP") << QByteArray("net") << "" << body({"route B 3"}) << 200 << QList<int>{0} << "OUT002 INP999 INP003";
        QTest::newRow("two verbs in order") << QByteArray("net") << "" << body({"lock on", "route A 4"}) << 200 << QList<int>{0, 0} << "LCK001 OUT001 INP999 INP004";
        // A recall changes more than the routing it reads back: the whole state is read after it.
        QTest::newRow("recall reads all again") << QByteArray("pty") << "" << body({"preset recall 1", "route A 4"}) << 200 << QList<int>{0, 0}
                                                << "CAL001 OUT001 INP999 OUT002 INP999 OUT003 INP999 OUT004 INP999 OUT001 INP999 INP004 VER999 ...";
        QTest::newRow("usage error") << QByteArray("pty") << "" << body({"lock on", "route E 3"}) << 400 << QList<int>{} << "";
        QTest::newRow("backup names a file") << QByteArray("pty") << "" << body({"backup /tmp/x.json"}) << 400 << QList<int>{} << "";
        QTest::newRow("run names a file") << QByteArray("pty") << "" << body({"run /etc/hostname"}) << 400 << QList<int>{} << "";
        QTest::newRow("restore names a file") << QByteArray("net") << "" << body({"restore /tmp/x.json"}) << 400 << QList<int>{} << "";
        QTest::newRow("diff names a file") << QByteArray("net") << "" << body({"diff /tmp/x.json"}) << 400 << QList<int>{} << "";
        QTest::newRow("unclosed quote") << QByteArray("pty") << "" << body({"lock \"off"}) << 400 << QList<int>{} << "";
        QTest::newRow("link option") << QByteArray("net") << "" << body({"--tcp 10.0.0.1 status"}) << 400 << QList<int>{} << "";
        QTest::newRow("no commands") << QByteArray("net") << "" << body({}) << 400 << QList<int>{} << "";
        QTest::newRow("not JSON") << QByteArray("net") << "" << QByteArray("route B 3") << 400 << QList<int>{} << "";
        QTest::newRow("stale if_version") << QByteArray("net") << "" << body({"route B 3"}, {{"if_version", 1}}) << 409 << QList<int>{} << "";
        QTest::newRow("refused") << QByteArray("pty") << "err 002 LCK" << body({"lock on", "route B 3"}) << 502 << QList<int>{1} << "LCK001";
        QTest::newRow("another code") << QByteArray("net") << "code AUA LCK" << body({"lock on"}) << 502 << QList<int>{1} << "LCK001";
        QTest::newRow("silent") << QByteArray("net") << "silent MNU" << body({"menu up", "lock off"}) << 502 << QList<int>{1} << "MNU001";
        QTest::newRow("unknown unit") << QByteArray("attic") << "" << body({"route B 3"}) << 404 << QList<int>{} << "";
        QTest::newRow("link down") << QByteArray("gone") << "" << body({"route B 3"}) << 503 << QList<int>{} << "";
    }
    void run_results()
    {
        QFETCH(QByteArray, unit);
        QFETCH(QString, fault);
        QFETCH(QByteArray, body);
        QFETCH(int, http);
        QFETCH(QList<int>, statuses);
        QFETCH(QString, wire);
        if (!fault.isEmpty()) QVERIFY(sim(unit).apply_control(fault));
        clear_wires();
        const Response r = http_->request("POST", "/api/units/" + unit + "/run", body);
        QCOMPARE(r.status, http);
        QVERIFY2(r.head.contains("Content-Type: application/json"), r.head.constData());
        const QJsonObject o = r.json();
        QList<int> got;
        for (const QJsonValue& v : o.value("results").toArray()) got << v.toObject().value("status").toInt();
        QCOMPARE(got, statuses);
        if (http != 200) QVERIFY2(!o.value("error").toString().isEmpty(), r.body.constData());
        if (wire.isEmpty()) {
            QVERIFY(wires_quiet());
        } else {
            QTest::qWait(150); // nothing follows the answer either
            const QString sent = sim(unit).received_commands().join(' ');
            if (wire.endsWith(" ...")) QVERIFY2(sent.startsWith(wire.chopped(4)), qPrintable(sent));
            else QCOMPARE(sent, wire); // no reading after the commands: their answers are the state
            // The answer carries the state as the device reported it.
            QCOMPARE(o.value("state").toObject().value("format").toInt(), 1);
        }
        if (http == 200 && unit != "gone") QCOMPARE(o.value("state").toObject().value("routes").toObject().value(wire.contains("INP003") ? "B" : "A").toInt(),
                                                    wire.contains("INP003") ? 3 : 4);
    }

    void unit_document_and_409()
    {
        QCOMPARE(http_->run("net", {"lock off"}).status, 200); // answered: linked and not silent
        const QJsonObject doc = http_->request("GET", "/api/units/net").json();
        QCOMPARE(doc.value("format").toInt(), 1);
        QCOMPARE(doc.value("link").toObject().value("state").toString(), QString("up"));
        const int version = doc.value("version").toInt();
        QVERIFY(version > 0);
        // The device changes behind the hub's back; the next run that reads it raises the version.
        net_.device().state().locked = !net_.device().state().locked;
        const Response ok = http_->run("net", {"send LCK999"}, {{"if_version", version}});
        QCOMPARE(ok.status, 200);
        QVERIFY(ok.json().value("state").toObject().value("version").toInt() > version);
        clear_wires();
        QCOMPARE(http_->run("net", {"lock off"}, {{"if_version", version}}).status, 409);
        QVERIFY(wires_quiet());
        QCOMPARE(http_->request("GET", "/api/units/attic").status, 404);
        QCOMPARE(http_->request("GET", "/api/nothing").status, 404);
        // The document is the session's model: the sliders' maximums are not taken for their
        // amounts, and over RS-232 the network answers are in it.
        for (const QByteArray unit : {QByteArray("pty"), QByteArray("net")}) {
            const QJsonObject d = http_->request("GET", "/api/units/" + unit).json();
            const QJsonObject bezel = d.value("bezel").toObject();
            const auto& device = sim(unit).device().state();
            QCOMPARE(bezel.value("h").toInt(-1), device.bezel_h);
            QCOMPARE(bezel.value("v").toInt(-1), device.bezel_v);
            QCOMPARE(bezel.value("h_max").toInt(-1), device.bezel_h_max);
            QCOMPARE(bezel.value("v_max").toInt(-1), device.bezel_v_max);
            QCOMPARE(d.value("network").toObject().value("ip").isString(), unit == "pty");
        }
    }

    // A unit whose link goes shows as down at once, without a poll: the hub runs no timer to watch
    // it, the socket or the port tells. It is linked again by itself once the device is back.
    void link_loss_is_noticed_at_once_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::newRow("TCP: the device restarts") << "restart";
        QTest::newRow("TCP: the connection drops") << "drop";
        QTest::newRow("TCP: the simulator is killed") << "kill";
        QTest::newRow("serial: the device vanishes") << "vanish";
    }
    void link_loss_is_noticed_at_once()
    {
        QFETCH(QString, loss);
        QByteArray unit = loss == "vanish" ? "pty" : "net";
        const Http* http = http_.get();
        // A simulator of its own, as a program that can be killed, with a hub of its own.
        QProcess device, hub;
        quint16 device_port = 0;
        std::unique_ptr<Http> own;
        const auto start_device = [&] {
            device.start(QFileInfo(kHub).dir().filePath("tavrion-sim"),
                         {"--tcp", QStringLiteral("127.0.0.1:%1").arg(device_port), "--no-stdin"});
            QByteArray out;
            QTest::qWaitFor([&] {
                out += device.readAllStandardOutput();
                return out.contains("\n") || device.state() == QProcess::NotRunning;
            }, kAnswerMs);
            const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("TCP on 127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(out));
            return m.hasMatch() ? quint16(m.captured(1).toUInt()) : quint16(0);
        };
        if (loss == "kill") {
            device_port = start_device();
            QVERIFY(device_port);
            const quint16 port = start_single_hub(hub, device_port, "killed", 0);
            QVERIFY(port);
            own = std::make_unique<Http>(port, token_);
            http = own.get();
            unit = "killed";
        }
        auto state = [&] { return http->request("GET", "/api/units/" + unit).json().value("link").toObject().value("state"); };
        QVERIFY(QTest::qWaitFor([&] { return state() == "up"; }, kAnswerMs));

        QElapsedTimer t;
        t.start();
        if (loss == "restart") {
            net_.set_restart_ms(1500);
            QVERIFY(net_.apply_control(QStringLiteral("restart")));
        } else if (loss == "drop") {
            QVERIFY(net_.apply_control(QStringLiteral("drop")));
        } else if (loss == "kill") {
            device.kill();
            QVERIFY(device.waitForFinished(5000));
        } else {
            QVERIFY(pty_.apply_control(QStringLiteral("vanish")));
        }
        QVERIFY(QTest::qWaitFor([&] { return state() == "down"; }, 1000));
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));

        if (loss == "kill") QCOMPARE(start_device(), device_port);
        if (loss == "vanish") QVERIFY(pty_.open_serial(path("serial/COM1")));
        QVERIFY(QTest::qWaitFor([&] { return state() == "up"; }, kAnswerMs));
        QCOMPARE(http->run(unit, {"route C 2"}).status, 200);
        if (loss == "kill") {
            hub.terminate();
            QVERIFY(hub.waitForFinished(30000));
            device.kill();
            device.waitForFinished(5000);
        } else {
            QCOMPARE(sim(unit).device().state().routes[2], 2);
        }
    }

    void restore()
    {
        const QJsonObject before = http_->request("GET", "/api/units/net").json();
        net_.device().state().routes[2] = before.value("routes").toObject().value("C").toInt() % 4 + 1;
        const Response r = http_->request("POST", "/api/units/net/restore", QJsonDocument(before).toJson());
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("differences").toArray().size(), 0);
        QCOMPARE(net_.device().state().routes[2], before.value("routes").toObject().value("C").toInt());
        clear_wires();
        QCOMPARE(http_->request("POST", "/api/units/net/restore", "{\"format\": 1}").status, 400);
        QVERIFY(wires_quiet());
    }

    // Two event clients both see a change confirmed by the device within a second of its answer.
    void events_reach_two_clients()
    {
        EventClient a(*http_, "net"), b(*http_, "net");
        QVERIFY(QTest::qWaitFor([&] { return !a.events.isEmpty() && !b.events.isEmpty(); }, kAnswerMs));
        QCOMPARE(a.events.first().value("format").toInt(), 1);
        const int input = a.events.last().value("routes").toObject().value("D").toInt() % 4 + 1;
        const int seen = a.events.size();
        const Response r = http_->run("net", {QStringLiteral("route D %1").arg(input)});
        QCOMPARE(r.status, 200);
        QElapsedTimer since_answer;
        since_answer.start();
        auto has_change = [&](const EventClient& c) {
            return c.events.size() > seen && c.events.last().value("routes").toObject().value("D").toInt() == input;
        };
        QVERIFY(QTest::qWaitFor([&] { return has_change(a) && has_change(b); }, 1000));
        QVERIFY2(since_answer.elapsed() < 1000, qPrintable(QString::number(since_answer.elapsed())));
        QCOMPARE(a.events.last().value("version"), r.json().value("state").toObject().value("version"));

        // A reply the device sends by itself, outside any request or poll, reaches them too.
        const bool locked = a.events.last().value("lock") != "on";
        const int before = b.events.size();
        net_.device().state().locked = locked;
        clear_wires();
        QVERIFY(net_.apply_control(QStringLiteral("unsolicited LCK00%1").arg(locked ? 1 : 0)));
        QVERIFY(QTest::qWaitFor([&] { return b.events.size() > before && b.events.last().value("lock") == (locked ? "on" : "off"); }, 1000));
        QVERIFY(wires_quiet());
        // A recall the device reports by itself changes more than it says: the whole state is read.
        QVERIFY(net_.apply_control(QStringLiteral("unsolicited CAL001")));
        QVERIFY(QTest::qWaitFor([&] { return net_.received_commands().contains("VER999"); }, 1000));
    }

    // A unit that has gone silent keeps its own thread busy; the other answers as quickly as before.
    void silent_unit_does_not_slow_the_other()
    {
        auto time_run = [&] {
            QElapsedTimer t;
            t.start();
            const Response r = http_->run("net", {"lock off"});
            return r.status == 200 ? t.elapsed() : qint64(-1);
        };
        QVERIFY(time_run() >= 0);
        QVERIFY(pty_.apply_control(QStringLiteral("silent")));
        QTcpSocket* stuck = http_->send("POST", "/api/units/pty/run", "{\"commands\": [\"route B 2\", \"route C 2\"]}");
        QTest::qWait(100);
        // The other unit answers, again and again, while the stuck request still waits.
        for (int i = 0; i < 3; ++i) {
            QVERIFY(time_run() >= 0);
            QVERIFY(stuck->state() == QAbstractSocket::ConnectedState && stuck->bytesAvailable() == 0);
        }
        QCOMPARE(Http::finish(stuck).status, 502);
        // Linked but silent, until it answers again.
        auto state = [&] { return http_->request("GET", "/api/units/pty").json().value("link").toObject().value("state").toString(); };
        QCOMPARE(state(), QString("silent"));
        QVERIFY(pty_.apply_control(QStringLiteral("reset")));
        QCOMPARE(http_->run("pty", {"lock off"}).status, 200);
        QCOMPARE(state(), QString("up"));
    }

    // A link lost in the middle of a command answers its request at once, not after the wait.
    void lost_link_answers_at_once()
    {
        net_.set_restart_ms(1500);
        QVERIFY(net_.apply_control(QStringLiteral("silent LCK")));
        clear_wires();
        QTcpSocket* stuck = http_->send("POST", "/api/units/net/run", "{\"commands\": [\"lock on\", \"route B 2\"]}");
        QVERIFY(QTest::qWaitFor([&] { return net_.received_commands().contains("LCK001"); }, kAnswerMs));
        QElapsedTimer t;
        t.start();
        QVERIFY(net_.apply_control(QStringLiteral("restart")));
        const Response r = Http::finish(stuck);
        QCOMPARE(r.status, 503);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!net_.received_commands().contains("OUT002"));
        QVERIFY(net_.apply_control(QStringLiteral("reset")));
        auto state = [&] { return http_->request("GET", "/api/units/net").json().value("link").toObject().value("state"); };
        QVERIFY(QTest::qWaitFor([&] { return state() == "down"; }, kAnswerMs));
        QVERIFY(QTest::qWaitFor([&] { return state() == "up"; }, kAnswerMs));
    }

    // Hostile, malformed and proxied requests as raw bytes: each gets its status (0: none) and,
    // where the row says so, a closed connection; nothing reaches a unit, and the hub's memory
    // stays bounded. Proxied requests that pass every check end in a usage error (400), so that
    // nothing is sent either.
    void hostile_requests_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("http");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QByteArray>("head_has"); // a header line the answer carries, or ""
        const QByteArray port = QByteArray::number(port_);
        const QByteArray host = "Host: 127.0.0.1:" + port + "\r\n";
        const QByteArray auth = "Authorization: Bearer " + token_ + "\r\n";
        QByteArray wrong = token_; // the right length, so that the bytes are compared
        wrong[wrong.size() - 1] = wrong.endsWith('0') ? '1' : '0';
        auto post = [](const QByteArray& headers, const QByteArray& body = "{\"commands\": [\"route B 1\"]}") {
            return "POST /api/units/pty/run HTTP/1.1\r\n" + headers + "Content-Type: application/json\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        const QByteArray unusable = "{\"commands\": [\"route E 3\"]}";
        auto get = [](const QByteArray& headers, const QByteArray& version = "HTTP/1.1") {
            return "GET /api/units " + version + "\r\n" + headers + "\r\n";
        };
        auto row = [](const char* name, const QByteArray& bytes, int http, bool closes = false, const QByteArray& head = {}) {
            QTest::newRow(name) << bytes << http << closes << head;
        };
        row("no token", post(host), 401);
        row("wrong token of the right length", post(host + "Authorization: Bearer " + wrong + "\r\n"), 401);
        row("wrong cookie", post(host + "Cookie: tavrion_hub_token=nope\r\n"), 401);
        row("events without token", "GET /api/units/net/events HTTP/1.1\r\n" + host + "\r\n", 401);
        row("scheme in lower case", get(host + "Authorization: bearer " + token_ + "\r\n"), 200);
        row("foreign Host", post("Host: evil.example\r\n" + auth), 403);
        row("foreign Host, own port", get("Host: rebound.example:" + port + "\r\n" + auth), 403);
        row("foreign Origin without port", post(host + auth + "Origin: http://evil.example\r\n"), 403);
        row("cross-site fetch", post(host + auth + "Sec-Fetch-Site: cross-site\r\n"), 403);
        row("send RST", post(host + auth, "{\"commands\": [\"send RST001\"]}"), 400);
        // What a TLS proxy forwards for --allow-host tablet-hub.example.
        const QByteArray forwarded = "X-Forwarded-For: 10.1.2.3\r\nX-Forwarded-Proto: https\r\n";
        row("proxy: name", post("Host: tablet-hub.example\r\n" + auth + forwarded + "Origin: https://tablet-hub.example\r\n", unusable), 400);
        row("proxy: name:443", post("Host: tablet-hub.example:443\r\n" + auth + forwarded + "Origin: https://tablet-hub.example\r\n", unusable), 400);
        row("direct: name:port", post("Host: tablet-hub.example:" + port + "\r\n" + auth + "Origin: http://tablet-hub.example:" + port + "\r\n", unusable), 400);
        row("proxy: plain-HTTP Origin", post("Host: tablet-hub.example\r\n" + auth + "Origin: http://tablet-hub.example\r\n"), 403);
        row("proxy: other port", get("Host: tablet-hub.example:8443\r\n" + auth), 403);
        row("proxy: other name", post("Host: tablet-hub.example\r\n" + auth + "Origin: https://evil.example\r\n"), 403);
        // The body limit holds on the number announced and on the bytes that come, however cut.
        QByteArray attack = "POST /api/units/pty/run HTTP/1.1\r\n" + host;
        for (int i = 0; i < 100 && attack.size() < 8500; ++i) attack += "X-Pad-" + QByteArray::number(i) + ": " + QByteArray(80, 'p') + "\r\n";
        attack += "Content-Length: 157286400\r\n\r\n";
        for (int i = 0; i < 60000; ++i) attack += "A / HTTP/1.1\r\n";
        row("150 MB announced after 8 KB of headers", attack, 413, true);
        row("body over 16 KiB", post(host + auth, "{\"pad\": \"" + QByteArray(17 * 1024, 'x') + "\"}"), 413, true);
        row("chunked body", "POST /api/units/pty/run HTTP/1.1\r\n" + host + auth + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 413, true);
        row("header without colon", get(host + auth + "NoColonHere\r\n"), 400, true);
        QByteArray many;
        for (int i = 0; i < 100; ++i) many += "X-H" + QByteArray::number(i) + ": 1\r\n";
        row("100 headers", get(host + auth + many), 400, true);
        row("two Host headers", get(host + "Host: evil.example\r\n" + auth), 400, true);
        row("headers over 16 KiB", get(host + auth + "X-Big: " + QByteArray(17 * 1024, 'b') + "\r\n"), 431, true);
        row("not a request line", "HELLO\r\n\r\n", 0, true);
        row("HEAD without body", "HEAD /api/units HTTP/1.1\r\n" + host + auth + "\r\n", 200);
        row("405 names what is allowed", "PUT / HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n", 405, false, "Allow: GET, HEAD");
        row("HTTP/1.0 is closed after the answer", get(host + auth, "HTTP/1.0"), 200, true);
        row("Connection: close is honoured", get(host + auth + "Connection: close\r\n"), 200, true, "Connection: close");
        row("kept alive", get(host + auth), 200, false);
        row("request not finished in time", "GET /api/units HTTP/1.1\r\n" + host, 0, true);
        // An encoded "/" is part of a name, never a route's separator.
        row("%2F is not a separator", get(host + auth).replace("/api/units ", "/api/units/net%2Fevents "), 404);
        row("%2f is not a separator", get(host + auth).replace("/api/units ", "/api/units/net%2fevents "), 404);
        row("absolute form, another host", get(host + auth).replace("/api/units ", "http://evil.example/api/units "), 400, true);
        row("absolute form, own host", get(host + auth).replace("/api/units ", "http://127.0.0.1:" + port + "/api/units "), 200);
        row("100 Continue before the body", "POST /api/units/pty/run HTTP/1.1\r\n" + host + auth
            + "Expect: 100-continue\r\nContent-Length: 26\r\n\r\n", 100, true);
        QByteArray two = "Content-Length: 5\r\nContent-Length: 6\r\n";
        row("two Content-Lengths", post(host + auth + two), 400, true);
        row("nothing sent", QByteArray(), 0, true);
    }
    void hostile_requests()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, http);
        QFETCH(bool, closes);
        QFETCH(QByteArray, head_has);
        static const qint64 memory_before = resident_kib(hub_.processId());
        clear_wires();
        const RawOutcome raw = raw_exchange(port_, bytes, closes ? kIdleMs + 2000 : 300);
        const Response& o = raw.answer;
        QVERIFY2(o.status == http, o.head.constData());
        QCOMPARE(raw.closed, closes);
        if (!head_has.isEmpty()) QVERIFY2((o.head + "\r\n").contains("\r\n" + head_has + "\r\n"), o.head.constData());
        if (bytes.startsWith("HEAD")) {
            QVERIFY(o.body.isEmpty());
            QVERIFY(!o.head.contains("Content-Length: 0\r"));
        } else if (http > 100 && o.head.contains("application/json")) {
            // The library's own refusals (a malformed head) carry a fixed page of its own.
            QVERIFY2(http == 200 || QJsonDocument::fromJson(o.body).object().contains("error"), o.body.constData());
        }
        QVERIFY(wires_quiet());
        QVERIFY2(resident_kib(hub_.processId()) < memory_before + 32 * 1024,
                 qPrintable(QStringLiteral("%1 KiB against %2 KiB").arg(resident_kib(hub_.processId())).arg(memory_before)));
    }

    // Connections are counted per client address (64: the next one is closed at once) and in all
    // (512: when all are held, the one that has waited longest without a request makes room, so
    // silent slots from 8 addresses keep nobody out), event streams per address (32: then 503).
    void connection_limits()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        auto open_from = [&](const QString& from) {
            auto s = std::make_unique<QTcpSocket>();
            s->bind(QHostAddress(from));
            s->connectToHost(QHostAddress::LocalHost, port_);
            const bool up = s->waitForConnected(5000);
            idle.push_back(std::move(s));
            return up;
        };
        auto answer_from = [&](const QString& from) {
            if (!open_from(from)) return 0;
            QTcpSocket* s = idle.back().get();
            s->write("GET /api/units HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port_) + "\r\nAuthorization: Bearer " + token_ + "\r\n\r\n");
            QByteArray got;
            const bool in = QTest::qWaitFor([&] {
                return (got += s->readAll()).size() >= 12 || s->state() == QAbstractSocket::UnconnectedState;
            }, kAnswerMs);
            return in ? got.mid(9, 3).toInt() : 0;
        };
        for (int i = 0; i < 64; ++i) QVERIFY(open_from(QStringLiteral("127.0.0.1")));
        QTest::qWait(200);
        QCOMPARE(answer_from(QStringLiteral("127.0.0.1")), 0);
        QCOMPARE(answer_from(QStringLiteral("127.0.0.2")), 200);
        for (int a = 3; a <= 9; ++a)
            for (int i = 0; i < 64; ++i) QVERIFY(open_from(QStringLiteral("127.0.0.%1").arg(a)));
        QTest::qWait(200);
        // 512 held in all: the oldest silent one goes for a well-behaved newcomer.
        QCOMPARE(answer_from(QStringLiteral("127.0.0.10")), 200);
        QVERIFY(QTest::qWaitFor([&] { return idle[0]->state() == QAbstractSocket::UnconnectedState; }, kAnswerMs));
        idle.clear();
        QVERIFY(QTest::qWaitFor([&] { return http_->request("GET", "/api/units").status == 200; }, kAnswerMs));
        std::vector<std::unique_ptr<EventClient>> streams;
        for (int i = 0; i < 32; ++i) streams.push_back(std::make_unique<EventClient>(*http_, "net"));
        QVERIFY(QTest::qWaitFor([&] {
            return std::all_of(streams.begin(), streams.end(), [](const auto& c) { return !c->events.isEmpty(); });
        }, kAnswerMs));
        QCOMPARE(http_->request("GET", "/api/units/net/events").status, 503);
    }

    // Signing in: /?token= sets a cookie that lasts a year and then opens the page and the API. A
    // browser that is not signed in, or comes by a name the hub does not serve, gets a short HTML
    // page that says what to do; a program asking the API keeps getting JSON.
    void sign_in_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<int>("http");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("says"); // in the body
        const QByteArray cookie = "tavrion_hub_token=" + token_;
        const Headers none{{"Authorization", ""}};
        QTest::newRow("page, signed in") << QByteArray("/") << Headers{{"Authorization", ""}, {"Cookie", cookie}} << 200
                                         << QByteArray("text/html") << QByteArray("<title>Tavrion</title>");
        QTest::newRow("page, no cookie") << QByteArray("/") << none << 401 << QByteArray("text/html") << QByteArray("tavrion-hub --show-url");
        QTest::newRow("page, old cookie") << QByteArray("/") << Headers{{"Authorization", ""}, {"Cookie", "tavrion_hub_token=0123456789abcdef"}}
                                          << 401 << QByteArray("text/html") << QByteArray("out of date");
        QTest::newRow("wrong token") << QByteArray("/?token=wrong") << none << 401 << QByteArray("text/html") << QByteArray("QR code");
        QTest::newRow("page, foreign Host") << QByteArray("/") << Headers{{"Host", "<b>evil</b>.example"}} << 403
                                            << QByteArray("text/html") << QByteArray("&lt;b&gt;evil&lt;/b&gt;.example");
        QTest::newRow("API, foreign Host") << QByteArray("/api/units") << Headers{{"Host", "evil.example"}} << 403
                                           << QByteArray("application/json") << QByteArray("\"error\"");
        QTest::newRow("API, no token") << QByteArray("/api/units") << none << 401 << QByteArray("application/json") << QByteArray("\"error\"");
        QTest::newRow("API, cookie") << QByteArray("/api/units") << Headers{{"Authorization", ""}, {"Cookie", cookie}} << 200
                                     << QByteArray("application/json") << QByteArray("\"units\"");
    }
    void sign_in()
    {
        QFETCH(QByteArray, path);
        QFETCH(Headers, headers);
        QFETCH(int, http);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, says);
        clear_wires();
        const Response r = http_->request("GET", path, {}, headers);
        QCOMPARE(r.status, http);
        QVERIFY2(r.head.contains("Content-Type: " + type), r.head.constData());
        QVERIFY2(r.body.contains(says), r.body.constData());
        // Every page forbids loading anything from elsewhere; the sign-in pages run no script at all.
        if (type == "text/html") QVERIFY(r.head.contains("Content-Security-Policy: default-src 'none'"));
        if (type == "text/html" && http != 200) QVERIFY(!r.body.contains("<script"));
        QVERIFY(wires_quiet());
    }

    void sign_in_cookie_lasts()
    {
        const Response page = http_->request("GET", "/", {}, {{"Authorization", ""}, {"Cookie", "tavrion_hub_token=" + token_}});
        // Nothing from elsewhere, and text is never put in as markup.
        for (const char* banned : {"innerHTML", "outerHTML", "insertAdjacentHTML", "document.write", "http://", "https://", " src="})
            QVERIFY2(!page.body.contains(banned), banned);
        const QByteArray set = "Set-Cookie: tavrion_hub_token=" + token_ + "; HttpOnly; SameSite=Strict; Path=/; Max-Age=31536000";
        const Response plain = http_->request("GET", "/?token=" + token_, {}, {{"Authorization", ""}});
        QCOMPARE(plain.status, 303);
        QVERIFY2(plain.head.contains(set + "\r\n"), plain.head.constData());
        // Behind a TLS proxy the cookie is sent over https only.
        for (const Headers& proxy : {Headers{{"X-Forwarded-Proto", "https"}}, Headers{{"Forwarded", "for=10.0.0.9;proto=https"}}}) {
            Headers h = proxy;
            h.append(qMakePair(QByteArray("Authorization"), QByteArray()));
            const Response tls = http_->request("GET", "/?token=" + token_, {}, h);
            QVERIFY2(tls.head.contains(set + "; Secure\r\n"), tls.head.constData());
        }
        const Response api = http_->request("GET", "/api/units", {}, {{"Authorization", ""}, {"Cookie", "tavrion_hub_token=" + token_}});
        QCOMPARE(api.json().value("units").toArray().size(), 3);
        // The page's own POST carries its Origin: taken.
        QCOMPARE(http_->request("POST", "/api/units/net/run", "{\"commands\": [\"lock off\"]}",
                                {{"Origin", "http://127.0.0.1:" + QByteArray::number(port_)}}).status, 200);
    }

    // Each role against each kind of request: taken, or refused 403 with nothing on the wire. The
    // token file signs in as "admin"; the rest are named sign-ins of the sign-ins file.
    void roles_data()
    {
        QTest::addColumn<QString>("who");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("http");
        const QByteArray backup = "{\"format\": 1}"; // refused for the role before it is read
        auto run = [](const QStringList& c) {
            return QJsonDocument(QJsonObject{{"commands", QJsonArray::fromStringList(c)}}).toJson(QJsonDocument::Compact);
        };
        struct Kind {
            const char* name;
            QByteArray method, path, body;
            int viewer, op, admin; // the status each role gets
        };
        const QList<Kind> kinds{
            {"list", "GET", "/api/units", {}, 200, 200, 200},
            {"document", "GET", "/api/units/net", {}, 200, 200, 200},
            {"status read", "POST", "/api/units/net/run", run({"status"}), 200, 200, 200},
            {"route", "POST", "/api/units/net/run", run({"route B 3"}), 403, 200, 200},
            {"lock, mute, picture, bezel", "POST", "/api/units/net/run", run({"lock on", "mute off", "picture brightness all 30", "bezel off"}), 403, 200, 200},
            {"preset recall", "POST", "/api/units/net/run", run({"preset recall 2"}), 403, 200, 200},
            {"preset save", "POST", "/api/units/net/run", run({"preset save 2"}), 403, 403, 200},
            {"EDID", "POST", "/api/units/net/run", run({"edid 6ch"}), 403, 403, 200},
            {"menu key", "POST", "/api/units/net/run", run({"menu exit"}), 403, 403, 200},
            {"picture reset", "POST", "/api/units/net/run", run({"picture reset"}), 403, 403, 200},
            {"raw code", "POST", "/api/units/net/run", run({"send LCK001"}), 403, 403, 200},
            // One command beyond the role refuses the whole request, the allowed ones before it too.
            {"route then EDID", "POST", "/api/units/net/run", run({"route A 1", "edid 2ch"}), 403, 403, 200},
            {"restore", "POST", "/api/units/net/restore", backup, 403, 403, 400},
        };
        for (const Kind& k : kinds)
            for (const char* who : {"desk-viewer", "desk-operator", "desk-admin", "admin"}) {
                const int http = QByteArray(who) == "desk-viewer" ? k.viewer : QByteArray(who) == "desk-operator" ? k.op : k.admin;
                QTest::addRow("%s, %s", k.name, who) << QString::fromLatin1(who) << k.method << k.path << k.body << http;
            }
    }
    void roles()
    {
        QFETCH(QString, who);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        QFETCH(int, http);
        const Http as(port_, who == "admin" ? token_ : sign_in_tokens_.value(who));
        clear_wires();
        const Response r = as.request(method, path, body);
        QCOMPARE(r.status, http);
        if (http == 403) {
            QVERIFY2(r.json().value("error").toString().contains(who + " signs in as"), r.body.constData());
            QVERIFY(wires_quiet());
        }
        if (path == "/api/units")
            QCOMPARE(r.json().value("signed_in").toObject().value("name").toString(), who);
    }

    // The unit document carries the room's names of its inputs and outputs, as given (text, not markup).
    void names_in_the_document()
    {
        const QJsonObject names = http_->request("GET", "/api/units/net").json().value("names").toObject();
        QCOMPARE(names.value("inputs").toObject(), (QJsonObject{{"1", "Lectern PC"}, {"4", "<b>Cam</b>"}}));
        QCOMPARE(names.value("outputs").toObject(), (QJsonObject{{"B", "Projector"}}));
        QCOMPARE(http_->request("GET", "/api/units/pty").json().value("names").toObject(),
                 (QJsonObject{{"inputs", QJsonObject{}}, {"outputs", QJsonObject{}}}));
    }

    // Removing a sign-in ends it at once: its open event stream closes, and its token is refused.
    void removed_sign_in_is_refused_at_once()
    {
        QVERIFY(add_sign_in(QStringLiteral("leaving"), QStringLiteral("operator")));
        const Http as(port_, sign_in_tokens_.value("leaving"));
        // The hub sees the file change by itself; until then, the new sign-in may not be known.
        QVERIFY(QTest::qWaitFor([&] { return as.request("GET", "/api/units").status == 200; }, kAnswerMs));
        EventClient stream(as, "net");
        QVERIFY(QTest::qWaitFor([&] { return !stream.events.isEmpty(); }, kAnswerMs));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(user_command({"remove", "leaving"}), 0);
        QVERIFY(QTest::qWaitFor([&] { return stream.closed(); }, kAnswerMs));
        qInfo("stream ended %lld ms after the removal", clock.elapsed());
        QCOMPARE(as.request("GET", "/api/units").status, 401);
        QCOMPARE(as.request("GET", "/?token=" + sign_in_tokens_.value("leaving"), {}, {{"Authorization", ""}}).status, 401);
        clear_wires();
        QCOMPARE(as.run("net", {"route B 3"}).status, 401);
        QVERIFY(wires_quiet());
        // The others are untouched.
        QCOMPARE(http_->request("GET", "/api/units").status, 200);
        QCOMPARE(Http(port_, sign_in_tokens_.value("desk-viewer")).request("GET", "/api/units").status, 200);

        // A file broken while the hub runs leaves only the token file's sign-in until it is mended.
        QFile users(path("tavrion-hub.users"));
        QVERIFY(users.open(QIODevice::ReadOnly));
        const QByteArray sound = users.readAll();
        users.close();
        auto put = [&](const QByteArray& text) {
            QSaveFile f(path("tavrion-hub.users"));
            return f.open(QIODevice::WriteOnly) && f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                && f.write(text) == text.size() && f.commit();
        };
        const Http viewer(port_, sign_in_tokens_.value("desk-viewer"));
        QVERIFY(put(sound + "half a line\n"));
        QVERIFY(QTest::qWaitFor([&] { return viewer.request("GET", "/api/units").status == 401; }, kAnswerMs));
        QCOMPARE(http_->request("GET", "/api/units").status, 200);
        QVERIFY(put(sound));
        QVERIFY(QTest::qWaitFor([&] { return viewer.request("GET", "/api/units").status == 200; }, kAnswerMs));
    }

    // A sign-ins file the hub cannot use stops it, naming the line; a user command with a role or
    // a name that does not exist says so, and the file stays as it was.
    void bad_sign_ins_data()
    {
        QTest::addColumn<QByteArray>("content"); // of a sign-ins file of its own; empty: the test hub's
        QTest::addColumn<QStringList>("command");  // `tavrion-hub user ...`; empty: start a hub
        QTest::addColumn<QString>("says");
        const QByteArray hash(64, 'a');
        QTest::newRow("two words") << QByteArray("# ok\nx viewer\n") << QStringList{} << "line 2: takes NAME ROLE SHA256";
        QTest::newRow("no such role") << "x boss " + hash << QStringList{} << "line 1: no role \"boss\"";
        QTest::newRow("short hash") << QByteArray("x viewer abc") << QStringList{} << "line 1: the hash";
        QTest::newRow("named twice") << "x viewer " + hash + "\nx admin " + hash << QStringList{} << "line 2: \"x\" is named twice";
        QTest::newRow("admin taken") << "admin viewer " + hash << QStringList{} << "line 1: the name";
        QTest::newRow("add, no such role") << QByteArray() << QStringList{"add", "y", "--role", "root"} << "no role \"root\"";
        QTest::newRow("add, no role") << QByteArray() << QStringList{"add", "y"} << "needs --role";
        QTest::newRow("add, twice") << QByteArray() << QStringList{"add", "desk-viewer", "--role", "admin"} << "signs in already";
        QTest::newRow("add, bad name") << QByteArray() << QStringList{"add", "a b<c>", "--role", "viewer"} << "1 to 32 letters";
        QTest::newRow("remove, unknown") << QByteArray() << QStringList{"remove", "nobody"} << "no sign-in \"nobody\"";
        QTest::newRow("remove admin") << QByteArray() << QStringList{"remove", "admin"} << "token file's sign-in";
    }
    void bad_sign_ins()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, command);
        QFETCH(QString, says);
        QByteArray err;
        if (command.isEmpty()) {
            QFile f(path("bad.users"));
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(content);
            f.close();
            QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
            QProcess p;
            p.start(kHub, {"--units", path("units.json"), "--listen", "127.0.0.1:0", "--token-file", path("hub.token"),
                           "--users", path("bad.users")});
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.exitCode(), 2);
            err = p.readAllStandardError();
            QVERIFY2(err.contains(path("bad.users").toLocal8Bit() + ": " + says.toUtf8()), err.constData());
            return;
        }
        QFile users(path("tavrion-hub.users"));
        QVERIFY(users.open(QIODevice::ReadOnly));
        const QByteArray before = users.readAll();
        users.close();
        QCOMPARE(user_command(command, nullptr, &err), 2);
        QVERIFY2(err.contains(says.toUtf8()), err.constData());
        QVERIFY(users.open(QIODevice::ReadOnly));
        QCOMPARE(users.readAll(), before);
        QCOMPARE(users.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    }

    // --show-url prints what a browser elsewhere can open: the listening port, the --allow-host
    // name, never 0.0.0.0; and the first address as a QR code.
    void show_url_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("first"); // the first line, before the token
        QTest::newRow("loopback, own port") << QStringList{"--listen", "127.0.0.1:4567"} << "http://127.0.0.1:4567/?token=";
        QTest::newRow("allowed name") << QStringList{"--listen", "0.0.0.0:8080", "--allow-host", "Tavrion.lan"} << "http://tavrion.lan:8080/?token=";
        QTest::newRow("all addresses") << QStringList{"--listen", "0.0.0.0:4567"} << "http://";
        QTest::newRow("default") << QStringList{} << "http://127.0.0.1:7720/?token=";
    }
    void show_url()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, first);
        QProcess p;
        p.start(kHub, QStringList{"--show-url", "--token-file", path("hub.token")} + args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
        QVERIFY2(lines[0].startsWith(first) && lines[0].endsWith(QString::fromLatin1(token_)), qPrintable(lines[0]));
        for (const QString& line : lines) QVERIFY2(!line.startsWith("http://0.0.0.0"), qPrintable(line));
        QVERIFY2(lines[0].contains(QStringLiteral(":%1/").arg(args.isEmpty() ? 7720 : args[1].section(':', 1).toInt())), qPrintable(lines[0]));
        // The QR code: square blocks of a version-3-or-larger symbol, one width on every line.
        const int qr = lines.indexOf(QString()) + 1;
        QVERIFY(qr > 0 && qr < lines.size());
        const int width = lines[qr].size();
        QVERIFY2(width >= 29 + 4, qPrintable(lines[qr]));
        int rows = 0;
        for (int i = qr; i < lines.size() && !lines[i].isEmpty(); ++i, ++rows) QCOMPARE(lines[i].size(), width);
        QCOMPARE(rows, (width + 1) / 2);
        QVERIFY(lines.join(QString()).contains(QChar(0x2588)));
    }

    // The addresses offered when listening on all of them are this machine's own, and the hub
    // answers requests that name them; loopback and link-local addresses are not offered.
    void lan_addresses()
    {
        tavrion::hub::HubOptions o;
        o.listen_address = QHostAddress::AnyIPv4;
        o.listen_port = 7720;
        const QList<QHostAddress> machine{QHostAddress("127.0.0.1"), QHostAddress("169.254.3.4"), QHostAddress("192.168.20.7"),
                                          QHostAddress("10.1.2.3")};
        QCOMPARE(tavrion::hub::sign_in_urls(o, "tok", machine),
                 (QStringList{"http://192.168.20.7:7720/?token=tok", "http://10.1.2.3:7720/?token=tok"}));
        const tavrion::hub::HostRules rules(o, 7720);
        for (const QHostAddress& own : QNetworkInterface::allAddresses())
            if (own.protocol() == QAbstractSocket::IPv4Protocol)
                QVERIFY2(rules.allowed(own.toString().toLatin1() + ":7720"), qPrintable(own.toString()));
        QVERIFY(!rules.allowed("192.0.2.254:7720") || QNetworkInterface::allAddresses().contains(QHostAddress("192.0.2.254")));
        QVERIFY(!rules.allowed("rebound.example:7720"));
    }

    // With poll_seconds, a change made on the device itself shows; over TCP a restart (power on,
    // or the device's own) is followed until the unit answers again.
    void poll_and_restart_course()
    {
        tavrion_sim::SimServer sim;
        sim.set_restart_ms(800);
        QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
        QProcess hub;
        const quint16 port = start_single_hub(hub, sim.tcp_port(), "polled", 1);
        QVERIFY(port);
        const Http http(port, token_);
        auto doc = [&] { return http.request("GET", "/api/units/polled").json(); };
        sim.device().state().routes[3] = 1; // output D on input 1, as from the front panel
        QVERIFY(QTest::qWaitFor([&] { return doc().value("routes").toObject().value("D").toInt() == 1; }, 5000));

        const Response r = http.run("polled", {"power standby", "power on", "route D 2"});
        QCOMPARE(r.status, 200);
        QCOMPARE(r.json().value("results").toArray().size(), 3);
        QCOMPARE(sim.device().state().routes[3], 2);

        QVERIFY(sim.apply_control(QStringLiteral("restart")));
        QVERIFY(QTest::qWaitFor([&] { return doc().value("link").toObject().value("state") == "down"; }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return doc().value("link").toObject().value("state") == "up"; }, kAnswerMs));
        QCOMPARE(http.run("polled", {"route D 3"}).status, 200);
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
    }

    // A unit takes 8 waiting runs and refuses the 9th; runs whose clients have gone are dropped
    // before they are sent, and the one in flight stops after its current command.
    void queue_bound_and_abandoned_runs()
    {
        QVERIFY(net_.apply_control(QStringLiteral("delay 300 LCK")));
        clear_wires();
        QStringList slow;
        for (int i = 0; i < 64; ++i) slow << "lock on"; // 20 s of commands
        std::vector<QTcpSocket*> clients{http_->send("POST", "/api/units/net/run", QJsonDocument(QJsonObject{{"commands", QJsonArray::fromStringList(slow)}}).toJson())};
        QVERIFY(QTest::qWaitFor([&] { return !net_.received_commands().isEmpty(); }, kAnswerMs));
        for (int i = 0; i < 8; ++i) clients.push_back(http_->send("POST", "/api/units/net/run", "{\"commands\": [\"route B 2\"]}"));
        QTest::qWait(200);
        QElapsedTimer refused;
        refused.start();
        QCOMPARE(http_->run("net", {"route B 3"}).status, 503);
        QVERIFY(refused.elapsed() < 1000);
        for (QTcpSocket* c : clients) delete c; // every client goes
        QElapsedTimer t;
        t.start();
        const Response next = http_->run("net", {"route A 4"});
        QVERIFY2(next.status == 200, next.body.constData());
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        const QStringList sent = net_.received_commands();
        QVERIFY2(sent.count("LCK001") <= 3 && !sent.contains("OUT002"), qPrintable(sent.join(' ')));
    }

    // SIGTERM in the middle of a run that would last a minute: the run stops after its command
    // in flight, its request is answered 503 with the result so far, and the hub exits 0 in time.
    void shutdown_during_a_long_run()
    {
        tavrion_sim::SimServer sim;
        QVERIFY(sim.listen_tcp(QHostAddress::LocalHost, 0));
        QProcess hub;
        const quint16 port = start_single_hub(hub, sim.tcp_port(), "long", 0);
        QVERIFY(port);
        const Http http(port, token_);
        QVERIFY(sim.apply_control(QStringLiteral("delay 450 LCK")));
        sim.clear_received();
        QStringList half; // two runs of 64 commands of about 0.5 s: a minute
        for (int i = 0; i < 64; ++i) half << "lock on";
        const QByteArray body = QJsonDocument(QJsonObject{{"commands", QJsonArray::fromStringList(half)}}).toJson();
        QTcpSocket* run = http.send("POST", "/api/units/long/run", body);
        QVERIFY(QTest::qWaitFor([&] { return !sim.received_commands().isEmpty(); }, kAnswerMs));
        QTcpSocket* waiting = http.send("POST", "/api/units/long/run", body);
        QTest::qWait(200);
        QElapsedTimer t;
        t.start();
        hub.terminate();
        const Response r = Http::finish(run);
        QCOMPARE(Http::finish(waiting).status, 503);
        QVERIFY(QTest::qWaitFor([&] { return hub.state() == QProcess::NotRunning; }, 5000 + 1000));
        QVERIFY2(t.elapsed() < 6000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(hub.exitStatus(), QProcess::NormalExit);
        QCOMPARE(hub.exitCode(), 0);
        QCOMPARE(r.status, 503);
        const QJsonArray results = r.json().value("results").toArray();
        QVERIFY(!results.isEmpty() && results.size() < 4);
        QCOMPARE(results.last().toObject().value("status").toInt(), 0);
        QVERIFY(!hub.readAllStandardError().contains("QThread"));
    }

    // The token file is used only when it is a regular file of the hub's user that nobody else
    // may read or change, holding a token of 16 to 256 characters; otherwise exit 2 with why.
    void token_file_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("why");
        QTest::newRow("owner-only file") << "file 600" << 0 << "";
        QTest::newRow("absent: made") << "absent" << 0 << "";
        QTest::newRow("readable by others") << "file 644" << 2 << "others may read";
        QTest::newRow("group-writable") << "file 620" << 2 << "others may read";
        QTest::newRow("symbolic link") << "link" << 2 << "symbolic link";
        QTest::newRow("in a linked folder") << "linked folder" << 2 << "symbolic link";
        QTest::newRow("a folder") << "folder" << 2 << "not a regular file";
        QTest::newRow("another user's") << "foreign" << 2 << "another user";
        QTest::newRow("token over 256 characters") << "long" << 2 << "longer than 256";
        QTest::newRow("too short") << "short" << 2 << "holds no token";
    }
    void token_file()
    {
        QFETCH(QString, kind);
        QFETCH(int, exit_code);
        QFETCH(QString, why);
        QTemporaryDir d;
        QProcess p;
        const QString file = d.filePath(QStringLiteral("hub.token"));
        auto write = [&](const QByteArray& text, QFileDevice::Permissions p) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(text);
            f.close();
            QVERIFY(f.setPermissions(p));
        };
        const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        const QByteArray token(64, 'a');
        if (kind == "file 600") write(token + "\n", owner);
        else if (kind == "file 644") write(token, owner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        else if (kind == "file 620") write(token, owner | QFileDevice::WriteGroup);
        else if (kind == "long") write(QByteArray(300, 'a'), owner);
        else if (kind == "short") write("abc", owner);
        else if (kind == "folder") QVERIFY(QDir().mkdir(file));
        else if (kind == "link") {
            write(token, owner | QFileDevice::ReadOther); // what the link points at keeps its permissions
            QVERIFY(QFile::rename(file, d.filePath(QStringLiteral("target"))));
            QVERIFY(QFile::link(d.filePath(QStringLiteral("target")), file));
        } else if (kind == "linked folder") {
            QVERIFY(QDir().mkdir(d.filePath(QStringLiteral("real"))));
            QVERIFY(QFile::link(d.filePath(QStringLiteral("real")), d.filePath(QStringLiteral("via"))));
            {
                QFile f(d.filePath(QStringLiteral("real/hub.token")));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(token);
            }
            QVERIFY(QFile::setPermissions(d.filePath(QStringLiteral("real/hub.token")), owner));
            p.start(kHub, {"--token-file", d.filePath(QStringLiteral("via/hub.token")), "--show-url"});
        } else if (kind == "foreign") {
            if (::geteuid() != 0) QSKIP("needs root to give the file to another user");
            write(token, owner);
            QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        }
        if (kind != "linked folder") p.start(kHub, {"--token-file", file, "--show-url"});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), exit_code);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(why), qPrintable(err));
        if (exit_code == 0) QVERIFY(p.readAllStandardOutput().contains(kind == "absent" ? "?token=" : "?token=" + token));
        if (kind == "link") QCOMPARE(QFileInfo(d.filePath(QStringLiteral("target"))).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
    }

    // A units file the hub cannot use stops it with a message naming the file and the place.
    void bad_units_file_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("place");
        QTest::newRow("not JSON") << QByteArray("{\"units\": [\n  {\"id\": \"a\" \"tcp\": \"x\"}]}") << "line 2, column";
        QTest::newRow("no link") << QByteArray("{\"units\": [{\"id\": \"a\"}]}") << "units[0]";
        QTest::newRow("both links") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"serial\": \"COM1\"}]}") << "units[0]";
        QTest::newRow("bad COM port") << QByteArray("{\"units\": [{\"id\": \"a\", \"serial\": \"COM12\"}]}") << "units[0].serial";
        QTest::newRow("id twice") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\"}, {\"id\": \"a\", \"tcp\": \"g\"}]}") << "units[1].id";
        QTest::newRow("poll") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\"}], \"poll_seconds\": -1}") << "poll_seconds";
        QTest::newRow("one device twice") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h:23\"}, {\"id\": \"b\", \"tcp\": \"h\"}]}") << "units[1].tcp";
        QTest::newRow("unknown key") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"port\": 1}]}") << "units[0].port";
        QTest::newRow("input 5") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"inputs\": {\"5\": \"X\"}}]}") << "units[0].inputs.5: unknown key";
        QTest::newRow("output E") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"outputs\": {\"E\": \"X\"}}]}") << "units[0].outputs.E: unknown key";
        QTest::newRow("name of 33") << "{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"outputs\": {\"A\": \"" + QByteArray(33, 'x') + "\"}}]}" << "units[0].outputs.A: a name of 1 to 32";
        QTest::newRow("control character") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"inputs\": {\"1\": \"a\\u0007b\"}}]}") << "units[0].inputs.1: a name";
        QTest::newRow("names not an object") << QByteArray("{\"units\": [{\"id\": \"a\", \"tcp\": \"h\", \"inputs\": [\"X\"]}]}") << "units[0].inputs: an object";
    }
    void bad_units_file()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, place);
        QFile f(path("bad.json"));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        QProcess p;
        p.start(kHub, {"--units", path("bad.json"), "--listen", "127.0.0.1:0", "--token-file", path("hub.token")});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(path("bad.json") + ": " + place), qPrintable(err));
    }

    // A unit's state is published when, and only when, it changed: every value that its document
    // shows tells two states apart; the version alone does not.
    void a_unit_state_differs_in_every_value()
    {
        using namespace tavrion::hub;
        UnitState base;
        base.id = "room";
        base.name = "Room";
        base.link_name = "10.0.0.7:23";
        base.link = LinkState::Up;
        base.status.emplace();
        base.status->mode = 3; // TV Wall: four picture rows in the document
        const std::vector<std::pair<const char*, std::function<void(UnitState&)>>> changes{
            {"link", [](UnitState& u) { u.link = LinkState::Silent; }},
            {"problem", [](UnitState& u) { u.problem = "VER999: silent"; }},
            {"nothing read", [](UnitState& u) { u.status.reset(); }},
            {"firmware", [](UnitState& u) { u.status->firmware = 106; }},
            {"power", [](UnitState& u) { u.status->power_on = true; }},
            {"lock", [](UnitState& u) { u.status->locked = false; }},
            {"mode", [](UnitState& u) { u.status->mode = 2; }},
            {"route D", [](UnitState& u) { u.status->routes[3] = 4; }},
            {"hue of row C", [](UnitState& u) { u.status->picture[2][2] = 7; }},
            {"bezel", [](UnitState& u) { u.status->bezel_on = true; }},
            {"bezel h", [](UnitState& u) { u.status->bezel_h = 1; }},
            {"bezel v", [](UnitState& u) { u.status->bezel_v = 1; }},
            {"bezel h max", [](UnitState& u) { u.status->bezel_h_max = 9; }},
            {"bezel v max", [](UnitState& u) { u.status->bezel_v_max = 9; }},
            {"EDID", [](UnitState& u) { u.status->edid = 4; }},
            {"audio", [](UnitState& u) { u.status->audio_on = true; }},
            {"dual audio A", [](UnitState& u) { u.status->dual_a = 2; }},
            {"dual audio B", [](UnitState& u) { u.status->dual_b = 2; }},
            {"resolution", [](UnitState& u) { u.status->resolution = 3; }},
            {"IP", [](UnitState& u) { u.status->ip = "192.168.001.100"; }},
            {"mask", [](UnitState& u) { u.status->mask = "255.255.255.000"; }},
            {"gateway", [](UnitState& u) { u.status->gateway = "192.168.001.001"; }},
        };
        for (const auto& [what, change] : changes) {
            UnitState other = base;
            change(other);
            QVERIFY2(unit_json(other, nullptr) != unit_json(base, nullptr), what); // the document shows it
            QVERIFY2(!other.same_as(base), what);
        }
        UnitState later = base;
        later.version = 7;
        QVERIFY(later.same_as(base));
    }

    // The metrics text from hand-made figures: a unit id that would break the format is escaped,
    // the buckets add up to +Inf whatever the times, the count is their total, the link state is
    // one of four.
    void metrics_text_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QList<double>>("seconds"); // the exchanges' times, all answered
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("none yet") << "a" << "connecting" << QList<double>{}
            << QStringList{"tavrion_unit_link_state{unit=\"a\",state=\"connecting\"} 1", "tavrion_unit_answering{unit=\"a\"} 0",
                           "tavrion_unit_exchange_duration_seconds_bucket{unit=\"a\",le=\"+Inf\"} 0",
                           "tavrion_unit_last_full_read_timestamp_seconds{unit=\"a\"} 0"};
        QTest::newRow("on the bounds and beyond") << "a" << "up" << QList<double>{0.005, 0.0051, 5, 9}
            << QStringList{"tavrion_unit_exchange_duration_seconds_bucket{unit=\"a\",le=\"0.005\"} 1",
                           "tavrion_unit_exchange_duration_seconds_bucket{unit=\"a\",le=\"0.01\"} 2",
                           "tavrion_unit_exchange_duration_seconds_bucket{unit=\"a\",le=\"5\"} 3",
                           "tavrion_unit_exchange_duration_seconds_bucket{unit=\"a\",le=\"+Inf\"} 4",
                           "tavrion_unit_exchange_duration_seconds_count{unit=\"a\"} 4",
                           "tavrion_unit_exchanges_total{unit=\"a\",outcome=\"answered\"} 4", "tavrion_unit_answering{unit=\"a\"} 1"};
        QTest::newRow("quote, backslash, line feed") << "r\"o\\o\nm" << "silent" << QList<double>{0.1}
            << QStringList{"tavrion_unit_link_state{unit=\"r\\\"o\\\\o\\nm\",state=\"silent\"} 1",
                           "tavrion_unit_answering{unit=\"r\\\"o\\\\o\\nm\"} 0"};
    }
    void metrics_text()
    {
        using namespace tavrion::hub;
        QFETCH(QString, id);
        QFETCH(QString, state);
        QFETCH(QList<double>, seconds);
        QFETCH(QStringList, lines);
        auto stats = std::make_shared<UnitStats>();
        for (double s : seconds) stats->count_exchange(ExchangeOutcome::Answered, s);
        HttpFigures http;
        http.answers = {{200, 3}, {401, 1}};
        const QStringList text = QString::fromUtf8(tavrion::hub::metrics_text({{id, state, stats}}, http, true, {})).split(QLatin1Char('\n'));
        for (const QString& line : lines) QVERIFY2(text.contains(line), qPrintable(line));
        QVERIFY(text.contains("tavrion_http_requests_total{code=\"401\"} 1"));
        QVERIFY(text.contains("tavrion_mqtt_connected 1"));
        // Every sample line is NAME{LABELS} VALUE or NAME VALUE: nothing the unit's id held broke one.
        for (const QString& line : text)
            if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
                QVERIFY2(QRegularExpression(R"(^[a-z_]+(\{.*\})? [0-9.e+-]+$)").match(line).hasMatch(), qPrintable(line));
    }

    // A head ending exactly at its limit is taken however it arrives; one byte more is refused;
    // a head and a body each within their limit are answered at once.
    void heads_at_the_limit_data()
    {
        QTest::addColumn<int>("head_size");
        QTest::addColumn<int>("body_size");
        QTest::addColumn<int>("split"); // bytes before the head's end where it is cut; 0: whole
        QTest::addColumn<int>("http");
        QTest::newRow("16384, whole") << 16384 << 0 << 0 << 200;
        QTest::newRow("16384, cut 2 short") << 16384 << 0 << 2 << 200;
        QTest::newRow("16384, cut in the last line") << 16384 << 0 << 40 << 200;
        QTest::newRow("16385, whole") << 16385 << 0 << 0 << 431;
        QTest::newRow("16385, cut 1 short") << 16385 << 0 << 1 << 431;
        QTest::newRow("16384 and a 16 KiB body") << 16384 << 16 * 1024 << 0 << 400;
        QTest::newRow("16384 and a 16 KiB body, cut") << 16384 << 16 * 1024 << 3 << 400;
    }
    void heads_at_the_limit()
    {
        QFETCH(int, head_size);
        QFETCH(int, body_size);
        QFETCH(int, split);
        QFETCH(int, http);
        // A body that passes every check and is then refused as a usage error: nothing is sent.
        QByteArray body;
        if (body_size) {
            body = "{\"commands\": [\"route E 3\"], \"pad\": \"\"}";
            body.insert(body.size() - 2, QByteArray(body_size - body.size(), 'x'));
        }
        QByteArray head = (body_size ? "POST /api/units/pty/run" : "GET /api/units") + QByteArray(" HTTP/1.1\r\nHost: 127.0.0.1:")
            + QByteArray::number(port_) + "\r\nAuthorization: Bearer " + token_ + "\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\nX-Pad: ";
        head += QByteArray(head_size - head.size() - 4, 'p') + "\r\n\r\n";
        QCOMPARE(head.size(), head_size);
        clear_wires();
        const QByteArray all = head + body;
        const int cut = split ? head_size - split : all.size();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port_);
        QVERIFY(s.waitForConnected(5000));
        s.write(all.left(cut));
        QVERIFY(s.waitForBytesWritten(2000));
        QTest::qWait(100);
        s.write(all.mid(cut));
        QElapsedTimer t;
        t.start();
        QByteArray got;
        QVERIFY(QTest::qWaitFor([&] { return (got += s.readAll()).contains("\r\n\r\n") || s.state() != QAbstractSocket::ConnectedState; }, kAnswerMs));
        QCOMPARE(Http::parsed(got).status, http);
        QVERIFY2(t.elapsed() < kRequestMs, qPrintable(QString::number(t.elapsed())));
        QVERIFY(wires_quiet());
    }

    // A client that pipelines requests and never reads an answer costs the hub a bounded amount:
    // the next request is not read before the last answer is out. Others are served meanwhile.
    void client_that_never_reads()
    {
        const qint64 before = resident_kib(hub_.processId());
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port_);
        QVERIFY(s.waitForConnected(5000));
        QByteArray batch;
        for (int i = 0; i < 1000; ++i) batch += "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port_) + "\r\n\r\n";
        s.setReadBufferSize(1); // the answers stay in the hub's way
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 3000) {
            if (s.bytesToWrite() < 8 * 1024 * 1024) s.write(batch);
            QTest::qWait(20);
        }
        QCOMPARE(http_->request("GET", "/api/units").status, 200);
        const qint64 after = resident_kib(hub_.processId());
        // The hub under test is built as this test is: under AddressSanitizer every answer's freed
        // memory waits in quarantine, so only its serving is checked there.
        if (tavrion::test::kResidentMemoryMeaningful)
            QVERIFY2(after < before + 16 * 1024, qPrintable(QStringLiteral("%1 KiB against %2 KiB").arg(after).arg(before)));
    }

    // A flood of connections from many addresses under a descriptor limit: the hub holds a bounded
    // number of descriptors, does not spin, and serves another client.
    void connection_flood_data()
    {
        QTest::addColumn<int>("nofile");
        QTest::addColumn<int>("addresses"); // 64 connections each
        QTest::newRow("LimitNOFILE 1024, 1152 connections") << 1024 << 18;
        QTest::newRow("descriptors run out first") << 200 << 6;
    }
    void connection_flood()
    {
        QFETCH(int, nofile);
        QFETCH(int, addresses);
        QProcess hub;
        const quint16 port = start_hub(hub, write_units(path("flood.json"), kNoDevice, 0), path("hub.token"), {}, nullptr,
                                       {"prlimit", QStringLiteral("--nofile=%1").arg(nofile)});
        QVERIFY(port);
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int a = 1; a <= addresses; ++a)
            for (int i = 0; i < 64; ++i) {
                auto s = std::make_unique<QTcpSocket>();
                s->bind(QHostAddress(QStringLiteral("127.0.1.%1").arg(a)));
                s->connectToHost(QHostAddress::LocalHost, port);
                flood.push_back(std::move(s));
            }
        QTest::qWait(500);
        const qint64 ticks = cpu_ticks(hub.processId());
        QTest::qWait(2000);
        const qint64 spent = cpu_ticks(hub.processId()) - ticks;
        const int fds = open_descriptors(hub.processId());
        QVERIFY2(fds <= std::min(nofile, 512 + 64), qPrintable(QString::number(fds)));
        QVERIFY2(spent < 50, qPrintable(QStringLiteral("%1 ticks in 2 s").arg(spent))); // under a quarter of a core
        QTcpSocket s;
        s.bind(QHostAddress(QStringLiteral("127.0.2.1")));
        s.connectToHost(QHostAddress::LocalHost, port);
        s.write("GET /api/units HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nAuthorization: Bearer " + token_ + "\r\n\r\n");
        QByteArray got;
        QVERIFY(QTest::qWaitFor([&] { return (got += s.readAll()).contains("\r\n\r\n"); }, kAnswerMs));
        QCOMPARE(Http::parsed(got).status, 200);
        flood.clear();
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        QCOMPARE(hub.exitCode(), 0);
    }

    // HTTPS with a certificate made here: a real handshake at TLS 1.2 or later, the Secure cookie,
    // plain HTTP and garbage closed, and SIGHUP's new certificate seen by a new client while an
    // open connection goes on; a bad new pair leaves the one in use.
    void https_course()
    {
        if (!QSslSocket::supportsSsl()) QSKIP("no TLS in this Qt");
        const QString cert = path("tls.pem"), key = path("tls.key");
        if (!make_certificate(cert, key, "first")) QSKIP("openssl cannot make a certificate");
        QProcess hub;
        QByteArray printed;
        const quint16 port = start_hub(hub, write_units(path("tls.json"), kNoDevice, 0), path("hub.token"),
                                       {"--tls-cert", cert, "--tls-key", key}, &printed);
        QVERIFY(port);
        QVERIFY2(printed.contains("https://127.0.0.1:"), printed.constData());
        auto open = [&](QSslSocket& s) {
            trust(s, cert);
            s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            return s.waitForEncrypted(kAnswerMs);
        };
        auto ask = [&](QSslSocket& s, const QByteArray& target) {
            s.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nAuthorization: Bearer "
                    + token_ + "\r\n\r\n");
            QByteArray got;
            QTest::qWaitFor([&] {
                got += s.readAll();
                const Response r = Http::parsed(got);
                return r.status && r.body.endsWith("\n");
            }, kAnswerMs);
            return Http::parsed(got);
        };
        QSslSocket kept;
        QVERIFY(open(kept));
        QVERIFY(kept.sessionProtocol() == QSsl::TlsV1_2 || kept.sessionProtocol() == QSsl::TlsV1_3);
        QCOMPARE(ask(kept, "/api/units").status, 200);
        const Response sign_in = ask(kept, "/?token=" + token_);
        QVERIFY2(sign_in.head.contains("; Secure\r\n"), sign_in.head.constData());
        for (const QByteArray& plain : {QByteArray("GET /api/units HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"), QByteArray(300, '\x16')}) {
            const RawOutcome raw = raw_exchange(port, plain, kIdleMs + 2000);
            QCOMPARE(raw.answer.status, 0);
            QVERIFY(raw.closed);
        }
        QVERIFY(make_certificate(cert, key, "second"));
        ::kill(pid_t(hub.processId()), SIGHUP);
        QVERIFY(QTest::qWaitFor([&] { return hub.readAllStandardError().contains("loaded the certificate"); }, kAnswerMs));
        QSslSocket fresh;
        QVERIFY(open(fresh));
        QCOMPARE(fresh.peerCertificate().subjectInfo(QSslCertificate::CommonName), QStringList{"second"});
        QCOMPARE(ask(fresh, "/api/units").status, 200);
        QCOMPARE(ask(kept, "/api/units").status, 200); // the open connection was not dropped
        QFile::copy(cert, path("tls-second.pem"));
        QFile junk(cert);
        QVERIFY(junk.open(QIODevice::WriteOnly | QIODevice::Truncate));
        junk.write("not a certificate\n");
        junk.close();
        ::kill(pid_t(hub.processId()), SIGHUP);
        QVERIFY(QTest::qWaitFor([&] { return hub.readAllStandardError().contains("kept the certificate in use"); }, kAnswerMs));
        QSslSocket after;
        trust(after, path("tls-second.pem"));
        after.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        QVERIFY(after.waitForEncrypted(kAnswerMs));
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        QCOMPARE(hub.exitCode(), 0);
    }

    // The key follows the token file's rules, and the pair must go together: exit 2 with why.
    void tls_files_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("key readable by others") << "key 644" << "others may read";
        QTest::newRow("key is a link") << "link" << "symbolic link";
        QTest::newRow("key in a linked folder") << "linked folder" << "symbolic link";
        QTest::newRow("key of another certificate") << "mismatch" << "cannot be used together";
        QTest::newRow("certificate without key") << "alone" << "go together";
    }
    void tls_files()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        QTemporaryDir d;
        const QString cert = d.filePath(QStringLiteral("c.pem")), key = d.filePath(QStringLiteral("k.pem"));
        if (!make_certificate(cert, key, "x")) QSKIP("openssl cannot make a certificate");
        QString key_arg = key;
        if (kind == "key 644") QVERIFY(QFile::setPermissions(key, QFile::permissions(key) | QFileDevice::ReadOther));
        if (kind == "link") QVERIFY(QFile::link(key, key_arg = d.filePath(QStringLiteral("link.pem"))));
        if (kind == "linked folder") {
            QVERIFY(QFile::link(d.path(), d.filePath(QStringLiteral("via"))));
            key_arg = d.filePath(QStringLiteral("via/k.pem"));
        }
        if (kind == "mismatch") QVERIFY(make_certificate(d.filePath(QStringLiteral("other.pem")), key, "y"));
        QStringList args{"--units", path("units.json"), "--listen", "127.0.0.1:0", "--token-file", path("hub.token"), "--tls-cert", cert};
        if (kind != "alone") args << "--tls-key" << key_arg;
        QProcess p;
        p.start(kHub, args);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(why), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestHub)
#include "test_hub.moc"
