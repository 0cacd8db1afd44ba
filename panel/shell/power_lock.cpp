// Power (on / standby) and the front-panel lock, the pictures that show their state, and the
// gating of the window's frames by the device's power.
#include "panel/shell/power_lock.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "panel/panel_state.h"
#include "panel/state_pictures.h"

#include <QPushButton>

namespace tavrion {

PowerLock::PowerLock(DeviceSession& session, DeviceModel& model, ReportedState& device, const StatePictures& pictures,
                     const Controls& controls)
    : session_(session), device_(device), pictures_(pictures), c_(controls)
{
    connect(&model, &DeviceModel::power_reported, this, [this](bool on) { reply_pwr(on); });
    connect(&model, &DeviceModel::lock_reported, this, [this](bool locked) { reply_lck(locked); });
    connect(c_.cmd_pwr, &QPushButton::clicked, this, [this] { cmd_pwr_Click(); });
    connect(c_.cmd_lock, &QPushButton::clicked, this, [this] { cmd_lock_Click(); });
}

void PowerLock::cmd_pwr_Click()
{
    pictures_.show(c_.cmd_pwr, QStringLiteral("power_none.bmp"));
    if (device_.power_state == 1) {
        device_.power_state = 0;
        session_.send_command(command_of(Code::PWR, 0));
    } else {
        device_.power_state = 1;
        // Stays disabled until a power reply reports the device on.
        c_.cmd_pwr->setEnabled(false);
        session_.send_command(command_of(Code::PWR, 1));
        pictures_.show(c_.cmd_mute, QStringLiteral("speaker_on.bmp"));
    }
}

void PowerLock::cmd_lock_Click()
{
    if (device_.lock_state == 1) {
        device_.lock_state = 0;
        session_.send_command(command_of(Code::LCK, 0));
    } else {
        device_.lock_state = 1;
        session_.send_command(command_of(Code::LCK, 1));
    }
}

void PowerLock::reply_pwr(bool on)
{
    // The model reads any digit but 0 as on (PWR002 too); it is stored as 1, the value the toggle
    // and the mode layouts test.
    device_.power_state = on ? 1 : 0;
    c_.cmd_fact_reset->setEnabled(true);
    QWidget* const gated[] = {c_.fra_btn, c_.fra_recall_save, c_.fra_dual_a, c_.fra_dual_b, c_.fra_bezel, c_.fra_pic, c_.fra_audio};
    if (device_.power_state != 0) {
        pictures_.show(c_.cmd_pwr, QStringLiteral("power_on.bmp"));
        for (QWidget* f : gated) f->setEnabled(true);
        c_.cmd_pwr->setEnabled(true);
    } else {
        pictures_.show(c_.cmd_pwr, QStringLiteral("power_standby.bmp"));
        for (QWidget* f : gated) f->setEnabled(false);
    }
}

void PowerLock::reply_lck(bool locked)
{
    // Any digit but 0 is locked (stored as 1, so the next click unlocks).
    device_.lock_state = locked ? 1 : 0;
    pictures_.show(c_.cmd_lock, device_.lock_state != 0 ? QStringLiteral("lock.bmp") : QStringLiteral("unlock.bmp"));
}

} // namespace tavrion
