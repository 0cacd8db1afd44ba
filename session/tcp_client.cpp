#include "session/tcp_client.h"

#include "protocol/remote_address.h"

#include <QTcpSocket>

namespace tavrion {

namespace {
// Bounds what the socket buffers between two reads, so a flood never grows memory.
constexpr qint64 kReadBufferSize = 4096;
} // namespace

QtTcpClient::QtTcpClient(QObject* parent) : TcpClient(parent), socket_(new QTcpSocket(this))
{
    socket_->setReadBufferSize(kReadBufferSize);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::connected, this, [this] {
        connecting_ = false;
        emit connected();
    });
    connect(socket_, &QAbstractSocket::errorOccurred, this, [this] {
        if (!connecting_) return;
        connecting_ = false;
        emit attempt_error(socket_->errorString());
    });
    // Posted, not sent: QTcpSocket announces no new data while a readyRead handler is still
    // running, so a wait reached from the receiver (a handler that lets a click start a
    // transaction) would never hear its own reply.
    connect(socket_, &QTcpSocket::readyRead, this, &TcpClient::data_arrival, Qt::QueuedConnection);
}

void QtTcpClient::connect_to(const QString& remote_host)
{
    const RemoteAddress a = parse_remote_address(remote_host.toStdString());
    socket_->abort();
    connecting_ = true;
    socket_->connectToHost(QString::fromStdString(a.host), quint16(a.port));
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

int QtTcpClient::state() const
{
    switch (socket_->state()) {
    case QAbstractSocket::ConnectedState: return Connected;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState: return Connecting;
    case QAbstractSocket::ClosingState: return Closing;
    default: return Closed;
    }
}

void QtTcpClient::send_data(const QByteArray& bytes)
{
    if (socket_->state() != QAbstractSocket::ConnectedState) return;
    socket_->write(bytes);
    socket_->flush();
}

QByteArray QtTcpClient::get_data() { return socket_->readAll(); }

void QtTcpClient::close()
{
    connecting_ = false;
    socket_->abort();
}

} // namespace tavrion
