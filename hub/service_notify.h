// Tells systemd (a Type=notify service) that the hub is ready or stopping, and pats its watchdog
// from the main loop, so that a hub whose loop hangs is restarted. Datagrams to $NOTIFY_SOCKET;
// nothing at all when the hub was not started by systemd.
#pragma once

#include <QObject>
#include <QByteArray>

class QTimer;

namespace tavrion::hub {

class ServiceNotifier : public QObject {
    Q_OBJECT
public:
    // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID.
    explicit ServiceNotifier(QObject* parent = nullptr);
    ~ServiceNotifier() override;
    // READY=1, and from now on WATCHDOG=1 every half of the watchdog's period.
    void ready();
    void stopping();
    // The watchdog's period in ms; 0 when there is none for this process.
    int watchdog_ms() const { return watchdog_ms_; }

private:
    bool send(const QByteArray& message);

    QByteArray socket_path_; // empty: not under systemd
    int fd_ = -1;
    int watchdog_ms_ = 0;
    QTimer* pat_ = nullptr;
};

} // namespace tavrion::hub
