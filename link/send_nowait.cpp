// Sends that do not wait for their answer (sliders, network queries): the receivers dispatch the
// answer when it comes.
#include "link/device_session.h"

#include "link/protocol.h"

namespace tavrion {

void DeviceSession::send_command_nowait(const std::string& command)
{
    if (!check_link()) return;
    if (cmd_busy_) return;
    cmd_busy_ = true;
    rx_count_ = 0;
    reply_text_.clear();
    if (link_interface_ == 0) {
        serial_write(command);
        set_tim_rx_enabled(true);
    } else {
        eth_send(command);
    }
    do_events();
    cmd_busy_ = false;
    if (link_interface_ == 0 && serial_connected_ && !tim_rx_enabled()) {
        // The answer came back while the send still processed events: the receiver took this
        // send for a transaction and left the answer to it, with the receive tick off. Nothing
        // waits for it here, so deliver it as the receiver would and go on receiving.
        if (rx_count_ >= kLineLength && reply_text_.size() == 6) {
            const std::string code = reply_code(reply_text_);
            reply_ok_ = true;
            if (!router_.dispatch(code, false) && code != "ERR") reply_ok_ = false;
        }
        rx_count_ = 0;
        reply_text_.clear();
        set_tim_rx_enabled(true);
        do_events();
    }
}

} // namespace tavrion
