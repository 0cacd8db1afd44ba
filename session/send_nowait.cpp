// Sends that do not wait for their answer (sliders, network queries): the receivers dispatch the
// answer when it comes.
#include "session/device_session.h"

#include "protocol/command_catalogue.h"
#include "protocol/protocol.h"

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
    // The answer came back while the send still processed events: the receiver took this send for
    // a transaction and left the answer to it (on RS-232 with the receive tick off). Nothing waits
    // for it here, so deliver it as the receiver would and go on receiving; left in the buffer, it
    // would be taken again with the next line on TCP and the next line lost.
    const bool serial_held = link_interface_ == 0 && serial_connected_ && !tim_rx_on_;
    const bool tcp_held = link_interface_ == 1 && rx_count_ >= kLineLength;
    if (serial_held || tcp_held) {
        if (rx_count_ >= kLineLength && reply_text_.size() == 6) {
            const std::string code = reply_code(reply_text_);
            heard_line(reply_text_);
            reply_ok_ = true;
            if (!router_.dispatch(code, link_interface_ == 1) && !has_code(code, Code::ERR)) reply_ok_ = false;
        }
        rx_count_ = 0;
        reply_text_.clear();
        if (serial_held) {
            set_tim_rx_enabled(true);
            do_events();
        }
    }
}

} // namespace tavrion
