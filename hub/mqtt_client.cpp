// MqttClient: libmosquitto's socket-driven calls (loop_read, loop_write, loop_misc) run from socket
// notifiers and a timer in the Qt thread, so the library and its callbacks never meet another
// thread; the back-off, the reasons for a failure and the fresh handle of each attempt are ours.
#include "hub/mqtt_client.h"

#include "hub/hub_log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <sys/socket.h>

namespace tavrion::hub {

namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;
constexpr int kKeepAliveSeconds = 30;
constexpr int kConnectTimeoutMs = 10000; // a broker that neither answers nor refuses
constexpr int kMiscMs = 1000;          // keep-alive and the connect's time limit are checked this often
constexpr int kMaxPendingMessages = 1000; // received, not yet handed on: more are dropped
constexpr qint64 kMaxPendingBytes = 4 * 1024 * 1024; // and their payloads together
// A payload within the limit, its topic and the packet's own fields.
constexpr int kMaxPacketBytes = kMaxMqttPayloadBytes + 4096;
// What a queued message costs the library besides its topic and payload, about.
constexpr qint64 kMessageOverhead = 256;

void init_library()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// The broker's refusal in the words MQTT 3.1.1 has for it, where it has them.
QString refusal_text(int rc, bool v5)
{
    if (v5) {
        switch (rc) {
        case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION: rc = 1; break;
        case MQTT_RC_CLIENTID_NOT_VALID: rc = 2; break;
        case MQTT_RC_SERVER_UNAVAILABLE: rc = 3; break;
        case MQTT_RC_BAD_USERNAME_OR_PASSWORD: rc = 4; break;
        case MQTT_RC_NOT_AUTHORIZED: rc = 5; break;
        default: return QString::fromUtf8(mosquitto_reason_string(rc));
        }
    }
    return QString::fromUtf8(mosquitto_connack_string(rc));
}

} // namespace

struct MqttClient::Private {
    MqttClient* q = nullptr;
    MqttEndpoint endpoint;
    mosquitto* mosq = nullptr;
    QSocketNotifier* reader = nullptr; // on the library's socket, while an attempt or a session lasts
    QSocketNotifier* writer = nullptr; // enabled while the library has something to send
    QTimer misc;                       // keep-alive, and the time limit of a connect
    QTimer retry;                      // the next attempt
    int delay = kFirstDelayMs;
    qint64 attempt_began = 0;
    bool stopping = false;
    bool session_up = false;  // as the library's callbacks tell it
    bool was_up = false;      // this attempt reached a session
    bool refused = false;     // the broker refused this attempt (said by the callback)
    bool v311 = false;        // the broker speaks no MQTT 5
    int pending = 0;          // received, posted, not yet handed on
    qint64 pending_bytes = 0;
    bool up = false;          // as the signals have told it
    QStringList subscriptions;
    QString last_error_log;   // the library's last error line (TLS details)
    QStringList said_errors;  // the library's error lines logged in this episode: a repeat is debug

    // Publishes not yet acknowledged, by message id, in this session.
    std::unordered_map<int, qint64> unacked;
    qint64 queued_bytes = 0;
    qint64 dropped = 0;
    bool dropping = false;

    int configure(QString& error);
    void attempt();
    void end_attempt(const QString& why);
    void watch(bool on);
    void want_write() { if (writer) writer->setEnabled(mosquitto_want_write(mosq)); }
    void readable();
    void writable();
    void tick();
    void acknowledged(int mid);
    // Callbacks run inside the library's calls: what they tell goes to the receivers afterwards,
    // never into the library again from within.
    void post(std::function<void()> f) { QMetaObject::invokeMethod(q, std::move(f), Qt::QueuedConnection); }
    QString failure_text(int rc, int err) const
    {
        if (rc == MOSQ_ERR_ERRNO) return QString::fromLocal8Bit(std::strerror(err));
        // The library has no words of its own for this one.
        if (rc == MOSQ_ERR_KEEPALIVE) return QStringLiteral("no answer within the keep-alive (%1 s)").arg(kKeepAliveSeconds);
        QString text = QString::fromUtf8(mosquitto_strerror(rc));
        if (rc == MOSQ_ERR_TLS && !last_error_log.isEmpty()) {
            if (text.endsWith(QLatin1Char('.'))) text.chop(1);
            text += QStringLiteral(": ") + last_error_log;
        }
        return text;
    }
};

MqttClient::MqttClient(QObject* parent) : QObject(parent), d_(std::make_unique<Private>())
{
    d_->q = this;
    d_->misc.setInterval(kMiscMs);
    connect(&d_->misc, &QTimer::timeout, this, [this] { d_->tick(); });
    d_->retry.setSingleShot(true);
    connect(&d_->retry, &QTimer::timeout, this, [this] { d_->attempt(); });
}

MqttClient::~MqttClient()
{
    stop();
    if (d_->mosq) mosquitto_destroy(d_->mosq);
}

bool MqttClient::start(const MqttEndpoint& e, QString& error)
{
    init_library();
    d_->endpoint = e;
    d_->mosq = mosquitto_new(e.client_id.toUtf8().constData(), true, d_.get());
    if (!d_->mosq) {
        error = QStringLiteral("cannot make an MQTT client: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (d_->configure(error) != MOSQ_ERR_SUCCESS) return false;
    d_->attempt();
    return true;
}

// Everything a session needs set on the handle, again at every connect: reinitialising the handle
// for a new attempt frees whatever the last one left queued.
int MqttClient::Private::configure(QString& error)
{
    const MqttEndpoint& e = endpoint;
    mosquitto* m = mosq;
    // Small messages at once: Nagle's wait for the broker's acknowledgement costs 40 ms a message.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    const bool v5 = !v311;
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    int rc = MOSQ_ERR_SUCCESS;
    if (v5) {
        // The broker is told the largest packet the hub takes, and drops a larger message rather
        // than send it: the library would hold all of it before any check of ours. The library
        // keeps CONNECT properties for every later connect of the handle, and has no
        // non-blocking connect that takes them; a keep-alive under 5 s is refused before anything
        // goes on the network, so this only stores them.
        mosquitto_property* properties = nullptr;
        rc = mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacketBytes);
        if (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_connect_bind_v5(m, "localhost", 1, 1, nullptr, properties);
            rc = rc == MOSQ_ERR_INVAL ? MOSQ_ERR_SUCCESS : rc;
        }
        mosquitto_property_free_all(&properties);
    }
    if (rc == MOSQ_ERR_SUCCESS && !e.user.isEmpty())
        rc = mosquitto_username_pw_set(m, e.user.toUtf8().constData(), e.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && !e.will_topic.isEmpty())
        rc = mosquitto_will_set(m, e.will_topic.toUtf8().constData(), int(e.will_payload.size()),
                                e.will_payload.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && e.tls) {
        const QByteArray ca = QFileInfo(e.ca_file).absoluteFilePath().toLocal8Bit();
        rc = e.ca_file.isEmpty() ? mosquitto_tls_set(m, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                                 : mosquitto_tls_set(m, ca.constData(), nullptr, nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = QString::fromUtf8(mosquitto_strerror(rc));
        return rc;
    }

    mosquitto_connect_callback_set(m, [](mosquitto*, void* obj, int rc) {
        auto* d = static_cast<Private*>(obj);
        if (rc == 0) {
            d->session_up = true;
            d->said_errors.clear();
            d->post([d] {
                if (!d->session_up) return;
                d->up = true;
                for (const QString& s : d->subscriptions) mosquitto_subscribe(d->mosq, nullptr, s.toUtf8().constData(), 1);
                d->want_write();
                emit d->q->connected();
            });
            return;
        }
        d->refused = true;
        const bool v5 = !d->v311;
        QString why = refusal_text(rc, v5);
        // A broker of MQTT 3.1.1 only: the next attempt speaks its version, and the limit on what
        // it sends is then the broker's to set.
        if (v5 && rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION) {
            d->v311 = true;
            why = QStringLiteral("it speaks no MQTT 5; connecting with 3.1.1, which cannot ask it to keep messages over "
                                 "%1 KiB away (set max_packet_size on the broker)").arg(kMaxPacketBytes / 1024);
        }
        d->post([d, why] { emit d->q->problem(why); });
    });
    mosquitto_disconnect_callback_set(m, [](mosquitto*, void* obj, int) {
        auto* d = static_cast<Private*>(obj);
        d->session_up = false;
        d->post([d] {
            if (!d->up) return;
            d->up = false;
            emit d->q->disconnected();
        });
    });
    mosquitto_publish_callback_set(m, [](mosquitto*, void* obj, int mid) { static_cast<Private*>(obj)->acknowledged(mid); });
    mosquitto_message_callback_set(m, [](mosquitto*, void* obj, const mosquitto_message* msg) {
        auto* d = static_cast<Private*>(obj);
        if (msg->payloadlen > kMaxMqttPayloadBytes || d->pending >= kMaxPendingMessages
            || d->pending_bytes + msg->payloadlen > kMaxPendingBytes)
            return;
        ++d->pending;
        d->pending_bytes += msg->payloadlen;
        const QString topic = QString::fromUtf8(msg->topic);
        const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
        const bool retained = msg->retain;
        d->post([d, topic, payload, retained] {
            --d->pending;
            d->pending_bytes -= payload.size();
            emit d->q->message(topic, payload, retained);
        });
    });
    // The library's own lines join the log's mqtt area; an error it repeats at every attempt is
    // said once an episode (the failure itself is said by the bridge).
    mosquitto_log_callback_set(m, [](mosquitto*, void* obj, int level, const char* text) {
        auto* d = static_cast<Private*>(obj);
        using hub_log::Level;
        // Every packet has a debug line: unread, it costs no copy.
        if (level == MOSQ_LOG_DEBUG && !hub_log::enabled(Level::debug, hub_log::Area::mqtt)) return;
        const QString line = QString::fromUtf8(text);
        Level l = Level::debug;
        if (level == MOSQ_LOG_ERR) {
            d->last_error_log = line;
            // The broker's trouble, not the hub's: a warning, as the bridge's own line about it.
            l = d->said_errors.contains(line) ? Level::debug : Level::warning;
            if (!d->said_errors.contains(line)) d->said_errors << line;
        } else if (level == MOSQ_LOG_WARNING) l = Level::warning;
        else if (level == MOSQ_LOG_NOTICE) l = Level::notice;
        else if (level == MOSQ_LOG_INFO) l = Level::info;
        hub_log::write(l, hub_log::Area::mqtt, QStringLiteral("libmosquitto: ") + line);
    });
    return MOSQ_ERR_SUCCESS;
}

// One attempt: a fresh handle, a non-blocking connect (the name lookup is the only wait, and a
// numeric address has none), and the socket under notifiers until the attempt or its session ends.
void MqttClient::Private::attempt()
{
    if (stopping) return;
    last_error_log.clear();
    refused = false;
    session_up = false;
    was_up = false;
    const int rc = mosquitto_connect_bind_async(mosq, endpoint.host.toUtf8().constData(), endpoint.port, kKeepAliveSeconds,
                                                nullptr);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) return end_attempt(failure_text(rc, err));
    attempt_began = QDateTime::currentMSecsSinceEpoch();
    watch(true);
    misc.start();
}

void MqttClient::Private::watch(bool on)
{
    // The library closes the socket by itself when a session fails; its notifiers go at once,
    // before the number can be another file's.
    for (QSocketNotifier** n : {&reader, &writer}) {
        if (!*n) continue;
        (*n)->setEnabled(false);
        (*n)->deleteLater();
        *n = nullptr;
    }
    const int fd = on ? mosquitto_socket(mosq) : -1;
    if (fd < 0) return;
    reader = new QSocketNotifier(fd, QSocketNotifier::Read, q);
    QObject::connect(reader, &QSocketNotifier::activated, q, [this] { readable(); });
    writer = new QSocketNotifier(fd, QSocketNotifier::Write, q);
    QObject::connect(writer, &QSocketNotifier::activated, q, [this] { writable(); });
    want_write();
}

void MqttClient::Private::readable()
{
    // Before the session, a connect that failed or a broker that closed leaves the socket readable
    // for ever, and under TLS the library takes that for a handshake still to come: it is seen here.
    if (!session_up) {
        const int fd = mosquitto_socket(mosq);
        int failed = 0;
        socklen_t size = sizeof failed;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failed, &size) == 0 && failed != 0)
            return end_attempt(QString::fromLocal8Bit(std::strerror(failed)));
        char byte = 0;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        // The library may have taken the socket's error already (a refused connect under TLS).
        if (n == 0) return end_attempt(QStringLiteral("the connection was refused or closed before the broker answered"));
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return end_attempt(QString::fromLocal8Bit(std::strerror(errno)));
    }
    const int rc = mosquitto_loop_read(mosq, 1);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        // A refused login was told by the connect callback with the broker's reason.
        return end_attempt(rc == MOSQ_ERR_CONN_REFUSED || refused ? QString() : failure_text(rc, err));
    }
    want_write();
}

void MqttClient::Private::writable()
{
    const int rc = mosquitto_loop_write(mosq, 1);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS) return end_attempt(refused ? QString() : failure_text(rc, err));
    want_write();
}

void MqttClient::Private::tick()
{
    was_up = was_up || session_up;
    // Some failures (a TLS handshake with nobody listening, a host that drops packets) never end
    // the attempt by themselves.
    if (!was_up && QDateTime::currentMSecsSinceEpoch() - attempt_began > kConnectTimeoutMs)
        return end_attempt(QStringLiteral("no answer within %1 s").arg(kConnectTimeoutMs / 1000));
    const int rc = mosquitto_loop_misc(mosq);
    const int err = errno;
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return end_attempt(failure_text(rc, err));
    if (rc == MOSQ_ERR_NO_CONN && was_up) return end_attempt(failure_text(MOSQ_ERR_CONN_LOST, err));
    want_write();
}

// The attempt or its session is over: said (unless `why` is empty), the handle made afresh, and
// the next attempt after 1 s if a session was up, else after twice the last wait, up to 30 s.
void MqttClient::Private::end_attempt(const QString& why)
{
    misc.stop();
    watch(false);
    was_up = was_up || session_up;
    if (session_up) {
        session_up = false;
        post([this] {
            if (!up) return;
            up = false;
            emit q->disconnected();
        });
    }
    if (stopping) return;
    if (!why.isEmpty()) post([this, why] { emit q->problem(why); });
    // A fresh handle: what the session left queued (publishes a broker never acknowledged, which
    // the library would otherwise send again) is freed, and nothing counts as waiting.
    unacked.clear();
    queued_bytes = 0;
    dropping = false;
    dropped = 0;
    mosquitto_reinitialise(mosq, endpoint.client_id.toUtf8().constData(), true, this);
    QString error;
    if (configure(error) != MOSQ_ERR_SUCCESS) post([this, error] { emit q->problem(error); });
    if (was_up) delay = kFirstDelayMs;
    retry.start(delay);
    delay = std::min(delay * 2, kLongestDelayMs);
}

void MqttClient::Private::acknowledged(int mid)
{
    const auto it = unacked.find(mid);
    if (it == unacked.end()) return;
    queued_bytes -= it->second;
    unacked.erase(it);
    // Half the bound free again: the broker reads.
    if (dropping && queued_bytes <= endpoint.max_queued_bytes / 2) {
        dropping = false;
        const qint64 n = std::exchange(dropped, 0);
        post([this, n] { emit q->drained(n); });
    }
}

void MqttClient::stop()
{
    if (d_->stopping || !d_->mosq) return;
    d_->stopping = true;
    d_->retry.stop();
    d_->misc.stop();
    // The DISCONNECT goes out at once (the library writes what it can when it is not threaded), so
    // the broker does not send the will.
    if (d_->session_up) mosquitto_disconnect(d_->mosq);
    d_->watch(false);
    d_->session_up = false;
    d_->up = false;
}

bool MqttClient::is_connected() const { return d_->up && d_->session_up; }

bool MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!is_connected() || d_->stopping) return false;
    const QByteArray t = topic.toUtf8();
    const qint64 cost = t.size() + payload.size() + kMessageOverhead;
    if (d_->queued_bytes + cost > d_->endpoint.max_queued_bytes) {
        ++d_->dropped;
        if (!std::exchange(d_->dropping, true)) emit backlogged(d_->queued_bytes);
        return false;
    }
    int mid = 0;
    const int rc = mosquitto_publish(d_->mosq, &mid, t.constData(), int(payload.size()), payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS) return false;
    // The acknowledgement comes in a later read, never within this call.
    d_->queued_bytes += cost;
    d_->unacked[mid] = cost;
    d_->want_write();
    return true;
}

void MqttClient::subscribe(const QString& pattern)
{
    d_->subscriptions << pattern;
    if (!is_connected()) return;
    mosquitto_subscribe(d_->mosq, nullptr, pattern.toUtf8().constData(), 1);
    d_->want_write();
}

} // namespace tavrion::hub
