// UnitState: its comparison and its JSON document.
#include "hub/unit_state.h"

#include <tuple>

namespace tavrion::hub {

namespace {

auto fields(const verbs::DeviceStatus& s)
{
    return std::tie(s.firmware, s.power_on, s.locked, s.mode, s.routes, s.picture, s.bezel_on, s.bezel_h, s.bezel_v,
                    s.bezel_h_max, s.bezel_v_max, s.edid, s.audio_on, s.dual_a, s.dual_b, s.resolution, s.ip, s.mask,
                    s.gateway);
}

} // namespace

const char* link_state_name(LinkState state)
{
    switch (state) {
    case LinkState::Up: return "up";
    case LinkState::Silent: return "silent";
    case LinkState::Down: return "down";
    case LinkState::Connecting: break;
    }
    return "connecting";
}

bool UnitState::same_as(const UnitState& o) const
{
    if (id != o.id || name != o.name || link_name != o.link_name || input_names != o.input_names
        || output_names != o.output_names || link != o.link || problem != o.problem
        || status.has_value() != o.status.has_value())
        return false;
    return !status || fields(*status) == fields(*o.status);
}

QJsonObject unit_json(const UnitState& s, const std::vector<std::string>* resolutions)
{
    QJsonObject doc = s.status ? verbs::status_object(*s.status, resolutions) : QJsonObject();
    doc[QStringLiteral("link")] = QJsonObject{{QStringLiteral("name"), QString::fromStdString(s.link_name)},
                                              {QStringLiteral("state"), QLatin1String(link_state_name(s.link))}};
    doc[QStringLiteral("id")] = QString::fromStdString(s.id);
    doc[QStringLiteral("name")] = QString::fromStdString(s.name);
    QJsonObject inputs, outputs;
    for (std::size_t i = 0; i < 4; ++i) {
        if (!s.input_names[i].empty()) inputs[QString::number(i + 1)] = QString::fromStdString(s.input_names[i]);
        if (!s.output_names[i].empty()) outputs[QString(QLatin1Char(char('A' + i)))] = QString::fromStdString(s.output_names[i]);
    }
    doc[QStringLiteral("names")] = QJsonObject{{QStringLiteral("inputs"), inputs}, {QStringLiteral("outputs"), outputs}};
    doc[QStringLiteral("problem")] =
        s.problem.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(QString::fromStdString(s.problem));
    doc[QStringLiteral("version")] = double(s.version);
    return doc;
}

} // namespace tavrion::hub
