// The service manager's notification protocol, written out by hand (a datagram per message) so
// that the hub needs no libsystemd.
#include "hub/service_notify.h"

#include <QTimer>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tavrion::hub {

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent)
{
    socket_path_ = qgetenv("NOTIFY_SOCKET");
    // A path, or an abstract name written with a leading '@'.
    if (socket_path_.isEmpty() || (socket_path_[0] != '/' && socket_path_[0] != '@')
        || socket_path_.size() >= int(sizeof(sockaddr_un::sun_path))) {
        socket_path_.clear();
        return;
    }
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool ok = false;
    const qint64 usec = qgetenv("WATCHDOG_USEC").toLongLong(&ok);
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    // The watchdog is meant for this process only when WATCHDOG_PID, if set, names it.
    if (ok && usec > 0 && (pid.isEmpty() || pid.toLongLong() == ::getpid())) watchdog_ms_ = int(std::max<qint64>(1, usec / 1000));
}

ServiceNotifier::~ServiceNotifier()
{
    if (fd_ >= 0) ::close(fd_);
}

bool ServiceNotifier::send(const QByteArray& message)
{
    if (fd_ < 0) return false;
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, socket_path_.constData(), std::size_t(socket_path_.size()));
    if (to.sun_path[0] == '@') to.sun_path[0] = '\0';
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + std::size_t(socket_path_.size()));
    // Never blocks the main loop: a manager that does not read loses a message, not the hub.
    return ::sendto(fd_, message.constData(), std::size_t(message.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&to), length) == message.size();
}

void ServiceNotifier::ready()
{
    send("READY=1\nMAINPID=" + QByteArray::number(::getpid()));
    if (watchdog_ms_ <= 0 || pat_) return;
    // From the main loop's own timer: a loop that hangs stops the pats, and systemd restarts the hub.
    pat_ = new QTimer(this);
    connect(pat_, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
    pat_->start(std::max(1, watchdog_ms_ / 2));
    send("WATCHDOG=1");
}

void ServiceNotifier::stopping()
{
    send("STOPPING=1");
}

} // namespace tavrion::hub
