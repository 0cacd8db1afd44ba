// "Refresh": read every state the window shows from the device, one query after the other; and the
// firmware version.
#include "shell/refresh_all.h"

#include "adjust/picture.h"
#include "link/device_session.h"
#include "routing/routing_map.h"
#include "shell/colours.h"
#include "shell/panel_state.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

RefreshAll::RefreshAll(DeviceSession& session, ReportedState& device, const PanelFlags& flags, RoutingMap& routing,
                       Picture& picture, const Controls& controls)
    : session_(session), device_(device), flags_(flags), routing_(routing), picture_(picture), c_(controls)
{
    session.router().add("VER", [this] { reply_ver(); });
    connect(c_.cmd_refresh, &QPushButton::clicked, this, [this] { cmd_refresh_Click(); });
    connect(c_.cmd_ver, &QPushButton::clicked, this, [this] { cmd_ver_Click(); });
    connect(&session, &DeviceSession::restart_course, this, [this] { show_restart(); });
}

void RefreshAll::cmd_refresh_Click()
{
    c_.cmd_refresh->setEnabled(false);
    set_back_colour(c_.cmd_refresh, connecting_colour);
    c_.img_start->hide();
    c_.cmd_keypad->show();

    // The chain stops at the first query left unanswered; what was read before it stays shown.
    [this] {
        cmd_ver_Click();
        if (!session_.reply_ok()) return;
        for (const char* q : {"AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999", "BEZ999"}) {
            session_.send_command(q);
            if (!session_.reply_ok()) return;
        }
        // The next BEH/BEV replies carry the sliders' maximums, not their values. Once both are
        // answered the flag is put down: a refusal (ERR, as from a device in standby) leaves it
        // up, and the next refresh would then take the BEH999 value for a maximum. Only a query
        // left unanswered keeps it, for its late answer.
        device_.bezel_max_pending = true;
        session_.send_command("BEH998");
        if (!session_.reply_ok()) return;
        device_.bezel_max_pending = true;
        session_.send_command("BEV998");
        if (!session_.reply_ok()) return;
        device_.bezel_max_pending = false;
        for (const char* q : {"LCK999", "PWR999", "RES999", "MOD999"}) {
            session_.send_command(q);
            if (!session_.reply_ok()) return;
        }
        // A video wall has no current output of its own to ask for.
        if (device_.display_mode != 3) {
            session_.send_command("OUT999");
            if (!session_.reply_ok()) return;
        }
        session_.send_command("INP999");
        routing_.map_refresh();
        if (flags_.advanced_view) picture_.cmd_pic_refresh_Click();
    }();

    set_back_colour(c_.cmd_refresh, button_face_colour());
    c_.cmd_refresh->setEnabled(true);
}

void RefreshAll::cmd_ver_Click() { session_.send_command("VER999"); }

void RefreshAll::reply_ver()
{
    // VER106 shows as 1.06.
    const std::string& reply_text = session_.reply_text();
    if (reply_text.size() < 6) return;
    c_.txt_ver->setText(QString::fromLatin1(reply_text.substr(3, 1).c_str()) + QLatin1Char('.')
                        + QString::fromLatin1(reply_text.substr(4, 2).c_str()));
}

void RefreshAll::show_restart()
{
    c_.img_start->show();
    c_.cmd_keypad->hide();
}

} // namespace tavrion
