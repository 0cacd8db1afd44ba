// MqttClient: libmosquitto driven from a thread of our own, so that the back-off, the reasons for
// a failure and the end of the thread are ours to decide.
#include "hub/mqtt_client.h"

#include <QFileInfo>
#include <QMetaObject>

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace tavrion::hub {

namespace {

constexpr int kFirstDelayMs = 1000;
constexpr int kLongestDelayMs = 30000;
constexpr int kKeepAliveSeconds = 30;
constexpr int kConnectTimeoutMs = 10000; // a broker that neither answers nor refuses
constexpr int kLoopWaitMs = 1000;      // the loop also wakes for every publish and for stop()
constexpr int kMaxPendingMessages = 1000; // received, not yet handled by Qt: more are dropped
constexpr int kMaxPayloadBytes = 64 * 1024;

void init_library()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

} // namespace

struct MqttClient::Private {
    MqttClient* q = nullptr;
    MqttEndpoint endpoint;
    mosquitto* mosq = nullptr;
    std::thread thread;
    std::mutex mutex;               // guards stopping with wake
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::atomic<bool> session_up{false};  // as the network thread sees it
    std::atomic<int> pending{0};
    bool up = false;                // as the Qt thread has been told
    QStringList subscriptions;      // Qt thread
    std::mutex log_mutex;
    QString last_error_log;         // the library's last error line (TLS details)

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
    mosquitto* m = d_->mosq;
    mosquitto_threaded_set(m, true);
    // Small messages at once: Nagle's wait for the broker's acknowledgement costs 40 ms a message.
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!e.user.isEmpty())
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
        return false;
    }

    // The callbacks run on the network thread: they copy what they got and post it to Qt.
    mosquitto_connect_callback_set(m, [](mosquitto*, void* obj, int rc) {
        auto* d = static_cast<Private*>(obj);
        if (rc == 0) {
            d->session_up = true;
            d->post([d] {
                d->up = true;
                for (const QString& s : d->subscriptions) mosquitto_subscribe(d->mosq, nullptr, s.toUtf8().constData(), 1);
                emit d->q->connected();
            });
        } else {
            const QString why = QString::fromUtf8(mosquitto_connack_string(rc));
            d->post([d, why] { emit d->q->problem(why); });
        }
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
    mosquitto_message_callback_set(m, [](mosquitto*, void* obj, const mosquitto_message* msg) {
        auto* d = static_cast<Private*>(obj);
        if (msg->payloadlen > kMaxPayloadBytes || d->pending.load() >= kMaxPendingMessages) return;
        ++d->pending;
        const QString topic = QString::fromUtf8(msg->topic);
        const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
        const bool retained = msg->retain;
        d->post([d, topic, payload, retained] {
            --d->pending;
            emit d->q->message(topic, payload, retained);
        });
    });
    mosquitto_log_callback_set(m, [](mosquitto*, void* obj, int level, const char* text) {
        if (level != MOSQ_LOG_ERR) return;
        auto* d = static_cast<Private*>(obj);
        std::lock_guard<std::mutex> lock(d->log_mutex);
        d->last_error_log = QString::fromUtf8(text);
    });
    d_->thread = std::thread([d = d_.get()] { d->run(); });
    return true;
}

// Connect, serve the session until it ends, wait, again: 1 s after a session that was up, doubling
// after every failed attempt up to 30 s. A sleep ends at once when stop() is called.
void MqttClient::Private::run()
{
    const QByteArray host = endpoint.host.toUtf8();
    int delay = kFirstDelayMs;
    while (!stopping) {
        {
            std::lock_guard<std::mutex> lock(log_mutex);
            last_error_log.clear();
        }
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
        if (stopping) break;
        // A refused login was told by the connect callback with the broker's reason.
        if (timed_out || rc != MOSQ_ERR_CONN_REFUSED) {
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
    mosquitto_disconnect(d_->mosq); // queues DISCONNECT and wakes the loop
    d_->thread.join();
    d_->up = false;
}

bool MqttClient::is_connected() const { return d_->up && d_->session_up; }

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain)
{
    if (!is_connected() || d_->stopping) return;
    mosquitto_publish(d_->mosq, nullptr, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 1, retain);
}

void MqttClient::subscribe(const QString& pattern)
{
    d_->subscriptions << pattern;
    if (is_connected()) mosquitto_subscribe(d_->mosq, nullptr, pattern.toUtf8().constData(), 1);
}

} // namespace tavrion::hub
