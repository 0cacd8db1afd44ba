// "Get IP": reads the device's address, subnet mask and gateway over RS-232. The answers are
// 16-character texts that the serial receiver hands over undecoded (net_query_state 3).
#include "panel/shell/network_query.h"

#include "session/device_model.h"
#include "session/device_session.h"
#include "session/read_sequences.h"
#include "panel/colours.h"

#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

NetworkQuery::NetworkQuery(DeviceSession& session, DeviceModel& model, const Controls& controls)
    : session_(session), c_(controls)
{
    connect(&model, &DeviceModel::network_reported, this,
            [this](int setting, const std::string& answer) { reply_network(setting, answer); });
    connect(c_.cmd_get_ip, &QPushButton::clicked, this, [this] { cmd_get_ip_Click(); });
}

void NetworkQuery::cmd_get_ip_Click()
{
    c_.cmd_get_ip->setEnabled(false);
    set_back_colour(c_.cmd_get_ip, connecting_colour);
    c_.txt_get_ip->clear();
    c_.txt_get_mask->clear();
    c_.txt_get_gate->clear();

    read_network([this](const std::string& command) { return session_.query_network(command).answered(); });

    set_back_colour(c_.cmd_get_ip, button_face_colour());
    c_.cmd_get_ip->setEnabled(true);
}

void NetworkQuery::reply_network(int setting, const std::string& answer)
{
    QLineEdit* const boxes[] = {c_.txt_get_ip, c_.txt_get_mask, c_.txt_get_gate};
    if (setting < 0 || setting > 2) return;
    // Shown exactly as received, line end included (a line edit draws the CR as nothing).
    boxes[setting]->setText(QString::fromLatin1(answer.data(), int(answer.size())));
}

} // namespace tavrion
