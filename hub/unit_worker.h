// One unit in a thread of its own: its link and session, one job at a time with its sources taking
// turns, the poll, reopening a lost link with a back-off, the unit's state (its session's device
// model, the link, the problem) as one typed value with a version raised at every change, and the
// unit's protocol port, whose clients' lines are jobs like any other. Nothing here ever blocks the HTTP thread or another unit.
#pragma once

#include "hub/job_result.h"
#include "hub/hub_log.h"
#include "hub/unit_backend.h"
#include "hub/unit_state.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <array>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QThread;
class QTimer;

namespace tavrion::hub {

class AuditTrail;
class ProtocolPort;

// Where a server listens; port 0 lets the system pick one.
struct ListenAddress {
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 0;
    QString text; // as given
};

struct UnitConfig {
    std::string id;
    std::string name;
    UnitLink link;
    std::optional<ListenAddress> protocol_listen; // the unit's device-protocol port, if any
    std::vector<std::string> protocol_refuse;     // command codes its port refuses, unsent
    // What the room calls inputs 1-4 and outputs A-D ("Lectern PC"); empty where it names none.
    std::array<std::string, 4> input_names, output_names;
};

// Who a job is for. The unit serves its sources in turn, so that none waits behind more than one
// job of each other source: the API, MQTT, each protocol-port client (a number of its own, from
// kFirstPortSource up) and the hub's own readings.
constexpr int kApiSource = 0;
constexpr int kMqttSource = 1;
constexpr int kFirstPortSource = 2;

struct Job {
    // Line: one command line of a protocol-port client.
    enum class Kind { Run, Restore, Line };
    Kind kind = Kind::Run;
    int source = kApiSource;
    QString who; // for the audit trail: the sign-in and address, the client's address, the topic
    std::vector<std::string> commands; // Run: checked already
    std::string backup;                // Restore: checked already
    std::string line;                  // Line: as the client sent it, without CR
    std::optional<quint64> if_version; // 409 and nothing sent when the version moved on
    std::function<void(JobResult)> done; // called in the unit's thread
    // Line: what the device sends during the exchange, as it arrives (in the unit's thread).
    std::function<void(const std::string&)> heard;
    // Set once the client has gone: the job is dropped before it is sent, or stops after the
    // command in flight.
    std::shared_ptr<const std::atomic<bool>> gone;
};

// Requests of one source (the API, MQTT) that may wait for a unit. Protocol-port lines are bounded
// by the port (its clients, and the lines each may have waiting).
constexpr int kMaxWaitingJobs = 8;

class UnitWorker : public QObject {
    Q_OBJECT
public:
    // `publish` is called in the unit's thread with the unit's state after every change.
    UnitWorker(UnitConfig config, std::string program_dir, ResolutionNames names, int poll_seconds,
               std::function<void(const UnitState&)> publish);
    ~UnitWorker() override;

    // From any thread: queues the job; its `done` runs once the unit has carried it out. False,
    // and nothing queued, when kMaxWaitingJobs requests of its source wait already.
    bool submit(Job job);
    // Moves the worker into a thread of its own and starts it (opens the link there).
    void start_in(QThread* thread);
    // After start_in: waits until the unit's protocol port listens or could not, and tells where
    // (its port; 0 with `error` when it could not; 0 without an error for a unit without one).
    quint16 protocol_port(QString& error);
    // In the unit's thread: ends the job in flight after its current command, answers the
    // waiting ones 503, closes the link, then emits stopped() (once for every call).
    void stop();
    // The unit's running figures (exchanges, last full reading, protocol clients), readable from
    // any thread at any moment.
    std::shared_ptr<const UnitStats> stats() const { return stats_; }
    // Before start_in: the changes to the unit go into this trail.
    void audit_into(std::shared_ptr<AuditTrail> audit) { audit_ = std::move(audit); }

signals:
    void stopped();

private:
    void begin();
    void wake();
    void pump();
    enum class Turn { None, Job, Hub };
    Turn next_turn(std::optional<Job>& job);
    void hub_work_due();
    void hub_turn();
    void open_link();
    void link_lost();
    JobResult carry_out(const Job& job);
    void settle(bool lost);
    void open_protocol_port();
    void follow_link_on_port();
    void answer_lost_link();
    void finish_stop();
    void reread();
    void take_state();
    void set_link(LinkState state);
    void publish_if_changed();
    UnitState state() const;

    UnitConfig config_;
    std::string program_dir_;
    ResolutionNames names_; // output_reso.txt, read once by the hub
    int poll_seconds_;
    std::function<void(const UnitState&)> publish_;

    std::mutex mutex_;
    // Guarded by mutex_: the jobs waiting, by source, and the sources in the order they are served
    // (kHubTurn for the hub's own work: a restart's or lost link's course, a poll, a reading).
    std::map<int, std::deque<Job>> waiting_;
    std::deque<int> turns_;
    static constexpr int kHubTurn = -1;

    // Everything below lives in the unit's thread.
    std::unique_ptr<UnitBackend> backend_;
    ProtocolPort* port_ = nullptr;
    std::promise<std::pair<quint16, QString>> port_opened_;
    QTimer* poll_timer_ = nullptr;
    QTimer* reopen_timer_ = nullptr;
    int backoff_ms_ = 0;
    bool busy_ = false;  // a job runs; the session's waits run events, so pump() may be re-entered
    bool open_due_ = false;
    bool poll_due_ = false;
    bool link_check_due_ = false; // the session reported its link down
    bool state_due_ = false;      // a reply reached the model since the state was last taken
    bool restart_due_ = false;    // the device restarted: the protocol clients go
    bool stopped_ = false;
    int stops_unreported_ = 0;
    Job* current_ = nullptr;       // the job being carried out
    bool current_answered_ = false; // its answer went already (its link was lost)

    // Connecting, up or down: the link as the worker last learnt it, from the backend's own word
    // that it went down as soon as it says so. Silent is up with the last exchange unanswered.
    LinkState link_ = LinkState::Connecting;
    std::optional<verbs::DeviceStatus> status_; // the session's model, as last taken
    std::string problem_; // why the last reading stopped; empty when it ran through
    hub_log::LinkLog link_log_{QString::fromStdString(config_.id)};
    quint64 version_ = 0;
    UnitState published_; // the state last published, for change detection
    const std::shared_ptr<UnitStats> stats_ = std::make_shared<UnitStats>();
    std::shared_ptr<AuditTrail> audit_;
};

} // namespace tavrion::hub
