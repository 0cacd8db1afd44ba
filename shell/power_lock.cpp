// Power (on / standby) and the front-panel lock, the pictures that show their state, and the
// gating of the window's frames by the device's power.
#include "shell/frm_main.h"

#include "link/protocol.h"

#include <QGroupBox>
#include <QPixmap>
#include <QPushButton>

namespace tavrion {

void FrmMain::cmd_pwr_Click()
{
    show_picture(cmd_pwr, QStringLiteral("power_none.bmp"));
    if (power_state == 1) {
        power_state = 0;
        send_command("PWR000");
    } else {
        power_state = 1;
        // Stays disabled until a power reply reports the device on.
        cmd_pwr->setEnabled(false);
        send_command("PWR001");
        show_picture(cmd_mute, QStringLiteral("speaker_on.bmp"));
    }
}

void FrmMain::cmd_lock_Click()
{
    if (lock_state == 1) {
        lock_state = 0;
        send_command("LCK000");
    } else {
        lock_state = 1;
        send_command("LCK001");
    }
}

void FrmMain::reply_pwr()
{
    // Only the last digit counts: 0 standby, any other digit on. Any "on" is stored as 1, the
    // value the toggle and the mode layouts test, so PWR002 does not read as "not on" there. A
    // reply without a final digit cannot pass the receivers; should one come, it is ignored.
    const int d = reply_last_digit(reply_text);
    if (d < 0) return;
    power_state = d != 0 ? 1 : 0;
    cmd_fact_reset->setEnabled(true);
    QWidget* const gated[] = {fra_btn, fra_recall_save, fra_dual_a, fra_dual_b, fra_bezel, fra_pic, fra_audio};
    if (power_state != 0) {
        show_picture(cmd_pwr, QStringLiteral("power_on.bmp"));
        for (QWidget* f : gated) f->setEnabled(true);
        cmd_pwr->setEnabled(true);
    } else {
        show_picture(cmd_pwr, QStringLiteral("power_standby.bmp"));
        for (QWidget* f : gated) f->setEnabled(false);
    }
}

void FrmMain::reply_lck()
{
    // 0 unlocked, any other digit locked (stored as 1, so the next click unlocks); a reply without
    // a final digit is ignored.
    const int d = reply_last_digit(reply_text);
    if (d < 0) return;
    lock_state = d != 0 ? 1 : 0;
    show_picture(cmd_lock, lock_state != 0 ? QStringLiteral("lock.bmp") : QStringLiteral("unlock.bmp"));
}

bool FrmMain::show_picture(QPushButton* button, const QString& name)
{
    if (!button) return false;
    const QString path = picture_path(name);
    if (path.isEmpty()) return false;
    const QPixmap picture(path);
    if (picture.isNull()) return false; // missing or unreadable: the button keeps its picture
    button->setIcon(QIcon(picture));
    button->setIconSize(picture.size());
    button->setProperty("picture", name);
    return true;
}

} // namespace tavrion
