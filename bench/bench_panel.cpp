// tavrion-bench: drives the real main window offscreen against the simulated device and prints
// what refresh-all, an unanswered command, an idle window and start-up cost, each beside the floor
// it cannot go below on this machine. It asserts nothing about times: it fails only when the
// measurement itself could not be made (a refresh that did not finish, a window that never showed).
//
// The simulator runs in a thread of its own, as a device would run beside the panel, so the CPU
// figures of the panel's thread are the panel's alone; the process figures add the simulator.
#include "protocol/command_catalogue.h"
#include "session/clock.h"
#include "support/test_access.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "session/device_session.h"
#include "panel/routing/routing_map.h"
#include "panel/shell/frm_keypad.h"
#include "panel/frm_main.h"
#include "panel/shell/menu_keys.h"
#include "panel/shell/refresh_all.h"
#include "session/message_boxes.h"
#include "sim/sim_server.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLibraryInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using tavrion::FrmMain;

namespace {

// ---- clocks and statistics ---------------------------------------------------------------------

// One monotonic clock for the whole program; QElapsedTimer reads CLOCK_MONOTONIC, so stamps taken
// in either thread compare.
qint64 now_ns()
{
    static const QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origin.nsecsElapsed();
}

double ms(qint64 ns) { return double(ns) / 1e6; }

struct CpuMark {
    qint64 wall_ns;
    double thread_s;  // the calling (panel) thread
    double process_s; // every thread: the panel and the simulator
};

double tv_seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

CpuMark cpu_mark()
{
    rusage t{}, p{};
    getrusage(RUSAGE_THREAD, &t);
    getrusage(RUSAGE_SELF, &p);
    return {now_ns(), tv_seconds(t.ru_utime) + tv_seconds(t.ru_stime), tv_seconds(p.ru_utime) + tv_seconds(p.ru_stime)};
}

// CPU time as a share of one core over the span between two marks.
struct CpuShare {
    double thread = 0;
    double process = 0;
    double wall_s = 0;
    void add(const CpuMark& a, const CpuMark& b)
    {
        thread_cpu += b.thread_s - a.thread_s;
        process_cpu += b.process_s - a.process_s;
        wall_s += double(b.wall_ns - a.wall_ns) / 1e9;
        thread = wall_s > 0 ? thread_cpu / wall_s : 0;
        process = wall_s > 0 ? process_cpu / wall_s : 0;
    }
    double thread_cpu = 0;
    double process_cpu = 0;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const double rank = p * double(v.size() - 1);
    const size_t lo = size_t(std::floor(rank));
    const size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (rank - double(lo));
}
double median(const std::vector<double>& v) { return percentile(v, 0.5); }

// ---- event loop helpers ------------------------------------------------------------------------

void pump_for(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool wait_until(const std::function<bool()>& done, int milliseconds)
{
    QElapsedTimer t;
    t.start();
    // A pass nested in ours (the panel's own waits) may take our wake-up; the slow repeating one
    // then ends the sleep without adding passes to what the panel's CPU figures measure.
    QTimer safety;
    safety.start(100);
    while (!done()) {
        if (t.elapsed() >= milliseconds) return false;
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(10);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// ---- the simulator in its own thread -----------------------------------------------------------

class SimThread {
public:
    SimThread()
    {
        thread_.setObjectName(QStringLiteral("simulator"));
        thread_.start();
        anchor_.moveToThread(&thread_);
        on([this] { sim_ = new tavrion_sim::SimServer; });
    }
    ~SimThread()
    {
        QThread* home = QThread::currentThread();
        on([this, home] {
            delete sim_;
            sim_ = nullptr;
            anchor_.moveToThread(home);
        });
        thread_.quit();
        thread_.wait();
    }
    // Runs `f` in the simulator's thread and returns when it is done.
    void on(const std::function<void()>& f) { QMetaObject::invokeMethod(&anchor_, f, Qt::BlockingQueuedConnection); }
    tavrion_sim::SimServer& sim() { return *sim_; } // only inside on()
    bool control(const QString& line)
    {
        bool ok = false;
        on([&] { ok = sim_->apply_control(line); });
        if (!ok) std::fprintf(stderr, "tavrion-bench: simulator refused \"%s\"\n", qPrintable(line));
        return ok;
    }

private:
    QThread thread_;
    QObject anchor_;
    tavrion_sim::SimServer* sim_ = nullptr;
};

// ---- the panel's platform, with the moment of every command sent -------------------------------

struct Sent {
    qint64 at_ns;
    QByteArray command; // without CR
};
using SentLog = std::vector<Sent>;

class StampedSerial : public tavrion::QtSerialPort {
public:
    using QtSerialPort::QtSerialPort;
    SentLog* sent = nullptr;
    void output(const QByteArray& bytes) override
    {
        if (sent) sent->push_back({now_ns(), bytes.left(6)});
        QtSerialPort::output(bytes);
    }
};

class StampedTcp : public tavrion::QtTcpClient {
public:
    SentLog* sent = nullptr;
    void send_data(const QByteArray& bytes) override
    {
        if (sent) sent->push_back({now_ns(), bytes.left(6)});
        QtTcpClient::send_data(bytes);
    }
};

class QuietBoxes : public tavrion::MessageBoxes {
public:
    QStringList texts;
    void show(const QString& text, tavrion::BoxIcon) override { texts << text; }
};

bool write_file(const QString& path, const QByteArray& content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

// A program folder as the panel finds it beside its executable: settings, resolution list, bmp/.
bool make_program_folder(const QString& dir, int link, const QString& address)
{
    const QDir from(QStringLiteral(TAVRION_PROGRAM_DIR));
    const QByteArray ini = QByteArray::number(link) + "\r\n1\r\n#TRUE#\r\n\"" + address.toLatin1() + "\"\r\n";
    if (!write_file(dir + QStringLiteral("/tavrion.ini"), ini)) return false;
    if (!QFile::copy(from.filePath(QStringLiteral("output_reso.txt")), dir + QStringLiteral("/output_reso.txt"))) return false;
    QDir().mkpath(dir + QStringLiteral("/bmp"));
    const QDir bmp(from.filePath(QStringLiteral("bmp")));
    for (const QString& name : bmp.entryList({QStringLiteral("*.bmp")}, QDir::Files))
        QFile::copy(bmp.filePath(name), dir + QStringLiteral("/bmp/") + name);
    return true;
}

// Notes the first paint of the window.
class FirstPaint : public QObject {
public:
    qint64 at_ns = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && at_ns == 0) at_ns = now_ns();
        return false;
    }
};

enum class Link { Serial, Tcp };
const char* link_name(Link l) { return l == Link::Serial ? "serial" : "TCP"; }

// One main window, its temporary program folder and the simulator's end of its link.
class Rig {
public:
    Rig(Link link, SimThread& sim) : link_(link), sim_(sim)
    {
        QString address = QStringLiteral("127.0.0.1");
        if (link == Link::Serial) {
            const QString com1 = dir_.filePath(QStringLiteral("serial/COM1"));
            sim_.on([&] { ready_ = sim_.sim().open_serial(com1, 115200); });
        } else {
            quint16 port = 0;
            sim_.on([&] {
                ready_ = sim_.sim().listen_tcp(QHostAddress::LocalHost, 0);
                port = sim_.sim().tcp_port();
            });
            address = QStringLiteral("127.0.0.1:%1").arg(port);
        }
        ready_ = ready_ && make_program_folder(dir_.path(), link == Link::Serial ? 0 : 1, address);
        serial_ = std::make_unique<StampedSerial>(dir_.path());
        tcp_ = std::make_unique<StampedTcp>();
    }
    ~Rig()
    {
        if (window_) window_->close();
        window_.reset();
        QCoreApplication::processEvents();
        sim_.on([this] {
            if (link_ == Link::Serial) sim_.sim().close_serial();
            else sim_.sim().close_tcp();
        });
    }

    // Builds the window and runs its start-up; for TCP also presses Connect. The times of the
    // construction, of Form_Load and of the first paint are kept.
    bool start()
    {
        if (!ready_) return fail("the program folder or the simulator's link could not be set up");
        tavrion::Platform p;
        p.program_dir = dir_.path();
        p.clock = &clock_;
        p.serial = serial_.get();
        p.socket = tcp_.get();
        p.boxes = &boxes;
        const qint64 t0 = now_ns();
        window_ = std::make_unique<FrmMain>(p);
        FirstPaint paint;
        window_->installEventFilter(&paint);
        const qint64 t1 = now_ns();
        const bool loaded = window_->Form_Load();
        const qint64 t2 = now_ns();
        wait_until([&] { return paint.at_ns != 0; }, 3000);
        window_->removeEventFilter(&paint);
        construct_ms = ms(t1 - t0);
        form_load_ms = ms(t2 - t1);
        first_paint_ms = paint.at_ns ? ms(paint.at_ns - t0) : NAN;
        if (!loaded) return fail("Form_Load stopped");
        if (link_ == Link::Serial) return window_->session().serial_connected() || fail("the serial port did not open");
        QTest::mouseClick(window_->cmd_conn_eth, Qt::LeftButton);
        return wait_until([this] { return window_->session().eth_connected(); }, 5000)
            || fail(QStringLiteral("no TCP connection (Connect enabled %1, messages: %2)")
                        .arg(window_->cmd_conn_eth->isEnabled())
                        .arg(boxes.texts.join(QStringLiteral(" | "))));
    }

    FrmMain& w() { return *window_; }
    Link link() const { return link_; }
    void log_sends_into(SentLog* v)
    {
        serial_->sent = v;
        tcp_->sent = v;
    }

    QuietBoxes boxes;
    QString error;
    double construct_ms = NAN, form_load_ms = NAN, first_paint_ms = NAN;

private:
    bool fail(const QString& why)
    {
        error = why;
        return false;
    }

    Link link_;
    SimThread& sim_;
    QTemporaryDir dir_;
    bool ready_ = false;
    tavrion::SteadyClock clock_;
    std::unique_ptr<StampedSerial> serial_;
    std::unique_ptr<StampedTcp> tcp_;
    std::unique_ptr<FrmMain> window_;
};

// ---- the measurements --------------------------------------------------------------------------

struct Options {
    int reps = 20;
    int step_samples = 200;
    int unanswered_reps = 3;
    double idle_s = 10;
    int startup_runs = 5;
    bool quick = false;
    bool by_command = false;
    QString tavrion = QStringLiteral(TAVRION_EXE);
    QStringList parts{QStringLiteral("refresh"), QStringLiteral("unanswered"), QStringLiteral("idle"), QStringLiteral("startup")};
    bool has(const char* part) const { return parts.contains(QLatin1String(part)); }
};

struct StepFloor {
    std::vector<double> back_to_back_ms;
    std::vector<double> random_phase_ms;
    double step_ms() const { return median(back_to_back_ms); }
};

// One wait step as the panel takes it: wait_seconds(0.001) on the window, with its link up.
StepFloor measure_step(FrmMain& w, int samples)
{
    StepFloor f;
    for (int i = 0; i < samples; ++i) {
        const qint64 t0 = now_ns();
        w.session().wait_seconds(0.001f);
        f.back_to_back_ms.push_back(ms(now_ns() - t0));
    }
    for (int i = 0; i < samples; ++i) {
        QThread::usleep(QRandomGenerator::global()->bounded(1000));
        const qint64 t0 = now_ns();
        w.session().wait_seconds(0.001f);
        f.random_phase_ms.push_back(ms(now_ns() - t0));
    }
    return f;
}

struct RefreshResult {
    Link link;
    int mode;
    int expected_commands;
    int reps = 0;
    std::vector<int> commands;          // per refresh
    std::vector<double> refresh_ms;     // per refresh, click to return
    std::vector<double> per_command_ms; // send to next send (the last: to the end of the refresh)
    std::vector<QByteArray> names;                 // the commands of one refresh, in order
    std::vector<std::vector<double>> by_position;  // per_command_ms by position in the chain
    quint64 steps = 0;
    CpuShare cpu;
    QString error;
};

const char* mode_name(int mode) { return mode == 1 ? "Matrix" : mode == 2 ? "Dual" : "TV Wall"; }

RefreshResult measure_refresh(Rig& rig, SimThread& sim, int mode, int reps)
{
    static const int expected[] = {0, 28, 40, 39};
    RefreshResult r{rig.link(), mode, expected[mode]};
    sim.control(QStringLiteral("set mode %1").arg(mode));
    FrmMain& w = rig.w();
    for (int rep = -1; rep < reps; ++rep) { // the first refresh takes the window to the mode: not counted
        SentLog stamps;
        rig.log_sends_into(&stamps);
        const quint64 steps0 = tavrion::SessionTestAccess::wait_step_count(w.session());
        const CpuMark a = cpu_mark();
        QTest::mouseClick(w.cmd_refresh, Qt::LeftButton);
        const CpuMark b = cpu_mark();
        rig.log_sends_into(nullptr);
        if (rep < 0) continue;
        if (int(stamps.size()) != r.expected_commands || w.device_state().display_mode != mode || !w.cmd_refresh->isEnabled()) {
            r.error = QStringLiteral("refresh sent %1 commands, %2 expected (mode shown %3, busy %4, link up %5, "
                                     "Refresh enabled %6, messages: %7)")
                          .arg(stamps.size())
                          .arg(r.expected_commands)
                          .arg(w.device_state().display_mode)
                          .arg(tavrion::SessionTestAccess::cmd_busy(w.session()))
                          .arg(rig.link() == Link::Serial ? w.session().serial_connected() : w.session().eth_connected())
                          .arg(w.cmd_refresh->isEnabled())
                          .arg(rig.boxes.texts.join(QStringLiteral(" | ")));
            return r;
        }
        ++r.reps;
        r.commands.push_back(int(stamps.size()));
        r.refresh_ms.push_back(ms(b.wall_ns - a.wall_ns));
        r.by_position.resize(stamps.size());
        r.names.clear();
        for (size_t i = 0; i < stamps.size(); ++i) {
            const double t = ms((i + 1 < stamps.size() ? stamps[i + 1].at_ns : b.wall_ns) - stamps[i].at_ns);
            r.per_command_ms.push_back(t);
            r.by_position[i].push_back(t);
            r.names.push_back(stamps[i].command);
        }
        r.steps += tavrion::SessionTestAccess::wait_step_count(w.session()) - steps0;
        r.cpu.add(a, b);
    }
    return r;
}

struct UnansweredResult {
    Link link;
    std::vector<double> wall_ms;
    quint64 steps = 0; // of the last run
    CpuShare cpu;
};

UnansweredResult measure_unanswered(Rig& rig, SimThread& sim, int reps)
{
    UnansweredResult u{rig.link()};
    sim.control(QStringLiteral("silent VER"));
    FrmMain& w = rig.w();
    for (int i = 0; i < reps; ++i) {
        const quint64 steps0 = tavrion::SessionTestAccess::wait_step_count(w.session());
        const CpuMark a = cpu_mark();
        w.session().send_command(tavrion::query_of(tavrion::Code::VER));
        const CpuMark b = cpu_mark();
        u.steps = tavrion::SessionTestAccess::wait_step_count(w.session()) - steps0;
        u.wall_ms.push_back(ms(b.wall_ns - a.wall_ns));
        u.cpu.add(a, b);
    }
    sim.control(QStringLiteral("reset"));
    return u;
}

CpuShare measure_idle(double seconds)
{
    // What the start-up and the previous measurement left to do is not idling.
    pump_for(500);
    CpuShare s;
    const CpuMark a = cpu_mark();
    pump_for(int(seconds * 1000));
    s.add(a, cpu_mark());
    return s;
}

// ---- start-up of a separate process ------------------------------------------------------------

// Qt's own diagnostics of the widget painter (QT_LOGGING_RULES, no code in the panel) write one
// line when a window's first frame is flushed to the screen; the parent watches for it.
const QByteArray kFlushLine = "qt.widgets.painting: Flushing";

struct ChildStart {
    bool ok = false;
    QString error;
    double shown_ms = NAN;    // process start to the first frame flushed
    int lines_before = 0;     // diagnostic lines the child wrote before it
    double peak_rss_mb = NAN; // VmHWM once shown and settled
    double idle_cpu = NAN;    // share of one core while idle after start-up (0 if not asked)
};

QByteArray proc_file(qint64 pid, const char* name)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double peak_rss_mb(qint64 pid)
{
    for (const QByteArray& line : proc_file(pid, "status").split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return NAN;
}

// utime + stime of a process, in seconds.
double process_cpu_s(qint64 pid)
{
    const QByteArray stat = proc_file(pid, "stat");
    const int end = stat.lastIndexOf(')'); // the command name may hold blanks
    if (end < 0) return NAN;
    const QList<QByteArray> f = stat.mid(end + 2).split(' '); // f[0] is field 3 (state)
    if (f.size() < 13) return NAN;
    return (f[11].toDouble() + f[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

ChildStart run_child(const QString& program, const QStringList& args, double idle_s)
{
    ChildStart c;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    const qint64 t0 = now_ns();
    p.start(program, args);
    QByteArray pending;
    QElapsedTimer limit;
    limit.start();
    while (!c.ok && limit.elapsed() < 15000 && p.state() != QProcess::NotRunning) {
        if (!p.waitForReadyRead(1000)) continue;
        pending += p.readAll();
        for (int nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
            if (pending.startsWith(kFlushLine)) {
                c.shown_ms = ms(now_ns() - t0);
                c.ok = true;
                break;
            }
            ++c.lines_before;
        }
    }
    if (!c.ok) {
        c.error = QStringLiteral("%1 showed no window (%2)").arg(program, QString::fromLocal8Bit(pending.left(300)));
    } else {
        const qint64 pid = p.processId();
        QThread::msleep(300); // let the first events settle
        p.readAll();
        if (idle_s > 0) {
            const double a = process_cpu_s(pid);
            const qint64 w0 = now_ns();
            QThread::msleep(quint32(idle_s * 1000));
            c.idle_cpu = (process_cpu_s(pid) - a) / (double(now_ns() - w0) / 1e9);
        }
        c.peak_rss_mb = peak_rss_mb(pid);
    }
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
    return c;
}

// The smallest widgets program: a bare window of the panel's size, for the start-up floor.
int bare_window(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QWidget w;
    w.setObjectName(QStringLiteral("frm_main"));
    w.setFixedSize(827, 427);
    w.show();
    return app.exec();
}

struct StartupResult {
    std::vector<double> panel_shown_ms, panel_rss_mb, bare_shown_ms, bare_rss_mb;
    int panel_lines = 0, bare_lines = 0;
    double child_idle_cpu = NAN;
    QString error;
};

StartupResult measure_startup(const Options& o, SimThread& sim, double child_idle_s)
{
    StartupResult s;
    if (!QFileInfo(o.tavrion).isExecutable()) {
        s.error = QStringLiteral("no panel program at %1 (--tavrion PATH)").arg(o.tavrion);
        return s;
    }
    for (int run = 0; run < o.startup_runs; ++run) {
        // The panel from a program folder of its own, its saved link the simulator's serial line.
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("tavrion"));
        bool ok = QFile::copy(o.tavrion, exe) && make_program_folder(dir.path(), 0, QStringLiteral("127.0.0.1"));
        const QString com1 = dir.filePath(QStringLiteral("serial/COM1"));
        sim.on([&] { ok = ok && sim.sim().open_serial(com1, 115200); });
        if (!ok) {
            s.error = QStringLiteral("could not prepare the program folder %1").arg(dir.path());
            return s;
        }
        const ChildStart c = run_child(exe, {}, run == 0 ? child_idle_s : 0);
        sim.on([&] { sim.sim().close_serial(); });
        if (!c.ok) {
            s.error = c.error;
            return s;
        }
        s.panel_shown_ms.push_back(c.shown_ms);
        s.panel_rss_mb.push_back(c.peak_rss_mb);
        s.panel_lines = c.lines_before;
        if (run == 0) s.child_idle_cpu = c.idle_cpu;

        const ChildStart b = run_child(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-window")}, 0);
        if (!b.ok) {
            s.error = b.error;
            return s;
        }
        s.bare_shown_ms.push_back(b.shown_ms);
        s.bare_rss_mb.push_back(b.peak_rss_mb);
        s.bare_lines = b.lines_before;
    }
    return s;
}

// ---- the report --------------------------------------------------------------------------------

const char* verdict(bool ok) { return ok ? "ok" : "MISSED"; }

QString load_average()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("?");
    const QList<QByteArray> p = f.readAll().split(' ');
    return QStringLiteral("%1 %2 %3").arg(QString::fromLatin1(p.value(0)), QString::fromLatin1(p.value(1)), QString::fromLatin1(p.value(2)));
}

void print_usage()
{
    std::printf(
        "usage: tavrion-bench [--reps N] [--quick] [--idle-seconds S] [--startup-runs K] [--only PARTS] [--by-command]\n"
        "                     [--tavrion PATH]\n"
        "  --reps N          refreshes per link and mode (default 20)\n"
        "  --quick           a short run that only shows the benchmark still works: 2 refreshes,\n"
        "                    1 s of idling, one start-up\n"
        "  --idle-seconds S  length of each idle measurement (default 10)\n"
        "  --startup-runs K  start-ups of the panel program (default 5)\n"
        "  --only PARTS      some of refresh,unanswered,idle,startup (default: all; the floor is always measured)\n"
        "  --by-command      also the median of each command of each refresh\n"
        "  --tavrion PATH    the panel program to start (default: the one of this build)\n");
}

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray a = argv[i];
        auto value = [&](double lo) -> double {
            if (i + 1 >= argc) return NAN;
            bool ok = false;
            const double v = QByteArray(argv[++i]).toDouble(&ok);
            return ok && v >= lo ? v : NAN;
        };
        if (a == "--quick") {
            o.quick = true;
            o.reps = 2;
            o.step_samples = 40;
            o.unanswered_reps = 1;
            o.idle_s = 1;
            o.startup_runs = 1;
        } else if (a == "--reps") {
            const double v = value(1);
            if (std::isnan(v)) return false;
            o.reps = int(v);
        } else if (a == "--idle-seconds") {
            const double v = value(0.1);
            if (std::isnan(v)) return false;
            o.idle_s = v;
        } else if (a == "--startup-runs") {
            const double v = value(1);
            if (std::isnan(v)) return false;
            o.startup_runs = int(v);
        } else if (a == "--by-command") {
            o.by_command = true;
        } else if (a == "--only" && i + 1 < argc) {
            o.parts = QString::fromLocal8Bit(argv[++i]).split(QLatin1Char(','), Qt::SkipEmptyParts);
        } else if (a == "--tavrion" && i + 1 < argc) {
            o.tavrion = QString::fromLocal8Bit(argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--bare-window") return bare_window(argc, argv);
        if (QByteArray(argv[i]) == "--help" || QByteArray(argv[i]) == "-h") {
            print_usage();
            return 0;
        }
    }
    Options o;
    if (!parse(argc, argv, o)) {
        print_usage();
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    now_ns();
    QApplication app(argc, argv);
    // As the panel's own main() sets it up.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setApplicationName(QStringLiteral("Tavrion"));

    const QString load_before = load_average();
    int failures = 0;
    SimThread sim;

    struct LinkRun {
        Link link;
        double construct_ms, form_load_ms, first_paint_ms;
        StepFloor floor;
        std::vector<RefreshResult> refresh;
        UnansweredResult unanswered;
        CpuShare idle;
    };
    std::vector<LinkRun> runs;
    for (Link link : {Link::Serial, Link::Tcp}) {
        Rig rig(link, sim);
        if (!rig.start()) {
            std::fprintf(stderr, "tavrion-bench: %s: %s\n", link_name(link), qPrintable(rig.error));
            ++failures;
            continue;
        }
        LinkRun run{link, rig.construct_ms, rig.form_load_ms, rig.first_paint_ms};
        run.floor = measure_step(rig.w(), o.step_samples);
        for (int mode = 1; mode <= 3 && o.has("refresh"); ++mode) {
            run.refresh.push_back(measure_refresh(rig, sim, mode, o.reps));
            if (!run.refresh.back().error.isEmpty()) {
                std::fprintf(stderr, "tavrion-bench: %s %s: %s\n", link_name(link), mode_name(mode),
                             qPrintable(run.refresh.back().error));
                ++failures;
            }
        }
        if (o.has("unanswered")) run.unanswered = measure_unanswered(rig, sim, o.unanswered_reps);
        if (o.has("idle")) run.idle = measure_idle(o.idle_s);
        if (!(link == Link::Serial ? rig.w().session().serial_connected() : rig.w().session().eth_connected())) {
            std::fprintf(stderr, "tavrion-bench: %s: the link went down while idle\n", link_name(link));
            ++failures;
        }
        for (const QString& t : rig.boxes.texts)
            std::fprintf(stderr, "tavrion-bench: %s: message box \"%s\"\n", link_name(link), qPrintable(t));
        runs.push_back(std::move(run));
    }

    const StartupResult st = o.has("startup") ? measure_startup(o, sim, o.idle_s) : StartupResult{};
    if (!st.error.isEmpty()) {
        std::fprintf(stderr, "tavrion-bench: start-up: %s\n", qPrintable(st.error));
        ++failures;
    }

    // ---- print -----------------------------------------------------------------------------
    const double wire_ms = 14 * 10 / 115200.0 * 1000.0; // 7 + 7 bytes, ten bits each (8N1)
    std::printf("Tavrion bench%s: %d refreshes per link and mode, Qt %s, %ld cores, load average %s (before) / %s (after)\n\n",
                o.quick ? " (quick)" : "", o.reps, qVersion(), sysconf(_SC_NPROCESSORS_ONLN), qPrintable(load_before),
                qPrintable(load_average()));

    std::printf("Floor: one wait step, wait_seconds(0.001), on the window with its link up (ms)\n");
    std::printf("  %-8s %-22s %7s %7s %7s %7s\n", "link", "started", "median", "p95", "min", "max");
    for (const LinkRun& r : runs) {
        auto row = [&](const char* how, const std::vector<double>& v) {
            std::printf("  %-8s %-22s %7.3f %7.3f %7.3f %7.3f\n", link_name(r.link), how, median(v), percentile(v, 0.95),
                        *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
        };
        row("back to back", r.floor.back_to_back_ms);
        row("at a random moment", r.floor.random_phase_ms);
    }
    double serial_floor = NAN;
    for (const LinkRun& r : runs) {
        if (r.link != Link::Serial) continue;
        const double step = r.floor.step_ms();
        serial_floor = std::max(step, std::ceil(wire_ms / step) * step);
        std::printf("  serial wire time of a 7-byte command and a 7-byte reply at 115200 8N1: %.3f ms = %.0f step(s);\n"
                    "  serial floor per command = max(step, wire time in whole steps) = %.3f ms\n",
                    wire_ms, std::ceil(wire_ms / step), serial_floor);
    }

    int missed = 0;
    auto judge = [&missed](bool ok) {
        if (!ok) ++missed;
        return verdict(ok);
    };

    if (o.has("refresh")) {
        std::printf("\nRefresh-all, expanded window (per command: from its send to the next send)\n");
        std::printf("  %-6s %-7s %4s %4s %8s %7s %7s %5s %6s %6s %6s %6s %7s  %s\n", "link", "mode", "cmds", "reps",
                    "refresh", "median", "p95", "steps", "median", "p95", "CPU ms", "CPU", "CPU", "targets: median <= 1.10 x floor,");
        std::printf("  %-6s %-7s %4s %4s %8s %7s %7s %5s %6s %6s %6s %6s %7s  %s\n", "", "", "", "", "ms", "ms", "ms", "/cmd",
                    "/floor", "/floor", "/cmd", "panel", "process", "CPU (panel) <= 15%");
        for (const LinkRun& r : runs) {
            const double floor = r.link == Link::Serial ? serial_floor : r.floor.step_ms();
            for (const RefreshResult& f : r.refresh) {
                if (f.reps == 0) continue;
                const double med = median(f.per_command_ms), p95 = percentile(f.per_command_ms, 0.95);
                const double steps = double(f.steps) / double(f.per_command_ms.size());
                const double cpu_per_command = 1000 * f.cpu.thread_cpu / double(f.per_command_ms.size());
                std::printf("  %-6s %-7s %4d %4d %8.2f %7.3f %7.3f %5.2f %6.2f %6.2f %6.3f %5.1f%% %6.1f%%  %s, %s\n",
                            link_name(r.link), mode_name(f.mode), f.commands.front(), f.reps, median(f.refresh_ms), med, p95,
                            steps, med / floor, p95 / floor, cpu_per_command, 100 * f.cpu.thread, 100 * f.cpu.process,
                            judge(med <= 1.10 * floor), judge(f.cpu.thread <= 0.15));
            }
        }
        for (const LinkRun& r : runs) {
            for (const RefreshResult& f : r.refresh) {
                if (!o.by_command || f.reps == 0) continue;
                std::printf("  %s %s, median ms by command:", link_name(r.link), mode_name(f.mode));
                for (size_t i = 0; i < f.names.size(); ++i)
                    std::printf("%s%s %.2f", i % 8 ? ", " : "\n    ", f.names[i].constData(), median(f.by_position[i]));
                std::printf("\n");
            }
        }
    }

    if (o.has("unanswered")) {
        std::printf("\nA command that gets no answer (the simulator silent for VER999; floor = steps x one step)\n");
        std::printf("  %-6s %5s %9s %9s %7s %7s %7s  %s\n", "link", "steps", "wall ms", "floor ms", "/floor", "CPU", "CPU",
                    "target: CPU (panel) <= 5%");
        std::printf("  %-6s %5s %9s %9s %7s %7s %7s\n", "", "", "", "", "", "panel", "process");
        for (const LinkRun& r : runs) {
            const UnansweredResult& u = r.unanswered;
            if (u.wall_ms.empty()) continue;
            const double floor = double(u.steps) * r.floor.step_ms();
            std::printf("  %-6s %5llu %9.1f %9.1f %7.3f %6.2f%% %6.2f%%  %s\n", link_name(r.link),
                        (unsigned long long)u.steps, median(u.wall_ms), floor, median(u.wall_ms) / floor, 100 * u.cpu.thread,
                        100 * u.cpu.process, judge(u.cpu.thread <= 0.05));
        }
    }

    if (o.has("idle")) {
        std::printf("\nIdle (%.0f s each)\n", o.idle_s);
        std::printf("  %-40s %7s %7s  %s\n", "state", "panel", "process", "target (panel)");
        for (const LinkRun& r : runs) {
            const bool serial = r.link == Link::Serial;
            const double target = serial ? 0.01 : 0.005;
            std::printf("  %-40s %6.3f%% %6.3f%%  <= %.1f%%: %s\n",
                        serial ? "serial port open (in-process window)" : "TCP connected, link watch running",
                        100 * r.idle.thread, 100 * r.idle.process, 100 * target, judge(r.idle.thread <= target));
        }
        if (!std::isnan(st.child_idle_cpu))
            std::printf("  %-40s %7s %6.3f%%  <= 1.0%%: %s (read in clock ticks: +-%.2f%%)\n",
                        "serial port open (the tavrion process)", "", 100 * st.child_idle_cpu,
                        judge(st.child_idle_cpu <= 0.01), 100.0 / double(sysconf(_SC_CLK_TCK)) / o.idle_s);
    }

    std::printf("\nStart-up, offscreen\n");
    for (const LinkRun& r : runs)
        std::printf("  in-process, %-6s window: construction %.1f ms + Form_Load %.1f ms; first paint %.1f ms after construction began\n",
                    link_name(r.link), r.construct_ms, r.form_load_ms, r.first_paint_ms);
    if (!st.panel_shown_ms.empty()) {
        const double shown = median(st.panel_shown_ms), rss = median(st.panel_rss_mb);
        const double bare_shown = median(st.bare_shown_ms), bare_rss = median(st.bare_rss_mb);
        std::printf("  %-46s %4s %9s %9s %9s  %s\n", "process start to first frame flushed (median)", "runs", "shown ms",
                    "peak RSS", "log lines", "targets: <= 300 ms, <= 80 MB");
        std::printf("  %-46s %4zu %9.1f %6.1f MB %9d  %s, %s\n", "tavrion, serial port opened at start-up",
                    st.panel_shown_ms.size(), shown, rss, st.panel_lines, judge(shown <= 300), judge(rss <= 80));
        std::printf("  %-46s %4zu %9.1f %6.1f MB %9d\n", "floor: a bare Qt window of the same size", st.bare_shown_ms.size(),
                    bare_shown, bare_rss, st.bare_lines);
        std::printf("  %-46s %4s %9.2f %9.2f\n", "ratio to the floor", "", shown / bare_shown, rss / bare_rss);
    }

    std::printf("\n%d target(s) missed\n", missed);
    if (failures) std::printf("\n%d measurement(s) could not be made: see the messages above\n", failures);
    return failures ? 1 : 0;
}
