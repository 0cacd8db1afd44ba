// One unit's state as the hub passes it around: typed values, copied freely, with a version that
// moves on at every change; the API, the event streams and MQTT each make their JSON from it.
#pragma once

#include "verbs/device_status.h"

#include <QJsonObject>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tavrion::hub {

// Silent: linked, but the last exchange got no answer it could read.
enum class LinkState { Connecting, Up, Silent, Down };

// "connecting", "up", "silent", "down", as the documents and the metrics name it.
const char* link_state_name(LinkState state);

struct UnitState {
    std::string id;
    std::string name;
    std::string link_name; // "COM1", "10.20.4.11:23"
    // What the room calls inputs 1-4 and outputs A-D; empty where it names none.
    std::array<std::string, 4> input_names, output_names;
    LinkState link = LinkState::Connecting;
    // What the device has reported; nothing before the first reading.
    std::optional<verbs::DeviceStatus> status;
    std::string problem; // why the last reading stopped; empty when it ran through
    quint64 version = 0;

    // The same state, whatever the version says.
    bool same_as(const UnitState& other) const;
};

// The unit's document: the status document with the unit's id, name, link, problem and version.
QJsonObject unit_json(const UnitState& state, const std::vector<std::string>* resolutions);

} // namespace tavrion::hub
