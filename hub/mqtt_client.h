// A client of an MQTT broker behind a small face of our own: libmosquitto's network loop runs on a
// thread of its own and reaches Qt only through queued signals.
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
};

class MqttClient : public QObject {
    Q_OBJECT
public:
    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override; // stop()

    // Connects in the background and keeps reconnecting (1 s, doubling to 30 s). False, with
    // `error`, only when the settings themselves are unusable.
    bool start(const MqttEndpoint& endpoint, QString& error);
    // Ends the session (the will is not sent), then stops and joins the network thread.
    void stop();
    bool is_connected() const;

    // Both are remembered by nothing: a publish while disconnected is dropped. Subscriptions are
    // made again at every connect.
    void publish(const QString& topic, const QByteArray& payload, bool retain);
    void subscribe(const QString& pattern);

signals:
    void connected();
    void disconnected();
    // A connect attempt failed or the session ended with an error; `reason` is the broker's or the
    // library's word for it.
    void problem(const QString& reason);
    void message(const QString& topic, const QByteArray& payload, bool retained);

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace tavrion::hub
