// The main window's receive path on both links, through the real receivers (tim_rx_Timer on
// RS-232, wsk_client_DataArrival on TCP) and the reply handlers they dispatch to. The input
// chooses the link, the display mode and power state the device reports first, how the reply
// stream is cut into arrivals, and whether a transaction (a plain send_command, or a click that
// runs a chain of them) or an unacknowledged send is waiting while the pieces arrive.
//
// Input: one setup byte, then operations.
//   setup  bit 0: link (0 RS-232, 1 Ethernet); bits 1-2: mode reported first (MOD001..MOD003,
//          0 none); bits 3-4: power reported first (1 PWR001, 2 PWR000, 3 PWR001 and LCK001);
//          bit 5: compact window.
//   0x00-0x7F  n: n bytes arrive now, no transaction waiting.
//   0x80-0xBF  c: send_command(code c + parameter from the next byte: bits 3-4 pick 999, 998,
//          001 or 00<bits 5-7>) while the k pieces that follow arrive (k = parameter byte & 7);
//          each piece is [length & 0x7F][bytes].
//   0xC0-0xFF  other actions (low 4 bits); those that wait take [k][k pieces] like the above.
//
// Waits are made instant without changing their logic: the panel's millisecond clock moves one
// millisecond a reading while pieces are still to arrive and leaps ahead once none are left, so a
// wait that nothing will end runs out its steps at once.
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_input.h"

#include "session/clock.h"
#include "support/features.h"
#include "support/fakes.h"
#include "support/program_folder.h"
#include "support/test_access.h"

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

namespace tavrion::fuzz {

namespace {

using test::FakeSerialPort;
using test::FakeTcpClient;
using test::RecordingBoxes;

// Pieces of the reply stream that arrive from the event loop, one per turn, as the device's bytes
// would while the panel waits.
class Feeder : public QObject {
public:
    std::function<void(const QByteArray&)> deliver;

    void queue(const QByteArray& piece)
    {
        pieces_.push_back(piece);
        arm();
    }
    bool pending() const { return !pieces_.empty(); }
    // What is left arrives now, in order.
    void flush()
    {
        while (!pieces_.empty()) deliver_one();
    }

private:
    void arm()
    {
        if (armed_ || pieces_.empty()) return;
        armed_ = true;
        QTimer::singleShot(0, this, [this] {
            armed_ = false;
            deliver_one();
            arm();
        });
    }
    void deliver_one()
    {
        if (pieces_.empty()) return;
        const QByteArray piece = pieces_.front();
        pieces_.pop_front();
        deliver(piece);
    }

    std::deque<QByteArray> pieces_;
    bool armed_ = false;
};

class FuzzClock : public Clock {
public:
    explicit FuzzClock(const Feeder& feeder) : feeder_(feeder) {}
    qint64 now_ms() override { return now_ += feeder_.pending() ? 1 : 100000; }

private:
    const Feeder& feeder_;
    qint64 now_ = 0;
};

const char* const kCodes[] = {"AUA", "AUB", "AUD", "AUE", "BEH", "BEV", "BEZ", "BRI", "CAL", "CON", "HUE",
                              "INP", "LCK", "MOD", "OUT", "PWR", "RES", "RST", "SAT", "SAV", "VER", "MNU"};
constexpr int kCodeCount = int(sizeof kCodes / sizeof kCodes[0]);

std::unique_ptr<test::ProgramFolder>& folder()
{
    static std::unique_ptr<test::ProgramFolder> f;
    return f;
}

// One window on fakes, made fresh for every input so that inputs do not depend on each other.
struct Panel {
    RecordingBoxes boxes;
    FakeSerialPort serial;
    FakeTcpClient tcp;
    Feeder feeder;
    FuzzClock clock{feeder};
    bool ethernet = false;
    std::unique_ptr<FrmMain> w; // last: goes first

    explicit Panel(bool eth) : ethernet(eth)
    {
        Platform p;
        p.program_dir = folder()->path();
        p.clock = &clock;
        p.serial = &serial;
        p.socket = &tcp;
        p.boxes = &boxes;
        w = std::make_unique<FrmMain>(p);
        // Visible as far as the window's logic can tell, but never painted: painting is what a
        // window-level input would otherwise spend its time on, and it is not under test.
        w->setAttribute(Qt::WA_DontShowOnScreen);
        w->setUpdatesEnabled(false);
        feeder.deliver = [this](const QByteArray& piece) { arrive(piece); };

        if (!w->Form_Load()) {
            // Start-up could not run (a file problem): the receivers are still worth exercising.
            w->show();
            w->opt_interface(0)->setChecked(true);
            SessionTestAccess::set_tim_rx_enabled(w->session(), true);
            PanelTestAccess::flags(*w).ui_events_enabled = true;
        }
        if (ethernet) {
            w->opt_interface(1)->setChecked(true);
            w->txt_ip->setText(QStringLiteral("127.0.0.1"));
            w->interface_frame().cmd_conn_eth_Click();
            for (int i = 0; i < 5 && !w->session().eth_connected(); ++i) QCoreApplication::processEvents();
        }
    }

    // Bytes from the device: the socket event fires at once; on RS-232 the receive tick runs as
    // long as it is enabled and bytes wait, as the 1 ms timer would make it.
    void arrive(const QByteArray& bytes)
    {
        if (ethernet) {
            tcp.feed(bytes);
            return;
        }
        serial.feed(bytes);
        for (int i = 0; i < 4 && SessionTestAccess::tim_rx_enabled(w->session()) && serial.in_buffer_count() > 0; ++i) SessionTestAccess::receive_tick(w->session());
    }

    // State that must hold whenever no transaction is under way.
    void check() const
    {
        FUZZ_CHECK(w->command_log().log_lines() >= 0 && w->command_log().log_lines() <= 31);
        FUZZ_CHECK(SessionTestAccess::rx_count(w->session()) >= 0);
        FUZZ_CHECK(SessionTestAccess::reply_text(w->session()).size() <= std::size_t(SessionTestAccess::rx_count(w->session())));
    }
};

// [k][k pieces]: queued to arrive while the next action waits.
void queue_pieces(Input& in, Feeder& feeder, int k)
{
    for (int i = 0; i < k && !in.empty(); ++i) feeder.queue(QByteArray::fromStdString(in.chunk(0x7F)));
}

void run_action(Input& in, Panel& p, std::uint8_t op)
{
    FrmMain& w = *p.w;
    const std::uint8_t arg = in.byte();
    switch (op & 0x0F) {
    case 0: // a refresh with its whole chain of queries
        queue_pieces(in, p.feeder, in.byte());
        w.refresh_all().cmd_refresh_Click();
        break;
    case 1: // a display mode button: the long wait for the device's reconfiguration
        queue_pieces(in, p.feeder, in.byte());
        w.modes().cmd_mode_Click(1 + arg % 3);
        break;
    case 2:
        queue_pieces(in, p.feeder, in.byte());
        w.presets().cmd_recall_Click(1 + arg % 4);
        break;
    case 3:
        queue_pieces(in, p.feeder, in.byte());
        w.presets().cmd_save_Click(1 + arg % 4);
        break;
    case 4: // the routing map or the picture values
        queue_pieces(in, p.feeder, in.byte());
        if (arg & 1)
            w.routing().map_refresh();
        else
            w.picture().cmd_pic_refresh_Click();
        break;
    case 5: // a toggle button
        queue_pieces(in, p.feeder, in.byte());
        switch (arg % 4) {
        case 0: w.power_lock().cmd_pwr_Click(); break;
        case 1: w.power_lock().cmd_lock_Click(); break;
        case 2: w.audio().cmd_mute_Click(); break;
        default: w.refresh_all().cmd_ver_Click(); break;
        }
        break;
    case 6: // an unacknowledged send (a slider), pieces arriving during and after it
        queue_pieces(in, p.feeder, arg & 3);
        w.session().send_command_nowait(std::string(kCodes[(arg >> 2) % kCodeCount]) + "050");
        break;
    case 7: // the serial receiver takes a 16-character network answer now
        SessionTestAccess::set_net_query_state(w.session(), arg % 3);
        break;
    case 8: SessionTestAccess::set_net_query_state(w.session(), 254); break;
    case 9: // a busy flag without a waiting transaction: the hand-over path of the receivers
        SessionTestAccess::set_cmd_busy(w.session(), !SessionTestAccess::cmd_busy(w.session()));
        break;
    case 10: w.model().expect_answer_to("BEH998"); break;
    case 11: w.command_log().cmd_clear_Click(); break;
    case 12: // reconnect after EXT, a restart or a disconnect
        if (p.ethernet && !w.session().eth_connected()) {
            w.interface_frame().cmd_conn_eth_Click();
            for (int i = 0; i < 5 && !w.session().eth_connected(); ++i) QCoreApplication::processEvents();
        } else if (!p.ethernet && !w.session().serial_connected()) {
            w.interface_frame().cmd_conn_Click();
        }
        break;
    default: w.session().do_events(); break;
    }
}

} // namespace

void receivers_init()
{
    if (!folder()) folder() = std::make_unique<test::ProgramFolder>();
}

int receivers_one(const std::uint8_t* data, std::size_t size)
{
    receivers_init();
    Input in(data, size);
    const std::uint8_t setup = in.byte();
    {
        Panel p(setup & 1);
        if (setup & 0x20) p.w->cmd_advance_Click();
        if (const int mode = (setup >> 1) & 3) p.arrive(QByteArray("MOD00") + char('0' + mode) + '\r');
        switch ((setup >> 3) & 3) {
        case 1: p.arrive("PWR001\r"); break;
        case 2: p.arrive("PWR000\r"); break;
        case 3: p.arrive("PWR001\rLCK001\r"); break;
        default: break;
        }
        p.check();

        while (!in.empty()) {
            const std::uint8_t op = in.byte();
            if (op < 0x80) {
                p.arrive(QByteArray::fromStdString(in.bytes(op)));
            } else if (op < 0xC0) {
                const std::uint8_t param = in.byte();
                static const char* const kParams[] = {"999", "998", "001"};
                const std::string parameter =
                    ((param >> 3) & 3) < 3 ? kParams[(param >> 3) & 3] : std::string("00") + char('0' + (param >> 5));
                queue_pieces(in, p.feeder, param & 7);
                p.w->session().send_command(kCodes[(op & 0x3F) % kCodeCount] + parameter);
            } else {
                run_action(in, p, op);
            }
            p.feeder.flush(); // what the wait left arrives now, with nobody waiting
            p.check();
        }
    }
    // Objects the window left for deletion go now, not in the next input.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    return 0;
}

} // namespace tavrion::fuzz

#ifdef TAVRION_LIBFUZZER
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // One application for the whole run, on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's warnings (the offscreen platform has a few for every window) would drown libFuzzer's
    // report; critical and fatal messages still get through.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(text));
        if (type == QtFatalMsg) std::abort();
    });
    static int app_argc = 1;
    static char* app_argv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QApplication(app_argc, app_argv);
    tavrion::fuzz::receivers_init();
    return 0;
}
#endif

TAVRION_FUZZ_ENTRY(tavrion::fuzz::receivers_one)
