// Sends that do not wait for their answer (sliders, network queries): the receivers dispatch the
// answer when it comes.
#include "link/protocol.h"
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
    if (link_interface == 0 && serial_connected && !tim_rx_enabled()) {
        // The answer came back while the send still processed events: the receiver took this
        // send for a transaction and left the answer to it, with the receive tick off. Nothing
        // waits for it here, so deliver it as the receiver would and go on receiving.
        if (rx_count >= kLineLength && reply_text.size() == 6) {
            const std::string code = reply_code(reply_text);
            reply_ok = true;
            if (!dispatch_reply(code, false) && code != "ERR") reply_ok = false;
        }
        rx_count = 0;
        reply_text.clear();
        set_tim_rx_enabled(true);
        do_events();
    }
}

} // namespace tavrion
