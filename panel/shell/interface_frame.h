// The Interface frame: the choice between RS-232 and Ethernet, the COM port list, and the Connect
// and Disconnect buttons of both links with the colours that show each link's state.
// Reaches outside the frame: "Get IP" is enabled on RS-232 only.
#pragma once

#include "panel/indexed.h"

#include <QObject>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavrion {

class DeviceSession;
struct PanelFlags;

class InterfaceFrame : public QObject {
public:
    struct Controls {
        Indexed<QRadioButton, 0, 1> opt_interface;
        QPushButton* cmd_conn;
        QPushButton* cmd_disconn;
        QPushButton* cmd_conn_eth;
        QPushButton* cmd_disconn_eth;
        QComboBox* cbo_com;
        QLabel* lab_ip;
        QLineEdit* txt_ip;
        QLabel* lab_eth_state;
        QPushButton* cmd_get_ip;
    };
    InterfaceFrame(DeviceSession& session, PanelFlags& flags, const Controls& controls);

    void opt_interface_Click(int index);
    void cbo_com_Click();
    void cmd_conn_Click();
    void cmd_disconn_Click();
    void cmd_conn_eth_Click();
    void cmd_disconn_eth_Click();

private:
    void show_serial_link(bool open);
    void show_eth_link_up();
    void show_eth_idle(); // after a disconnect
    void show_eth_attempt_failed();

    DeviceSession& session_;
    PanelFlags& flags_;
    Controls c_;
};

} // namespace tavrion
