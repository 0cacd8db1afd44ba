// The choice between the two links and their buttons. The links themselves are the session's; this
// frame starts and ends them and shows their state.
#include "panel/shell/interface_frame.h"

#include "session/device_session.h"
#include "session/tcp_client.h"
#include "panel/colours.h"
#include "panel/panel_state.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace tavrion {

InterfaceFrame::InterfaceFrame(DeviceSession& session, PanelFlags& flags, const Controls& controls)
    : session_(session), flags_(flags), c_(controls)
{
    connect(c_.cmd_conn, &QPushButton::clicked, this, [this] { cmd_conn_Click(); });
    connect(c_.cmd_disconn, &QPushButton::clicked, this, [this] { cmd_disconn_Click(); });
    connect(c_.cmd_conn_eth, &QPushButton::clicked, this, [this] { cmd_conn_eth_Click(); });
    connect(c_.cmd_disconn_eth, &QPushButton::clicked, this, [this] { cmd_disconn_eth_Click(); });
    connect(c_.cbo_com, &QComboBox::currentIndexChanged, this, [this] { cbo_com_Click(); });
    for (int i = 0; i <= 1; ++i)
        connect(c_.opt_interface(i), &QRadioButton::toggled, this, [this, i](bool on) { if (on) opt_interface_Click(i); });

    connect(&session, &DeviceSession::serial_link_shown, this, [this](bool open) { show_serial_link(open); });
    connect(&session, &DeviceSession::ethernet_link_up, this, [this] { show_eth_link_up(); });
    connect(&session, &DeviceSession::ethernet_link_down, this, [this] { show_eth_idle(); });
    connect(&session, &DeviceSession::ethernet_attempt_failed, this, [this] { show_eth_attempt_failed(); });
}

void InterfaceFrame::opt_interface_Click(int index)
{
    session_.set_link_interface(index);
    for (QWidget* w : std::initializer_list<QWidget*>{c_.cmd_conn, c_.cmd_disconn, c_.cbo_com, c_.cmd_conn_eth,
                                                      c_.cmd_disconn_eth, c_.lab_ip, c_.txt_ip})
        w->hide();

    if (index == 0) {
        session_.disconnect_eth(false);
        show_eth_idle(); // an attempt in progress ends with the link
        c_.cmd_conn->show();
        c_.cmd_disconn->show();
        c_.cbo_com->show();
        c_.cmd_get_ip->setEnabled(true);

        const bool events = flags_.ui_events_enabled;
        flags_.ui_events_enabled = false;
        c_.cbo_com->setCurrentIndex(session_.com_port() - 1);
        session_.do_events();
        flags_.ui_events_enabled = events;
        session_.set_comm();
    } else {
        session_.disconnect_serial(false);
        c_.cmd_conn_eth->show();
        c_.cmd_disconn_eth->show();
        c_.cmd_get_ip->setEnabled(false);
        c_.lab_ip->show();
        c_.txt_ip->show();
    }
}

void InterfaceFrame::cbo_com_Click()
{
    const int position = c_.cbo_com->currentIndex();
    if (position < 0) return;
    session_.set_com_port(position + 1);
    if (flags_.ui_events_enabled) session_.set_comm();
}

void InterfaceFrame::cmd_conn_Click() { session_.set_comm(); }

void InterfaceFrame::cmd_disconn_Click() { session_.disconnect_serial(); }

void InterfaceFrame::show_serial_link(bool open)
{
    set_back_colour(c_.cmd_conn, open ? connected_colour : button_face_colour());
    set_back_colour(c_.cmd_disconn, open ? button_face_colour() : disconnected_colour);
}

void InterfaceFrame::cmd_conn_eth_Click()
{
    c_.cmd_conn_eth->setEnabled(false);
    const QString host = c_.txt_ip->text().trimmed();
    // The colours first: a connection may complete within the call.
    const bool connected = session_.tcp_state() == TcpClient::Connected;
    if (!connected) {
        set_back_colour(c_.cmd_conn_eth, connecting_colour);
        set_back_colour(c_.cmd_disconn_eth, button_face_colour());
    }
    session_.connect_tcp(host);
    if (!connected) {
        c_.lab_eth_state->show();
    } else {
        session_.show_message(QStringLiteral("Ethernet is already connected!"), BoxIcon::Critical);
    }
}

void InterfaceFrame::cmd_disconn_eth_Click() { session_.disconnect_eth(); }

void InterfaceFrame::show_eth_link_up()
{
    c_.lab_eth_state->hide();
    set_back_colour(c_.cmd_conn_eth, connected_colour);
    c_.cmd_disconn_eth->setEnabled(true);
    set_back_colour(c_.cmd_disconn_eth, button_face_colour());
}

void InterfaceFrame::show_eth_idle()
{
    c_.lab_eth_state->hide();
    c_.cmd_conn_eth->setEnabled(true);
    set_back_colour(c_.cmd_conn_eth, button_face_colour());
    c_.cmd_disconn_eth->setEnabled(false);
    set_back_colour(c_.cmd_disconn_eth, disconnected_colour);
}

void InterfaceFrame::show_eth_attempt_failed()
{
    c_.lab_eth_state->hide();
    c_.cmd_conn_eth->setEnabled(true);
    set_back_colour(c_.cmd_conn_eth, button_face_colour());
    set_back_colour(c_.cmd_disconn_eth, disconnected_colour);
}

} // namespace tavrion
