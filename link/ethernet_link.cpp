// The TCP link: connect with a 7 s attempt timeout, watch the connection every 100 ms, assemble
// replies from the socket, end the session on EXT; and the choice between the two links.
#include "shell/frm_main.h"

#include "link/protocol.h"
#include "link/serial_port.h"
#include "link/tcp_client.h"
#include "shell/colours.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace tavrion {

namespace {
constexpr int kAttemptMs = 7000;
constexpr int kWatchMs = 100;
constexpr int kCountCeiling = 1 << 30;
} // namespace

void FrmMain::opt_interface_Click(int index)
{
    link_interface = index;
    for (QWidget* w : std::initializer_list<QWidget*>{cmd_conn, cmd_disconn, cbo_com, cmd_conn_eth, cmd_disconn_eth, lab_ip, txt_ip})
        w->hide();

    if (index == 0) {
        tim_eth->stop();
        tim_eth->setInterval(kAttemptMs);
        wsk_client->close();
        eth_connected = false;
        lab_eth_state->hide(); // an attempt in progress ends with the link
        cmd_conn_eth->setEnabled(true);
        set_back_colour(cmd_conn_eth, button_face_colour());
        cmd_disconn_eth->setEnabled(false);
        set_back_colour(cmd_disconn_eth, disconnected_colour);
        cmd_conn->show();
        cmd_disconn->show();
        cbo_com->show();
        cmd_get_ip->setEnabled(true);

        const bool events = ui_events_enabled;
        ui_events_enabled = false;
        cbo_com->setCurrentIndex(com_port - 1);
        do_events();
        ui_events_enabled = events;
        set_comm();
    } else {
        if (serial_connected) {
            serial_connected = false;
            MSComm1->close();
        }
        cmd_conn_eth->show();
        cmd_disconn_eth->show();
        cmd_get_ip->setEnabled(false);
        lab_ip->show();
        txt_ip->show();
    }
}

void FrmMain::cmd_conn_eth_Click()
{
    cmd_conn_eth->setEnabled(false);
    // A coarse timer may fire up to 5% early, which would cut the 7 s attempt to 6.65 s.
    tim_eth->setTimerType(Qt::PreciseTimer);
    tim_eth->start();
    const QString host = txt_ip->text().trimmed();
    if (wsk_client->state() != TcpClient::Connected) {
        set_back_colour(cmd_conn_eth, connecting_colour);
        set_back_colour(cmd_disconn_eth, button_face_colour());
        wsk_client->connect_to(host);
        lab_eth_state->show();
    } else {
        show_message(QStringLiteral("Ethernet is already connected!"), BoxIcon::Critical);
    }
}

void FrmMain::wsk_client_Connect()
{
    eth_connected = true;
    tim_eth->setInterval(kWatchMs);
    if (!tim_eth->isActive()) tim_eth->start();
    lab_eth_state->hide();
    set_back_colour(cmd_conn_eth, connected_colour);
    cmd_disconn_eth->setEnabled(true);
    set_back_colour(cmd_disconn_eth, button_face_colour());
}

void FrmMain::tim_eth_Timer()
{
    if (!eth_connected) {
        // The attempt ran out. The socket is closed before the message, so a connection that
        // completes while the box is open cannot leave the panel half connected.
        tim_eth->stop();
        if (wsk_client->state() != TcpClient::Closed) wsk_client->close();
        lab_eth_state->hide();
        cmd_conn_eth->setEnabled(true);
        set_back_colour(cmd_conn_eth, button_face_colour());
        set_back_colour(cmd_disconn_eth, disconnected_colour);
        show_message(QStringLiteral("Client could not find Server."), BoxIcon::Critical);
        return;
    }
    if (wsk_client->state() == TcpClient::Connected) return;
    tim_eth->stop();
    // Disconnect first, so nothing is sent into the dead socket while the message is open.
    cmd_disconn_eth_Click();
    show_message(QStringLiteral("Ethernet is disconnected !"), BoxIcon::Critical);
}

void FrmMain::cmd_disconn_eth_Click()
{
    tim_eth->stop();
    wsk_client->close();
    eth_connected = false;
    tim_eth->setInterval(kAttemptMs);
    lab_eth_state->hide();
    cmd_conn_eth->setEnabled(true);
    set_back_colour(cmd_conn_eth, button_face_colour());
    cmd_disconn_eth->setEnabled(false);
    set_back_colour(cmd_disconn_eth, disconnected_colour);
}

void FrmMain::reply_ext() { cmd_disconn_eth_Click(); }

void FrmMain::eth_send(const std::string& command)
{
    wsk_client->send_data(QByteArray::fromStdString(frame_command(command)));
}

void FrmMain::wsk_client_DataArrival()
{
    const QByteArray data = wsk_client->get_data();
    if (data.isEmpty()) return;
    rx_count = int(std::min<qint64>(kCountCeiling, qint64(rx_count) + data.size()));
    reply_text.append(data.constData(), std::size_t(data.size()));
    if (rx_count < kLineLength) return;

    log_entry(reply_text);

    if (examine_line(reply_text, rx_count) != LineVerdict::Accepted) {
        reply_ok = false;
    } else {
        reply_ok = true;
        if (cmd_busy) return; // left for the waiting transaction
        const std::string code = reply_code(reply_text);
        if (!dispatch_reply(code, true) && code != "ERR") reply_ok = false;
    }
    rx_count = 0;
    reply_text.clear();
    cmd_busy = false;
}

} // namespace tavrion
