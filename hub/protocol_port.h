// A unit's device-protocol port: clients talk to the hub as to the device's own TCP port, each
// command line they send becomes a job on the unit's worker, and each gets its own replies back.
#pragma once

#include "hub/unit_worker.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTcpServer;

namespace tavrion::hub {

constexpr int kMaxProtocolClients = 8;
constexpr int kMaxProtocolLineBytes = 64; // before the CR
constexpr int kMaxQueuedLines = 64;       // a client's commands not yet answered

// Lives in the unit's thread, as do the jobs' answers.
class ProtocolPort : public QObject {
    Q_OBJECT
public:
    // `submit` queues a job on the unit's worker.
    ProtocolPort(std::string unit_id, std::function<void(Job)> submit, QObject* parent = nullptr);
    ~ProtocolPort() override;

    // False, with why, when it cannot listen there.
    bool listen(const ListenAddress& where, QString& error);
    quint16 port() const;

    // While the unit is not up, every client is disconnected and a new one is closed at once.
    void set_unit_up(bool up);
    // The device restarted: every client goes, as the device's own port would drop them.
    void drop_clients();
    // What the device sent by itself goes to every client.
    void broadcast(const std::string& bytes);
    // The number of clients connected is kept there from now on.
    void count_clients_into(std::shared_ptr<UnitStats> stats);

private:
    struct Client;
    void accept();
    void read(const std::shared_ptr<Client>& client);
    void answer(const std::shared_ptr<Client>& client, const std::string& bytes);
    void drop(const std::shared_ptr<Client>& client, const char* why);

    std::string unit_id_;
    std::function<void(Job)> submit_;
    QTcpServer* server_;
    std::vector<std::shared_ptr<Client>> clients_;
    bool unit_up_ = false;
    int next_source_ = kFirstPortSource;
    std::shared_ptr<UnitStats> stats_;
};

} // namespace tavrion::hub
