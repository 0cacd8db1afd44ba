// The hub on an MQTT broker: each unit's availability, document and simple values as retained
// topics, commands from set topics and the run topic carried out through the unit's queue, and
// Home Assistant's discovery configs.
#pragma once

#include "hub/mqtt_options.h"
#include "hub/unit_worker.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace tavrion::hub {

class MqttClient;

class MqttBridge : public QObject {
    Q_OBJECT
public:
    struct UnitInfo {
        QString id;
        QString name;
        QStringList inputs, outputs; // the room's names of inputs 1-4 and outputs A-D; empty: none
    };
    // What became of a job handed to a unit.
    enum class Queued { Yes, NoSuchUnit, Full };
    // Hands a checked job to the unit `id`.
    using Submit = std::function<Queued(const QString& id, Job job)>;

    MqttBridge(MqttSettings settings, std::vector<UnitInfo> units, QStringList resolutions, ResolutionNames names,
               Submit submit, QObject* parent = nullptr);
    ~MqttBridge() override;

    // Starts connecting in the background; false (with `error`) when the client cannot be made.
    bool start(QString& error);
    // Says "offline" on the hub's status topic and leaves the broker; the network thread is joined.
    void stop();
    // The unit's state after a change (its version moved on).
    void unit_changed(const UnitState& state);
    // Connected to the broker now.
    bool connected() const;

private:
    struct Unit;
    void on_connected();
    void on_message(const QString& topic, const QByteArray& payload, bool retained);
    void on_problem(const QString& reason);
    void publish_all();
    void publish_unit(Unit& unit);
    void publish_discovery(const Unit& unit, const verbs::StatusWords& words);
    void put(const QString& topic, const QByteArray& payload);
    void command(Unit& unit, const QStringList& path, const QByteArray& payload);
    void submit(Unit& unit, const QByteArray& body, const QJsonValue& request_id, const QString& topic);
    void answer(const QString& unit_id, const QJsonValue& request_id, const JobResult& result);
    void answer(const QString& unit_id, const QJsonValue& request_id, int status, QJsonObject body);
    void forget_removed(const QString& topic, const QByteArray& payload);
    Unit* find(const QString& id);
    QString topic(const Unit& unit, const QString& rest) const;

    MqttSettings settings_;
    std::vector<Unit> units_;
    QStringList resolutions_;
    ResolutionNames names_; // for the checks of a run request
    Submit submit_;
    MqttClient* client_ = nullptr;
    QString hub_id_;
    QHash<QString, QByteArray> sent_; // retained payloads sent in this session, by topic
    QString last_problem_;            // said once until the next connect
    bool stopped_ = false;
};

} // namespace tavrion::hub
