// A client of an MQTT broker behind a small face of our own: libmosquitto driven from the Qt event
// loop (socket notifiers and a timer), with no thread of its own.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace tavrion::hub {

struct MqttEndpoint {
    QString host;
    quint16 port = 1883;
    bool tls = false;
    QString ca_file;     // with tls: the authority that signed the broker's certificate; empty: the system's
    QString user;        // empty: no login
    QString password;
    QString client_id;
    QString will_topic;  // empty: no last will
    QByteArray will_payload;
    // What may wait for the broker's acknowledgement; beyond it a publish is dropped.
    qint64 max_queued_bytes = 8 * 1024 * 1024;
};

// The largest message payload taken from the broker; the broker is told the packet size that
// allows it (MQTT 5), so it never sends a larger one.
constexpr int kMaxMqttPayloadBytes = 64 * 1024;

class MqttClient : public QObject {
    Q_OBJECT
public:
    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override; // stop()

    // Connects in the background and keeps reconnecting (1 s, doubling to 30 s). False, with
    // `error`, only when the settings themselves are unusable.
    bool start(const MqttEndpoint& endpoint, QString& error);
    // Ends the session (the will is not sent) and makes no further attempt.
    void stop();
    bool is_connected() const;

    // Both are remembered by nothing: a publish while disconnected is dropped. Subscriptions are
    // made again at every connect. A publish is also dropped (false) while the broker leaves
    // max_queued_bytes unacknowledged; a new session starts with nothing queued.
    bool publish(const QString& topic, const QByteArray& payload, bool retain);
    void subscribe(const QString& pattern);

signals:
    void connected();
    void disconnected();
    // A connect attempt failed or the session ended with an error; `reason` is the broker's or the
    // library's word for it.
    void problem(const QString& reason);
    void message(const QString& topic, const QByteArray& payload, bool retained);
    // The broker stopped acknowledging: publishes are dropped from now on (said once).
    void backlogged(qint64 queued_bytes);
    // It acknowledged again, after `dropped` publishes were dropped: whatever is meant to be
    // retained there is worth publishing again.
    void drained(qint64 dropped);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace tavrion::hub
