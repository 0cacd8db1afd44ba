// The RS-232 link: opening and closing the COM port, writing commands, and the 1 ms receive tick
// that assembles replies and hands them to the waiting transaction or dispatches them itself.
#include "session/device_session.h"

#include "protocol/command_catalogue.h"
#include "protocol/protocol.h"
#include "session/device_model.h"
#include "session/serial_port.h"

#include <QElapsedTimer>
#include <QTimer>

namespace tavrion {

namespace {
// A transmitter that never drains (a wedged driver) must not hang the window.
constexpr qint64 kDrainLimitMs = 1000;
// rx_count saturates here, so no flood of bytes can overflow it.
constexpr int kCountCeiling = 1 << 30;
// How long a network query waits for its answer, in wait steps.
constexpr int kNetAnswerWaits = 51;
constexpr int kNetAnswered = 3;
constexpr int kNetIdle = 254;
} // namespace

void DeviceSession::set_comm()
{
    if (serial_connected_) MSComm1->close();
    bool ok = MSComm1->open(com_port_);
    if (ok) {
        MSComm1->discard_input();
        MSComm1->discard_output();
    }
    if (!ok) {
        MSComm1->close();
        // The port number as BASIC's Str() writes it: a blank in the sign position.
        show_message(QStringLiteral("COM") + (com_port_ >= 0 ? QStringLiteral(" ") : QString())
                         + QString::number(com_port_) + QStringLiteral(": Fail !"),
                     BoxIcon::None);
        emit serial_link_shown(false);
        serial_connected_ = false;
        do_events();
        return;
    }
    serial_connected_ = true;
    emit serial_link_shown(true);
    do_events();
    cmd_busy_ = false;
    rx_count_ = 0;
    reply_text_.clear();
    reply_ok_ = false;
}

void DeviceSession::disconnect_serial(bool announce)
{
    if (!serial_connected_) return;
    if (announce) emit serial_link_shown(false);
    serial_connected_ = false; // before the close, which may tell of a lost device again
    MSComm1->close();
}

void DeviceSession::close_serial_port()
{
    if (MSComm1) MSComm1->close();
}

void DeviceSession::serial_write(const std::string& command)
{
    QElapsedTimer drain;
    drain.start();
    while (MSComm1->out_buffer_count() > 0 && drain.elapsed() < kDrainLimitMs) {
    }
    MSComm1->output(QByteArray::fromStdString(frame_command(command)));
}

bool DeviceSession::network_answered() const { return net_query_state_ == kNetAnswered; }

void DeviceSession::set_tim_rx_enabled(bool on)
{
    tim_rx_on_ = on;
    if (!on)
        tim_rx_->stop();
    else if (MSComm1 && MSComm1->in_buffer_count() > 0) {
        // Bytes that came while the receiver was off: a prompt session has no tick to find them.
        if (platform_.reply_wait == ReplyWait::Prompt) take_bytes_soon();
        else if (!tim_rx_->isActive()) tim_rx_->start();
    }
}

void DeviceSession::take_bytes_soon()
{
    if (take_queued_) return;
    take_queued_ = true;
    QMetaObject::invokeMethod(this, [this] {
        take_queued_ = false;
        if (tim_rx_on_ && MSComm1 && MSComm1->in_buffer_count() > 0) tim_rx_Timer();
    }, Qt::QueuedConnection);
}

void DeviceSession::serial_ready_read()
{
    if (!tim_rx_on_) return;
    if (platform_.reply_wait == ReplyWait::Prompt) {
        // Every piece is taken as it comes, so a reply costs the line's own time and no tick.
        take_bytes_soon();
        return;
    }
    if (!tim_rx_->isActive()) tim_rx_->start();
    // Bytes that complete a line are taken on the next pass of the event loop rather than a whole
    // tick later, so that a reply completed inside a wait step is taken within that step. A line
    // still arriving is left to the ordinary tick. A tick in progress has switched the timer off
    // and leaves the bytes to its own next tick.
    if (qint64(rx_count_) + MSComm1->in_buffer_count() < kLineLength) return;
    QMetaObject::invokeMethod(this, [this] {
        if (tim_rx_on_ && MSComm1 && MSComm1->in_buffer_count() > 0) tim_rx_Timer();
    }, Qt::QueuedConnection);
}

void DeviceSession::tim_rx_Timer()
{
    if (MSComm1->in_buffer_count() == 0) {
        // Nothing waits: rest until the port reports bytes again.
        tim_rx_->stop();
        return;
    }
    set_tim_rx_enabled(false);
    do_events();

    const QByteArray bytes = MSComm1->input();
    rx_count_ = int(std::min<qint64>(kCountCeiling, qint64(rx_count_) + bytes.size()));
    reply_text_.append(bytes.constData(), std::size_t(bytes.size()));

    // While a network query waits, its 16-character answer may arrive in pieces at line speed:
    // keep collecting until it is whole, unless a line end shows an ordinary reply.
    const bool net_answer_incomplete = net_query_state_ >= 0 && net_query_state_ <= 2
        && rx_count_ < kNetAnswerLength && reply_text_.find(char(kCR)) == std::string::npos;
    if (rx_count_ < kLineLength || net_answer_incomplete) {
        set_tim_rx_enabled(true);
        do_events();
        return;
    }

    emit log_entry(reply_text_, Direction::Received);
    heard_text(reply_text_);

    if (net_query_state_ != kNetIdle && rx_count_ == kNetAnswerLength) {
        net_query_state_ = kNetAnswered;
        cmd_busy_ = false;
        set_tim_rx_enabled(true);
        do_events();
        return;
    }

    if (examine_line(reply_text_, rx_count_) != LineVerdict::Accepted) {
        reply_ok_ = false;
    } else {
        heard_line(reply_text_);
        reply_ok_ = true;
        if (cmd_busy_) return; // the waiting transaction takes it over and re-enables the tick
        const std::string code = reply_code(reply_text_);
        if (!router_.dispatch(code, false) && !has_code(code, Code::ERR)) reply_ok_ = false;
    }

    rx_count_ = 0;
    reply_text_.clear();
    cmd_busy_ = false;
    set_tim_rx_enabled(true);
    do_events();
}

void DeviceSession::consume_reply()
{
    reply_text_.clear();
    rx_count_ = 0;
}

Exchange DeviceSession::query_network(const std::string& command)
{
    const std::string code = reply_code(command);
    net_query_state_ = has_code(code, Code::EIP) ? 0 : has_code(code, Code::EMK) ? 1 : 2; // tells the receiver what to collect
    send_command_nowait(command);
    wait_steps(kNetAnswerWaits, 0.001f, &DeviceSession::network_answered);
    Exchange answer{link_up() ? Exchange::Kind::Silent : Exchange::Kind::LinkDown, {}};
    if (net_query_state_ == kNetAnswered) {
        answer = {Exchange::Kind::Answered, reply_text_};
        // A reply arriving after the query must start a fresh line.
        consume_reply();
    }
    net_query_state_ = kNetIdle;
    if (answer.answered()) model_->take_network(command, answer.reply);
    return answer;
}

} // namespace tavrion
