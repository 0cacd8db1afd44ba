#include "support/fakes.h"

#include <QPointer>
#include <QTimer>

namespace tavrion::test {

QStringList RecordingBoxes::texts() const
{
    QStringList out;
    for (const Box& b : boxes) out << b.text;
    return out;
}

void CommandWire::take_written(QObject* context, const QByteArray& bytes, std::function<void(QByteArray)> feed)
{
    raw += bytes;
    pending_ += bytes;
    int cr;
    while ((cr = pending_.indexOf('\r')) >= 0) {
        const QByteArray command = pending_.left(cr);
        pending_.remove(0, cr + 1);
        commands << QString::fromLatin1(command);
        if (!responder) continue;
        const QByteArray answer = responder(command);
        if (answer.isEmpty()) continue;
        if (delay_ms < 0)
            feed(answer); // already in the receive buffer when the write returns
        else
            QTimer::singleShot(delay_ms, context, [feed, answer] { feed(answer); });
    }
}

bool FakeSerialPort::open(int port)
{
    ++open_calls;
    if (!openable_ports.contains(port)) {
        opened_port = 0;
        return false;
    }
    opened_port = port;
    return true;
}

QByteArray FakeSerialPort::input()
{
    QByteArray out;
    out.swap(inbuf_);
    return out;
}

void FakeSerialPort::output(const QByteArray& bytes)
{
    if (!is_open()) return;
    take_written(this, bytes, [this](QByteArray b) { feed(b); });
}

void FakeSerialPort::feed(const QByteArray& bytes)
{
    if (!is_open()) return;
    inbuf_ += bytes;
    emit ready_read();
}

void FakeTcpClient::connect_to(const QString& remote_host)
{
    ++connect_calls;
    last_host = remote_host;
    state_ = Connecting;
    switch (on_connect) {
    case OnConnect::Accept:
        QTimer::singleShot(0, this, [this] {
            if (state_ != Connecting) return;
            state_ = Connected;
            emit connected();
        });
        break;
    case OnConnect::Refuse: state_ = Error; break;
    case OnConnect::Hang: break;
    }
}

void FakeTcpClient::send_data(const QByteArray& bytes)
{
    if (state_ != Connected) return;
    take_written(this, bytes, [this](QByteArray b) { feed(b); });
}

QByteArray FakeTcpClient::get_data()
{
    QByteArray out;
    out.swap(inbuf_);
    return out;
}

void FakeTcpClient::feed(const QByteArray& bytes)
{
    if (state_ != Connected) return;
    inbuf_ += bytes;
    emit data_arrival();
}

} // namespace tavrion::test
