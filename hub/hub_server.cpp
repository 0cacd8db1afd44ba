// The hub's requests: security checks first, then the page, the API and the event streams. The
// HTTP thread never waits for a unit: a request becomes a job, and its answer is written when the
// unit's thread posts the outcome back.
#include "hub/hub_server.h"

#include "hub/audit.h"
#include "hub/hub_log.h"
#include "hub/metrics.h"
#include "hub/mqtt_bridge.h"
#include "hub/run_request.h"
#include "hub/sign_in.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace tavrion::hub {

namespace {

const QByteArray kCookieName = "tavrion_hub_token";
const QByteArray kJson = "application/json";

// HEAD is GET without the body (the front leaves the body out).
bool reads(const HttpRequest& r) { return r.method == "GET" || r.method == "HEAD"; }

QByteArray compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

void answer_json(const ExchangePtr& ex, int status, const QJsonObject& body, const HeaderList& extra = {})
{
    HeaderList headers = extra;
    headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
    ex->answer(status, kJson, compact(body) + "\n", headers);
}

void answer_error(const ExchangePtr& ex, int status, const QString& text, const HeaderList& extra = {})
{
    answer_json(ex, status, {{QStringLiteral("error"), text}}, extra);
}

void answer_get_only(const ExchangePtr& ex) { answer_error(ex, 405, QStringLiteral("GET only"), {{"Allow", "GET, HEAD"}}); }

QByteArray cookie_value(const QByteArray& header, const QByteArray& name)
{
    for (const QByteArray& part : header.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.startsWith(name + "=")) return p.mid(name.size() + 1);
    }
    return {};
}

void answer_html(const ExchangePtr& ex, int status, const QByteArray& html)
{
    ex->answer(status, "text/html; charset=utf-8", html,
               {{"Content-Security-Policy", plain_page_policy()}, {"Cache-Control", "no-store"}});
}

QByteArray resource(const QString& name)
{
    QFile f(QStringLiteral(":/hub/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray page() { return resource(QStringLiteral("index.html")); }

// An exchange that counts its answer by status before passing it on: the figures of the metrics
// page, taken on this side of the HTTP front.
class CountedExchange : public HttpExchange {
public:
    CountedExchange(ExchangePtr inner, std::shared_ptr<std::map<int, quint64>> counts)
        : inner_(std::move(inner)), counts_(std::move(counts))
    {
    }
    void answer(int status, const QByteArray& content_type, const QByteArray& body, const HeaderList& extra) override
    {
        if (!inner_->answered()) ++(*counts_)[status];
        inner_->answer(status, content_type, body, extra);
    }
    void start_stream(const QByteArray& content_type) override
    {
        if (!inner_->answered()) ++(*counts_)[200];
        inner_->start_stream(content_type);
    }
    void stream(const QByteArray& piece) override { inner_->stream(piece); }
    void end_stream() override { inner_->end_stream(); }
    bool connected() const override { return inner_->connected(); }
    bool answered() const override { return inner_->answered(); }
    std::shared_ptr<const std::atomic<bool>> gone() const override { return inner_->gone(); }

private:
    ExchangePtr inner_;
    std::shared_ptr<std::map<int, quint64>> counts_;
};

} // namespace

struct Hub::Unit {
    UnitConfig config;
    UnitWorker* worker = nullptr;
    QThread* thread = nullptr;
    UnitState state;
    QJsonObject document; // the state's document, made once per change
    std::vector<ExchangePtr> streams;
};

Hub::Hub(UnitsSetup setup, HubOptions options, QByteArray token, std::string program_dir, QObject* parent)
    : QObject(parent), setup_(std::move(setup)), options_(std::move(options)),
      sign_ins_(token, {}), program_dir_(std::move(program_dir)), names_(resolution_names(program_dir_)),
      audit_(std::make_shared<AuditTrail>(options_.audit_file))
{
    for (const std::string& r : *names_) resolutions_.append(QString::fromStdString(r));
}

Hub::~Hub()
{
    // The broker hears "offline" and the network thread ends before any unit stops.
    if (bridge_) bridge_->stop();
    // Each unit ends its job between two commands; only then does its thread's loop end, so
    // the session's own waits are never cut short.
    QSemaphore stopped;
    for (auto& u : units_) {
        connect(u->worker, &UnitWorker::stopped, u->worker, [&stopped] { stopped.release(); }, Qt::DirectConnection);
        QMetaObject::invokeMethod(u->worker, &UnitWorker::stop, Qt::QueuedConnection);
    }
    stopped.acquire(int(units_.size()));
    for (auto& u : units_) {
        u->thread->quit();
        u->thread->wait();
        delete u->worker;
        delete u->thread;
    }
}

void Hub::shutdown(std::function<void()> done)
{
    if (stopping_) return;
    stopping_ = true;
    if (keep_alive_) keep_alive_->stop();
    auto left = std::make_shared<int>(int(units_.size()));
    auto all_stopped = [this, done = std::move(done)] {
        // Answers the units posted are written by now; they get a moment to reach their clients.
        front_->drain(2000, done);
    };
    if (units_.empty()) return all_stopped();
    for (auto& u : units_) {
        connect(u->worker, &UnitWorker::stopped, this, [left, all_stopped] {
            if (--*left == 0) all_stopped();
        }, Qt::QueuedConnection);
        QMetaObject::invokeMethod(u->worker, &UnitWorker::stop, Qt::QueuedConnection);
    }
}

quint16 Hub::start()
{
    HttpLimits limits = HttpLimits::from_environment();
    limits.max_body = kMaxBodyBytes;
    front_ = new HttpFront([this](const HttpRequest& r, const ExchangePtr& ex) {
        handle(r, std::make_shared<CountedExchange>(ex, answers_));
    }, limits, this);
    if (tls_ && !front_->use_tls(tls_->cert, tls_->key, start_error_)) return 0;
    const quint16 port = front_->listen(options_.listen_address, options_.listen_port);
    if (!port) {
        start_error_ = QStringLiteral("cannot listen on %1: %2").arg(options_.listen_text, front_->listen_error());
        return 0;
    }
    hosts_ = std::make_unique<HostRules>(options_, port);
    keep_alive_ = new QTimer(this);
    connect(keep_alive_, &QTimer::timeout, this, &Hub::keep_streams_alive);
    keep_alive_->start(kKeepAliveSeconds * 1000);
    for (const UnitConfig& c : setup_.units) {
        auto u = std::make_unique<Unit>();
        u->config = c;
        Unit* unit = u.get();
        u->worker = new UnitWorker(c, program_dir_, names_, setup_.poll_seconds, [this, unit](const UnitState& state) {
            QMetaObject::invokeMethod(this, [this, unit, state] { published(*unit, state); }, Qt::QueuedConnection);
        });
        u->thread = new QThread;
        u->thread->setObjectName(QString::fromStdString("unit " + c.id));
        units_.push_back(std::move(u));
        unit->worker->audit_into(audit_);
        unit->worker->start_in(unit->thread);
    }
    for (const auto& u : units_) {
        if (!u->config.protocol_listen) continue;
        QString error;
        const quint16 protocol = u->worker->protocol_port(error);
        const QString id = QString::fromStdString(u->config.id);
        const ListenAddress& where = *u->config.protocol_listen;
        if (!protocol) {
            start_error_ = QStringLiteral("unit %1: cannot listen for the device protocol on %2: %3").arg(id, where.text, error);
            return 0;
        }
        const QString host = where.text.left(where.text.lastIndexOf(QLatin1Char(':')));
        // On standard output as ever, where scripts read the port; and in the log.
        std::printf("tavrion-hub: unit %s: the device protocol on %s:%u\n", id.toLocal8Bit().constData(),
                    (host.isEmpty() ? where.address.toString() : host).toLocal8Bit().constData(), unsigned(protocol));
        hub_log::info(hub_log::Area::port, QStringLiteral("unit %1: the device protocol on %2:%3").arg(id, host.isEmpty() ? where.address.toString() : host).arg(protocol));
    }
    std::fflush(stdout);
    if (mqtt_) start_bridge();
    return port;
}

void Hub::use_broker(MqttSettings settings) { mqtt_ = std::move(settings); }

bool Hub::use_tls(const TlsPair& pair, QString& error)
{
    if (!front_) {
        tls_ = pair;
        return true;
    }
    return front_->use_tls(pair.cert, pair.key, error);
}

void Hub::start_bridge()
{
    std::vector<MqttBridge::UnitInfo> units;
    for (const UnitConfig& c : setup_.units) {
        MqttBridge::UnitInfo info{QString::fromStdString(c.id), QString::fromStdString(c.name), {}, {}};
        for (std::size_t i = 0; i < 4; ++i) {
            info.inputs << QString::fromStdString(c.input_names[i]);
            info.outputs << QString::fromStdString(c.output_names[i]);
        }
        units.push_back(info);
    }
    QStringList resolutions;
    for (const QJsonValue& r : resolutions_) resolutions << r.toString();
    bridge_ = new MqttBridge(*mqtt_, std::move(units), resolutions, names_, [this](const QString& id, Job job) {
        Unit* unit = find(id);
        if (!unit) return MqttBridge::Queued::NoSuchUnit;
        return unit->worker->submit(std::move(job)) ? MqttBridge::Queued::Yes : MqttBridge::Queued::Full;
    }, this);
    QString error;
    if (!bridge_->start(error)) hub_log::error(hub_log::Area::mqtt, error);
}

Hub::Unit* Hub::find(const QString& id)
{
    for (auto& u : units_)
        if (QString::fromStdString(u->config.id) == id) return u.get();
    return nullptr;
}

namespace {

// The token a request carries: the Authorization header's, else the sign-in cookie's.
QByteArray given_token(const HttpRequest& r)
{
    const QByteArray auth = r.header("Authorization");
    // The scheme's name is not case-sensitive.
    if (auth.left(7).compare("Bearer ", Qt::CaseInsensitive) == 0) return auth.mid(7).trimmed();
    return cookie_value(r.header("Cookie"), kCookieName);
}

// The 403 of a request beyond the sign-in's role; nothing of it reaches a unit.
void answer_beyond_role(const ExchangePtr& ex, const Caller& caller, const QString& what)
{
    answer_error(ex, 403, QStringLiteral("%1 signs in as %2, which may not %3").arg(caller.name, role_name(caller.role), what));
}

} // namespace

std::optional<Caller> Hub::signed_in(const HttpRequest& r) const
{
    auto caller = sign_ins_.identify(given_token(r));
    if (caller) caller->address = r.client;
    return caller;
}

void Hub::watch_sign_ins(const QString& path, std::vector<SignIn> named)
{
    sign_ins_path_ = path;
    sign_ins_.replace_named(std::move(named));
    // inotify tells of a change as it happens, with no polling; the folder is watched too, since
    // the file is replaced whole by a rename (and may not be there yet). SIGHUP reads it as well,
    // for file systems that do not tell.
    sign_ins_watch_ = new QFileSystemWatcher(this);
    sign_ins_watch_->addPath(QFileInfo(path).absolutePath());
    if (QFileInfo::exists(path)) sign_ins_watch_->addPath(path);
    connect(sign_ins_watch_, &QFileSystemWatcher::directoryChanged, this, &Hub::reload_sign_ins);
    connect(sign_ins_watch_, &QFileSystemWatcher::fileChanged, this, &Hub::reload_sign_ins);
}

void Hub::reload_sign_ins()
{
    if (sign_ins_path_.isEmpty()) return;
    // A replaced file is a new one to inotify: watch it again.
    if (sign_ins_watch_ && QFileInfo::exists(sign_ins_path_) && !sign_ins_watch_->files().contains(sign_ins_path_))
        sign_ins_watch_->addPath(sign_ins_path_);
    QString error;
    auto named = read_sign_ins(sign_ins_path_, error);
    if (!named) {
        // Whoever was removed stays out while the file is broken; the token file still signs in.
        hub_log::error(hub_log::Area::http, error + QStringLiteral("; only the token file's sign-in is taken until it is mended"));
        named.emplace();
    }
    sign_ins_.replace_named(std::move(*named));
    auto& s = signed_streams_;
    s.erase(std::remove_if(s.begin(), s.end(), [this](const auto& entry) {
        const ExchangePtr e = entry.first.lock();
        if (!e || !e->connected()) return true;
        if (sign_ins_.identify(entry.second)) return false;
        e->end_stream();
        return true;
    }), s.end());
}

void Hub::handle(const HttpRequest& r, const ExchangePtr& ex)
{
    // Checked before anything else, for every path: a page of another site that reaches this
    // port by a name of its own (DNS rebinding) is refused here.
    if (!hosts_->allowed(r.header("Host"))) {
        if (!r.path.startsWith(QLatin1String("/api/")))
            return answer_html(ex, 403, refused_host_page(r.header("Host")));
        answer_error(ex, 403, QStringLiteral("this hub does not serve that Host name (see --allow-host)"));
        return;
    }
    if (stopping_) {
        answer_error(ex, 503, QStringLiteral("the hub is stopping"));
        return;
    }
    // For an uptime checker: the hub serves; nothing about the units, so no token.
    if (r.path == QLatin1String("/healthz")) {
        if (!reads(r)) return answer_get_only(ex);
        return ex->answer(200, "text/plain; charset=utf-8", "ok\n", {{"Cache-Control", "no-store"}});
    }
    if (r.path == QLatin1String("/metrics")) {
        if (!reads(r)) return answer_get_only(ex);
        if (!options_.metrics_open && !signed_in(r))
            return answer_error(ex, 401, QStringLiteral("a valid access token is needed (or tavrion-hub --metrics-open)"),
                                {{"WWW-Authenticate", "Bearer"}});
        return answer_metrics(ex);
    }
    // The API's description holds nothing of this site.
    if (r.path == QLatin1String("/api/openapi.json")) {
        if (!reads(r)) return answer_get_only(ex);
        return ex->answer(200, kJson, resource(QStringLiteral("openapi.json")), {{"Cache-Control", "no-store"}});
    }
    if (r.path == QLatin1String("/")) {
        if (!reads(r)) {
            answer_get_only(ex);
            return;
        }
        if (r.query.hasQueryItem(QStringLiteral("token"))) {
            const QByteArray given = r.query.queryItemValue(QStringLiteral("token")).toLatin1();
            if (!sign_ins_.identify(given)) return answer_html(ex, 401, sign_in_page());
            // The cookie carries the token from now on, for a year: the address bar loses it, and a
            // bookmark of the page keeps working.
            const bool tls = front_->tls() || forwarded_https(r.header("X-Forwarded-Proto"), r.header("Forwarded"));
            ex->answer(303, "text/plain; charset=utf-8", "See /\n",
                       {{"Set-Cookie", sign_in_cookie(kCookieName, given, tls)},
                        {"Location", "/"}, {"Cache-Control", "no-store"}});
            return;
        }
        if (!signed_in(r)) return answer_html(ex, 401, sign_in_page());
        ex->answer(200, "text/html; charset=utf-8", page(),
                   {{"Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                     "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
                    {"Referrer-Policy", "no-referrer"},
                    {"Cache-Control", "no-store"}});
        return;
    }
    if (!r.path.startsWith(QLatin1String("/api/"))) {
        answer_error(ex, 404, QStringLiteral("no such page"));
        return;
    }
    const auto caller = signed_in(r);
    if (!caller) {
        answer_error(ex, 401, QStringLiteral("a valid access token is needed (tavrion-hub --show-url)"),
                     {{"WWW-Authenticate", "Bearer"}});
        return;
    }
    if (!reads(r)) {
        const QByteArray origin = r.header("Origin");
        if ((r.has_header("Origin") && !hosts_->own_origin(origin)) || r.header("Sec-Fetch-Site") == "cross-site") {
            answer_error(ex, 403, QStringLiteral("requests from another site are refused"));
            return;
        }
    }
    handle_api(r, ex, *caller);
}

void Hub::handle_api(const HttpRequest& r, const ExchangePtr& ex, const Caller& caller)
{
    const QStringList parts = r.path.mid(5).split(QLatin1Char('/'));
    if (parts.size() == 1 && parts[0] == QLatin1String("units")) {
        if (!reads(r)) return answer_get_only(ex);
        QJsonArray list;
        for (auto& u : units_) {
            const QJsonObject& d = u->document;
            QJsonObject o;
            o[QStringLiteral("id")] = QString::fromStdString(u->config.id);
            o[QStringLiteral("name")] = QString::fromStdString(u->config.name);
            o[QStringLiteral("link")] = QString::fromStdString(u->config.link.name());
            o[QStringLiteral("state")] = QLatin1String(link_state_name(u->state.link));
            o[QStringLiteral("power")] = d.value(QLatin1String("power"));
            o[QStringLiteral("mode")] = d.value(QLatin1String("mode"));
            o[QStringLiteral("problem")] = d.value(QLatin1String("problem"));
            o[QStringLiteral("version")] = d.value(QLatin1String("version"));
            list.append(o);
        }
        const QJsonObject who{{QStringLiteral("name"), caller.name}, {QStringLiteral("role"), role_name(caller.role)}};
        return answer_json(ex, 200, {{QStringLiteral("units"), list}, {QStringLiteral("resolutions"), resolutions_},
                                     {QStringLiteral("signed_in"), who}, {QStringLiteral("audit"), audit_->health()}});
    }
    if (parts.size() == 1 && parts[0] == QLatin1String("audit")) {
        if (!reads(r)) return answer_get_only(ex);
        if (caller.role < Role::Admin) return answer_beyond_role(ex, caller, QStringLiteral("read the audit trail"));
        return answer_audit(r, ex);
    }
    if (parts.size() < 2 || parts.size() > 3 || parts[0] != QLatin1String("units"))
        return answer_error(ex, 404, QStringLiteral("no such resource"));
    Unit* unit = find(parts[1]);
    if (!unit) return answer_error(ex, 404, QStringLiteral("no unit \"%1\"").arg(parts[1]));
    const QString action = parts.size() == 3 ? parts[2] : QString();
    if (action.isEmpty()) {
        if (!reads(r)) return answer_get_only(ex);
        return answer_json(ex, 200, unit->document);
    }
    if (action == QLatin1String("events")) {
        if (!reads(r)) return answer_get_only(ex);
        ex->start_stream("text/event-stream");
        ex->stream("retry: 2000\n\ndata: " + compact(unit->document) + "\n\n");
        unit->streams.push_back(ex);
        auto& signed_streams = signed_streams_;
        signed_streams.erase(std::remove_if(signed_streams.begin(), signed_streams.end(), [](const auto& entry) {
            const ExchangePtr e = entry.first.lock();
            return !e || !e->connected();
        }), signed_streams.end());
        signed_streams.emplace_back(ex, given_token(r));
        return;
    }
    if (action != QLatin1String("run") && action != QLatin1String("restore"))
        return answer_error(ex, 404, QStringLiteral("no such resource"));
    if (r.method != "POST") return answer_error(ex, 405, QStringLiteral("POST only"), {{"Allow", "POST"}});

    std::optional<Job> job;
    if (action == QLatin1String("run")) {
        QString error;
        job = run_job(r.body, names_, error);
        if (!job) return answer_error(ex, 400, error);
        for (const std::string& c : job->commands)
            if (role_for_command(c) > caller.role)
                return answer_beyond_role(ex, caller, QStringLiteral("send \"%1\"").arg(QString::fromStdString(c)));
    } else {
        if (caller.role < Role::Admin) return answer_beyond_role(ex, caller, QStringLiteral("restore a backup"));
        QJsonParseError pe;
        const QJsonDocument body = QJsonDocument::fromJson(r.body, &pe);
        if (pe.error != QJsonParseError::NoError || !body.isObject())
            return answer_error(ex, 400, QStringLiteral("the body is not a JSON object"));
        job.emplace();
        job->kind = Job::Kind::Restore;
        job->backup = r.body.toStdString();
        const std::string error = check_backup(job->backup);
        if (!error.empty()) return answer_error(ex, 400, QString::fromStdString(error));
    }
    job->gone = ex->gone();
    job->who = QStringLiteral("%1 (%2)").arg(caller.name, r.client);
    job->done = [this, ex](JobResult result) {
        QMetaObject::invokeMethod(this, [this, ex, result] {
            answer_json(ex, http_status(result.outcome), job_json(result, names_.get()));
        }, Qt::QueuedConnection);
    };
    if (!unit->worker->submit(std::move(*job)))
        answer_error(ex, 503, QStringLiteral("%1 requests wait for this unit already; try again shortly").arg(kMaxWaitingJobs),
                     {{"Retry-After", "2"}});
}

// GET /api/audit?unit=ID&since=TIME&limit=N: the entries newest first.
void Hub::answer_audit(const HttpRequest& r, const ExchangePtr& ex)
{
    constexpr int kDefaultEntries = 100, kMostEntries = 1000;
    int limit = kDefaultEntries;
    if (r.query.hasQueryItem(QStringLiteral("limit"))) {
        bool ok = false;
        limit = r.query.queryItemValue(QStringLiteral("limit")).toInt(&ok);
        if (!ok || limit < 1 || limit > kMostEntries)
            return answer_error(ex, 400, QStringLiteral("limit is a whole number from 1 to %1").arg(kMostEntries));
    }
    std::optional<qint64> since;
    if (r.query.hasQueryItem(QStringLiteral("since"))) {
        const QString text = r.query.queryItemValue(QStringLiteral("since"), QUrl::FullyDecoded);
        const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
        // A time without its zone would mean whichever zone the hub runs in.
        if (!t.isValid() || t.timeSpec() == Qt::LocalTime)
            return answer_error(ex, 400, QStringLiteral("since is a time such as 2026-12-09T08:30:00Z (with its zone)"));
        since = t.toMSecsSinceEpoch();
    }
    const QString unit = r.query.queryItemValue(QStringLiteral("unit"), QUrl::FullyDecoded);
    answer_json(ex, 200, {{QStringLiteral("entries"), audit_->query(unit, since, limit)}, {QStringLiteral("audit"), audit_->health()}});
}

void Hub::published(Unit& unit, const UnitState& state)
{
    unit.state = state;
    unit.document = unit_json(state, names_.get());
    if (bridge_) bridge_->unit_changed(state);
    const QByteArray event = "data: " + compact(unit.document) + "\n\n";
    auto& s = unit.streams;
    s.erase(std::remove_if(s.begin(), s.end(), [](const ExchangePtr& e) { return !e->connected(); }), s.end());
    for (const ExchangePtr& e : s) e->stream(event);
}

void Hub::answer_metrics(const ExchangePtr& ex)
{
    std::vector<UnitFigures> units;
    HttpFigures http;
    for (auto& u : units_) {
        units.push_back({QString::fromStdString(u->config.id), QLatin1String(link_state_name(u->state.link)), u->worker->stats()});
        for (const ExchangePtr& e : u->streams) http.event_streams += e->connected();
    }
    http.answers = *answers_;
    http.answers[200] += 1; // this answer, counted as it is written
    http.open_connections = front_->open_connections();
    std::optional<bool> mqtt;
    if (bridge_) mqtt = bridge_->connected();
    const QByteArray text = metrics_text(units, http, mqtt, process_figures());
    ex->answer(200, "text/plain; version=0.0.4; charset=utf-8", text, {{"Cache-Control", "no-store"}});
}

void Hub::keep_streams_alive()
{
    for (auto& u : units_) {
        auto& s = u->streams;
        s.erase(std::remove_if(s.begin(), s.end(), [](const ExchangePtr& e) { return !e->connected(); }), s.end());
        for (const ExchangePtr& e : s) e->stream(": keep-alive\n\n");
    }
}

} // namespace tavrion::hub
