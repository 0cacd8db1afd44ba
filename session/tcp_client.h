// The TCP client component as the panel uses it, with the socket states the link watch reads.
// QtTcpClient is the real one; tests put a fake in its place.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace tavrion {

class TcpClient : public QObject {
    Q_OBJECT
public:
    enum State { Closed = 0, Connecting = 6, Connected = 7, Closing = 8, Error = 9 };

    using QObject::QObject;
    ~TcpClient() override = default;

    // Starts a connection to the address text of the address box (see remote_address.h).
    virtual void connect_to(const QString& remote_host) = 0;
    virtual int state() const = 0;
    virtual void send_data(const QByteArray& bytes) = 0;
    virtual QByteArray get_data() = 0; // takes everything received so far
    virtual void close() = 0;
    // Asks the system to probe an idle connection, so that a peer that died without closing it
    // (power cut, cable pulled) ends it within half a minute. Off unless asked for.
    virtual void set_keep_alive(bool on) { Q_UNUSED(on); }

signals:
    void connected();
    void data_arrival();
    // A connection attempt failed at once (refused, unknown host). Only tavrion-ctl listens: the
    // panel reports a failed attempt when its 7 s have run out.
    void attempt_error(const QString& why);
    // An established connection ended without close(): the peer closed or reset it, or it failed
    // (keep-alive or retransmission timeout). Posted after the data that arrived before the end.
    void peer_lost();
};

class QtTcpClient : public TcpClient {
    Q_OBJECT
public:
    explicit QtTcpClient(QObject* parent = nullptr);
    void connect_to(const QString& remote_host) override;
    int state() const override;
    void send_data(const QByteArray& bytes) override;
    QByteArray get_data() override;
    void close() override;
    void set_keep_alive(bool on) override { keep_alive_ = on; }

private:
    void apply_keep_alive();

    QTcpSocket* socket_;
    bool connecting_ = false;
    bool keep_alive_ = false;
    bool established_ = false; // connected, and not yet ended
    bool closing_ = false;     // close() is ending the connection
    quint64 connection_ = 0;   // counts connect_to calls, so late news of an older one is dropped
};

} // namespace tavrion
