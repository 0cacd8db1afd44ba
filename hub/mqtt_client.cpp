// MqttClient: libmosquitto driven from a thread of our own, so that the back-off, the reasons for
// a failure and the end of the thread are ours to decide.
#include "hub/mqtt_client.h"

#include <QFileInfo>
#include <QMetaObject>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace tavrion::hub {

namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;
constexpr int kKeepAliveSeconds = 30;
constexpr int kConnectTimeoutMs = 10000; // a broker that neither answers nor refuses
constexpr int kLoopWaitMs = 1000;      // the loop also wakes for every publish and for stop()
constexpr int kMaxPendingMessages = 1000; // received, not yet handled by Qt: more are dropped
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
    std::mutex handle_mutex;        // the Qt thread's calls against the network thread's reinitialising
    std::thread thread;
    std::mutex mutex;               // guards stopping with wake
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::atomic<bool> session_up{false};  // as the network thread sees it
    std::atomic<bool> refused{false};     // the broker refused this attempt (said by the callback)
    std::atomic<bool> v311{false};        // the broker speaks no MQTT 5
    std::atomic<int> pending{0};
    std::atomic<qint64> pending_bytes{0};
    bool up = false;                // as the Qt thread has been told
    QStringList subscriptions;      // Qt thread
    std::mutex log_mutex;
    QString last_error_log;         // the library's last error line (TLS details)

    // Publishes not yet acknowledged, by message id, in this session (guarded by queue_mutex).
    std::mutex queue_mutex;
    std::unordered_map<int, qint64> unacked;
    std::unordered_set<int> acked_early; // acknowledged before publish() had noted them
    qint64 queued_bytes = 0;
    quint64 session = 1; // never 0
    qint64 dropped = 0;
    bool dropping = false;

    int configure(QString& error);
    void new_session();
    void acknowledged(int mid);
    void run();
    void post(std::function<void()> f) { QMetaObject::invokeMethod(q, std::move(f), Qt::QueuedConnection); }
    bool sleep_ms(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
    }
    QString failure_text(int rc, int err)
    {
        if (rc == MOSQ_ERR_ERRNO) return QString::fromLocal8Bit(std::strerror(err));
        // The library has no words of its own for this one.
        if (rc == MOSQ_ERR_KEEPALIVE) return QStringLiteral("no answer within the keep-alive (%1 s)").arg(kKeepAliveSeconds);
        QString text = QString::fromUtf8(mosquitto_strerror(rc));
        std::lock_guard<std::mutex> lock(log_mutex);
        if (rc == MOSQ_ERR_TLS && !last_error_log.isEmpty()) {
            if (text.endsWith(QLatin1Char('.'))) text.chop(1);
            text += QStringLiteral(": ") + last_error_log;
        }
        return text;
    }
};

MqttClient::MqttClient(QObject* parent) : QObject(parent), d_(std::make_unique<Private>()) { d_->q = this; }

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
    d_->thread = std::thread([d = d_.get()] { d->run(); });
    return true;
}

// Everything a session needs set on the handle, again at every connect: reinitialising the handle
// for a new session frees whatever the last one left queued.
int MqttClient::Private::configure(QString& error)
{
    const MqttEndpoint& e = endpoint;
    mosquitto* m = mosq;
    mosquitto_threaded_set(m, true);
    // Small messages at once: Nagle's wait for the broker's acknowledgement costs 40 ms a message.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    const bool v5 = !v311;
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    int rc = MOSQ_ERR_SUCCESS;
    if (v5) {
        // The broker is told the largest packet the hub takes, and drops a larger message rather
        // than send it: the library would hold all of it before any check of ours. The library
        // keeps CONNECT properties for every later connect of the handle; a keep-alive under 5 s
        // is refused before anything goes on the network, so this only stores them.
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

    // The callbacks run on the network thread: they copy what they got and post it to Qt.
    mosquitto_connect_callback_set(m, [](mosquitto*, void* obj, int rc) {
        auto* d = static_cast<Private*>(obj);
        if (rc == 0) {
            d->session_up = true;
            d->post([d] {
                d->up = true;
                {
                    std::lock_guard<std::mutex> lock(d->handle_mutex);
                    for (const QString& s : d->subscriptions) mosquitto_subscribe(d->mosq, nullptr, s.toUtf8().constData(), 1);
                }
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
        if (msg->payloadlen > kMaxMqttPayloadBytes || d->pending.load() >= kMaxPendingMessages
            || d->pending_bytes.load() + msg->payloadlen > kMaxPendingBytes)
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
    mosquitto_log_callback_set(m, [](mosquitto*, void* obj, int level, const char* text) {
        if (level != MOSQ_LOG_ERR) return;
        auto* d = static_cast<Private*>(obj);
        std::lock_guard<std::mutex> lock(d->log_mutex);
        d->last_error_log = QString::fromUtf8(text);
    });
    return MOSQ_ERR_SUCCESS;
}

// A fresh handle: what the last session left queued (publishes a broker never acknowledged, which
// the library would otherwise send again) is freed, and nothing counts as waiting.
void MqttClient::Private::new_session()
{
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        unacked.clear();
        acked_early.clear();
        queued_bytes = 0;
        dropping = false;
        dropped = 0;
        ++session;
    }
    std::lock_guard<std::mutex> lock(handle_mutex);
    mosquitto_reinitialise(mosq, endpoint.client_id.toUtf8().constData(), true, this);
    QString error;
    if (configure(error) != MOSQ_ERR_SUCCESS) post([this, error] { emit q->problem(error); });
}

void MqttClient::Private::acknowledged(int mid)
{
    std::lock_guard<std::mutex> lock(queue_mutex);
    const auto it = unacked.find(mid);
    if (it == unacked.end()) {
        acked_early.insert(mid);
        return;
    }
    queued_bytes -= it->second;
    unacked.erase(it);
    // Half the bound free again: the broker reads.
    if (dropping && queued_bytes <= endpoint.max_queued_bytes / 2) {
        dropping = false;
        const qint64 n = std::exchange(dropped, 0);
        post([this, n] { emit q->drained(n); });
    }
}

// Connect, serve the session until it ends, wait, again: 1 s after a session that was up, doubling
// after every failed attempt up to 30 s. A sleep ends at once when stop() is called.
void MqttClient::Private::run()
{
    const QByteArray host = endpoint.host.toUtf8();
    int delay = kFirstDelayMs;
    bool first = true;
    while (!stopping) {
        if (!std::exchange(first, false)) new_session();
        {
            std::lock_guard<std::mutex> lock(log_mutex);
            last_error_log.clear();
        }
        refused = false;
        int rc = mosquitto_connect_async(mosq, host.constData(), endpoint.port, kKeepAliveSeconds);
        int err = errno;
        bool was_up = false;
        bool timed_out = false;
        const auto began = std::chrono::steady_clock::now();
        while (rc == MOSQ_ERR_SUCCESS && !stopping) {
            rc = mosquitto_loop(mosq, kLoopWaitMs, 1);
            err = errno;
            was_up = was_up || session_up;
            // Some failures (a TLS handshake with nobody listening, a host that drops packets)
            // never end the attempt by themselves.
            if (rc == MOSQ_ERR_SUCCESS && !was_up && std::chrono::steady_clock::now() - began > std::chrono::milliseconds(kConnectTimeoutMs)) {
                timed_out = true;
                break;
            }
        }
        session_up = false;
        if (stopping) break;
        // A refused login was told by the connect callback with the broker's reason.
        if (timed_out || (rc != MOSQ_ERR_CONN_REFUSED && !refused)) {
            const QString why = timed_out ? QStringLiteral("no answer within %1 s").arg(kConnectTimeoutMs / 1000) : failure_text(rc, err);
            post([this, why] { emit q->problem(why); });
        }
        if (was_up) delay = kFirstDelayMs;
        if (!sleep_ms(delay)) break;
        delay = std::min(delay * 2, kLongestDelayMs);
    }
    // The DISCONNECT that stop() queued goes out before the socket closes.
    for (int i = 0; i < 5 && mosquitto_loop(mosq, 100, 1) == MOSQ_ERR_SUCCESS; ++i) {
    }
}

void MqttClient::stop()
{
    if (!d_->thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->stopping = true;
    }
    d_->wake.notify_all();
    {
        std::lock_guard<std::mutex> lock(d_->handle_mutex);
        mosquitto_disconnect(d_->mosq); // queues DISCONNECT and wakes the loop
    }
    d_->thread.join();
    d_->up = false;
}

bool MqttClient::is_connected() const { return d_->up && d_->session_up; }

bool MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!is_connected() || d_->stopping) return false;
    const QByteArray t = topic.toUtf8();
    const qint64 cost = t.size() + payload.size() + kMessageOverhead;
    quint64 session = 0;
    qint64 backlog = -1; // said once the lock is left
    {
        std::lock_guard<std::mutex> lock(d_->queue_mutex);
        if (d_->queued_bytes + cost > d_->endpoint.max_queued_bytes) {
            ++d_->dropped;
            if (!std::exchange(d_->dropping, true)) backlog = d_->queued_bytes;
        } else {
            d_->queued_bytes += cost;
            session = d_->session;
        }
    }
    if (backlog >= 0) emit backlogged(backlog);
    if (session == 0) return false;
    int mid = 0;
    int rc = MOSQ_ERR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(d_->handle_mutex);
        rc = mosquitto_publish(d_->mosq, &mid, t.constData(), int(payload.size()), payload.constData(), 1, retain);
    }
    std::lock_guard<std::mutex> lock(d_->queue_mutex);
    // A session that ended meanwhile took its count with it.
    if (session != d_->session) return rc == MOSQ_ERR_SUCCESS;
    if (rc != MOSQ_ERR_SUCCESS || d_->acked_early.erase(mid)) d_->queued_bytes -= cost;
    else d_->unacked[mid] = cost;
    return rc == MOSQ_ERR_SUCCESS;
}

void MqttClient::subscribe(const QString& pattern)
{
    d_->subscriptions << pattern;
    if (!is_connected()) return;
    std::lock_guard<std::mutex> lock(d_->handle_mutex);
    mosquitto_subscribe(d_->mosq, nullptr, pattern.toUtf8().constData(), 1);
}

} // namespace tavrion::hub
