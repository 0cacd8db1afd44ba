// "Get IP": reads the device's address, subnet mask and gateway over RS-232. The answers are
// 16-character texts that the serial receiver hands over undecoded (net_query_state 3).
#include "shell/network_query.h"

#include "link/device_session.h"
#include "shell/colours.h"

#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

NetworkQuery::NetworkQuery(DeviceSession& session, const Controls& controls) : session_(session), c_(controls)
{
    connect(c_.cmd_get_ip, &QPushButton::clicked, this, [this] { cmd_get_ip_Click(); });
}

void NetworkQuery::cmd_get_ip_Click()
{
    c_.cmd_get_ip->setEnabled(false);
    set_back_colour(c_.cmd_get_ip, connecting_colour);
    c_.txt_get_ip->clear();
    c_.txt_get_mask->clear();
    c_.txt_get_gate->clear();

    struct Query {
        const char* command;
        QLineEdit* box;
    };
    const Query queries[] = {{"EIP999", c_.txt_get_ip}, {"EMK999", c_.txt_get_mask}, {"EGW999", c_.txt_get_gate}};
    for (const Query& q : queries) {
        const std::optional<std::string> answer = session_.query_network(q.command);
        if (!answer) break; // the first unanswered query ends the sequence
        // Shown exactly as received, line end included (a line edit draws the CR as nothing).
        q.box->setText(QString::fromLatin1(answer->data(), int(answer->size())));
    }

    set_back_colour(c_.cmd_get_ip, button_face_colour());
    c_.cmd_get_ip->setEnabled(true);
}

} // namespace tavrion
