// MqttBridge: the units' topics, the commands that arrive on the broker, and the discovery configs.
#include "hub/mqtt_bridge.h"
#include "hub/hub_log.h"

#include "protocol/command_catalogue.h"
#include "hub/mqtt_client.h"
#include "hub/run_request.h"
#include "hub/users.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <algorithm>
#include <cstdio>

namespace tavrion::hub {

namespace {

const char* const kOutputs[] = {"A", "B", "C", "D"};

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

// What each set topic takes: the payloads allowed and the verb they become.
struct Setter {
    const char* name;
    QStringList choices; // empty: resolution, checked against the list
    const char* verb;
};
const Setter kSetters[] = {
    {"power", {"on", "standby"}, "power"},
    {"mode", {"matrix", "dual", "tv-wall"}, "mode"},
    {"lock", {"on", "off"}, "lock"},
    {"mute", {"on", "off"}, "mute"},
    {"resolution", {}, "resolution"},
};
const QStringList kOneToFour{"1", "2", "3", "4"};

QString output_label(const QString& mode, int n)
{
    static const char* const dual[] = {"AL", "AR", "BL", "BR"};
    if (mode == QLatin1String("dual")) return QStringLiteral("Output ") + QLatin1String(dual[n]);
    if (mode == QLatin1String("tv-wall")) return QStringLiteral("Wall ") + QLatin1String(kOutputs[n]);
    return QStringLiteral("Output ") + QLatin1String(kOutputs[n]);
}

} // namespace

struct MqttBridge::Unit {
    QString id;
    QString name;
    std::optional<UnitState> state; // nothing until the unit's thread tells its first
    QStringList inputs, outputs; // the room's names; empty where none
};

namespace {

// A Home Assistant option for input n (0-3): "1 Lectern PC" where the room names it, else "Input 1".
QString input_option(const QStringList& names, int n)
{
    const QString name = names.value(n);
    return name.isEmpty() ? QStringLiteral("Input %1").arg(n + 1) : QStringLiteral("%1 %2").arg(n + 1).arg(name);
}

// A string as a template literal: JSON's quoting (which Jinja reads), braces and '%' escaped so
// that no name can end the template or start a statement.
QString template_literal(const QString& text)
{
    QString q = QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
    q = q.mid(1, q.size() - 2);
    return q.replace(QLatin1Char('{'), QStringLiteral("\\u007b")).replace(QLatin1Char('}'), QStringLiteral("\\u007d"))
        .replace(QLatin1Char('%'), QStringLiteral("\\u0025"));
}

// "{{ {KEY: VALUE, ...}[value] | default(value) }}": a lookup with the value itself where it misses.
QString lookup_template(const QList<QPair<QString, QString>>& pairs)
{
    QStringList items;
    for (const auto& p : pairs) items << template_literal(p.first) + QLatin1Char(':') + template_literal(p.second);
    return QStringLiteral("{{ {") + items.join(QLatin1Char(',')) + QStringLiteral("}[value] | default(value) }}");
}

// The input a set topic names: its number, its name or its option, as 1-4; 0 for none.
int input_named(const QStringList& names, const QString& value)
{
    for (int n = 0; n < 4; ++n)
        if (value == QString::number(n + 1) || value.compare(input_option(names, n), Qt::CaseInsensitive) == 0
            || (!names.value(n).isEmpty() && value.compare(names.value(n), Qt::CaseInsensitive) == 0))
            return n + 1;
    return 0;
}

} // namespace

MqttBridge::MqttBridge(MqttSettings settings, std::vector<UnitInfo> units, QStringList resolutions,
                       ResolutionNames names, Submit submit, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), resolutions_(std::move(resolutions)),
      names_(std::move(names)), submit_(std::move(submit))
{
    for (const UnitInfo& u : units) units_.push_back({u.id, u.name, {}, u.inputs, u.outputs});
    hub_id_ = QStringLiteral("tavrion_hub_") + QString(settings_.prefix).replace(QLatin1Char('/'), QLatin1Char('_'));
}

MqttBridge::~MqttBridge() { stop(); }

bool MqttBridge::start(QString& error)
{
    client_ = new MqttClient(this);
    connect(client_, &MqttClient::connected, this, &MqttBridge::on_connected);
    connect(client_, &MqttClient::disconnected, this, [this] { on_problem(QStringLiteral("the connection was lost")); });
    connect(client_, &MqttClient::problem, this, &MqttBridge::on_problem);
    connect(client_, &MqttClient::message, this, &MqttBridge::on_message);
    connect(client_, &MqttClient::backlogged, this, [this](qint64 queued) {
        hub_log::warning(hub_log::Area::mqtt, QStringLiteral("MQTT broker %1:%2: %3 KiB wait for its acknowledgement: messages are dropped until it reads again")
                     .arg(settings_.endpoint.host).arg(settings_.endpoint.port).arg(queued / 1024));
    });
    // What was dropped is published again: only the topics whose last message did not go out.
    connect(client_, &MqttClient::drained, this, [this](qint64 dropped) {
        hub_log::notice(hub_log::Area::mqtt, QStringLiteral("MQTT broker %1:%2: reading again; %3 messages were dropped, the state is published again")
                     .arg(settings_.endpoint.host).arg(settings_.endpoint.port).arg(dropped));
        publish_all();
    });
    const QString p = settings_.prefix;
    for (const char* t : {"/+/+/set", "/+/route/+/set", "/+/preset/recall", "/+/run"}) client_->subscribe(p + QLatin1String(t));
    if (!settings_.discovery_prefix.isEmpty()) client_->subscribe(settings_.discovery_prefix + QStringLiteral("/+/+/+/config"));
    MqttEndpoint e = settings_.endpoint;
    e.client_id = QStringLiteral("tavrion-hub-%1-%2").arg(QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
    // For tests: a smaller queue for a broker that stops reading.
    bool number = false;
    const qint64 queue = qEnvironmentVariable("TAVRION_HUB_MQTT_QUEUE_BYTES").toLongLong(&number);
    if (number && queue > 0) e.max_queued_bytes = queue;
    return client_->start(e, error);
}

void MqttBridge::stop()
{
    if (stopped_ || !client_) return;
    stopped_ = true;
    client_->publish(settings_.prefix + QStringLiteral("/status"), "offline", true);
    client_->stop();
}

QString MqttBridge::topic(const Unit& unit, const QString& rest) const
{
    return settings_.prefix + QLatin1Char('/') + unit.id + QLatin1Char('/') + rest;
}

MqttBridge::Unit* MqttBridge::find(const QString& id)
{
    for (Unit& u : units_)
        if (u.id == id) return &u;
    return nullptr;
}

void MqttBridge::on_problem(const QString& reason)
{
    // A broker that stays away, or refuses the login, is said once, not at every attempt.
    if (reason == last_problem_) return;
    last_problem_ = reason;
    const MqttEndpoint& e = settings_.endpoint;
    hub_log::warning(hub_log::Area::mqtt, QStringLiteral("MQTT broker %1:%2: %3").arg(e.host).arg(e.port).arg(reason));
}

bool MqttBridge::connected() const { return client_ && client_->is_connected(); }

void MqttBridge::on_connected()
{
    const MqttEndpoint& e = settings_.endpoint;
    hub_log::info(hub_log::Area::mqtt, QStringLiteral("MQTT broker %1:%2: connected").arg(e.host).arg(e.port));
    last_problem_.clear();
    // A new session: the broker may have lost every retained topic, so all of it goes out again.
    sent_.clear();
    publish_all();
}

void MqttBridge::publish_all()
{
    put(settings_.prefix + QStringLiteral("/status"), "online");
    if (!settings_.discovery_prefix.isEmpty()) {
        QJsonObject device{{"identifiers", QJsonArray{hub_id_}}, {"name", QStringLiteral("Tavrion hub ") + settings_.prefix},
                           {"manufacturer", "Tavrion"}, {"model", "tavrion-hub"}};
        QJsonObject config{{"name", "Connected"}, {"unique_id", hub_id_ + QStringLiteral("_status")},
                           {"device_class", "connectivity"}, {"entity_category", "diagnostic"},
                           {"state_topic", settings_.prefix + QStringLiteral("/status")},
                           {"payload_on", "online"}, {"payload_off", "offline"}, {"device", device}};
        put(settings_.discovery_prefix + QStringLiteral("/binary_sensor/") + hub_id_ + QStringLiteral("/status/config"), compact(config));
    }
    for (Unit& u : units_) publish_unit(u);
}

void MqttBridge::unit_changed(const UnitState& state)
{
    Unit* u = find(QString::fromStdString(state.id));
    if (!u) return;
    u->state = state;
    publish_unit(*u);
}

// Retained, and only when it differs from what this session sent last.
void MqttBridge::put(const QString& topic, const QByteArray& payload)
{
    if (!client_ || !client_->is_connected()) return;
    auto it = sent_.constFind(topic);
    if (it != sent_.constEnd() && *it == payload) return;
    // A message dropped for a broker that does not read is not taken as sent: it goes again.
    if (client_->publish(topic, payload, true)) sent_.insert(topic, payload);
}

void MqttBridge::publish_unit(Unit& u)
{
    if (!u.state) return; // the unit's thread has not told its first state yet
    const UnitState& state = *u.state;
    put(topic(u, QStringLiteral("availability")), state.link == LinkState::Up ? "online" : "offline");
    put(topic(u, QStringLiteral("state")), compact(unit_json(state, names_.get())));
    const verbs::StatusWords w = state.status ? verbs::status_words(*state.status, names_.get()) : verbs::StatusWords{};
    const std::pair<const char*, const std::string*> simple[] = {
        {"power", &w.power}, {"mode", &w.mode}, {"lock", &w.lock}, {"mute", &w.mute}, {"resolution", &w.resolution},
    };
    for (const auto& [name, value] : simple)
        if (!value->empty()) put(topic(u, QLatin1String(name)), QByteArray::fromStdString(*value));
    for (std::size_t n = 0; n < 4; ++n)
        if (!w.routes[n].empty())
            put(topic(u, QStringLiteral("route/") + QLatin1String(kOutputs[n])), QByteArray::fromStdString(w.routes[n]));
    if (!settings_.discovery_prefix.isEmpty()) publish_discovery(u, w);
}

// One device per unit with its entities; their names follow the mode, sw_version the firmware.
void MqttBridge::publish_discovery(const Unit& u, const verbs::StatusWords& w)
{
    const QString node = QStringLiteral("tavrion_") + u.id;
    QJsonObject device{{"identifiers", QJsonArray{node}}, {"name", u.name}, {"model", "KV-7720"}, {"via_device", hub_id_}};
    if (!w.firmware.empty()) device[QStringLiteral("sw_version")] = QString::fromStdString(w.firmware);
    const QJsonArray availability{QJsonObject{{"topic", settings_.prefix + QStringLiteral("/status")}},
                                  QJsonObject{{"topic", topic(u, QStringLiteral("availability"))}}};
    auto send = [&](const char* component, const QString& object, QJsonObject config) {
        config[QStringLiteral("unique_id")] = node + QLatin1Char('_') + object;
        config[QStringLiteral("availability")] = availability;
        config[QStringLiteral("availability_mode")] = QStringLiteral("all");
        config[QStringLiteral("device")] = device;
        put(settings_.discovery_prefix + QLatin1Char('/') + QLatin1String(component) + QLatin1Char('/') + node + QLatin1Char('/')
                + object + QStringLiteral("/config"),
            compact(config));
    };
    const QString mode = QString::fromStdString(w.mode);
    // Named inputs are offered as "1 Lectern PC"; the state (a number) and the command map to them.
    QJsonArray options;
    QList<QPair<QString, QString>> to_option, to_number;
    for (int n = 0; n < 4; ++n) {
        options << input_option(u.inputs, n);
        to_option << qMakePair(QString::number(n + 1), input_option(u.inputs, n));
        to_number << qMakePair(input_option(u.inputs, n), QString::number(n + 1));
    }
    const bool named = std::any_of(u.inputs.begin(), u.inputs.end(), [](const QString& s) { return !s.isEmpty(); });
    for (int n = 0; n < 4; ++n) {
        const QString route = QStringLiteral("route/") + QLatin1String(kOutputs[n]);
        const QString output = u.outputs.value(n);
        send("select", QStringLiteral("route_") + QString(QLatin1String(kOutputs[n])).toLower(),
             {{"name", output_label(mode, n) + (output.isEmpty() ? QString() : QLatin1Char(' ') + output)},
              {"options", options},
              {"state_topic", topic(u, route)},
              {"value_template", named ? lookup_template(to_option) : QStringLiteral("Input {{ value }}")},
              {"command_topic", topic(u, route + QStringLiteral("/set"))},
              {"command_template", named ? lookup_template(to_number) : QStringLiteral("{{ value | replace('Input ', '') }}")}});
    }
    send("select", QStringLiteral("mode"),
         {{"name", "Mode"}, {"options", QJsonArray{"matrix", "dual", "tv-wall"}},
          {"state_topic", topic(u, QStringLiteral("mode"))}, {"command_topic", topic(u, QStringLiteral("mode/set"))}});
    auto toggle = [&](const char* object, const char* name, const char* state, const char* on, const char* off) {
        send("switch", QLatin1String(object),
             {{"name", name}, {"state_topic", topic(u, QLatin1String(state))},
              {"command_topic", topic(u, QLatin1String(state) + QStringLiteral("/set"))},
              {"payload_on", on}, {"payload_off", off}, {"state_on", on}, {"state_off", off}});
    };
    toggle("power", "Power", "power", "on", "standby");
    toggle("lock", "Panel lock", "lock", "on", "off");
    const auto mute_text = [](bool audio_on) { return muted_when_audio(audio_on) ? "on" : "off"; };
    toggle("sound", "Sound", "mute", mute_text(true), mute_text(false));
    for (int n = 1; n <= 4; ++n)
        send("button", QStringLiteral("preset_%1").arg(n),
             {{"name", QStringLiteral("Recall preset %1").arg(n)},
              {"command_topic", topic(u, QStringLiteral("preset/recall"))}, {"payload_press", QString::number(n)}});
    if (!resolutions_.isEmpty())
        send("select", QStringLiteral("resolution"),
             {{"name", "Output resolution"}, {"options", QJsonArray::fromStringList(resolutions_)},
              {"state_topic", topic(u, QStringLiteral("resolution"))},
              {"command_topic", topic(u, QStringLiteral("resolution/set"))}});
    send("sensor", QStringLiteral("firmware"),
         {{"name", "Firmware"}, {"entity_category", "diagnostic"}, {"state_topic", topic(u, QStringLiteral("state"))},
          {"value_template", "{{ value_json.firmware }}"}});
}

void MqttBridge::on_message(const QString& t, const QByteArray& payload, bool retained)
{
    if (stopped_) return;
    if (!settings_.discovery_prefix.isEmpty() && t.startsWith(settings_.discovery_prefix + QLatin1Char('/'))) {
        if (retained) forget_removed(t, payload);
        return;
    }
    // A retained command is an old one: carrying it out at every connect would replay it.
    if (retained || !t.startsWith(settings_.prefix + QLatin1Char('/'))) return;
    const QStringList path = t.mid(settings_.prefix.size() + 1).split(QLatin1Char('/'));
    Unit* unit = path.isEmpty() ? nullptr : find(path.first());
    if (!unit) return;
    command(*unit, path.mid(1), payload);
}

void MqttBridge::command(Unit& unit, const QStringList& path, const QByteArray& payload)
{
    const QString where = path.join(QLatin1Char('/'));
    const QString topic = settings_.prefix + QLatin1Char('/') + unit.id + QLatin1Char('/') + where; // the audit's "who"
    if (where == QLatin1String("run")) {
        const QJsonObject o = QJsonDocument::fromJson(payload).object();
        const QJsonValue id = o.value(QLatin1String("id"));
        return submit(unit, payload, id.isString() || id.isDouble() ? id : QJsonValue(QJsonValue::Null), topic);
    }
    const QString value = QString::fromUtf8(payload).trimmed();
    QStringList choices;
    QString verb;
    if (path.size() == 3 && path[0] == QLatin1String("route") && path[2] == QLatin1String("set")
        && QStringList{"A", "B", "C", "D"}.contains(path[1])) {
        choices = kOneToFour;
        verb = QStringLiteral("route ") + path[1];
        // The number, the room's name of the input, or the option Home Assistant shows.
        if (const int n = input_named(unit.inputs, value)) {
            return submit(unit, compact({{"commands", QJsonArray{verb + QLatin1Char(' ') + QString::number(n)}}}), where, topic);
        }
    } else if (where == QLatin1String("preset/recall")) {
        choices = kOneToFour;
        verb = QStringLiteral("preset recall");
    } else {
        for (const Setter& s : kSetters)
            if (path.size() == 2 && path[0] == QLatin1String(s.name) && path[1] == QLatin1String("set")) {
                verb = QLatin1String(s.verb);
                choices = s.choices;
                if (choices.isEmpty()) { // a resolution by number or by its name in the list
                    bool number = false;
                    value.toInt(&number);
                    choices = resolutions_;
                    if (number) choices << value;
                }
            }
        if (verb.isEmpty()) return;
    }
    // Only a known value becomes a verb: nothing of the payload reaches the verb line otherwise.
    if (!choices.contains(value, Qt::CaseInsensitive)) {
        return answer(unit.id, where, 400, {{"error", QStringLiteral("\"%1\" is not a value for %2").arg(value.left(64), where)}});
    }
    submit(unit, compact({{"commands", QJsonArray{verb + QLatin1Char(' ') + value}}}), where, topic);
}

// The API's own checks; a refused request is answered at once and reaches no unit.
void MqttBridge::submit(Unit& unit, const QByteArray& body, const QJsonValue& request_id, const QString& topic)
{
    QString error;
    std::optional<Job> job = run_job(body, names_, error);
    if (!job) return answer(unit.id, request_id, 400, {{"error", error}});
    for (const std::string& c : job->commands)
        if (role_for_command(c) > settings_.role)
            return answer(unit.id, request_id, 403, {{"error", QStringLiteral("MQTT commands act as %1, which may not send \"%2\"")
                                                                  .arg(role_name(settings_.role), QString::fromStdString(c))}});
    const QString id = unit.id;
    job->source = kMqttSource;
    job->who = topic;
    job->done = [this, id, request_id](JobResult result) {
        QMetaObject::invokeMethod(this, [this, id, request_id, result] { answer(id, request_id, result); }, Qt::QueuedConnection);
    };
    // A command that cannot wait is answered as POST /run would be, never left without an answer.
    switch (submit_(id, std::move(*job))) {
    case Queued::Yes: break;
    case Queued::NoSuchUnit: answer(id, request_id, 404, {{"error", QStringLiteral("no unit \"%1\"").arg(id)}}); break;
    case Queued::Full:
        answer(id, request_id, 503, {{"error", QStringLiteral("%1 MQTT commands wait for this unit already; nothing sent, try again shortly")
                                                   .arg(kMaxWaitingJobs)}});
        break;
    }
}

void MqttBridge::answer(const QString& unit_id, const QJsonValue& request_id, const JobResult& result)
{
    answer(unit_id, request_id, http_status(result.outcome), job_json(result, names_.get()));
}

// The run's answer as POST /run gives it, with the request's id and the HTTP status. Not retained,
// and not kept for a broker that is away.
void MqttBridge::answer(const QString& unit_id, const QJsonValue& request_id, int status, QJsonObject o)
{
    if (stopped_ || !client_ || !client_->is_connected()) return;
    o[QStringLiteral("id")] = request_id;
    o[QStringLiteral("status")] = status;
    if (!o.contains(QLatin1String("results"))) o[QStringLiteral("results")] = QJsonArray();
    client_->publish(settings_.prefix + QLatin1Char('/') + unit_id + QStringLiteral("/result"), compact(o), false);
}

// A config of this hub's for a unit no longer in its units file is cleared, with its topics.
void MqttBridge::forget_removed(const QString& t, const QByteArray& payload)
{
    const QStringList parts = t.split(QLatin1Char('/'));
    if (payload.isEmpty() || parts.size() < 4) return;
    const QString node = parts[parts.size() - 3];
    if (!node.startsWith(QLatin1String("tavrion_")) || find(node.mid(8))) return;
    const QJsonObject device = QJsonDocument::fromJson(payload).object().value(QLatin1String("device")).toObject();
    if (device.value(QLatin1String("via_device")).toString() != hub_id_) return;
    if (!client_->is_connected()) return;
    client_->publish(t, {}, true);
    sent_.remove(t);
    const Unit gone{node.mid(8), {}, {}};
    for (const char* rest : {"availability", "state", "power", "mode", "lock", "mute", "resolution", "route/A", "route/B",
                             "route/C", "route/D"})
        client_->publish(topic(gone, QLatin1String(rest)), {}, true);
}

} // namespace tavrion::hub
