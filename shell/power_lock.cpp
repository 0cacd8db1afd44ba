// Power (on / standby) and the front-panel lock, the pictures that show their state, and the
// gating of the window's frames by the device's power.
#include "shell/power_lock.h"

#include "link/device_session.h"
#include "link/protocol.h"
#include "shell/panel_state.h"
#include "shell/state_pictures.h"

#include <QPushButton>

namespace tavrion {

PowerLock::PowerLock(DeviceSession& session, ReportedState& device, const StatePictures& pictures,
                     const Controls& controls)
    : session_(session), device_(device), pictures_(pictures), c_(controls)
{
    session.router().add("PWR", [this] { reply_pwr(); });
    session.router().add("LCK", [this] { reply_lck(); });
    connect(c_.cmd_pwr, &QPushButton::clicked, this, [this] { cmd_pwr_Click(); });
    connect(c_.cmd_lock, &QPushButton::clicked, this, [this] { cmd_lock_Click(); });
}

void PowerLock::cmd_pwr_Click()
{
    pictures_.show(c_.cmd_pwr, QStringLiteral("power_none.bmp"));
    if (device_.power_state == 1) {
        device_.power_state = 0;
        session_.send_command("PWR000");
    } else {
        device_.power_state = 1;
        // Stays disabled until a power reply reports the device on.
        c_.cmd_pwr->setEnabled(false);
        session_.send_command("PWR001");
        pictures_.show(c_.cmd_mute, QStringLiteral("speaker_on.bmp"));
    }
}

void PowerLock::cmd_lock_Click()
{
    if (device_.lock_state == 1) {
        device_.lock_state = 0;
        session_.send_command("LCK000");
    } else {
        device_.lock_state = 1;
        session_.send_command("LCK001");
    }
}

void PowerLock::reply_pwr()
{
    // Only the last digit counts: 0 standby, any other digit on. Any "on" is stored as 1, the
    // value the toggle and the mode layouts test, so PWR002 does not read as "not on" there. A
    // reply without a final digit cannot pass the receivers; should one come, it is ignored.
    const int d = reply_last_digit(session_.reply_text());
    if (d < 0) return;
    device_.power_state = d != 0 ? 1 : 0;
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

void PowerLock::reply_lck()
{
    // 0 unlocked, any other digit locked (stored as 1, so the next click unlocks); a reply without
    // a final digit is ignored.
    const int d = reply_last_digit(session_.reply_text());
    if (d < 0) return;
    device_.lock_state = d != 0 ? 1 : 0;
    pictures_.show(c_.cmd_lock, device_.lock_state != 0 ? QStringLiteral("lock.bmp") : QStringLiteral("unlock.bmp"));
}

} // namespace tavrion
