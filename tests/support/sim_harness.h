// The real panel against the simulated device: a temporary program folder whose serial/COM1 is
// the simulator's pseudo-terminal (real QSerialPort), or the simulator's TCP server on loopback
// (real QTcpSocket). The simulator runs in the same event loop and records every command.
#pragma once

#ifdef TAVRION_HAVE_SIM

#include "session/clock.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "support/features.h"
#include "sim/sim_server.h"
#include "support/fakes.h"
#include "support/program_folder.h"

#include <memory>

namespace tavrion::test {

class SimHarness {
public:
    enum class Link { Serial, Tcp };
    // Serial: the simulator's pty appears as COM1 and start-up opens it. Tcp: the simulator
    // listens on a free loopback port and the address box names it; connect_tcp() connects.
    // `wait`: how the session waits for answers (the window's steps, or as tavrion-ctl and the hub).
    explicit SimHarness(Link link = Link::Serial, bool advanced = true, int baud = 115200,
                        ReplyWait wait = ReplyWait::Stepped);
    ~SimHarness();

    bool load();             // Form_Load; for Tcp also connects
    bool connect_tcp();      // selects nothing; presses Connect and waits for the link
    // Before load(): the address box names `address` instead of the simulator (a hub in between).
    void aim_tcp_at(const QString& address);
    FrmMain& w() { return *window_; }
    tavrion_sim::SimServer& sim() { return sim_; }
    tavrion_sim::DeviceState& device() { return sim_.device().state(); }
    QStringList wire() const { return sim_.received_commands(); }
    SerialPort* serial_port() { return serial_.get(); } // the window's COM port
    TcpClient* tcp_client() { return tcp_.get(); }
    void clear_wire() { sim_.clear_received(); }
    // Presses Refresh and returns when the chain has ended.
    void refresh();

    Link link;
    ProgramFolder folder;
    RecordingBoxes boxes;
    SteadyClock clock;

private:
    bool advanced_;
    tavrion_sim::SimServer sim_;
    std::unique_ptr<QtSerialPort> serial_;
    std::unique_ptr<QtTcpClient> tcp_;
    std::unique_ptr<FrmMain> window_;
};

// A few queries over `h`'s link, sent once it has loaded: each answered, on the simulator's wire
// in order, no transaction left busy and no message box.
void check_round_trips(SimHarness& h);

} // namespace tavrion::test

#endif
