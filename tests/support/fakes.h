// Fakes for the platform seams: message boxes that are recorded, a serial port and a TCP client
// whose far end is a script in the test.
#pragma once

#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "session/message_boxes.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>

namespace tavrion::test {

class RecordingBoxes : public MessageBoxes {
public:
    struct Box {
        QString text;
        BoxIcon icon;
    };
    void show(const QString& text, BoxIcon icon) override
    {
        boxes.append({text, icon});
        if (on_show) on_show(boxes.last());
    }
    QStringList texts() const;
    void clear() { boxes.clear(); }
    QList<Box> boxes;
    std::function<void(const Box&)> on_show; // optional: told of each box as it opens
};

// What a scripted device answers to one command (six characters, no CR): the bytes to send back,
// empty for silence. Called when the command's CR has been written.
using Responder = std::function<QByteArray(const QByteArray& command)>;

// Collects written bytes into commands, and delivers the responder's answer `delay_ms` later
// (0 = on the next event-loop turn) through `feed`.
class CommandWire {
public:
    QStringList commands;  // every command written, without CR, in order
    QByteArray raw;        // every byte written
    Responder responder;
    int delay_ms = 0; // negative: the answer is there by the time the write returns
    void clear() { commands.clear(); raw.clear(); }

protected:
    void take_written(QObject* context, const QByteArray& bytes, std::function<void(QByteArray)> feed);

private:
    QByteArray pending_;
};

class FakeSerialPort : public SerialPort, public CommandWire {
    Q_OBJECT
public:
    QSet<int> openable_ports{1, 2, 3, 4, 5, 6, 7, 8, 9};
    int opened_port = 0;  // 0 when closed
    int open_calls = 0;

    bool open(int port) override;
    void close() override { opened_port = 0; inbuf_.clear(); }
    bool is_open() const override { return opened_port != 0; }
    qint64 in_buffer_count() override { return inbuf_.size(); }
    void discard_input() override { inbuf_.clear(); }
    qint64 out_buffer_count() override { return 0; }
    void discard_output() override {}
    QByteArray input() override;
    void output(const QByteArray& bytes) override;

    // Bytes arrive from the device now.
    void feed(const QByteArray& bytes);
    // The adapter is pulled: the port reports it lost.
    void vanish() { emit device_lost(); }

private:
    QByteArray inbuf_;
};

class FakeTcpClient : public TcpClient, public CommandWire {
    Q_OBJECT
public:
    enum class OnConnect { Accept, Hang, Refuse };
    OnConnect on_connect = OnConnect::Accept;
    QString last_host;    // the text handed to connect_to
    int connect_calls = 0;

    void connect_to(const QString& remote_host) override;
    int state() const override { return state_; }
    void send_data(const QByteArray& bytes) override;
    QByteArray get_data() override;
    void close() override { state_ = Closed; inbuf_.clear(); }

    void feed(const QByteArray& bytes);
    void drop() { state_ = Closed; } // the far end goes away without a word

private:
    int state_ = Closed;
    QByteArray inbuf_;
};

} // namespace tavrion::test
