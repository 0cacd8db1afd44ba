// The hub: its units, each in a thread of its own, and the HTTP face in front of them (the page,
// the JSON API and the event streams), with the checks every request passes before any unit
// hears of it.
#pragma once

#include "hub/hub_config.h"
#include "hub/http_front.h"
#include "hub/unit_state.h"
#include "hub/users.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QFileSystemWatcher;
class QThread;
class QTimer;

namespace tavrion::hub {

class AuditTrail;
class MqttBridge;

constexpr int kMaxBodyBytes = 16 * 1024;
constexpr int kKeepAliveSeconds = 15;

class Hub : public QObject {
    Q_OBJECT
public:
    Hub(UnitsSetup setup, HubOptions options, QByteArray token, std::string program_dir, QObject* parent = nullptr);
    ~Hub() override; // stops every unit

    // Before start(): the named sign-ins, read from `path` already; the hub reads the file again
    // whenever it changes, so a removed sign-in is refused at once, its open streams ended.
    void watch_sign_ins(const QString& path, std::vector<SignIn> named);
    // Reads the sign-ins file again (SIGHUP, or a change seen); a file that cannot be used leaves
    // only the token file's sign-in, with the reason on stderr.
    void reload_sign_ins();
    // Before start(): also serve the units on this MQTT broker.
    void use_broker(MqttSettings settings);
    // HTTPS with this pair: before start() for all connections; after it for new ones, the open
    // ones keeping theirs. False, with `error`, for a pair that cannot be used (nothing changes).
    bool use_tls(const TlsPair& pair, QString& error);
    // Starts listening and the units (and their protocol ports, each announced on stdout); the
    // port listened on, 0 when it cannot listen (start_error() says where).
    quint16 start();
    QString start_error() const { return start_error_; }
    // Refuses new requests, stops every unit between two commands, answers every request in
    // flight, then calls `done` (in this thread) once the answers are out.
    void shutdown(std::function<void()> done);

private:
    struct Unit;
    void handle(const HttpRequest& request, const ExchangePtr& exchange);
    void handle_api(const HttpRequest& request, const ExchangePtr& exchange, const Caller& caller);
    // Who the request's token or cookie signs in, if anyone.
    std::optional<Caller> signed_in(const HttpRequest& request) const;
    void published(Unit& unit, const UnitState& state);
    void keep_streams_alive();
    void start_bridge();
    Unit* find(const QString& id);
    void answer_metrics(const ExchangePtr& exchange);
    void answer_audit(const HttpRequest& request, const ExchangePtr& exchange);

    UnitsSetup setup_;
    HubOptions options_;
    SignIns sign_ins_;
    QString sign_ins_path_;
    QFileSystemWatcher* sign_ins_watch_ = nullptr;
    // Open event streams with the token that opened each, to end them when it no longer signs in.
    std::vector<std::pair<std::weak_ptr<HttpExchange>, QByteArray>> signed_streams_;
    std::string program_dir_;
    ResolutionNames names_; // output_reso.txt, read once and handed to the units and the checks
    QJsonArray resolutions_;
    std::unique_ptr<HostRules> hosts_;
    HttpFront* front_ = nullptr;
    QTimer* keep_alive_ = nullptr;
    std::vector<std::unique_ptr<Unit>> units_;
    bool stopping_ = false;
    QString start_error_;
    std::optional<MqttSettings> mqtt_;
    std::optional<TlsPair> tls_;
    MqttBridge* bridge_ = nullptr;
    std::shared_ptr<AuditTrail> audit_;
    // Answers by HTTP status, counted as they are written (in this thread).
    std::shared_ptr<std::map<int, quint64>> answers_ = std::make_shared<std::map<int, quint64>>();
};

} // namespace tavrion::hub
