#include "sim/sim_links.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tavrion_sim {

// ---- SimLink -----------------------------------------------------------------------------------

SimLink::SimLink(const QString& channel, QObject* parent) : QObject(parent), channel_(channel)
{
    delay_timer_.setSingleShot(true);
    delay_timer_.setTimerType(Qt::PreciseTimer);
    connect(&delay_timer_, &QTimer::timeout, this, &SimLink::start_current);
}

void SimLink::receive(const QByteArray& data)
{
    for (const auto& line : framer_.feed(data.constData(), static_cast<size_t>(data.size())))
        emit line_received(QByteArray::fromStdString(line.raw),
                           QString::fromLatin1(line.text.data(), static_cast<int>(line.text.size())));
}

void SimLink::enqueue(const Item& item)
{
    queue_.push_back(item);
    pump();
}

qint64 SimLink::unsent_bytes() const
{
    qint64 n = transport_unsent_bytes();
    for (const Item& item : queue_) n += item.bytes.size();
    return n;
}

void SimLink::clear_queue()
{
    queue_.clear();
    delay_timer_.stop();
    abort_transmit();
    busy_ = false;
}

void SimLink::pump()
{
    if (busy_ || queue_.empty()) return;
    busy_ = true;
    current_ = queue_.front();
    queue_.pop_front();
    if (current_.delay_ms > 0)
        delay_timer_.start(current_.delay_ms);
    else
        start_current();
}

void SimLink::start_current()
{
    if (!current_.bytes.isEmpty() && is_open()) {
        emit bytes_sent(current_.bytes);
        transmit(current_.bytes);
    } else {
        transmitted();
    }
}

void SimLink::transmitted()
{
    if (!busy_) return;
    const LinkAction action = current_.after;
    busy_ = false;
    if (action != LinkAction::None) perform(action);
    // Later, from the event loop: a chain of instant items must not recurse.
    QMetaObject::invokeMethod(this, &SimLink::pump, Qt::QueuedConnection);
}

// ---- TcpLink -----------------------------------------------------------------------------------

TcpLink::TcpLink(QObject* parent) : SimLink(QStringLiteral("tcp"), parent)
{
    drop_timer_.setSingleShot(true);
    relisten_timer_.setSingleShot(true);
    connect(&drop_timer_, &QTimer::timeout, this, [this] {
        emit event(QStringLiteral("restart: connection dropped, refusing for %1 ms").arg(refuse_ms_));
        if (server_) {
            server_->close();
            // Whoever connected meanwhile is dropped with the rest.
            while (server_->hasPendingConnections()) {
                QTcpSocket* s = server_->nextPendingConnection();
                s->abort();
                s->deleteLater();
            }
        }
        drop_client(true);
        relisten_timer_.start(refuse_ms_);
    });
    connect(&relisten_timer_, &QTimer::timeout, this, &TcpLink::relisten);
}

TcpLink::~TcpLink() { close(); }

bool TcpLink::listen(const QHostAddress& address, quint16 port)
{
    close();
    server_ = new QTcpServer(this);
    if (!server_->listen(address, port)) {
        delete server_;
        server_ = nullptr;
        return false;
    }
    address_ = address;
    port_ = server_->serverPort();
    connect(server_, &QTcpServer::newConnection, this, &TcpLink::take_next_client);
    return true;
}

void TcpLink::close()
{
    drop_timer_.stop();
    relisten_timer_.stop();
    restarting_ = false;
    drop_client(true);
    if (server_) {
        server_->close();
        delete server_;
        server_ = nullptr;
    }
}

bool TcpLink::listening() const { return server_ && server_->isListening(); }

bool TcpLink::is_open() const
{
    return client_ && client_->state() == QAbstractSocket::ConnectedState;
}

void TcpLink::take_next_client()
{
    // One client at a time: later ones wait in the server's queue until this one leaves.
    if (client_ || !server_ || restarting_) return;
    while (server_->hasPendingConnections()) {
        QTcpSocket* s = server_->nextPendingConnection();
        if (s->state() != QAbstractSocket::ConnectedState) {
            s->deleteLater();
            continue;
        }
        client_ = s;
        // Replies are a few bytes each; do not let them wait for the previous one's ACK.
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        reset_framer();
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            if (s == client_) receive(s->readAll());
        });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            if (s == client_) client_gone();
        });
        emit event(QStringLiteral("client connected from %1:%2")
                       .arg(s->peerAddress().toString())
                       .arg(s->peerPort()));
        emit client_changed(true);
        if (s->bytesAvailable() > 0) receive(s->readAll());
        return;
    }
}

void TcpLink::client_gone()
{
    QTcpSocket* s = client_;
    client_ = nullptr;
    clear_queue();
    reset_framer();
    if (s) {
        s->disconnect(this);
        s->deleteLater();
    }
    emit event(QStringLiteral("client disconnected"));
    emit client_changed(false);
    take_next_client();
}

void TcpLink::drop_client(bool abort)
{
    if (!client_) return;
    if (abort || client_->state() != QAbstractSocket::ConnectedState) {
        client_->abort();
    } else {
        client_->flush();
        client_->disconnectFromHost();
        // The rest happens on disconnected(); the client stays current until then, so that
        // nothing is sent to a connection that is closing.
        return;
    }
    if (client_) client_gone();
}

void TcpLink::restart(int drop_after_ms, int refuse_ms)
{
    if (restarting_) return;
    restarting_ = true;
    refuse_ms_ = refuse_ms;
    clear_queue();
    emit event(QStringLiteral("restart: no answer, dropping the connection in %1 ms").arg(drop_after_ms));
    drop_timer_.start(drop_after_ms);
}

void TcpLink::relisten()
{
    if (!server_) return;
    if (!server_->listen(address_, port_)) {
        // The port may still be held for a moment; try again shortly.
        relisten_timer_.start(100);
        return;
    }
    restarting_ = false;
    emit event(QStringLiteral("restart: accepting connections again"));
    emit restart_finished();
    take_next_client();
}

void TcpLink::transmit(const QByteArray& bytes)
{
    if (client_) client_->write(bytes);
    transmitted();
}

qint64 TcpLink::transport_unsent_bytes() const { return client_ ? client_->bytesToWrite() : 0; }

void TcpLink::perform(LinkAction action)
{
    if (action == LinkAction::Close) {
        emit event(QStringLiteral("closing the connection"));
        drop_client(false);
    } else if (action == LinkAction::Vanish) {
        emit event(QStringLiteral("dropping the connection"));
        drop_client(true);
    }
}

// ---- SerialLink --------------------------------------------------------------------------------

SerialLink::SerialLink(QObject* parent) : SimLink(QStringLiteral("serial"), parent)
{
    clock_.start();
    pace_timer_.setTimerType(Qt::PreciseTimer);
    pace_timer_.setInterval(1);
    connect(&pace_timer_, &QTimer::timeout, this, &SerialLink::pace);
    drain_timer_.setSingleShot(true);
    drain_timer_.setTimerType(Qt::PreciseTimer);
    connect(&drain_timer_, &QTimer::timeout, this, [this] { transmitted(); });
}

SerialLink::~SerialLink() { close(); }

void SerialLink::set_baud(int baud) { baud_ = baud < 0 ? 0 : baud; }

bool SerialLink::open(const QString& link_path, int baud, QString* error)
{
    close();
    set_baud(baud);
    auto fail = [&](const QString& what) {
        if (error) *error = what;
        if (slave_keep_ >= 0) ::close(slave_keep_);
        if (master_ >= 0) ::close(master_);
        slave_keep_ = master_ = -1;
        return false;
    };
    // Close-on-exec: a program started meanwhile (a hub under test) must not hold the line open,
    // or closing it here would never hang it up.
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) return fail(QStringLiteral("posix_openpt: %1").arg(strerror(errno)));
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail(QStringLiteral("grantpt/unlockpt: %1").arg(strerror(errno)));
    const char* name = ::ptsname(master_);
    if (!name) return fail(QStringLiteral("ptsname: %1").arg(strerror(errno)));
    device_path_ = QString::fromLocal8Bit(name);

    termios t{};
    if (::tcgetattr(master_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
    slave_keep_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_keep_ < 0) return fail(QStringLiteral("open %1: %2").arg(device_path_, strerror(errno)));
    if (::tcgetattr(slave_keep_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(slave_keep_, TCSANOW, &t);
    }

    const QFileInfo link(link_path);
    QDir().mkpath(link.absolutePath());
    if (link.isSymLink()) QFile::remove(link.absoluteFilePath());
    else if (link.exists()) return fail(QStringLiteral("%1 exists and is not a symbolic link").arg(link_path));
    if (::symlink(name, QFile::encodeName(link.absoluteFilePath()).constData()) != 0)
        return fail(QStringLiteral("symlink %1: %2").arg(link_path, strerror(errno)));
    link_path_ = link.absoluteFilePath();

    read_notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(read_notifier_, &QSocketNotifier::activated, this, &SerialLink::read_master);
    write_notifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    write_notifier_->setEnabled(false);
    connect(write_notifier_, &QSocketNotifier::activated, this, [this] {
        write_notifier_->setEnabled(false);
        pace();
    });
    reset_framer();
    emit event(QStringLiteral("serial line open: %1 -> %2, %3 baud").arg(link_path_, device_path_).arg(baud_));
    return true;
}

void SerialLink::close()
{
    if (master_ < 0) return;
    clear_queue();
    // Later: a reply can close the line from inside the read notifier's own signal.
    for (QSocketNotifier* n : {read_notifier_, write_notifier_}) {
        n->setEnabled(false);
        n->deleteLater();
    }
    read_notifier_ = write_notifier_ = nullptr;
    // Remove the link only if it is still ours.
    if (!link_path_.isEmpty() && QFileInfo(link_path_).symLinkTarget() == device_path_)
        QFile::remove(link_path_);
    ::close(slave_keep_);
    ::close(master_);
    slave_keep_ = master_ = -1;
    emit event(QStringLiteral("serial line closed: %1 removed").arg(link_path_));
    link_path_.clear();
    device_path_.clear();
    emit closed();
}

void SerialLink::read_master()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            receive(QByteArray(buf, static_cast<int>(n)));
            if (master_ < 0) return;  // a reply closed the line
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return;  // EAGAIN, or nothing more to read
    }
}

void SerialLink::transmit(const QByteArray& bytes)
{
    // An idle line starts the new bytes now, not at some time in the past.
    next_byte_ns_ = std::max(next_byte_ns_, clock_.nsecsElapsed());
    pending_ += bytes;
    pace();
}

void SerialLink::abort_transmit()
{
    pending_.clear();
    pace_timer_.stop();
    drain_timer_.stop();
    if (write_notifier_) write_notifier_->setEnabled(false);
}

void SerialLink::pace()
{
    if (master_ < 0 || pending_.isEmpty()) return;
    const qint64 now = clock_.nsecsElapsed();
    const qint64 byte_ns = baud_ > 0 ? 10'000'000'000LL / baud_ : 0;  // 8N1: ten bits a byte
    // A late tick may catch up a few milliseconds; a longer stall (a full terminal buffer)
    // must not turn into a burst faster than the line.
    const qint64 catch_up_ns = 5'000'000;
    if (next_byte_ns_ < now - catch_up_ns) next_byte_ns_ = now - catch_up_ns;
    qint64 allowed = pending_.size();
    if (byte_ns > 0) allowed = now >= next_byte_ns_ ? 1 + (now - next_byte_ns_) / byte_ns : 0;
    allowed = std::min<qint64>(allowed, pending_.size());
    qint64 written = 0;
    while (written < allowed) {
        const ssize_t n = ::write(master_, pending_.constData() + written,
                                  static_cast<size_t>(allowed - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;  // the terminal's buffer is full: wait until it can take more
    }
    pending_.remove(0, static_cast<int>(written));
    next_byte_ns_ += written * byte_ns;

    if (written < allowed) {
        pace_timer_.stop();
        write_notifier_->setEnabled(true);
        return;
    }
    if (!pending_.isEmpty()) {
        if (!pace_timer_.isActive()) pace_timer_.start();
        return;
    }
    pace_timer_.stop();
    // Report the bytes as gone when the last one has left the line, so that a gap that follows
    // is a gap on the wire.
    const qint64 left_ns = next_byte_ns_ - clock_.nsecsElapsed();
    drain_timer_.start(left_ns > 0 ? static_cast<int>((left_ns + 999'999) / 1'000'000) : 0);
}

void SerialLink::perform(LinkAction action)
{
    if (action == LinkAction::Vanish) close();
}

}  // namespace tavrion_sim
