#include "soak/soak_engine.h"
#include "support/test_access.h"

#include "support/hygiene.h"
#include "support/panel_harness.h"
#include "support/program_folder.h"

#include "protocol/command_catalogue.h"
#include "session/clock.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "support/features.h"
#include "sim/sim_server.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <deque>
#include <memory>
#include <random>

namespace tavrion::soak {

namespace {

constexpr qint64 kMB = 1024 * 1024;
constexpr int kSerialSteps = 301;   // wait steps of one transaction, at most
constexpr int kEthernetSteps = 601;
constexpr int kMaxProblems = 40;    // listed; the rest are only counted

// The real ports, telling the soak each command as it goes on the wire.
class RecordingSerialPort : public QtSerialPort {
public:
    using QtSerialPort::QtSerialPort;
    std::function<void(const QByteArray&)> written;
    void output(const QByteArray& bytes) override
    {
        if (written) written(bytes);
        QtSerialPort::output(bytes);
    }
};

class RecordingTcpClient : public QtTcpClient {
public:
    std::function<void(const QByteArray&)> written;
    void send_data(const QByteArray& bytes) override
    {
        if (written) written(bytes);
        QtTcpClient::send_data(bytes);
    }
};

// The lines the device has sent lately: the six characters before each CR of its byte stream.
// A reply the panel dispatches must be one of them.
class SentLines {
public:
    void add(const QByteArray& bytes)
    {
        for (char c : bytes) {
            if (c != '\r') {
                tail_ += c;
                if (tail_.size() > 64) tail_.erase(0, tail_.size() - 6);
                continue;
            }
            if (tail_.size() >= 6) {
                recent_.push_back(tail_.substr(tail_.size() - 6));
                if (recent_.back().compare(0, 3, "ERR") == 0) ++errors;
                if (recent_.size() > 512) recent_.pop_front();
            }
            tail_.clear();
        }
    }
    bool contains(const std::string& line) const
    {
        for (auto it = recent_.rbegin(); it != recent_.rend(); ++it)
            if (*it == line) return true;
        return false;
    }
    int errors = 0;

private:
    std::string tail_;
    std::deque<std::string> recent_;
};

// The panel on real ports against the simulator in the same event loop.
class Rig {
public:
    explicit Rig(Link l) : link(l)
    {
        test::Settings s;
        s.link_interface = link == Link::Serial ? 0 : 1;
        s.com_port = 1;
        s.advanced_view = true;
        if (link == Link::Serial) {
            QDir().mkpath(folder.file(QStringLiteral("serial")));
            // Line pacing at the real 115200 baud.
            sim.open_serial(folder.file(QStringLiteral("serial/COM1")), 115200);
        } else {
            sim.listen_tcp(QHostAddress::LocalHost, 0);
            s.address = QStringLiteral("127.0.0.1:%1").arg(sim.tcp_port());
        }
        folder.write_settings(s);
        serial = std::make_unique<RecordingSerialPort>(folder.path());
        tcp = std::make_unique<RecordingTcpClient>();
        Platform p;
        p.program_dir = folder.path();
        p.clock = &clock;
        p.serial = serial.get();
        p.socket = tcp.get();
        p.boxes = &boxes;
        w = std::make_unique<FrmMain>(p);
    }
    ~Rig()
    {
        w->close();
        w.reset();
        QCoreApplication::processEvents();
    }
    bool load()
    {
        if (!w->Form_Load()) return false;
        if (link == Link::Serial) return w->session().serial_connected();
        test::PanelHarness::click(w->cmd_conn_eth);
        return test::PanelHarness::wait_until([this] { return w->session().eth_connected(); }, 3000);
    }

    Link link;
    test::ProgramFolder folder;
    test::RecordingBoxes boxes;
    SteadyClock clock;
    tavrion_sim::SimServer sim;
    std::unique_ptr<RecordingSerialPort> serial;
    std::unique_ptr<RecordingTcpClient> tcp;
    std::unique_ptr<FrmMain> w;
};

// Commands the device answers on both links without restarting; a few only on the serial line.
std::vector<std::string> command_pool(Link link)
{
    std::vector<std::string> pool = {
        "AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999", "BEH998", "BEV998", "BEZ999",
        "BRI999", "BRI991", "BRI992", "BRI993", "BRI994", "CON999", "CON992", "HUE999", "HUE993",
        "SAT999", "SAT994", "INP999", "LCK999", "MOD999", "OUT999", "PWR999", "RES999", "VER999",
        "OUT001", "OUT002", "OUT003", "OUT004", "INP001", "INP002", "INP003", "INP004",
        "AUE000", "AUE001", "AUE002", "AUE003", "AUE004", "AUA001", "AUA002", "AUB001", "AUB002",
        "AUD000", "AUD001", "BEZ000", "BEZ001", "LCK000", "LCK001", "MOD001", "MOD002", "MOD003",
        "RES001", "RES005", "RES014", "CAL001", "CAL003", "SAV002", "SAV004", "RST002",
        "MNU001", "MND001", "MNL001", "MNR001", "MNO001", "MNE001", "MNX001",
    };
    if (link == Link::Serial) // over TCP these two restart the device and end the session
        for (const char* c : {"PWR000", "PWR001", "RST001"}) pool.push_back(c);
    return pool;
}

const char* const kReplyCodes[] = {"AUA", "AUB", "AUD", "AUE", "BEH", "BEV", "BEZ", "BRI", "CAL", "CON", "HUE",
                                   "INP", "LCK", "MOD", "OUT", "PWR", "RES", "RST", "SAT", "SAV", "VER", "MNU", "ZZZ"};
const char* const kUnasked[] = {"AUD001", "LCK000", "OUT002", "INP003", "BRI050", "VER106", "MOD001", "CON049"};

class LinkSoak {
public:
    LinkSoak(Link link, const Options& o, std::mt19937& rng) : o_(o), rng_(rng), rig_(link)
    {
        r.link = link == Link::Serial ? QStringLiteral("serial") : QStringLiteral("tcp");
        steps_bound_ = link == Link::Serial ? kSerialSteps : kEthernetSteps;
        // Each step is at least one clock tick; allow generously for a busy machine.
        ms_bound_ = qint64(steps_bound_) * 2 + 1000;
    }

    LinkReport run()
    {
        QElapsedTimer took;
        took.start();
        FrmMain& w = *rig_.w;
        if (!o_.transcript.isEmpty()) rig_.sim.set_transcript(o_.transcript + QLatin1Char('.') + r.link);
        connect_watchers();
        if (!rig_.load()) {
            problem(QStringLiteral("start-up or connection failed"));
            return r;
        }
        test::PanelHarness::click(w.cmd_refresh);

        const std::vector<std::string> pool = command_pool(rig_.link);
        int next_probe = o_.probe_every;
        int next_report = o_.report_every;
        while (r.commands < o_.commands) {
            if (r.commands >= next_probe) {
                probe();
                next_probe = r.commands + o_.probe_every;
            }
            if (r.rss_warm == 0 && r.commands >= o_.warmup) {
                settle();
                r.rss_warm = test::Hygiene::resident_bytes();
            }
            if (r.commands >= next_report) {
                say(QStringLiteral("%1: %2 commands, resident %3 MB, %4 s")
                        .arg(r.link).arg(r.commands).arg(double(test::Hygiene::resident_bytes()) / kMB, 0, 'f', 2)
                        .arg(took.elapsed() / 1000.0, 0, 'f', 1));
                next_report += o_.report_every;
            }
            r.rss_peak = std::max(r.rss_peak, test::Hygiene::resident_bytes());

            arm_fault();
            const double action = uniform();
            if (action < 0.01)
                refresh();
            else if (action < 0.05)
                slider();
            else
                transaction(pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(rng_)]);
        }
        probe();
        settle();
        r.rss_end = test::Hygiene::resident_bytes();
        r.rss_peak = std::max(r.rss_peak, r.rss_end);
        if (r.rss_warm == 0) r.rss_warm = r.rss_end;
        r.err_answers = sent_.errors;
        for (const auto& b : rig_.boxes.boxes) problem(QStringLiteral("message box: ") + b.text);
        SessionTestAccess::router(w.session()).set_dispatch_hook(nullptr);
        r.seconds_ms = took.elapsed();
        return r;
    }

    LinkReport r;

private:
    double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(rng_); }
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    void say(const QString& s) const
    {
        if (o_.print) o_.print(s);
    }
    void problem(const QString& text)
    {
        if (r.problems.size() < kMaxProblems)
            r.problems << QStringLiteral("after %1 commands: %2").arg(r.commands).arg(text);
        else if (r.problems.size() == kMaxProblems)
            r.problems << QStringLiteral("(more problems not listed)");
    }

    void connect_watchers()
    {
        since_arrival_.start();
        auto written = [this](const QByteArray& bytes) {
            ++r.commands;
            last_written_ = bytes.left(6).toStdString();
        };
        rig_.serial->written = written;
        rig_.tcp->written = written;
        QObject::connect(&rig_.sim, &tavrion_sim::SimServer::bytes_sent, &rig_.sim,
                         [this](const QString&, const QByteArray& bytes) {
                             sent_.add(bytes);
                             since_arrival_.restart(); // on its way: the line is not quiet yet
                         });
        FrmMain& w = *rig_.w;
        QObject::connect(rig_.serial.get(), &SerialPort::ready_read, &rig_.sim, [this] { since_arrival_.restart(); });
        QObject::connect(rig_.tcp.get(), &TcpClient::data_arrival, &rig_.sim, [this] { since_arrival_.restart(); });
        SessionTestAccess::router(w.session()).set_dispatch_hook([this, &w](const std::string& code) {
            const std::string reply = SessionTestAccess::reply_text(w.session());
            if (!sent_.contains(reply))
                problem(QStringLiteral("dispatched \"%1\", a line the device never sent").arg(QString::fromStdString(reply)));
            // A transaction holds cmd_busy while it dispatches; the receivers dispatch only without it.
            if (SessionTestAccess::cmd_busy(w.session())) {
                ++r.transaction_dispatches;
                if (last_written_.compare(0, 3, code) != 0)
                    problem(QStringLiteral("reply %1 handed to the transaction of %2")
                                .arg(QString::fromStdString(reply), QString::fromStdString(last_written_)));
            } else {
                ++r.receiver_dispatches;
            }
        });
    }

    void arm_fault()
    {
        using tavrion_sim::Fault;
        using tavrion_sim::FaultKind;
        Fault f;
        f.remaining = 1;
        const bool serial = rig_.link == Link::Serial;
        const double u = uniform();
        if (u < o_.slow_share) {
            switch (between(0, 2)) {
            case 0: f.kind = FaultKind::Silent; break;
            case 1:
                f.kind = FaultKind::Garbage;
                f.number = between(1, 20);
                break;
            default: // later than the transaction waits
                f.kind = FaultKind::Delay;
                f.number = serial ? between(700, 1500) : between(1300, 2000);
                break;
            }
        } else if (u < o_.slow_share + o_.fault_share) {
            switch (between(0, 6)) {
            case 0:
                f.kind = FaultKind::Err;
                f.number = between(1, 3);
                break;
            case 1:
                f.kind = FaultKind::Code;
                f.text = kReplyCodes[between(0, int(std::size(kReplyCodes)) - 1)];
                break;
            case 2: {
                f.kind = FaultKind::Split;
                const int pieces = between(1, 4);
                for (int i = 0; i < pieces; ++i) f.sizes.push_back(between(1, 3));
                f.gap_ms = between(1, 15);
                break;
            }
            case 3: f.kind = FaultKind::Double; break;
            case 4:
                f.kind = FaultKind::Trailing;
                f.text = "\n";
                break;
            case 5:
                f.kind = FaultKind::Unsolicited;
                f.text = kUnasked[between(0, int(std::size(kUnasked)) - 1)];
                f.after_ms = between(0, 300);
                break;
            default: // late, but within the wait
                f.kind = FaultKind::Delay;
                f.number = between(1, 150);
                break;
            }
        } else {
            return;
        }
        rig_.sim.faults().arm(f);
        ++r.faults[QString::fromLatin1(tavrion_sim::fault_name(f.kind))];
    }

    void check_bound(const QString& what, int commands, int steps, qint64 ms)
    {
        if (commands == 1) {
            r.max_steps = std::max(r.max_steps, steps);
            r.max_ms = std::max(r.max_ms, ms);
        }
        if (steps > commands * steps_bound_ || ms > commands * ms_bound_)
            problem(QStringLiteral("%1 took %2 wait steps and %3 ms for %4 command(s)").arg(what).arg(steps).arg(ms).arg(commands));
    }

    void transaction(const std::string& command)
    {
        FrmMain& w = *rig_.w;
        const quint64 steps = SessionTestAccess::wait_step_count(w.session());
        QElapsedTimer t;
        t.start();
        w.session().send_command(command);
        check_bound(QString::fromStdString(command), 1, int(SessionTestAccess::wait_step_count(w.session()) - steps), t.elapsed());
        ++r.transactions;
        if (SessionTestAccess::reply_ok(w.session())) ++r.answered;
        else ++r.unanswered;
        if (SessionTestAccess::cmd_busy(w.session())) problem(QStringLiteral("busy after %1").arg(QString::fromStdString(command)));
        // The protocol has no sequence numbers: once an answer comes late, a command sent at once
        // after each failure takes the previous command's answer and ends, and its own answer
        // goes to the next one. A chain (Refresh) stops at the first failure and a user is slower;
        // mostly do the same, and sometimes go straight on, as a chain of sends would.
        if (!SessionTestAccess::reply_ok(w.session()) && uniform() < 0.7) quiet(20, 1500);
    }

    // Until nothing has left the device or reached the panel for `ms` (at most `limit_ms`).
    void quiet(int ms, int limit_ms)
    {
        test::PanelHarness::wait_until([&] { return rig_.sim.idle() && since_arrival_.elapsed() > ms; }, limit_ms);
    }

    void refresh()
    {
        FrmMain& w = *rig_.w;
        const int before = r.commands;
        const quint64 steps = SessionTestAccess::wait_step_count(w.session());
        QElapsedTimer t;
        t.start();
        test::PanelHarness::click(w.cmd_refresh);
        check_bound(QStringLiteral("Refresh"), std::max(1, r.commands - before), int(SessionTestAccess::wait_step_count(w.session()) - steps), t.elapsed());
        ++r.refreshes;
        if (!w.cmd_refresh->isEnabled()) problem(QStringLiteral("Refresh stayed disabled"));
    }

    void slider()
    {
        rig_.w->session().send_command_nowait(command_of(kPictureCodes[std::size_t(between(0, 3))], between(0, 100)));
        ++r.slider_sends;
    }

    // Waits until the device has sent everything, nothing has arrived for a while, and the panel
    // has taken what its port received (a command sent while bytes still wait in the port would
    // take them for its answer: the protocol has no way to tell).
    void settle()
    {
        rig_.sim.faults().reset();
        FrmMain& w = *rig_.w;
        test::PanelHarness::wait_until([&] {
            return rig_.sim.idle() && since_arrival_.elapsed() > 60
                && (rig_.link != Link::Serial || rig_.serial->in_buffer_count() == 0);
        }, 5000);
        rig_.sim.clear_received();
    }

    // A quiet line, then a command without a fault: it must be answered.
    void probe()
    {
        settle();
        FrmMain& w = *rig_.w;
        const QString before = QStringLiteral("receive tick %1, %2 bytes waiting in the port, busy %3")
                                   .arg(SessionTestAccess::tim_rx_enabled(w.session()) ? "on" : "off")
                                   .arg(rig_.serial->in_buffer_count())
                                   .arg(SessionTestAccess::cmd_busy(w.session()));
        w.txt_ver->clear();
        transaction("VER999");
        ++r.probes;
        if (!SessionTestAccess::reply_ok(w.session()) || w.txt_ver->text().isEmpty()) {
            ++r.probe_failures;
            problem(QStringLiteral("VER999 on a quiet line was not answered (before it: %1); the log ends \"%2\"")
                        .arg(before, w.txt_cmd->toPlainText().right(80)));
        }
    }

    const Options& o_;
    std::mt19937& rng_;
    SentLines sent_;
    std::string last_written_;
    QElapsedTimer since_arrival_; // since bytes last left the device or reached the panel
    int steps_bound_ = kSerialSteps;
    qint64 ms_bound_ = 0;
    Rig rig_; // last: it goes first, while what its callbacks touch is still there
};

} // namespace

QList<LinkReport> run(const Options& options)
{
    std::mt19937 rng(options.seed);
    QList<LinkReport> out;
    for (Link link : options.links) {
        LinkSoak soak(link, options, rng);
        out << soak.run();
        if (options.print) options.print(summary(out.last()));
    }
    return out;
}

QString summary(const LinkReport& r)
{
    QStringList faults;
    int armed = 0;
    for (auto it = r.faults.begin(); it != r.faults.end(); ++it) {
        faults << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
        armed += it.value();
    }
    return QStringLiteral(
               "%1: %2 commands on the wire in %3 s; %4 transactions (%5 answered, %6 unanswered), "
               "%7 ERR lines from the device, %8 refreshes, %9 slider sends; faults armed %10 (%11); "
               "dispatches: %12 by transactions, %13 by receivers; probes %14 (%15 failed); "
               "longest transaction %16 steps / %17 ms; resident %18 MB after warm-up, %19 MB at the end "
               "(%20 MB), peak %21 MB; problems %22")
        .arg(r.link).arg(r.commands).arg(r.seconds_ms / 1000.0, 0, 'f', 1).arg(r.transactions).arg(r.answered)
        .arg(r.unanswered).arg(r.err_answers).arg(r.refreshes).arg(r.slider_sends).arg(armed)
        .arg(faults.join(QStringLiteral(", "))).arg(r.transaction_dispatches).arg(r.receiver_dispatches)
        .arg(r.probes).arg(r.probe_failures).arg(r.max_steps).arg(r.max_ms)
        .arg(double(r.rss_warm) / kMB, 0, 'f', 2).arg(double(r.rss_end) / kMB, 0, 'f', 2)
        .arg((r.rss_end >= r.rss_warm ? QStringLiteral("+") : QString()) + QString::number(double(r.rss_end - r.rss_warm) / kMB, 'f', 2))
        .arg(double(r.rss_peak) / kMB, 0, 'f', 2)
        .arg(r.problems.size());
}

} // namespace tavrion::soak
