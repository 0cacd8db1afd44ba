// tavrion-hub on a real Mosquitto broker started by the test (loopback, a free port), with two
// simulated units: discovery, retained states, commands by topic, refusals, a burst of runs, a broker
// that restarts, a refused login, a broker of the test's own that stops acknowledging; and the
// MQTT options themselves.
#include "hub/hub_config.h"
#include "hub/mqtt_client.h"
#include "hub/users.h"
#include "sim/sim_server.h"
#include "support/hub_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tavrion::hub;

namespace {

constexpr int kWaitMs = 20000; // a bound for a loaded machine; things come far sooner
const QString kBroker = QStringLiteral("/usr/sbin/mosquitto");

quint16 free_port()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

void write_file(const QString& path, const QByteArray& text, QFileDevice::Permissions permissions)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    f.close();
    f.setPermissions(permissions);
}

// A Mosquitto broker of the test's own: loopback only, logins from a password file, nothing kept
// across a restart.
class Broker {
public:
    bool start(const QString& folder)
    {
        if (!port_) {
            port_ = free_port();
            const QString passwords = folder + QStringLiteral("/passwords");
            for (const char* user : {"hub", "watcher"}) {
                const QStringList create = QFile::exists(passwords) ? QStringList{} : QStringList{"-c"};
                if (QProcess::execute(QStringLiteral("mosquitto_passwd"), create + QStringList{"-b", passwords, user, "secret"}) != 0)
                    return false;
            }
            conf_ = folder + QStringLiteral("/mosquitto.conf");
            write_file(conf_, QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\n"
                                             "persistence false\nuser root\n").arg(port_).arg(passwords).toUtf8(),
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        process_.start(kBroker, {"-c", conf_});
        return process_.waitForStarted(5000) && QTest::qWaitFor([this] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port_);
            return s.waitForConnected(200);
        }, 5000);
    }
    void stop()
    {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    quint16 port() const { return port_; }

private:
    QProcess process_;
    QString conf_;
    quint16 port_ = 0;
};

// A subscriber that keeps the last payload of every topic and when it came.
struct Watcher {
    MqttClient client;
    QHash<QString, QByteArray> last;
    QHash<QString, QList<QByteArray>> all; // every payload, in order
    QHash<QString, bool> retained;
    QHash<QString, qint64> at; // ms on `clock`
    QElapsedTimer clock;

    Watcher(quint16 port, const QStringList& patterns)
    {
        clock.start();
        QObject::connect(&client, &MqttClient::message, &client, [this](const QString& t, const QByteArray& p, bool r) {
            last.insert(t, p);
            all[t].append(p);
            retained.insert(t, r);
            at.insert(t, clock.elapsed());
        });
        for (const QString& p : patterns) client.subscribe(p);
        MqttEndpoint e;
        e.host = QStringLiteral("127.0.0.1");
        e.port = port;
        e.user = QStringLiteral("watcher");
        e.password = QStringLiteral("secret");
        e.client_id = QStringLiteral("watcher-%1").arg(quintptr(this));
        QString error;
        client.start(e, error);
    }
    QJsonObject json(const QString& topic) const { return QJsonDocument::fromJson(last.value(topic)).object(); }
    // Waits for `topic` to carry `payload` (any payload when empty); true when it does.
    bool wait_for(const QString& topic, const QByteArray& payload = {}, int ms = kWaitMs)
    {
        return QTest::qWaitFor([&] { return last.contains(topic) && (payload.isEmpty() || last.value(topic) == payload); }, ms);
    }
    void publish(const QString& topic, const QByteArray& payload) { client.publish(topic, payload, false); }
};

// A broker of the test's own, MQTT 5 on the wire: it takes every connect and keeps the CONNECT
// packets and the topics published to it; it acknowledges publishes only while `acks` is set.
struct FakeBroker {
    QTcpServer server;
    QTcpSocket* client = nullptr;
    QByteArray in;
    QList<QByteArray> connects; // each CONNECT's variable part
    QSet<QString> topics;
    bool acks = false;
    bool v311_only = false; // refuses MQTT 5 as a broker of 3.1.1 does

    FakeBroker()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                delete client;
                client = s;
                in.clear();
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    in += s->readAll();
                    take();
                });
            }
        });
    }
    // Whole packets off the front of `in`.
    void take()
    {
        for (;;) {
            qsizetype at = 1;
            quint32 length = 0;
            bool whole = false;
            for (int shift = 0; at < in.size() && shift < 28 && !whole; shift += 7) {
                const auto b = quint8(in[at++]);
                length |= quint32(b & 0x7f) << shift;
                whole = !(b & 0x80);
            }
            if (!whole || in.size() < at + qsizetype(length)) return;
            const quint8 type = quint8(in[0]) >> 4;
            const quint8 flags = quint8(in[0]) & 0x0f;
            const QByteArray body = in.mid(at, length);
            in.remove(0, at + length);
            if (type == 1) {
                connects << body;
                if (v311_only && body.size() > 6 && body[6] == 5)
                    client->write(QByteArray::fromHex("20020001")); // unacceptable protocol version
                else if (body.size() > 6 && body[6] == 5)
                    client->write(QByteArray::fromHex("2003000000")); // accepted, no properties
                else
                    client->write(QByteArray::fromHex("20020000"));
            } else if (type == 3 && body.size() >= 2) {
                const int topic_length = (quint8(body[0]) << 8) | quint8(body[1]);
                topics << QString::fromUtf8(body.mid(2, topic_length));
                if (acks && (flags & 0x06)) client->write(QByteArray::fromHex("4002") + body.mid(2 + topic_length, 2));
            } else if (type == 12 && acks) {
                client->write(QByteArray::fromHex("d000")); // PINGRESP
            }
        }
    }
};

// The CONNECT packet's MQTT version and its Maximum Packet Size property (0: none).
QPair<int, quint32> version_and_packet_limit(const QByteArray& connect)
{
    // Protocol name (2 + 4), level, flags, keep-alive, then the properties' length and properties.
    if (connect.size() < 11) return {0, 0};
    const int level = quint8(connect[6]);
    if (level != 5) return {level, 0};
    qsizetype at = 10;
    quint32 length = 0;
    for (int shift = 0; at < connect.size(); shift += 7) {
        const auto b = quint8(connect[at++]);
        length |= quint32(b & 0x7f) << shift;
        if (!(b & 0x80)) break;
    }
    const QByteArray properties = connect.mid(at, length);
    for (qsizetype i = 0; i < properties.size();) {
        const auto id = quint8(properties[i]);
        if (id == 0x27 && i + 5 <= properties.size())
            return {level, quint32(quint8(properties[i + 1])) << 24 | quint32(quint8(properties[i + 2])) << 16
                               | quint32(quint8(properties[i + 3])) << 8 | quint8(properties[i + 4])};
        if (id == 0x21) i += 3;      // Receive Maximum
        else if (id == 0x11) i += 5; // Session Expiry Interval
        else break;
    }
    return {level, 0};
}

const QStringList kDiscovery{"select/route_a", "select/route_b", "select/route_c", "select/route_d", "select/mode",
                             "switch/power", "switch/lock", "switch/sound", "button/preset_1", "button/preset_2",
                             "button/preset_3", "button/preset_4", "select/resolution", "sensor/firmware"};

QString config_topic(const QString& unit, const QString& entity)
{
    return QStringLiteral("homeassistant/%1/tavrion_%2/%3/config").arg(entity.section('/', 0, 0), unit, entity.section('/', 1));
}

} // namespace

class TestHubMqtt : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    Broker broker_;
    tavrion_sim::SimServer pty_, net_;
    QProcess hub_;
    quint16 http_port_ = 0;
    std::unique_ptr<Watcher> watcher_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    tavrion_sim::SimServer& sim(const QString& unit) { return unit == QLatin1String("pty") ? pty_ : net_; }
    QString units_file(const QString& name, const QByteArray& credentials, const QJsonArray& units)
    {
        write_file(path(name + ".cred"), credentials, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return tavrion_test::write_units(path(name + ".json"), units, 0,
                                         {{"mqtt", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(broker_.port())},
                                                               {"credentials", name + ".cred"}}}});
    }
    bool wires_quiet()
    {
        QTest::qWait(200);
        return pty_.received_commands().isEmpty() && net_.received_commands().isEmpty();
    }
    // Every retained topic of both units and the hub, as the units are now.
    bool everything_published(int ms)
    {
        return QTest::qWaitFor([&] {
            if (watcher_->last.value("tavrion/status") != "online") return false;
            for (const QString unit : {"pty", "net"}) {
                if (watcher_->last.value("tavrion/" + unit + "/availability") != "online") return false;
                const auto& d = sim(unit).device().state();
                for (int n = 0; n < 4; ++n)
                    if (watcher_->last.value(QStringLiteral("tavrion/%1/route/%2").arg(unit).arg(QChar('A' + n)))
                        != QByteArray::number(d.routes[std::size_t(n)]))
                        return false;
                if (watcher_->json("tavrion/" + unit + "/state").value("firmware") != "1.06") return false;
                // The configs follow the state; the ones sent before the firmware was read lack it.
                for (const QString& e : kDiscovery)
                    if (watcher_->json(config_topic(unit, e)).value("device").toObject().value("sw_version") != "1.06") return false;
            }
            return true;
        }, ms);
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(kBroker)) QSKIP("the mosquitto broker is not installed (tools/install-deps.sh)");
        QVERIFY(dir_.isValid());
        QVERIFY(broker_.start(dir_.path()));
        QDir().mkpath(path("serial"));
        QVERIFY(pty_.open_serial(path("serial/COM1")));
        QVERIFY(net_.listen_tcp(QHostAddress::LocalHost, 0));
        watcher_ = std::make_unique<Watcher>(broker_.port(), QStringList{"tavrion/#", "homeassistant/#"});
        QVERIFY(QTest::qWaitFor([&] { return watcher_->client.is_connected(); }, kWaitMs));
        // A config this hub left for a unit that is no longer in its units file.
        watcher_->client.publish(config_topic("attic", "switch/power"),
                                 R"({"device":{"identifiers":["tavrion_attic"],"via_device":"tavrion_hub_tavrion"}})", true);
        QVERIFY(watcher_->wait_for(config_topic("attic", "switch/power")));
        // A command someone left retained is an old one: the hub must not carry it out when it
        // subscribes (nor at every reconnect).
        watcher_->client.publish("tavrion/net/lock/set", "on", true);
        QVERIFY(watcher_->wait_for("tavrion/net/lock/set"));
        const QString units = units_file("hub", "hub:secret\n", QJsonArray{
            QJsonObject{{"id", "pty"}, {"name", "Serial room"}, {"serial", path("serial/COM1")},
                        {"inputs", QJsonObject{{"1", "Lectern PC"}, {"3", "Cam {{ x }} 50%"}}}, {"outputs", QJsonObject{{"A", "Projector"}}}},
            QJsonObject{{"id", "net"}, {"name", "TCP room"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(net_.tcp_port())}}});
        http_port_ = tavrion_test::start_hub(hub_, units, path("hub.token"));
        QVERIFY(http_port_);
        QVERIFY(everything_published(kWaitMs));
        QTest::qWait(200);
        QVERIFY(!net_.received_commands().contains("LCK001"));
        QCOMPARE(watcher_->last.value("tavrion/net/lock"), QByteArray("off"));
        watcher_->client.publish("tavrion/net/lock/set", "", true); // the broker forgets it
    }

    void cleanupTestCase()
    {
        if (hub_.state() == QProcess::NotRunning) return;
        hub_.terminate();
        QVERIFY(hub_.waitForFinished(30000));
        QCOMPARE(hub_.exitCode(), 0);
        // Left cleanly: the hub said so itself.
        QVERIFY(watcher_->wait_for("tavrion/status", "offline", 5000));
        broker_.stop();
    }

    void cleanup()
    {
        pty_.apply_control(QStringLiteral("reset"));
        net_.apply_control(QStringLiteral("reset"));
    }

    void discovery_configs_data()
    {
        QTest::addColumn<QString>("entity");
        QTest::addColumn<QStringList>("keys");      // besides those every entity has
        QTest::addColumn<QString>("state_topic");   // under tavrion/UNIT/; "" = none
        QTest::addColumn<QString>("command_topic");
        const QStringList select{"name", "options", "state_topic", "command_topic"};
        const QStringList toggle{"name", "state_topic", "command_topic", "payload_on", "payload_off", "state_on", "state_off"};
        for (const char* o : {"a", "b", "c", "d"}) {
            const QString out = QString(QLatin1String(o)).toUpper();
            QTest::newRow(o) << QStringLiteral("select/route_") + o << select << "route/" + out << "route/" + out + "/set";
        }
        QTest::newRow("mode") << "select/mode" << select << "mode" << "mode/set";
        QTest::newRow("resolution") << "select/resolution" << select << "resolution" << "resolution/set";
        QTest::newRow("power") << "switch/power" << toggle << "power" << "power/set";
        QTest::newRow("lock") << "switch/lock" << toggle << "lock" << "lock/set";
        QTest::newRow("sound") << "switch/sound" << toggle << "mute" << "mute/set";
        QTest::newRow("preset") << "button/preset_3" << QStringList{"name", "payload_press"} << "" << "preset/recall";
        QTest::newRow("firmware") << "sensor/firmware" << QStringList{"name", "value_template"} << "state" << "";
    }
    void discovery_configs()
    {
        QFETCH(QString, entity);
        QFETCH(QStringList, keys);
        QFETCH(QString, state_topic);
        QFETCH(QString, command_topic);
        for (const QString unit : {"pty", "net"}) {
            QJsonParseError pe;
            const QJsonObject c = QJsonDocument::fromJson(watcher_->last.value(config_topic(unit, entity)), &pe).object();
            QCOMPARE(pe.error, QJsonParseError::NoError);
            for (const QString& k : keys) QVERIFY2(c.contains(k), qPrintable(k));
            QCOMPARE(c.value("unique_id").toString(), "tavrion_" + unit + "_" + entity.section('/', 1));
            QCOMPARE(c.value("availability_mode").toString(), QString("all"));
            QCOMPARE(c.value("availability").toArray(),
                     (QJsonArray{QJsonObject{{"topic", "tavrion/status"}}, QJsonObject{{"topic", "tavrion/" + unit + "/availability"}}}));
            const QJsonObject device = c.value("device").toObject();
            QCOMPARE(device.value("identifiers").toArray(), QJsonArray{"tavrion_" + unit});
            QCOMPARE(device.value("name").toString(), QString(unit == "pty" ? "Serial room" : "TCP room"));
            QCOMPARE(device.value("model").toString(), QString("KV-7720"));
            QCOMPARE(device.value("sw_version").toString(), QString("1.06"));
            QCOMPARE(device.value("via_device").toString(), QString("tavrion_hub_tavrion"));
            QCOMPARE(c.value("state_topic").toString(), state_topic.isEmpty() ? QString() : "tavrion/" + unit + "/" + state_topic);
            QCOMPARE(c.value("command_topic").toString(), command_topic.isEmpty() ? QString() : "tavrion/" + unit + "/" + command_topic);
            if (entity.startsWith("select/route")) QCOMPARE(c.value("options").toArray().size(), 4);
            // The room's names: options "1 Lectern PC", where a unit gives them; a name never
            // ends the template it stands in.
            if (entity == "select/route_a") {
                const bool named = unit == "pty";
                QCOMPARE(c.value("name").toString(), QString(named ? "Output A Projector" : "Output A"));
                const QJsonArray options = named ? QJsonArray{"1 Lectern PC", "Input 2", "3 Cam {{ x }} 50%", "Input 4"}
                                                 : QJsonArray{"Input 1", "Input 2", "Input 3", "Input 4"};
                QCOMPARE(c.value("options").toArray(), options);
                if (named) QVERIFY(!c.value("value_template").toString().mid(3).chopped(3).contains("}}"));
            }
        }
        // The unit that left the units file lost its config.
        QVERIFY(watcher_->wait_for(config_topic("attic", "switch/power"), {}, 0));
        QVERIFY(QTest::qWaitFor([&] { return watcher_->last.value(config_topic("attic", "switch/power")).isEmpty(); }, kWaitMs));
    }

    // A subscriber that comes later gets the units' values as retained messages.
    void retained_values_match_units()
    {
        Watcher late(broker_.port(), {"tavrion/+/route/+", "tavrion/+/state", "tavrion/+/power", "tavrion/+/lock"});
        for (const QString unit : {"pty", "net"}) {
            const auto& d = sim(unit).device().state();
            for (int n = 0; n < 4; ++n) {
                const QString t = QStringLiteral("tavrion/%1/route/%2").arg(unit).arg(QChar('A' + n));
                QVERIFY2(late.wait_for(t, QByteArray::number(d.routes[std::size_t(n)])), qPrintable(t));
                QVERIFY(late.retained.value(t));
            }
            QVERIFY(late.wait_for("tavrion/" + unit + "/state"));
            const QJsonObject state = late.json("tavrion/" + unit + "/state");
            QCOMPARE(state.value("id").toString(), unit);
            QCOMPARE(state.value("routes").toObject().value("D").toInt(), d.routes[3]);
            QVERIFY(late.wait_for("tavrion/" + unit + "/power", d.power_on ? "on" : "standby"));
            QVERIFY(late.wait_for("tavrion/" + unit + "/lock", d.locked ? "on" : "off"));
        }
    }

    // A set topic's command on the wire, and the value's topic following within a second.
    void set_topics_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("wire"); // ending in " ...": only its start
        QTest::addColumn<QString>("follows");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("verb"); // what the audit trail names
        QTest::newRow("route B on the pty") << "pty" << "route/B/set" << QByteArray("3") << "OUT002 INP999 INP003" << "route/B" << QByteArray("3") << "route B 3";
        QTest::newRow("route D over TCP") << "net" << "route/D/set" << QByteArray("1") << "OUT004 INP999 INP001" << "route/D" << QByteArray("1") << "route D 1";
        QTest::newRow("lock") << "net" << "lock/set" << QByteArray("on") << "LCK001" << "lock" << QByteArray("on") << "lock on";
        QTest::newRow("mute") << "pty" << "mute/set" << QByteArray("on") << "AUD000" << "mute" << QByteArray("on") << "mute on";
        QTest::newRow("route by the input's name") << "pty" << "route/B/set" << QByteArray("lectern pc") << "OUT002 INP999 INP001" << "route/B" << QByteArray("1") << "route B 1";
        QTest::newRow("route by the option") << "pty" << "route/C/set" << QByteArray("3 Cam {{ x }} 50%") << "OUT003 INP999 INP003" << "route/C" << QByteArray("3") << "route C 3";
        QTest::newRow("preset recall") << "net" << "preset/recall" << QByteArray("2") << "CAL002 ..." << "" << QByteArray() << "preset recall 2";
    }
    void set_topics()
    {
        QFETCH(QString, unit);
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QString, wire);
        QFETCH(QString, follows);
        QFETCH(QByteArray, value);
        QFETCH(QString, verb);
        pty_.clear_received();
        net_.clear_received();
        const QString result = "tavrion/" + unit + "/result";
        watcher_->last.remove(result);
        const qint64 sent = watcher_->clock.elapsed();
        watcher_->publish("tavrion/" + unit + "/" + topic, payload);
        QVERIFY(watcher_->wait_for(result));
        const QJsonObject r = watcher_->json(result);
        QCOMPARE(r.value("status").toInt(), 200);
        QCOMPARE(r.value("id").toString(), topic);
        QCOMPARE(r.value("results").toArray().size(), 1);
        const QString on_wire = sim(unit).received_commands().join(' ');
        if (wire.endsWith(" ...")) QVERIFY2(on_wire.startsWith(wire.chopped(4)), qPrintable(on_wire));
        else QCOMPARE(on_wire, wire);
        // The audit trail has it, with the topic, before the result was sent.
        QFile audit(path("tavrion-hub-audit.jsonl"));
        QVERIFY(audit.open(QIODevice::ReadOnly));
        QJsonObject entry; // the newest of MQTT (a poll may have found the simulators reset since)
        for (const QByteArray& line : audit.readAll().trimmed().split('\n'))
            if (const QJsonObject e = QJsonDocument::fromJson(line).object(); e.value("via") == "mqtt") entry = e;
        QCOMPARE(entry.value("via").toString(), QString("mqtt"));
        QCOMPARE(entry.value("who").toString(), "tavrion/" + unit + "/" + topic);
        QCOMPARE(entry.value("unit").toString(), unit);
        QCOMPARE(entry.value("commands").toArray(), (QJsonArray{QJsonObject{{"what", verb}, {"outcome", "answered"}}}));
        if (follows.isEmpty()) return;
        const QString t = "tavrion/" + unit + "/" + follows;
        QVERIFY(watcher_->wait_for(t, value, 1000));
        QVERIFY2(watcher_->at.value(t) - sent <= 1000, qPrintable(QString::number(watcher_->at.value(t) - sent)));
    }

    void http_change_shows_on_mqtt()
    {
        QFile token(path("hub.token"));
        QVERIFY(token.open(QIODevice::ReadOnly));
        QNetworkAccessManager http;
        QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/api/units/net/run").arg(http_port_)));
        request.setRawHeader("Authorization", "Bearer " + token.readAll().trimmed());
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        const int version = watcher_->json("tavrion/net/state").value("version").toInt();
        QNetworkReply* reply = http.post(request, R"({"commands": ["route C 1"]})");
        QVERIFY(QTest::qWaitFor([&] { return reply->isFinished(); }, kWaitMs));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        const qint64 answered = watcher_->clock.elapsed();
        delete reply;
        QVERIFY(watcher_->wait_for("tavrion/net/route/C", "1", 1000));
        QVERIFY(watcher_->at.value("tavrion/net/route/C") - answered <= 1000);
        QVERIFY(watcher_->json("tavrion/net/state").value("version").toInt() > version);
    }

    // Refused before any unit hears of it: an error result with the request's id.
    void refusals_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<int>("status");
        // MQTT commands act as an operator unless the settings say otherwise.
        QTest::newRow("run: EDID, beyond the role") << "run" << QByteArray(R"({"id": "e", "commands": ["lock on", "edid 6ch"]})") << QJsonValue("e") << 403;
        QTest::newRow("run: preset save, beyond the role") << "run" << QByteArray(R"({"id": "s", "commands": ["preset save 1"]})") << QJsonValue("s") << 403;
        QTest::newRow("input out of range") << "route/B/set" << QByteArray("7") << QJsonValue("route/B/set") << 400;
        QTest::newRow("words after the value") << "route/B/set" << QByteArray("3 # x") << QJsonValue("route/B/set") << 400;
        QTest::newRow("power maybe") << "power/set" << QByteArray("maybe") << QJsonValue("power/set") << 400;
        QTest::newRow("unknown resolution") << "resolution/set" << QByteArray("640x480@60") << QJsonValue("resolution/set") << 400;
        QTest::newRow("resolution out of range") << "resolution/set" << QByteArray("99") << QJsonValue("resolution/set") << 400;
        QTest::newRow("preset 5") << "preset/recall" << QByteArray("5") << QJsonValue("preset/recall") << 400;
        QTest::newRow("run: a file verb") << "run" << QByteArray(R"({"id": "b1", "commands": ["backup /tmp/x.json"]})") << QJsonValue("b1") << 400;
        QTest::newRow("run: a usage error") << "run" << QByteArray(R"({"id": 7, "commands": ["lock on", "route E 3"]})") << QJsonValue(7) << 400;
        QTest::newRow("run: no commands") << "run" << QByteArray(R"({"id": "n", "commands": []})") << QJsonValue("n") << 400;
        QTest::newRow("run: not JSON") << "run" << QByteArray("route B 3") << QJsonValue() << 400;
    }
    void refusals()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QJsonValue, id);
        QFETCH(int, status);
        pty_.clear_received();
        net_.clear_received();
        watcher_->last.remove("tavrion/pty/result");
        watcher_->publish("tavrion/pty/" + topic, payload);
        QVERIFY(watcher_->wait_for("tavrion/pty/result"));
        const QJsonObject r = watcher_->json("tavrion/pty/result");
        QCOMPARE(r.value("status").toInt(), status);
        QVERIFY(!r.value("error").toString().isEmpty());
        QCOMPARE(r.value("id"), id.isUndefined() ? QJsonValue(QJsonValue::Null) : id);
        QVERIFY(r.value("results").toArray().isEmpty());
        QVERIFY(wires_quiet());
    }

    void run_topic_answers_as_the_api()
    {
        net_.clear_received();
        watcher_->last.remove("tavrion/net/result");
        watcher_->publish("tavrion/net/run", R"({"id": "r1", "commands": ["lock on", "route A 4"]})");
        QVERIFY(watcher_->wait_for("tavrion/net/result"));
        const QJsonObject r = watcher_->json("tavrion/net/result");
        QCOMPARE(r.value("id").toString(), QString("r1"));
        QCOMPARE(r.value("status").toInt(), 200);
        QCOMPARE(r.value("results").toArray().size(), 2);
        QCOMPARE(r.value("state").toObject().value("routes").toObject().value("A").toInt(), 4);
        QCOMPARE(net_.received_commands().join(' '), QString("LCK001 OUT001 INP999 INP004"));
    }

    // Twenty runs at once: each is carried out and answered, or answered 503 with nothing sent.
    void a_burst_of_runs_is_all_answered()
    {
        QVERIFY(net_.apply_control(QStringLiteral("delay 50 LCK"))); // the runs wait together
        net_.clear_received();
        watcher_->all.remove("tavrion/net/result");
        for (int i = 0; i < 20; ++i)
            watcher_->publish("tavrion/net/run", QStringLiteral(R"({"id": %1, "commands": ["lock %2"]})").arg(i).arg(i % 2 ? "off" : "on").toUtf8());
        QVERIFY(QTest::qWaitFor([&] { return watcher_->all.value("tavrion/net/result").size() >= 20; }, kWaitMs));
        QSet<int> ids;
        int carried_out = 0;
        for (const QByteArray& payload : watcher_->all.value("tavrion/net/result")) {
            const QJsonObject r = QJsonDocument::fromJson(payload).object();
            ids << r.value("id").toInt(-1);
            const int status = r.value("status").toInt();
            QVERIFY2(status == 200 || (status == 503 && r.value("error").toString().contains("wait")), payload.constData());
            carried_out += status == 200;
        }
        QCOMPARE(ids.size(), 20);
        // Eight waiting (and one running, once the unit took it): the rest were refused.
        QVERIFY2(carried_out >= 8 && carried_out < 20, qPrintable(QString::number(carried_out)));
        QCOMPARE(int(net_.received_commands().filter(QRegularExpression("^LCK00[01]$")).size()), carried_out);
    }

    void broker_restart_republishes_everything()
    {
        broker_.stop();
        QVERIFY(QTest::qWaitFor([&] { return !watcher_->client.is_connected(); }, kWaitMs));
        watcher_->last.clear();
        QElapsedTimer t;
        t.start();
        QVERIFY(broker_.start(dir_.path()));
        QVERIFY(everything_published(10000));
        qInfo("republished %lld ms after the broker was started again", t.elapsed());
    }

    void wrong_password_is_said_once()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString units = units_file("wrong", "hub:wrong\n", QJsonArray{QJsonObject{
            {"id", "gone"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())}}});
        closed.close();
        QProcess hub;
        QVERIFY(tavrion_test::start_hub(hub, units, path("wrong.token")));
        QTest::qWait(4500); // attempts at 0, 1 and 3 s
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        const QString log = QString::fromLocal8Bit(hub.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("MQTT broker")), 1);
        QVERIFY2(log.contains(QStringLiteral("not authorised"), Qt::CaseInsensitive), qPrintable(log));
    }

    // The hub tells the broker the largest packet it takes. A broker that stops acknowledging has
    // at most the queue's bound waiting for it (the rest dropped, said once); once it reads again
    // the state reaches it all the same.
    void a_broker_that_stops_reading()
    {
        FakeBroker fake;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        write_file(path("fake.cred"), "hub:secret\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QString units = tavrion_test::write_units(
            path("fake.json"), QJsonArray{QJsonObject{{"id", "gone"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())}}}, 0,
            {{"mqtt", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(fake.server.serverPort())}, {"credentials", "fake.cred"}}}});
        closed.close();
        qputenv("TAVRION_HUB_MQTT_QUEUE_BYTES", "4096"); // less than the configs of one unit
        QProcess hub;
        const bool started = tavrion_test::start_hub(hub, units, path("fake.token"));
        qunsetenv("TAVRION_HUB_MQTT_QUEUE_BYTES");
        QVERIFY(started);
        QByteArray log;
        QVERIFY(QTest::qWaitFor([&] { return (log += hub.readAllStandardError()).contains("messages are dropped"); }, kWaitMs));
        QCOMPARE(fake.connects.size(), 1);
        QCOMPARE(version_and_packet_limit(fake.connects[0]), (QPair<int, quint32>{5, 64 * 1024 + 4096}));
        QVERIFY(!fake.topics.contains("homeassistant/sensor/tavrion_gone/firmware/config"));
        // It reads again, in a session of its own: everything arrives, a bound at a time.
        fake.acks = true;
        fake.client->abort();
        QVERIFY(QTest::qWaitFor([&] { return fake.topics.contains("homeassistant/sensor/tavrion_gone/firmware/config"); }, kWaitMs));
        QVERIFY(fake.topics.contains("tavrion/gone/state") && fake.topics.contains("tavrion/gone/availability"));
        QCOMPARE(version_and_packet_limit(fake.connects.last()).second, quint32(64 * 1024 + 4096));
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        QCOMPARE(hub.exitCode(), 0);
    }

    // A broker of MQTT 3.1.1 only refuses the hub's MQTT 5: the hub says so once and connects
    // with 3.1.1.
    void a_broker_of_mqtt_3_1_1()
    {
        FakeBroker fake;
        fake.v311_only = true;
        fake.acks = true;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString units = tavrion_test::write_units(
            path("old.json"), QJsonArray{QJsonObject{{"id", "gone"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())}}}, 0,
            {{"mqtt", QJsonObject{{"url", QStringLiteral("mqtt://127.0.0.1:%1").arg(fake.server.serverPort())}}}});
        closed.close();
        QProcess hub;
        QVERIFY(tavrion_test::start_hub(hub, units, path("old.token")));
        QVERIFY(QTest::qWaitFor([&] { return fake.topics.contains("tavrion/gone/state"); }, kWaitMs));
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        QCOMPARE(fake.connects.size(), 2);
        QCOMPARE(version_and_packet_limit(fake.connects[0]).first, 5);
        QCOMPARE(version_and_packet_limit(fake.connects[1]).first, 4);
        const QString log = QString::fromLocal8Bit(hub.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("speaks no MQTT 5")), 1);
    }

    // The options on the command line and in the units file, merged and checked.
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QJsonObject>("file");
        QTest::addColumn<QString>("error");    // a part of the error; "" = accepted
        QTest::addColumn<QString>("endpoint"); // host:port tls user/password prefix discovery role
        const QString cred = dir_.filePath("options.cred");
        write_file(cred, "ops:pa:ss\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QString open_cred = dir_.filePath("open.cred");
        write_file(open_cred, "ops:x\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QTest::newRow("none") << QStringList{} << QJsonObject{} << "" << "";
        QTest::newRow("plain") << QStringList{"--mqtt", "mqtt://broker.lan"} << QJsonObject{} << "" << "broker.lan:1883 0 / tavrion homeassistant operator";
        QTest::newRow("tls") << QStringList{"--mqtt=mqtts://broker.lan"} << QJsonObject{} << "" << "broker.lan:8883 1 / tavrion homeassistant operator";
        QTest::newRow("port, prefixes") << QStringList{"--mqtt", "mqtt://10.0.0.2:2883", "--mqtt-prefix", "site/a", "--mqtt-discovery-prefix", "none"}
                                        << QJsonObject{} << "" << "10.0.0.2:2883 0 / site/a  operator";
        QTest::newRow("credentials") << QStringList{"--mqtt", "mqtt://b", "--mqtt-credentials", cred} << QJsonObject{} << "" << "b:1883 0 ops/pa:ss tavrion homeassistant operator";
        QTest::newRow("from the file") << QStringList{} << QJsonObject{{"url", "mqtt://f"}, {"prefix", "p"}} << "" << "f:1883 0 / p homeassistant operator";
        QTest::newRow("command line wins") << QStringList{"--mqtt", "mqtt://c"} << QJsonObject{{"url", "mqtt://f"}, {"prefix", "p"}} << "" << "c:1883 0 / p homeassistant operator";
        QTest::newRow("http") << QStringList{"--mqtt", "http://b"} << QJsonObject{} << "mqtt://HOST" << "";
        QTest::newRow("no host") << QStringList{"--mqtt", "mqtt://"} << QJsonObject{} << "mqtt://HOST" << "";
        QTest::newRow("login in the URL") << QStringList{"--mqtt", "mqtt://u:p@b"} << QJsonObject{} << "mqtt://HOST" << "";
        QTest::newRow("ca without tls") << QStringList{"--mqtt", "mqtt://b", "--mqtt-ca", cred} << QJsonObject{} << "mqtts" << "";
        QTest::newRow("wildcard prefix") << QStringList{"--mqtt", "mqtt://b", "--mqtt-prefix", "a/#"} << QJsonObject{} << "not a topic prefix" << "";
        QTest::newRow("empty level") << QStringList{"--mqtt", "mqtt://b", "--mqtt-discovery-prefix", "ha/"} << QJsonObject{} << "not a topic prefix" << "";
        QTest::newRow("options without URL") << QStringList{"--mqtt-prefix", "x"} << QJsonObject{} << "need --mqtt" << "";
        QTest::newRow("credentials others read") << QStringList{"--mqtt", "mqtt://b", "--mqtt-credentials", open_cred} << QJsonObject{} << "owner only" << "";
        QTest::newRow("no credentials file") << QStringList{"--mqtt", "mqtt://b", "--mqtt-credentials", cred + "x"} << QJsonObject{} << "cannot be read" << "";
        QTest::newRow("role from the file") << QStringList{} << QJsonObject{{"url", "mqtt://f"}, {"role", "admin"}} << "" << "f:1883 0 / tavrion homeassistant admin";
        QTest::newRow("role option") << QStringList{"--mqtt", "mqtt://c", "--mqtt-role", "viewer"} << QJsonObject{} << "" << "c:1883 0 / tavrion homeassistant viewer";
        QTest::newRow("no such role") << QStringList{"--mqtt", "mqtt://c", "--mqtt-role", "root"} << QJsonObject{} << "no role \"root\"" << "";
        QTest::newRow("unknown file key") << QStringList{} << QJsonObject{{"host", "b"}} << "unknown key" << "";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QJsonObject, file);
        QFETCH(QString, error);
        QFETCH(QString, endpoint);
        QString why;
        const auto cl = parse_options(args, why);
        QVERIFY2(cl, qPrintable(why));
        const QString units = tavrion_test::write_units(path("options.json"), QJsonArray{QJsonObject{{"id", "x"}, {"tcp", "10.0.0.9"}}}, 0,
                                                        file.isEmpty() ? QJsonObject{} : QJsonObject{{"mqtt", file}});
        const auto setup = read_units_file(units, why);
        if (!setup) {
            QVERIFY2(why.contains(error), qPrintable(why));
            return;
        }
        const auto s = mqtt_settings(cl->mqtt, setup->mqtt, why);
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error), qPrintable(why));
        QCOMPARE(bool(s), !endpoint.isEmpty());
        if (!s) return;
        const MqttEndpoint& e = s->endpoint;
        QCOMPARE(QStringLiteral("%1:%2 %3 %4/%5 %6 %7 %8").arg(e.host).arg(e.port).arg(int(e.tls)).arg(e.user, e.password, s->prefix, s->discovery_prefix, role_name(s->role)),
                 endpoint);
        QCOMPARE(e.will_topic, s->prefix + "/status");
    }
};

QTEST_GUILESS_MAIN(TestHubMqtt)
#include "test_hub_mqtt.moc"
