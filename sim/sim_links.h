// The simulator's two ends of the wire: a TCP server for one client at a time, and a
// pseudo-terminal that plays the RS-232 port. Both frame received bytes into command lines and
// send queued replies strictly in order, each after its own delay.
#pragma once

#include "sim/fault_plan.h"
#include "sim/line_framer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace tavrion_sim {

class SimLink : public QObject {
    Q_OBJECT
public:
    struct Item {
        int delay_ms = 0;       // counted from the moment the previous item left the line
        QByteArray bytes;
        LinkAction after = LinkAction::None;
    };

    SimLink(const QString& channel, QObject* parent);

    QString channel() const { return channel_; }
    virtual bool is_open() const = 0;

    void enqueue(const Item& item);
    // Forgets every queued and half-sent item (the peer went away).
    void clear_queue();
    bool idle() const { return !busy_ && queue_.empty(); }
    // Bytes handed to this link that have not yet left it: queued items plus what the transport
    // still holds. Lets a test feed a long stream without the simulator buffering all of it.
    qint64 unsent_bytes() const;

signals:
    void line_received(const QByteArray& raw, const QString& text);
    void bytes_sent(const QByteArray& bytes);  // at the moment they start to leave
    void event(const QString& text);

protected:
    void receive(const QByteArray& data);
    void reset_framer() { framer_.clear(); }
    // Puts bytes on the line; the subclass calls transmitted() once they have left.
    virtual void transmit(const QByteArray& bytes) = 0;
    virtual void abort_transmit() {}
    virtual qint64 transport_unsent_bytes() const { return 0; }
    virtual void perform(LinkAction action) = 0;
    void transmitted();

private:
    void pump();
    void start_current();

    QString channel_;
    LineFramer framer_;
    std::deque<Item> queue_;
    Item current_;
    bool busy_ = false;
    QTimer delay_timer_;
};

class TcpLink : public SimLink {
    Q_OBJECT
public:
    explicit TcpLink(QObject* parent);
    ~TcpLink() override;

    bool listen(const QHostAddress& address, quint16 port);
    void close();
    bool listening() const;
    quint16 port() const { return port_; }
    QHostAddress address() const { return address_; }
    bool is_open() const override;

    // Closes the present client's connection (abort: without waiting for unsent bytes).
    void drop_client(bool abort);
    // The device restarts: the connection drops `drop_after_ms` later, and the server refuses
    // connections for `refuse_ms` after that.
    void restart(int drop_after_ms, int refuse_ms);
    bool restarting() const { return restarting_; }

signals:
    void client_changed(bool connected);
    void restart_finished();

protected:
    void transmit(const QByteArray& bytes) override;
    void perform(LinkAction action) override;
    qint64 transport_unsent_bytes() const override;

private:
    void take_next_client();
    void client_gone();
    void relisten();

    QTcpServer* server_ = nullptr;
    QPointer<QTcpSocket> client_;
    QHostAddress address_;
    quint16 port_ = 0;
    bool restarting_ = false;
    int refuse_ms_ = 0;
    QTimer drop_timer_;
    QTimer relisten_timer_;
};

class SerialLink : public SimLink {
    Q_OBJECT
public:
    explicit SerialLink(QObject* parent);
    ~SerialLink() override;

    // Creates the pseudo-terminal and a symbolic link to its slave side at `link_path`.
    bool open(const QString& link_path, int baud, QString* error);
    // Closes the pseudo-terminal and removes the link: the device has gone.
    void close();
    bool is_open() const override { return master_ >= 0; }
    QString device_path() const { return device_path_; }
    QString link_path() const { return link_path_; }
    int baud() const { return baud_; }
    void set_baud(int baud);

signals:
    void closed();

protected:
    void transmit(const QByteArray& bytes) override;
    void abort_transmit() override;
    void perform(LinkAction action) override;
    qint64 transport_unsent_bytes() const override { return pending_.size(); }

private:
    void read_master();
    void pace();

    int master_ = -1;
    int slave_keep_ = -1;  // our own hold on the slave, so the master never sees a hang-up
    QString device_path_;
    QString link_path_;
    int baud_ = 115200;
    QSocketNotifier* read_notifier_ = nullptr;
    QSocketNotifier* write_notifier_ = nullptr;
    QByteArray pending_;
    QElapsedTimer clock_;
    qint64 next_byte_ns_ = 0;  // when the next byte may start on the line
    QTimer pace_timer_;
    QTimer drain_timer_;       // fires when the last byte has left the line
};

}  // namespace tavrion_sim
