// tavrion-sim as a library: one simulated KV-7720 (DeviceModel), its fault plan, and the
// transports that carry it (TCP server, pseudo-terminal, control port). Runs in the caller's Qt
// event loop, so tests drive the panel and the device in one thread.
#pragma once

#include "sim/device_model.h"
#include "sim/fault_plan.h"
#include "sim/transcript.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class QTcpServer;

namespace tavrion_sim {

class SimLink;
class TcpLink;
class SerialLink;

class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(QObject* parent = nullptr);
    ~SimServer() override;

    // TCP: one client at a time; port 0 picks a free port (see tcp_port()).
    bool listen_tcp(const QHostAddress& address, quint16 port);
    quint16 tcp_port() const;
    void close_tcp();
    bool tcp_client_connected() const;
    bool restarting() const;  // after PWR001/RST001 over TCP, until connections are accepted again

    // Serial: a pseudo-terminal with a symbolic link to its slave side at `link_path`
    // (removed again by close_serial() and the destructor). baud 0 = no pacing.
    bool open_serial(const QString& link_path, int baud = 115200);
    void close_serial();  // also the "device disappears" fault
    bool serial_open() const;
    QString serial_device() const;  // /dev/pts/N while open

    // A local control port speaking the control language, one line each way.
    bool listen_control(const QHostAddress& address, quint16 port);
    quint16 control_port() const;

    DeviceModel& device() { return device_; }
    FaultPlan& faults() { return faults_; }

    // Every command line received on either transport, in order, without CR.
    QStringList received_commands() const { return received_; }
    void clear_received() { received_.clear(); }

    // Runs one line of the control language (sim/README.md); false on a malformed line or an
    // action that cannot be done now (last_error() says why).
    bool apply_control(const QString& line);
    // Same, returning the text a control client sees: output lines, then "ok" or "error: ...".
    QString run_control(const QString& line, bool* ok = nullptr);
    QString last_error() const { return last_error_; }

    // Sends bytes now, as they are, on every open transport (after what is already queued).
    void send_raw(const QByteArray& bytes);
    // Bytes queued or held by the transports that have not left yet (every link).
    qint64 unsent_bytes() const;
    // Nothing queued, delayed or being sent on any link.
    bool idle() const;

    void set_restart_ms(int ms) { restart_ms_ = ms; }
    int restart_ms() const { return restart_ms_; }
    void set_restart_drop_ms(int ms) { restart_drop_ms_ = ms; }

    // Transcript file ("" stops it).
    bool set_transcript(const QString& path);
    // Replay: answer the n-th received command with the replies recorded after the n-th
    // command of `path`; after the last one the device model answers again.
    bool load_replay(const QString& path, QString* error = nullptr);
    bool replaying() const { return replay_active_; }

    QString status_text() const;

signals:
    void command_received(const QString& command);
    void tcp_client_changed(bool connected);
    void restart_finished();
    void serial_closed();
    // Things a person running the simulator wants to know (connections, restarts, replay).
    void notice(const QString& text);
    // Bytes as they start to leave on `channel` ("tcp", "serial"); the transcript's TX lines.
    void bytes_sent(const QString& channel, const QByteArray& bytes);

private:
    void attach(SimLink* link);
    void on_line(SimLink* link, const QByteArray& raw, const QString& text);
    void log(const QString& channel, const char* kind, const QByteArray& bytes);
    void begin_restart();
    bool set_value(const std::string& key, const std::string& value);

    DeviceModel device_;
    FaultPlan faults_;
    TcpLink* tcp_ = nullptr;
    SerialLink* serial_ = nullptr;
    QTcpServer* control_ = nullptr;
    QStringList received_;
    QString last_error_;
    int restart_ms_ = 3000;
    int restart_drop_ms_ = 500;
    QElapsedTimer clock_;
    QFile transcript_;
    std::vector<ReplayStep> replay_;
    size_t replay_next_ = 0;
    bool replay_active_ = false;
};

}  // namespace tavrion_sim
