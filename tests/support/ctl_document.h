// The status --json document of tavrion-ctl for a simulated device's state: what both views of
// the device model must come to. Needs tavrion_ctl linked into the test.
#pragma once

#include "verbs/device_status.h"
#include "sim/device_model.h"
#include "support/program_folder.h"

#include <QString>

#include <string>
#include <vector>

namespace tavrion::test {

// The status --json document of a device in state `d`, as the shipped resolution list names it.
inline QString document_of(const tavrion_sim::DeviceState& d, bool network)
{
    verbs::DeviceStatus s;
    s.firmware = d.version;
    s.power_on = d.power_on;
    s.locked = d.locked;
    s.mode = d.mode;
    for (std::size_t n = 0; n < 4; ++n) s.routes[n] = d.routes[n];
    const std::array<const std::array<int, 4>*, 4> values{{&d.brightness, &d.contrast, &d.hue, &d.saturation}};
    for (std::size_t p = 0; p < 4; ++p)
        for (int r = 0; r < s.picture_rows(); ++r) s.picture[p][std::size_t(r)] = (*values[p])[std::size_t(r)];
    s.bezel_on = d.bezel_on;
    s.bezel_h = d.bezel_h;
    s.bezel_v = d.bezel_v;
    s.bezel_h_max = d.bezel_h_max;
    s.bezel_v_max = d.bezel_v_max;
    s.edid = d.audio_edid;
    s.audio_on = d.audio_on;
    s.dual_a = d.dual_a_audio;
    s.dual_b = d.dual_b_audio;
    s.resolution = d.resolution;
    auto address = [](const std::array<int, 4>& a) {
        return QString("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]).toStdString();
    };
    if (network) s.ip = address(d.ip), s.mask = address(d.mask), s.gateway = address(d.gateway);
    std::vector<std::string> names;
    for (const QString& n : tavrion::test::ProgramFolder::shipped_resolutions()) names.push_back(n.toStdString());
    return QString::fromStdString(verbs::status_json(s, &names));
}

// The same document of what `model` holds.
inline QString document_of(const DeviceModel& model)
{
    std::vector<std::string> names;
    for (const QString& n : tavrion::test::ProgramFolder::shipped_resolutions()) names.push_back(n.toStdString());
    return QString::fromStdString(verbs::status_json(verbs::status_of(model), &names));
}

} // namespace tavrion::test
