// "Refresh": read every state the window shows from the device, one query after the other; and the
// firmware version.
#include "panel/shell/refresh_all.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "session/read_sequences.h"
#include "panel/colours.h"
#include "panel/panel_state.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

RefreshAll::RefreshAll(DeviceSession& session, DeviceModel& model, const PanelFlags& flags, const Controls& controls)
    : session_(session), model_(model), flags_(flags), c_(controls)
{
    connect(&model, &DeviceModel::firmware_reported, this, [this](int version) { reply_ver(version); });
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
    const Ask ask = ask_session(session_);
    if (refresh_device(model_, ask) && flags_.advanced_view) read_picture(model_, ask);

    set_back_colour(c_.cmd_refresh, button_face_colour());
    c_.cmd_refresh->setEnabled(true);
}

void RefreshAll::cmd_ver_Click() { session_.send_command(query_of(Code::VER)); }

void RefreshAll::reply_ver(int version)
{
    // VER106 shows as 1.06.
    const std::string digits = pad3(version);
    c_.txt_ver->setText(QString::fromLatin1(digits.substr(0, 1).c_str()) + QLatin1Char('.')
                        + QString::fromLatin1(digits.substr(1, 2).c_str()));
}

void RefreshAll::show_restart()
{
    c_.img_start->show();
    c_.cmd_keypad->hide();
}

} // namespace tavrion
