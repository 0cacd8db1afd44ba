// Factory reset, and the RST reply that completes both it (…1) and the picture reset (…2).
#include "shell/frm_main.h"

#include "link/protocol.h"

#include <QPushButton>

namespace tavrion {

void FrmMain::cmd_fact_reset_Click()
{
    // Held disabled only when the command can go out; otherwise send_command reports the link.
    const bool link_up = (link_interface == 0 && serial_connected) || (link_interface == 1 && eth_connected);
    if (link_up) cmd_fact_reset->setEnabled(false);
    send_command("RST001"); // on Ethernet this takes the restart course
}

void FrmMain::reply_rst()
{
    switch (reply_last_digit(reply_text)) {
    case 1: cmd_fact_reset->setEnabled(true); break;
    case 2: picture_reset_step(); break;
    default: break; // names neither reset: nothing to complete
    }
}

} // namespace tavrion
