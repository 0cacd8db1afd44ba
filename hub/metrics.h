// The hub's figures in Prometheus' text format: per unit, the HTTP face, MQTT and the process
// itself (under the names of Prometheus' own process collector). Made from values at hand, so a
// scrape never waits for a unit.
#pragma once

#include "hub/unit_stats.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace tavrion::hub {

struct UnitFigures {
    QString id;
    QString link_state; // as the unit's document says: connecting, up, silent, down
    std::shared_ptr<const UnitStats> stats;
};

struct HttpFigures {
    std::map<int, quint64> answers; // by HTTP status, event streams as 200
    int open_connections = 0;
    int event_streams = 0;
};

struct ProcessFigures {
    double resident_bytes = 0;
    double cpu_seconds = 0;
    double open_fds = 0;
    double start_time = 0; // seconds since the epoch
};

// This process's figures from /proc/self (zeros where it cannot be read).
ProcessFigures process_figures();

// `mqtt_connected` is empty when no broker is configured.
QByteArray metrics_text(const std::vector<UnitFigures>& units, const HttpFigures& http,
                        std::optional<bool> mqtt_connected, const ProcessFigures& process);

} // namespace tavrion::hub
