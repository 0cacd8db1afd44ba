// The TCP link: connect with a 7 s attempt timeout, watch the connection (every 100 ms, or by the
// socket's own news), assemble replies from the socket, end the session on EXT.
#include "session/device_session.h"

#include "protocol/command_catalogue.h"
#include "protocol/protocol.h"
#include "session/tcp_client.h"

#include <QTimer>

namespace tavrion {

namespace {
constexpr int kAttemptMs = 7000;
constexpr int kWatchMs = 100;
constexpr int kCountCeiling = 1 << 30;
} // namespace

int DeviceSession::tcp_state() const { return wsk_client->state(); }

void DeviceSession::start_eth_timer()
{
    // A coarse timer may fire up to 5% early, which would cut the 7 s attempt to 6.65 s.
    tim_eth_->setTimerType(Qt::PreciseTimer);
    tim_eth_->start();
}

void DeviceSession::connect_tcp(const QString& remote_host)
{
    start_eth_timer();
    if (wsk_client->state() != TcpClient::Connected) wsk_client->connect_to(remote_host);
}

void DeviceSession::wsk_client_Connect()
{
    eth_connected_ = true;
    if (platform_.link_watch == LinkWatch::Polled) {
        tim_eth_->setInterval(kWatchMs);
        if (!tim_eth_->isActive()) tim_eth_->start();
    } else {
        tim_eth_->stop(); // the attempt is over; the socket tells of the link's end
    }
    emit ethernet_link_up();
}

void DeviceSession::tim_eth_Timer()
{
    if (!eth_connected_) {
        // The attempt ran out. The socket is closed before the message, so a connection that
        // completes while the box is open cannot leave the panel half connected.
        tim_eth_->stop();
        if (wsk_client->state() != TcpClient::Closed) wsk_client->close();
        emit ethernet_attempt_failed();
        show_message(QStringLiteral("Client could not find Server."), BoxIcon::Critical);
        return;
    }
    if (wsk_client->state() == TcpClient::Connected) {
        // Without the watch, an attempt timer restarted on a live link has nothing left to do.
        if (platform_.link_watch == LinkWatch::Socket) tim_eth_->stop();
        return;
    }
    eth_link_lost();
}

void DeviceSession::eth_link_lost()
{
    tim_eth_->stop();
    // Disconnect first, so nothing is sent into the dead socket while the message is open.
    disconnect_eth();
    show_message(QStringLiteral("Ethernet is disconnected !"), BoxIcon::Critical);
}

void DeviceSession::disconnect_eth(bool announce)
{
    tim_eth_->stop();
    wsk_client->close();
    eth_connected_ = false;
    tim_eth_->setInterval(kAttemptMs);
    if (announce) emit ethernet_link_down();
}

void DeviceSession::reply_ext() { disconnect_eth(); }

void DeviceSession::eth_send(const std::string& command)
{
    wsk_client->send_data(QByteArray::fromStdString(frame_command(command)));
}

void DeviceSession::wsk_client_DataArrival()
{
    const QByteArray data = wsk_client->get_data();
    if (data.isEmpty()) return;
    rx_count_ = int(std::min<qint64>(kCountCeiling, qint64(rx_count_) + data.size()));
    reply_text_.append(data.constData(), std::size_t(data.size()));
    if (rx_count_ < kLineLength) return;

    emit log_entry(reply_text_, Direction::Received);
    heard_text(reply_text_);

    if (examine_line(reply_text_, rx_count_) != LineVerdict::Accepted) {
        reply_ok_ = false;
    } else {
        heard_line(reply_text_);
        reply_ok_ = true;
        if (cmd_busy_) return; // left for the waiting transaction
        const std::string code = reply_code(reply_text_);
        if (!router_.dispatch(code, true) && !has_code(code, Code::ERR)) reply_ok_ = false;
    }
    rx_count_ = 0;
    reply_text_.clear();
    cmd_busy_ = false;
}

} // namespace tavrion
