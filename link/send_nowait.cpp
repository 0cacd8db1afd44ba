// Sends that do not wait for their answer (sliders, network queries): the receivers dispatch the
// answer when it comes.
#include "shell/frm_main.h"

namespace tavrion {

void FrmMain::send_command_nowait(const std::string& command)
{
    if (!check_link()) return;
    if (cmd_busy) return;
    cmd_busy = true;
    rx_count = 0;
    reply_text.clear();
    if (link_interface == 0) {
        serial_write(command);
        set_tim_rx_enabled(true);
    } else {
        eth_send(command);
    }
    do_events();
    cmd_busy = false;
}

} // namespace tavrion
