// "Get IP": reads the device's address, subnet mask and gateway over RS-232. The answers are
// 16-character texts that the serial receiver hands over undecoded (net_query_state 3).
#include "shell/frm_main.h"

#include "shell/colours.h"

#include <QLineEdit>
#include <QPushButton>

namespace tavrion {

namespace {
constexpr int kAnswerWaits = 51;
constexpr int kAnswered = 3;
constexpr int kIdle = 254;
} // namespace

void FrmMain::cmd_get_ip_Click()
{
    cmd_get_ip->setEnabled(false);
    set_back_colour(cmd_get_ip, connecting_colour);
    txt_get_ip->clear();
    txt_get_mask->clear();
    txt_get_gate->clear();

    struct Query {
        const char* command;
        int step;
        QLineEdit* box;
    };
    const Query queries[] = {{"EIP999", 0, txt_get_ip}, {"EMK999", 1, txt_get_mask}, {"EGW999", 2, txt_get_gate}};
    for (const Query& q : queries) {
        net_query_state = q.step;
        send_command_nowait(q.command);
        for (int i = 0; i < kAnswerWaits && net_query_state != kAnswered; ++i) wait_seconds(0.001f);
        if (net_query_state != kAnswered) break; // the first unanswered query ends the sequence
        // Shown exactly as received, line end included (a line edit draws the CR as nothing).
        q.box->setText(QString::fromLatin1(reply_text.data(), int(reply_text.size())));
        // The answer is consumed: a reply arriving after the sequence must start a fresh line.
        reply_text.clear();
        rx_count = 0;
    }

    net_query_state = kIdle;
    set_back_colour(cmd_get_ip, button_face_colour());
    cmd_get_ip->setEnabled(true);
}

} // namespace tavrion
