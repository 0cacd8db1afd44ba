#include "panel/routing/presets.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "session/read_sequences.h"
#include "protocol/protocol.h"
#include "panel/routing/routing_map.h"
#include "panel/button_rows.h"

#include <QPushButton>

namespace tavrion {

Presets::Presets(DeviceSession& session, DeviceModel& model, RoutingMap& routing, const Controls& controls)
    : session_(session), routing_(routing), c_(controls)
{
    connect(&model, &DeviceModel::preset_recalled, this, [this](int d) { reply_cal(d); });
    connect(&model, &DeviceModel::preset_saved, this, [this](int d) { reply_sav(d); });
    for (int n = 1; n <= 4; ++n) {
        connect(c_.cmd_recall(n), &QPushButton::clicked, this, [this, n] { cmd_recall_Click(n); });
        connect(c_.cmd_save(n), &QPushButton::clicked, this, [this, n] { cmd_save_Click(n); });
    }
}

void Presets::cmd_recall_Click(int index)
{
    clear_row(c_.cmd_recall);
    enable_row(c_.cmd_recall, false);
    // Restoring a preset takes the device a while.
    const Exchange e = send_awaiting_late_reply(session_, command_of(Code::CAL, index));
    if (e.ok() || e.late) routing_.map_refresh();
    enable_row(c_.cmd_recall, true);
}

void Presets::cmd_save_Click(int index)
{
    clear_row(c_.cmd_save);
    enable_row(c_.cmd_save, false);
    send_awaiting_late_reply(session_, command_of(Code::SAV, index));
    enable_row(c_.cmd_save, true);
}

void Presets::reply_cal(int digit) { select_in_row(c_.cmd_recall, digit); }
void Presets::reply_sav(int digit) { select_in_row(c_.cmd_save, digit); }

} // namespace tavrion
