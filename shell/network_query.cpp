// "Get IP": reads the device's address, subnet mask and gateway over RS-232. The answers are
// 16-character texts that the serial receiver hands over undecoded (net_query_state 3).
#include "shell/network_query.h"

#include "link/device_session.h"
#include "shell/colours.h"

#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

namespace {
constexpr int kAnswerWaits = 51;
constexpr int kAnswered = 3;
constexpr int kIdle = 254;
} // namespace

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
        int step;
        QLineEdit* box;
    };
    const Query queries[] = {{"EIP999", 0, c_.txt_get_ip}, {"EMK999", 1, c_.txt_get_mask}, {"EGW999", 2, c_.txt_get_gate}};
    for (const Query& q : queries) {
        session_.set_net_query_state(q.step);
        session_.send_command_nowait(q.command);
        for (int i = 0; i < kAnswerWaits && session_.net_query_state() != kAnswered; ++i) session_.wait_seconds(0.001f);
        if (session_.net_query_state() != kAnswered) break; // the first unanswered query ends the sequence
        // Shown exactly as received, line end included (a line edit draws the CR as nothing).
        const std::string& answer = session_.reply_text();
        q.box->setText(QString::fromLatin1(answer.data(), int(answer.size())));
        // The answer is consumed: a reply arriving after the sequence must start a fresh line.
        session_.consume_reply();
    }

    session_.set_net_query_state(kIdle);
    set_back_colour(c_.cmd_get_ip, button_face_colour());
    c_.cmd_get_ip->setEnabled(true);
}

} // namespace tavrion
