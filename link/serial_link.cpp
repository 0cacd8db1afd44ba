// The RS-232 link: opening and closing the COM port, writing commands, and the 1 ms receive tick
// that assembles replies and hands them to the waiting transaction or dispatches them itself.
#include "shell/frm_main.h"

#include "link/protocol.h"
#include "link/serial_port.h"
#include "shell/colours.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

namespace tavrion {

namespace {
// A transmitter that never drains (a wedged driver) must not hang the window.
constexpr qint64 kDrainLimitMs = 1000;
// rx_count saturates here, so no flood of bytes can overflow it.
constexpr int kCountCeiling = 1 << 30;
} // namespace

void FrmMain::set_comm()
{
    if (serial_connected) MSComm1->close();
    bool ok = MSComm1->open(com_port);
    if (ok) {
        MSComm1->discard_input();
        MSComm1->discard_output();
    }
    if (!ok) {
        MSComm1->close();
        // The port number as BASIC's Str() writes it: a blank in the sign position.
        show_message(QStringLiteral("COM") + (com_port >= 0 ? QStringLiteral(" ") : QString())
                         + QString::number(com_port) + QStringLiteral(": Fail !"),
                     BoxIcon::None);
        set_back_colour(cmd_conn, button_face_colour());
        set_back_colour(cmd_disconn, disconnected_colour);
        serial_connected = false;
        do_events();
        return;
    }
    serial_connected = true;
    set_back_colour(cmd_conn, connected_colour);
    set_back_colour(cmd_disconn, button_face_colour());
    do_events();
    cmd_busy = false;
    rx_count = 0;
    reply_text.clear();
    reply_ok = false;
}

void FrmMain::cbo_com_Click()
{
    const int position = cbo_com->currentIndex();
    if (position < 0) return;
    com_port = position + 1;
    if (ui_events_enabled) set_comm();
}

void FrmMain::cmd_conn_Click() { set_comm(); }

void FrmMain::cmd_disconn_Click()
{
    if (!serial_connected) return;
    set_back_colour(cmd_conn, button_face_colour());
    set_back_colour(cmd_disconn, disconnected_colour);
    MSComm1->close();
    serial_connected = false;
}

void FrmMain::serial_device_lost()
{
    // The adapter was pulled or the line hung up: close the port as Disconnect would, so the
    // colours tell the user and Connect opens it again once the device is back.
    cmd_disconn_Click();
}

void FrmMain::serial_write(const std::string& command)
{
    QElapsedTimer drain;
    drain.start();
    while (MSComm1->out_buffer_count() > 0 && drain.elapsed() < kDrainLimitMs) {
    }
    MSComm1->output(QByteArray::fromStdString(frame_command(command)));
}

void FrmMain::set_tim_rx_enabled(bool on)
{
    tim_rx_on = on;
    if (!on)
        tim_rx->stop();
    else if (MSComm1 && MSComm1->in_buffer_count() > 0 && !tim_rx->isActive())
        tim_rx->start();
}

void FrmMain::serial_ready_read()
{
    if (!tim_rx_on) return;
    if (!tim_rx->isActive()) tim_rx->start();
    // Bytes that complete a line are taken on the next pass of the event loop rather than a whole
    // tick later, so that a reply completed inside a wait step is taken within that step. A line
    // still arriving is left to the ordinary tick. A tick in progress has switched the timer off
    // and leaves the bytes to its own next tick.
    if (qint64(rx_count) + MSComm1->in_buffer_count() < kLineLength) return;
    QMetaObject::invokeMethod(this, [this] {
        if (tim_rx_on && MSComm1 && MSComm1->in_buffer_count() > 0) tim_rx_Timer();
    }, Qt::QueuedConnection);
}

void FrmMain::tim_rx_Timer()
{
    if (MSComm1->in_buffer_count() == 0) {
        // Nothing waits: rest until the port reports bytes again.
        tim_rx->stop();
        return;
    }
    set_tim_rx_enabled(false);
    do_events();

    const QByteArray bytes = MSComm1->input();
    rx_count = int(std::min<qint64>(kCountCeiling, qint64(rx_count) + bytes.size()));
    reply_text.append(bytes.constData(), std::size_t(bytes.size()));

    // While a network query waits, its 16-character answer may arrive in pieces at line speed:
    // keep collecting until it is whole, unless a line end shows an ordinary reply.
    const bool net_answer_incomplete = net_query_state >= 0 && net_query_state <= 2
        && rx_count < kNetAnswerLength && reply_text.find(char(kCR)) == std::string::npos;
    if (rx_count < kLineLength || net_answer_incomplete) {
        set_tim_rx_enabled(true);
        do_events();
        return;
    }

    log_entry(reply_text);

    if (net_query_state != 254 && rx_count == kNetAnswerLength) {
        net_query_state = 3;
        cmd_busy = false;
        set_tim_rx_enabled(true);
        do_events();
        return;
    }

    if (examine_line(reply_text, rx_count) != LineVerdict::Accepted) {
        reply_ok = false;
    } else {
        reply_ok = true;
        if (cmd_busy) return; // the waiting transaction takes it over and re-enables the tick
        const std::string code = reply_code(reply_text);
        if (!dispatch_reply(code, false) && code != "ERR") reply_ok = false;
    }

    rx_count = 0;
    reply_text.clear();
    cmd_busy = false;
    set_tim_rx_enabled(true);
    do_events();
}

} // namespace tavrion
