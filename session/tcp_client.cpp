// QtTcpClient: the TCP client on QTcpSocket, with optional keep-alive probing of an idle link.
#include "session/tcp_client.h"

#include "protocol/remote_address.h"

#include <QTcpSocket>

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace tavrion {

namespace {
// Bounds what the socket buffers between two reads, so a flood never grows memory.
constexpr qint64 kReadBufferSize = 4096;
// Keep-alive: the first probe after 10 s of silence, then every 5 s; 3 unanswered probes end the
// link, 25 s after the peer last spoke. Data left unacknowledged that long ends it too (without
// this, retransmissions would hold a dead link for a quarter of an hour).
constexpr int kKeepIdleSeconds = 10;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepProbes = 3;
constexpr unsigned kUnacknowledgedMs = (kKeepIdleSeconds + kKeepIntervalSeconds * kKeepProbes) * 1000;
} // namespace

QtTcpClient::QtTcpClient(QObject* parent) : TcpClient(parent), socket_(new QTcpSocket(this))
{
    socket_->setReadBufferSize(kReadBufferSize);
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::connected, this, [this] {
        connecting_ = false;
        established_ = true;
        if (keep_alive_) apply_keep_alive();
        emit connected();
    });
    connect(socket_, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s != QAbstractSocket::UnconnectedState || !established_) return;
        established_ = false;
        if (closing_) return;
        // Posted like the data, so whatever the peer sent before it went is taken first.
        const quint64 connection = connection_;
        QMetaObject::invokeMethod(this, [this, connection] {
            if (connection == connection_) emit peer_lost();
        }, Qt::QueuedConnection);
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
    close();
    ++connection_;
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
    closing_ = true;
    socket_->abort();
    closing_ = false;
}

void QtTcpClient::apply_keep_alive()
{
    socket_->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#ifdef Q_OS_LINUX
    const int fd = int(socket_->socketDescriptor());
    if (fd < 0) return;
    const int idle = kKeepIdleSeconds, interval = kKeepIntervalSeconds, probes = kKeepProbes;
    const unsigned unacknowledged = kUnacknowledgedMs;
    // Best effort: where the system refuses a value, its own (slower) default stays.
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
#endif
}

} // namespace tavrion
