// Where the hub finds its MQTT broker: the --mqtt options and the units file's "mqtt" keys, merged
// (the command line wins) and checked into the settings the bridge uses.
#pragma once

#include "hub/mqtt_client.h"
#include "hub/role.h"

#include <QJsonValue>
#include <QString>

#include <optional>

namespace tavrion::hub {

struct MqttOptions {
    std::optional<QString> url;         // mqtt://host[:1883] or mqtts://host[:8883]
    std::optional<QString> credentials; // a file holding "user:password", owner-only
    std::optional<QString> ca;          // the broker's certificate authority, for mqtts
    std::optional<QString> prefix;
    std::optional<QString> discovery_prefix; // "none": no discovery
    std::optional<QString> role;             // what MQTT commands may do: viewer, operator, admin
};

struct MqttSettings {
    MqttEndpoint endpoint;
    QString prefix = QStringLiteral("tavrion");
    QString discovery_prefix = QStringLiteral("homeassistant"); // empty: discovery off
    // The broker's own ACLs decide who may publish; this decides what a command may do.
    Role role = Role::Operator;
};

// "--mqtt", "--mqtt-credentials", ...
bool is_mqtt_option(const QString& option);
void set_mqtt_option(MqttOptions& options, const QString& option, const QString& value);
// The units file's "mqtt" object; relative file names are taken from `base_dir`.
bool mqtt_options_from_json(const QJsonValue& value, const QString& base_dir, MqttOptions& options, QString& error);
// Nothing and no error when no broker is named; nothing with `error` when something is wrong.
std::optional<MqttSettings> mqtt_settings(const MqttOptions& command_line, const MqttOptions& file, QString& error);

} // namespace tavrion::hub
