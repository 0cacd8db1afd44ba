// tavrion-hub-bench: measures the web remote against simulated units and prints the figures: a
// `route B n` run from request to answer and to the event at a second client, beside the same
// command (and the full status reading the hub does at link open and poll) through tavrion-ctl's
// own session; a command's round trip through a unit's protocol port beside the same command
// straight to the simulated unit, and its wait behind a full reading; one exchange and a full
// reading through tavrion-ctl's session with the window's stepped waits and with its own, over TCP
// and a pseudo-terminal, and the whole tavrion-ctl program; the time until the last of
// 20 event clients has a change; and the hub's idle CPU and memory with 8 and more units polled
// every 10 s (its watchdog on, as the service runs it) with the time of a /metrics scrape; on an MQTT broker, a device's reply to the
// message at a subscriber and the idle cost of 64 units. A program, not a test: it asserts no times.
#include "protocol/command_catalogue.h"
#include "verbs/runner.h"
#include "verbs/session_device.h"
#include "hub/mqtt_client.h"
#include "sim/sim_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray kVersionQuery = QByteArray::fromStdString(tavrion::query_of(tavrion::Code::VER));

const QString kHub = QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion-hub");
QElapsedTimer g_clock;

template <typename F>
bool wait_until(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(1);
    }
    return true;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// The simulated units, in a thread of their own as devices would be.
class Devices {
public:
    explicit Devices(int count)
    {
        thread_.start();
        context_.moveToThread(&thread_);
        QMetaObject::invokeMethod(&context_, [this, count] {
            for (int i = 0; i < count; ++i) {
                sims_.push_back(std::make_unique<tavrion_sim::SimServer>());
                sims_.back()->listen_tcp(QHostAddress::LocalHost, 0);
                ports_.push_back(sims_.back()->tcp_port());
                QObject::connect(sims_.back().get(), &tavrion_sim::SimServer::bytes_sent, &context_,
                                 [this] { last_sent_ms_ = g_clock.nsecsElapsed() / 1e6; }, Qt::DirectConnection);
            }
        }, Qt::BlockingQueuedConnection);
    }
    ~Devices()
    {
        QMetaObject::invokeMethod(&context_, [this] { sims_.clear(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    quint16 port(int i) const { return ports_[std::size_t(i)]; }
    // One more unit on a pseudo-terminal linked at `path`, paced at `baud`.
    bool add_serial(const QString& path, int baud)
    {
        bool ok = false;
        QMetaObject::invokeMethod(&context_, [&] {
            sims_.push_back(std::make_unique<tavrion_sim::SimServer>());
            ok = sims_.back()->open_serial(path, baud);
        }, Qt::BlockingQueuedConnection);
        return ok;
    }
    // When a unit last started sending a reply, on g_clock.
    double last_sent_ms() const { return last_sent_ms_; }

private:
    std::atomic<double> last_sent_ms_{0};
    QThread thread_;
    QObject context_;
    std::vector<std::unique_ptr<tavrion_sim::SimServer>> sims_;
    std::vector<quint16> ports_;
};

class HubProcess {
public:
    // `protocol`: the first unit serves its device protocol on a port (protocol_port).
    HubProcess(const Devices& devices, int units, int poll_seconds, const QString& mqtt_url = {}, bool protocol = false)
    {
        QJsonArray list;
        for (int i = 0; i < units; ++i) {
            QJsonObject unit{{"id", QStringLiteral("u%1").arg(i)}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(devices.port(i))}};
            if (protocol && i == 0) unit[QStringLiteral("protocol_listen")] = QStringLiteral("127.0.0.1:0");
            list.append(unit);
        }
        QFile f(dir_.filePath("units.json"));
        f.open(QIODevice::WriteOnly);
        QJsonObject root{{"units", list}, {"poll_seconds", poll_seconds}};
        if (!mqtt_url.isEmpty()) root[QStringLiteral("mqtt")] = QJsonObject{{"url", mqtt_url}};
        f.write(QJsonDocument(root).toJson());
        f.close();
        // The watchdog on, as systemd runs the service (WatchdogSec=30: a pat every 15 s), with a
        // notify socket of the bench's own that nobody reads.
        notify_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un where{};
        where.sun_family = AF_UNIX;
        const QByteArray path = dir_.filePath("notify").toLocal8Bit();
        std::snprintf(where.sun_path, sizeof where.sun_path, "%s", path.constData());
        ::bind(notify_, reinterpret_cast<const sockaddr*>(&where), sizeof where);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(path));
        env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("30000000"));
        process_.setProcessEnvironment(env);
        process_.start(kHub, {"--units", f.fileName(), "--listen", "127.0.0.1:0", "--token-file", dir_.filePath("token")});
        QByteArray out;
        wait_until([&] {
            out += process_.readAllStandardOutput();
            return out.contains("listening on") || process_.state() == QProcess::NotRunning;
        }, 20000);
        port = quint16(QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)/")).match(QString::fromLatin1(out)).captured(1).toUInt());
        protocol_port = quint16(QRegularExpression(QStringLiteral("device protocol on 127\\.0\\.0\\.1:(\\d+)"))
                                    .match(QString::fromLatin1(out)).captured(1).toUInt());
        QFile t(dir_.filePath("token"));
        t.open(QIODevice::ReadOnly);
        token = t.readAll().trimmed();
    }
    ~HubProcess()
    {
        process_.terminate();
        process_.waitForFinished(30000);
        ::close(notify_);
    }
    qint64 pid() const { return process_.processId(); }
    // utime + stime in seconds, and the resident set in MiB.
    double cpu_seconds() const
    {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid()));
        f.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = f.readAll().split(')').last().trimmed().split(' ');
        return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
    }
    double rss_mib() const
    {
        QFile f(QStringLiteral("/proc/%1/status").arg(pid()));
        f.open(QIODevice::ReadOnly);
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
        return 0;
    }

    quint16 port = 0;
    quint16 protocol_port = 0;
    QByteArray token;

private:
    QTemporaryDir dir_;
    QProcess process_;
    int notify_ = -1;
};

QByteArray request_bytes(const HubProcess& hub, const QByteArray& method, const QByteArray& path, const QByteArray& body = {})
{
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(hub.port)
        + "\r\nAuthorization: Bearer " + hub.token + "\r\nContent-Type: application/json\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A keep-alive connection for requests, one at a time.
class Client {
public:
    explicit Client(const HubProcess& hub) : hub_(hub)
    {
        socket_.connectToHost(QHostAddress::LocalHost, hub.port);
        socket_.waitForConnected(5000);
    }
    QJsonObject request(const QByteArray& method, const QByteArray& path, const QByteArray& body = {})
    {
        return QJsonDocument::fromJson(answer(method, path, body)).object();
    }
    // The answer's body as it came.
    QByteArray answer(const QByteArray& method, const QByteArray& path, const QByteArray& body = {})
    {
        socket_.write(request_bytes(hub_, method, path, body));
        QByteArray all;
        int length = -1, end = -1;
        wait_until([&] {
            all += socket_.readAll();
            if (end < 0 && (end = all.indexOf("\r\n\r\n")) >= 0)
                length = QRegularExpression(QStringLiteral("Content-Length: (\\d+)")).match(QString::fromLatin1(all.left(end))).captured(1).toInt();
            return end >= 0 && all.size() >= end + 4 + length;
        }, 60000);
        return all.mid(end + 4);
    }

private:
    const HubProcess& hub_;
    QTcpSocket socket_;
};

// An event stream: the arrival time of each event with its document.
class Events {
public:
    Events(const HubProcess& hub, const QByteArray& unit)
    {
        socket_.connectToHost(QHostAddress::LocalHost, hub.port);
        socket_.write(request_bytes(hub, "GET", "/api/units/" + unit + "/events"));
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] {
            buffer_ += socket_.readAll();
            for (int end; (end = buffer_.indexOf("\n\n")) >= 0;) {
                const QByteArray block = buffer_.left(end);
                buffer_.remove(0, end + 2);
                const int data = block.indexOf("data: ");
                if (data >= 0) got.push_back({g_clock.nsecsElapsed() / 1e6, QJsonDocument::fromJson(block.mid(data + 6)).object()});
            }
        });
    }
    // The arrival of the first event after `since` whose route B is `input`; -1 when none came.
    double arrival(double since, int input) const
    {
        for (const auto& e : got)
            if (e.first >= since && e.second.value("routes").toObject().value("B").toInt() == input) return e.first;
        return -1;
    }
    std::vector<std::pair<double, QJsonObject>> got;

private:
    QTcpSocket socket_;
    QByteArray buffer_;
};

void route_timing(int reps)
{
    Devices devices(2);
    HubProcess hub(devices, 1, 0);
    Client client(hub);
    wait_until([&] { return client.request("GET", "/api/units/u0").value("power") == "on"; }, 30000);
    Events second(hub, "u0");
    wait_until([&] { return !second.got.empty(); }, 10000);
    std::vector<double> answer, event, ctl_route, ctl_status;
    for (int i = 0; i < reps; ++i) {
        const int input = i % 2 ? 2 : 3;
        const double start = g_clock.nsecsElapsed() / 1e6;
        const QJsonObject r = client.request("POST", "/api/units/u0/run",
                                             QStringLiteral("{\"commands\": [\"route B %1\"]}").arg(input).toUtf8());
        const double answered = g_clock.nsecsElapsed() / 1e6;
        wait_until([&] { return second.arrival(start, input) >= 0; }, 10000);
        answer.push_back(answered - start);
        event.push_back(second.arrival(start, input) - start);
        if (r.value("results").toArray().first().toObject().value("status").toInt(-1) != 0) std::printf("  (run %d failed)\n", i);
    }
    // The same through tavrion-ctl's session on the second unit, the link opened once as the hub does.
    std::string error;
    const std::string dir = TAVRION_PROGRAM_DIR;
    tavrion::verbs::LinkTarget target;
    target.serial = false;
    target.tcp.host = "127.0.0.1";
    target.tcp.port = devices.port(1);
    auto device = tavrion::verbs::session_opener(dir)(target, error);
    if (!device) {
        std::printf("tavrion-ctl could not open the second unit: %s\n", error.c_str());
        return;
    }
    auto time_ctl = [&](const std::vector<std::string>& words) {
        std::string why;
        const auto verb = tavrion::verbs::parse_verb({words.begin(), words.end() - (words.back() == "--json")},
                                                     words.back() == "--json", false, {}, why);
        tavrion::verbs::Context context;
        const double start = g_clock.nsecsElapsed() / 1e6;
        tavrion::verbs::run_verb(*verb, *device, context);
        return g_clock.nsecsElapsed() / 1e6 - start;
    };
    for (int i = 0; i < reps; ++i) {
        ctl_route.push_back(time_ctl({"route", "B", i % 2 ? "2" : "3"}));
        ctl_status.push_back(time_ctl({"status", "--json"}));
    }
    std::printf("route B n, %d runs over TCP (ms)                    median    p95\n", reps);
    std::printf("  hub: request to answer                          %7.1f %7.1f\n", percentile(answer, 0.5), percentile(answer, 0.95));
    std::printf("  hub: request to the event at a second client    %7.1f %7.1f\n", percentile(event, 0.5), percentile(event, 0.95));
    std::printf("  tavrion-ctl session: route B n (wire time)      %7.1f %7.1f\n", percentile(ctl_route, 0.5), percentile(ctl_route, 0.95));
    std::printf("  tavrion-ctl session: status --json (full read)  %7.1f %7.1f\n", percentile(ctl_status, 0.5), percentile(ctl_status, 0.95));
    std::vector<double> overhead;
    for (int i = 0; i < reps; ++i) overhead.push_back(answer[std::size_t(i)] - ctl_route[std::size_t(i)]);
    std::printf("  hub answer minus the route's wire time          %7.1f %7.1f\n", percentile(overhead, 0.5), percentile(overhead, 0.95));
}

void fan_out(int clients, int reps)
{
    Devices devices(1);
    HubProcess hub(devices, 1, 0);
    Client client(hub);
    wait_until([&] { return client.request("GET", "/api/units/u0").value("power") == "on"; }, 30000);
    std::vector<std::unique_ptr<Events>> streams;
    for (int i = 0; i < clients; ++i) streams.push_back(std::make_unique<Events>(hub, "u0"));
    wait_until([&] { return std::all_of(streams.begin(), streams.end(), [](const auto& s) { return !s->got.empty(); }); }, 20000);
    std::vector<double> last;
    for (int i = 0; i < reps; ++i) {
        const int input = i % 2 ? 2 : 3;
        const double start = g_clock.nsecsElapsed() / 1e6;
        client.request("POST", "/api/units/u0/run", QStringLiteral("{\"commands\": [\"route B %1\"]}").arg(input).toUtf8());
        wait_until([&] { return std::all_of(streams.begin(), streams.end(), [&](const auto& s) { return s->arrival(start, input) >= 0; }); }, 10000);
        double latest = 0;
        for (const auto& s : streams) latest = std::max(latest, s->arrival(start, input) - start);
        last.push_back(latest);
    }
    std::printf("%d event clients, %d changes: request to the last client's event (ms): median %.1f, p95 %.1f\n",
                clients, reps, percentile(last, 0.5), percentile(last, 0.95));
}

// A client of a device-protocol port (the hub's or the simulated device's own): one command line
// at a time, timed to the end of its reply.
class LineClient {
public:
    explicit LineClient(quint16 port)
    {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        socket_.waitForConnected(5000);
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    void send(const QByteArray& command) { socket_.write(command + "\r"); }
    // Milliseconds from now until `bytes` more have come.
    double wait_for(int bytes)
    {
        const double start = g_clock.nsecsElapsed() / 1e6;
        // Woken by the reply itself: a polling wait would round every figure up to its step.
        QEventLoop loop;
        QObject::connect(&socket_, &QTcpSocket::readyRead, &loop, [&] {
            got_ += socket_.readAll();
            if (got_.size() >= bytes) loop.quit();
        });
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        got_ += socket_.readAll();
        if (got_.size() < bytes) loop.exec();
        got_.remove(0, bytes);
        return g_clock.nsecsElapsed() / 1e6 - start;
    }
    double round_trip(const QByteArray& command)
    {
        const double start = g_clock.nsecsElapsed() / 1e6;
        send(command);
        wait_for(7);
        return g_clock.nsecsElapsed() / 1e6 - start;
    }

private:
    QTcpSocket socket_;
    QByteArray got_;
};

// tavrion-ctl's session (the panel's exchange) on `port`: VER999's round trips.
std::vector<double> session_round_trips(quint16 port, int reps)
{
    tavrion::verbs::LinkTarget target;
    target.serial = false;
    target.tcp.host = "127.0.0.1";
    target.tcp.port = port;
    std::string error;
    auto device = tavrion::verbs::session_opener(TAVRION_PROGRAM_DIR)(target, error);
    std::vector<double> times;
    for (int i = 0; device && i < reps; ++i) {
        const double start = g_clock.nsecsElapsed() / 1e6;
        device->ask(tavrion::query_of(tavrion::Code::VER));
        times.push_back(g_clock.nsecsElapsed() / 1e6 - start);
    }
    return times;
}

// tavrion-ctl's session on `link`, waiting as `wait` says; null (and a note) when it cannot open.
std::unique_ptr<tavrion::verbs::SessionDevice> open_unit(const tavrion::verbs::LinkTarget& link, tavrion::ReplyWait wait)
{
    std::string error;
    auto device = tavrion::verbs::open_session(link, TAVRION_PROGRAM_DIR, error, tavrion::LinkWatch::Polled, wait);
    if (!device) std::printf("  (%s could not be opened: %s)\n", link.name().c_str(), error.c_str());
    return device;
}

// Milliseconds of `reps` runs of the whole tavrion-ctl program (`ctl`) with `words`, process start
// and exit included.
std::vector<double> program_runs(const QString& ctl, const QStringList& words, int reps)
{
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        QProcess p;
        const double start = g_clock.nsecsElapsed() / 1e6;
        p.start(ctl, words);
        p.waitForFinished(30000);
        times.push_back(g_clock.nsecsElapsed() / 1e6 - start);
        if (p.exitCode() != 0 && i == 0)
            std::printf("  (%s %s: exit %d)\n", qPrintable(ctl), qPrintable(words.join(' ')), p.exitCode());
    }
    return times;
}

// One exchange (VER999) and a full reading (status) through tavrion-ctl's session with the
// window's stepped waits and with the waits that end on the answer, over TCP and over the
// simulator's pseudo-terminal at 115200 baud (7 + 7 bytes: 1.215 ms on the wire); then the whole
// tavrion-ctl program (`ctl`: this build's unless told) over TCP.
void exchange_timing(int reps, const QString& ctl)
{
    using tavrion::ReplyWait;
    Devices devices(1);
    QTemporaryDir dir;
    const QString pty = dir.filePath(QStringLiteral("COM1"));
    if (!devices.add_serial(pty, 115200)) std::printf("  (no pseudo-terminal at %s)\n", qPrintable(pty));
    tavrion::verbs::LinkTarget tcp;
    tcp.serial = false;
    tcp.tcp.host = "127.0.0.1";
    tcp.tcp.port = devices.port(0);
    tavrion::verbs::LinkTarget serial;
    serial.serial_path = pty.toStdString();

    std::printf("tavrion-ctl's session, %d exchanges of VER999 and %d full readings (status) (ms)\n", reps,
                std::max(5, reps / 10));
    std::printf("                                                   median    p95     max\n");
    auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("  %-47s %7.2f %7.2f %7.2f\n", what, percentile(v, 0.5), percentile(v, 0.95), percentile(v, 1.0));
    };
    for (const auto& [link, name] : {std::pair{tcp, "TCP"}, std::pair{serial, "pty 115200"}}) {
        for (const ReplyWait wait : {ReplyWait::Stepped, ReplyWait::Prompt}) {
            auto device = open_unit(link, wait);
            if (!device) continue;
            std::vector<double> one, full;
            for (int i = 0; i < reps; ++i) {
                const double start = g_clock.nsecsElapsed() / 1e6;
                device->ask(tavrion::query_of(tavrion::Code::VER));
                one.push_back(g_clock.nsecsElapsed() / 1e6 - start);
            }
            for (int i = 0; i < std::max(5, reps / 10); ++i) {
                std::string why;
                const auto verb = tavrion::verbs::parse_verb({"status"}, true, false, {}, why);
                tavrion::verbs::Context context;
                const double start = g_clock.nsecsElapsed() / 1e6;
                tavrion::verbs::run_verb(*verb, *device, context);
                full.push_back(g_clock.nsecsElapsed() / 1e6 - start);
            }
            const char* how = wait == ReplyWait::Stepped ? "stepped" : "prompt";
            row(qPrintable(QStringLiteral("%1, %2: one exchange").arg(name, how)), one);
            row(qPrintable(QStringLiteral("%1, %2: full reading").arg(name, how)), full);
        }
    }
    const QString address = QStringLiteral("127.0.0.1:%1").arg(devices.port(0));
    const int runs = std::max(5, reps / 10);
    std::printf("the program %s over TCP, %d runs, start to exit (ms)\n", qPrintable(ctl), runs);
    row("tavrion-ctl --version (no link)", program_runs(ctl, {"--version"}, runs));
    row("tavrion-ctl --tcp ... version", program_runs(ctl, {"--tcp", address, "version"}, runs));
    row("tavrion-ctl --tcp ... status", program_runs(ctl, {"--tcp", address, "status"}, runs));
}

void protocol_timing(int reps)
{
    Devices devices(4);
    std::printf("VER999, %d round trips through the hub's protocol port and straight to a simulated unit (ms)\n", reps);
    std::printf("                                                   median    p95     max\n");
    auto row = [](const char* what, const std::vector<double>& v) {
        std::printf("  %-47s %7.2f %7.2f %7.2f\n", what, percentile(v, 0.5), percentile(v, 0.95), percentile(v, 1.0));
    };
    std::vector<double> straight, idle_port, back_to_back, polled_port, session_port;
    {
        LineClient device(devices.port(3));
        for (int i = 0; i < reps; ++i) straight.push_back(device.round_trip(kVersionQuery));
    }
    const std::vector<double> session_straight = session_round_trips(devices.port(3), reps);
    {
        HubProcess hub(devices, 1, 0, {}, true);
        Client client(hub);
        wait_until([&] { return client.request("GET", "/api/units/u0").value("power") == "on"; }, 30000);
        LineClient port(hub.protocol_port), other(hub.protocol_port);
        // A command a few milliseconds after the last, as a controller sends them; and back to back,
        // where each waits for the session to end the exchange before (its last wait step).
        for (int i = 0; i < reps; ++i) {
            idle_port.push_back(port.round_trip(kVersionQuery));
            QTest::qWait(5);
        }
        for (int i = 0; i < reps; ++i) back_to_back.push_back(port.round_trip(kVersionQuery));
        session_port = session_round_trips(hub.protocol_port, reps);
        // The worst wait: a recall makes the hub read the whole state at once, and a second
        // client's command comes just behind the recall's answer.
        std::vector<double> behind;
        for (int i = 0; i < std::max(5, reps / 10); ++i) {
            other.send(QByteArray::fromStdString(tavrion::command_of(tavrion::Code::CAL, 1)));
            other.wait_for(7);
            behind.push_back(port.round_trip(kVersionQuery));
            QTest::qWait(50);
        }
        row("straight to the unit", straight);
        row("through the port, idle", idle_port);
        row("through the port, idle, back to back", back_to_back);
        row("tavrion-ctl's exchange, straight to the unit", session_straight);
        row("tavrion-ctl's exchange, through the port", session_port);
        row("behind a full reading (after a recall)", behind);
    }
    {
        // Polled every second: about one command in ten meets a reading.
        HubProcess hub(devices, 2, 1, {}, true);
        Client client(hub);
        wait_until([&] { return client.request("GET", "/api/units/u0").value("power") == "on"; }, 30000);
        LineClient port(hub.protocol_port);
        for (int i = 0; i < reps; ++i) {
            polled_port.push_back(port.round_trip(kVersionQuery));
            QTest::qWait(7); // spread over the polls
        }
        row("through the port, polled every 1 s", polled_port);
    }
    std::printf("  the port's extra median (idle): a raw client    %7.2f\n", percentile(idle_port, 0.5) - percentile(straight, 0.5));
    std::printf("  the port's extra median (idle): tavrion-ctl     %7.2f\n",
                percentile(session_port, 0.5) - percentile(session_straight, 0.5));
}

// The hub's CPU share and memory over `seconds` once all `units` are read: the CPU time of the hub
// process (all its threads) over the wall time. `target` (a share, 0: none) is printed beside it.
void idle_run(const Devices& devices, int units, int poll, int seconds, const QString& mqtt_url, const char* note,
              double target = 0)
{
    HubProcess hub(devices, units, poll, mqtt_url);
    Client client(hub);
    wait_until([&] {
        const QJsonArray list = client.request("GET", "/api/units").value("units").toArray();
        return std::all_of(list.begin(), list.end(), [](const QJsonValue& u) { return u.toObject().value("power") == "on"; });
    }, 120000);
    const double cpu0 = hub.cpu_seconds();
    QElapsedTimer t;
    t.start();
    QTest::qWait(seconds * 1000);
    const double share = (hub.cpu_seconds() - cpu0) / (double(t.elapsed()) / 1000.0);
    std::printf("  %3d units%s: CPU %5.2f %%, RSS %6.1f MiB", units, note, share * 100.0, hub.rss_mib());
    if (target > 0) std::printf("   (target under %.1f %%: %s)", target * 100.0, share < target ? "met" : "MISSED");
    std::printf("\n");
    // A scrape of /metrics, the units idle between polls, on a connection of its own (the first
    // has been idle as long as the hub keeps an idle one).
    std::vector<double> scrapes;
    Client scraper(hub);
    for (int i = 0; i < 50; ++i) {
        const double began = g_clock.nsecsElapsed() / 1e6;
        const QByteArray text = scraper.answer("GET", "/metrics");
        scrapes.push_back(g_clock.nsecsElapsed() / 1e6 - began);
        if (!text.contains("tavrion_unit_link_state")) {
            std::printf("  /metrics answered without the units' figures\n");
            break;
        }
    }
    std::printf("  %3d units%s: GET /metrics median %.2f ms, p95 %.2f ms (50 scrapes)\n", units, note,
                percentile(scrapes, 0.5), percentile(scrapes, 0.95));
}

// The sizes the targets name: 8 units polled every 10 s under 0.5 % of a core, 64 under 2 %.
double idle_target(int units, int poll)
{
    if (poll != 10) return 0;
    return units == 8 ? 0.005 : units == 64 ? 0.02 : 0;
}

void idle(const std::vector<int>& sizes, int seconds)
{
    std::printf("idle, units polled every 10 s, %d s each: hub CPU time over wall time (share of one core) "
                "and resident memory\n", seconds);
    Devices devices(sizes.back());
    // The first size once more without the poll: what the links alone cost.
    std::vector<std::pair<int, int>> runs{{sizes.front(), 0}};
    for (int n : sizes) runs.push_back({n, 10});
    for (const auto& [n, poll] : runs)
        idle_run(devices, n, poll, seconds, {}, poll ? "" : " (no poll)", idle_target(n, poll));
}

// A Mosquitto broker of the bench's own on a free loopback port, anonymous logins.
class Broker {
public:
    Broker()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        port = probe.serverPort();
        probe.close();
        QFile conf(dir_.filePath("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\nuser root\nset_tcp_nodelay true\n").arg(port).toUtf8());
        conf.close();
        process_.start(QStringLiteral("/usr/sbin/mosquitto"), {"-c", conf.fileName()});
        process_.waitForStarted(5000);
        wait_until([&] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            return s.waitForConnected(100);
        }, 5000);
    }
    ~Broker()
    {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }
    quint16 port = 0;

private:
    QTemporaryDir dir_;
    QProcess process_;
    int notify_ = -1;
};

void mqtt(int reps, int units, int seconds)
{
    Broker broker;
    {
        Devices devices(1);
        HubProcess hub(devices, 1, 0, broker.url());
        tavrion::hub::MqttClient subscriber;
        QHash<QString, QPair<QByteArray, double>> got; // topic: payload, arrival on g_clock
        QObject::connect(&subscriber, &tavrion::hub::MqttClient::message, &subscriber,
                         [&](const QString& t, const QByteArray& p, bool) { got.insert(t, {p, g_clock.nsecsElapsed() / 1e6}); });
        subscriber.subscribe(QStringLiteral("tavrion/u0/route/B"));
        tavrion::hub::MqttEndpoint e;
        e.host = QStringLiteral("127.0.0.1");
        e.port = broker.port;
        e.client_id = QStringLiteral("bench-subscriber");
        QString error;
        subscriber.start(e, error);
        wait_until([&] { return got.contains(QStringLiteral("tavrion/u0/route/B")); }, 30000);
        std::vector<double> reply_to_message, set_to_message;
        for (int i = 0; i < reps; ++i) {
            const QByteArray input = i % 2 ? "2" : "3";
            const double start = g_clock.nsecsElapsed() / 1e6;
            subscriber.publish(QStringLiteral("tavrion/u0/route/B/set"), input, false);
            wait_until([&] { return got.value(QStringLiteral("tavrion/u0/route/B")).first == input; }, 10000);
            const double arrived = got.value(QStringLiteral("tavrion/u0/route/B")).second;
            reply_to_message.push_back(arrived - devices.last_sent_ms());
            set_to_message.push_back(arrived - start);
        }
        std::printf("MQTT, route/B/set n, %d runs over TCP (ms)             median    p95\n", reps);
        std::printf("  the device's last reply to the route/B message  %7.1f %7.1f\n", percentile(reply_to_message, 0.5),
                    percentile(reply_to_message, 0.95));
        std::printf("  set published to the route/B message           %7.1f %7.1f\n", percentile(set_to_message, 0.5),
                    percentile(set_to_message, 0.95));
    }
    // Side by side, as the machine's load is now.
    std::printf("idle, units polled every 10 s, %d s each: hub CPU (share of one core) and resident memory\n", seconds);
    Devices devices(units);
    idle_run(devices, units, 10, seconds, {}, ", no broker");
    idle_run(devices, units, 10, seconds, broker.url(), " on a broker");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    if (args.contains(QStringLiteral("--help"))) {
        std::printf("tavrion-hub-bench [--quick] [--mqtt | --protocol | --exchange [--ctl PATH] | --idle] [--idle-seconds S]:\n"
                    "route timing (50 runs), protocol-port round trips (500), tavrion-ctl's exchanges (500), 20 event\n"
                    "clients, idle 8..64 units (60 s each), then on an MQTT broker: reply to message (50 runs) and 64\n"
                    "units idle; --mqtt: only those; --protocol: only the protocol-port round trips; --exchange: only\n"
                    "tavrion-ctl's session and program (--ctl: another build's tavrion-ctl); --idle: only the idle\n"
                    "figures, 8 and 64 units beside their targets\n");
        return 0;
    }
    const int ctl_at = int(args.indexOf(QStringLiteral("--ctl")));
    const QString ctl = ctl_at > 0 && ctl_at + 1 < args.size() ? args[ctl_at + 1] : QStringLiteral(TAVRION_PROGRAM_DIR "/tavrion-ctl");
    if (args.contains(QStringLiteral("--exchange"))) {
        exchange_timing(quick ? 50 : 500, ctl);
        return 0;
    }
    if (args.contains(QStringLiteral("--protocol"))) {
        protocol_timing(quick ? 50 : 500);
        return 0;
    }
    const int at = int(args.indexOf(QStringLiteral("--idle-seconds")));
    const int idle_seconds = at > 0 && at + 1 < args.size() ? std::max(1, args[at + 1].toInt()) : quick ? 5 : 60;
    if (args.contains(QStringLiteral("--idle"))) {
        idle(quick ? std::vector<int>{8} : std::vector<int>{8, 64}, idle_seconds);
        return 0;
    }
    if (!args.contains(QStringLiteral("--mqtt"))) {
        route_timing(quick ? 5 : 50);
        protocol_timing(quick ? 50 : 500);
        exchange_timing(quick ? 50 : 500, ctl);
        fan_out(20, quick ? 3 : 10);
        idle(quick ? std::vector<int>{8} : std::vector<int>{8, 16, 32, 64}, idle_seconds);
    }
    if (QFile::exists(QStringLiteral("/usr/sbin/mosquitto"))) mqtt(quick ? 5 : 50, quick ? 8 : 64, idle_seconds);
    else std::printf("no MQTT figures: the mosquitto broker is not installed (tools/install-deps.sh)\n");
    return 0;
}
