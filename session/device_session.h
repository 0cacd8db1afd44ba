// The device session: one link to the KV-7720 (RS-232 or TCP), the transaction engine that sends a
// command and waits a bounded number of steps for its reply, both receivers, and the reply router.
// No widgets: the window and tavrion-ctl both stand on it. What a user must see (log entries, the
// state of a link, a restart of the device) is announced by signals; messages go through the
// message-box seam.
#pragma once

#include "session/exchange.h"
#include "session/message_boxes.h"
#include "session/reply_router.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace tavrion {

class Clock;
class DeviceModel;
class SerialPort;
class TcpClient;

// How the session learns that a connected TCP link has gone.
enum class LinkWatch {
    Polled, // the window's watch: the socket's state looked at every 100 ms
    Socket, // no timer: the socket's own news (the peer closing, an error, TCP keep-alive)
};

// How the session waits for an answer. Both give up on a silent device, end the late-reply waits
// and take the restart course after the same time; they differ only in when a wait that is answered
// ends.
enum class ReplyWait {
    Stepped, // the window's: whole steps of wait_seconds, the serial receiver on its 1 ms tick
    Prompt,  // one wait that ends on the pass that accepts the answer; serial bytes taken as they come
};

// What the session needs from the platform. The caller owns all of it and keeps it alive as long
// as the session; tests put fakes here.
struct SessionPlatform {
    Clock* clock = nullptr;       // millisecond clock of the waits
    SerialPort* serial = nullptr; // the COM port
    TcpClient* socket = nullptr;  // the TCP client
    MessageBoxes* boxes = nullptr; // none: messages are not shown (tavrion-ctl reports outcomes)
    LinkWatch link_watch = LinkWatch::Polled;
    ReplyWait reply_wait = ReplyWait::Stepped;
};

class DeviceSession : public QObject {
    Q_OBJECT
public:
    explicit DeviceSession(const SessionPlatform& platform, QObject* parent = nullptr);
    ~DeviceSession() override;

    // The one model of this link: every reply with a code it decodes goes into it, whoever sent
    // the command, and so do the network answers.
    DeviceModel& model() { return *model_; }

    // ---- transactions (session/transaction.cpp, session/send_nowait.cpp) --------------------------
    // Sends one command and waits for its answer.
    Exchange send_command(const std::string& command);
    // Sends one command without logging or waiting; the receivers dispatch the answer later.
    void send_command_nowait(const std::string& command);
    void wait_seconds(float seconds);
    // After send_command of `command` ended in `first`: up to ten waits of 0.5 s while unanswered,
    // then what the exchange came to.
    Exchange await_late_reply(const std::string& command, const Exchange& first);
    void do_events();        // process pending events once
    void show_message(const QString& text, BoxIcon icon);
    // A command that restarts the device over TCP (power on, factory reset) is under way: from its
    // send until its exchange ends, the link's loss is the expected course, not a fault.
    bool restarting() const { return restarting_; }
    // Event passes (waits, single passes, message boxes) that the session runs on behalf of a
    // handler and that have not returned yet: while there are any, a handler is suspended on the
    // stack, and whatever it uses must stay alive.
    int event_passes() const { return event_passes_; }

    bool waiting() const { return waiting_; }

    // ---- link choice ------------------------------------------------------------------------
    int link_interface() const { return link_interface_; } // 0 RS-232, 1 Ethernet
    void set_link_interface(int index) { link_interface_ = index; }
    // The selected link is up (the link check of both senders, without its message).
    bool link_up() const;

    // ---- serial link (session/serial_link.cpp) -------------------------------------------------
    int com_port() const { return com_port_; }
    void set_com_port(int port) { com_port_ = port; }
    bool serial_connected() const { return serial_connected_; }
    void set_comm();            // (re)opens COM com_port(); "COM n: Fail !" when it cannot
    // Start-up's last step: the receiver takes what the device sends from now on.
    void start_receiving() { set_tim_rx_enabled(true); }
    // Closes an open port (Disconnect, a vanished device); `announce` false when the Ethernet link
    // takes over, which closes the port without a word.
    void disconnect_serial(bool announce = true);
    void close_serial_port();   // shutdown: the port only
    // One query of "Get IP" (EIP999, EMK999 or EGW999): sent without a transaction, then up to 51
    // wait steps for its 16-character answer, which is taken out of the receive buffer and into
    // the model. Answered with it, or silent. The query state is idle again afterwards.
    Exchange query_network(const std::string& command);

    // ---- Ethernet link (session/ethernet_link.cpp) ---------------------------------------------
    bool eth_connected() const { return eth_connected_; }
    int tcp_state() const;       // TcpClient::State
    // Starts the 7 s attempt (or restarts the running link watch) and, unless the socket is
    // connected already, connects to `remote_host`.
    void connect_tcp(const QString& remote_host);
    // Disconnect: timer off, socket closed, no message; `announce` false when the RS-232 link
    // takes over, which says nothing of the Ethernet link going.
    void disconnect_eth(bool announce = true);

signals:
    // An entry for the command log: a command sent or the text received, as `direction` says.
    void log_entry(const std::string& text, tavrion::Direction direction);
    // The serial port has been opened (true) or closed or failed to open (false).
    void serial_link_shown(bool open);
    void ethernet_link_up();
    void ethernet_link_down();      // ended by Disconnect, the link watch, EXT or a restart
    void ethernet_attempt_failed(); // the 7 s ran out; the message follows
    // The device restarts on this command over TCP: the user must connect again afterwards.
    void restart_course();
    // The outermost of the event passes has returned.
    void event_passes_ended();

private:
    class PassScope;
    void set_tim_rx_enabled(bool on); // the receive tick as the receiver switches it
    void take_bytes_soon();           // the receiver takes what waits on the next pass, not a tick later
    // Waits as up to `steps` calls of wait_seconds(`seconds`) would, each made only while `done`
    // is false: those calls when stepped, or one wait bounded by the time they take at least.
    void wait_steps(int steps, float seconds, bool (DeviceSession::*done)() const);
    // Sleeps in the event loop until `done` (when given) holds or the clock has moved `bound_ms` past
    // the start.
    void wait_for(bool (DeviceSession::*done)() const, qint64 bound_ms);
    bool reply_accepted() const { return reply_ok_; }
    bool network_answered() const;
    void consume_reply();             // empties the receive buffer once a network answer is read
    void start_eth_timer();
    // What the receivers saw while an exchange was open; exchanges nest (a handler's send).
    struct Heard {
        std::string text; // what was received first, at most 64 characters
        std::string line; // the last line the acceptance rule took
    };
    class HeardScope;
    void heard_text(const std::string& text);
    void heard_line(const std::string& line);
    // The handlers of the receive tick, the socket and the Ethernet timer.
    void tim_rx_Timer();
    void wsk_client_Connect();
    void wsk_client_DataArrival();
    void tim_eth_Timer();
    void eth_link_lost(); // the connected link went: closed, announced, and the message shown
    bool check_link(); // the link check of both senders: false (and the message) when down
    void serial_write(const std::string& command);
    void eth_send(const std::string& command);
    void serial_ready_read();
    void reply_ext();

    SessionPlatform platform_;
    Clock* clock_ = nullptr;
    SerialPort* MSComm1 = nullptr;
    TcpClient* wsk_client = nullptr;
    QTimer* tim_rx_ = nullptr;  // the 1 ms receive tick; runs only while bytes wait
    QTimer* tim_eth_ = nullptr; // 7000 ms attempt timeout, then the 100 ms link watch (if polled)
    class WaitDeadline* wait_deadline_ = nullptr; // wakes a sleeping wait (session/transaction.cpp)
    ReplyRouter router_;
    std::unique_ptr<DeviceModel> model_;
    std::vector<Heard*> heard_;

    int link_interface_ = 0;
    int com_port_ = 1;
    bool serial_connected_ = false;
    bool eth_connected_ = false;
    bool cmd_busy_ = false;
    bool reply_ok_ = false;
    std::string reply_text_;
    int rx_count_ = 0;
    bool waiting_ = false;
    int net_query_state_ = 254;
    bool tim_rx_on_ = false;
    bool take_queued_ = false; // a pass of the receiver is queued already
    bool restarting_ = false;
    quint64 wait_step_count_ = 0;
    int event_passes_ = 0;

    friend class SessionTestAccess; // tests and benchmarks: the engine's inner state
};

} // namespace tavrion
