// tavrion-sim: a KV-7720 on the other end of the wire, for demos, tests and trying the panel
// without hardware. Runs in the foreground until SIGINT/SIGTERM.
#include "sim/fault_plan.h"
#include "sim/sim_server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using tavrion_sim::SimServer;

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int)
{
    const char c = 1;
    const ssize_t ignored = ::write(signal_pipe[1], &c, 1);
    (void)ignored;
}

void say(const QString& text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

[[noreturn]] void die(const QString& text)
{
    std::fprintf(stderr, "tavrion-sim: %s\n", text.toLocal8Bit().constData());
    std::exit(2);
}

bool parse_tcp(const QString& text, QHostAddress& address, quint16& port)
{
    QString host = QStringLiteral("127.0.0.1");
    QString port_text = text;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        port_text = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint p = port_text.toUInt(&ok);
    if (!ok || p > 65535) return false;
    if (!address.setAddress(host)) return false;
    port = static_cast<quint16>(p);
    return true;
}

const char* description()
{
    return "Plays the KV-7720 video matrix switcher on the other end of the wire: answers every\n"
           "command of the control panel from its own device state, over TCP and/or a\n"
           "pseudo-terminal that stands in for the RS-232 port, with faults on request.\n"
           "\n"
           "Examples:\n"
           "  tavrion-sim --tcp 2323\n"
           "  tavrion-sim --serial build/bin/serial/COM1 --log session.log\n"
           "  tavrion-sim --tcp 0.0.0.0:23 --fault \"delay 3000 MOD\" --control-port 4000\n"
           "\n"
           "While it runs, lines on standard input (and on the control port) speak the control\n"
           "language below; each is answered with its output and \"ok\" or \"error: ...\".\n"
           "\n";
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrion-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description()) +
                                     QString::fromLatin1(tavrion_sim::control_help()));
    parser.addHelpOption();
    const QCommandLineOption tcp_opt(QStringLiteral("tcp"),
        QStringLiteral("Serve TCP on [ADDR:]PORT, one client at a time (address default 127.0.0.1)."),
        QStringLiteral("[ADDR:]PORT"));
    const QCommandLineOption serial_opt(QStringLiteral("serial"),
        QStringLiteral("Create a pseudo-terminal and a symbolic link to it at PATH (removed on exit), "
                       "e.g. <program folder>/serial/COM1, which the panel opens as \"COM1:\"."),
        QStringLiteral("PATH"));
    const QCommandLineOption baud_opt(QStringLiteral("baud"),
        QStringLiteral("Pace serial output at N baud, 8N1 (default 115200); 0 sends at once."),
        QStringLiteral("N"), QStringLiteral("115200"));
    const QCommandLineOption restart_opt(QStringLiteral("restart-ms"),
        QStringLiteral("After PWR001/RST001 over TCP, refuse connections for MS ms (default 3000)."),
        QStringLiteral("MS"), QStringLiteral("3000"));
    const QCommandLineOption log_opt(QStringLiteral("log"),
        QStringLiteral("Append a transcript to FILE: one line per command and per reply, "
                       "microsecond timestamps, bytes quoted with escapes."),
        QStringLiteral("FILE"));
    const QCommandLineOption fault_opt(QStringLiteral("fault"),
        QStringLiteral("Arm a fault at start, in the control language (repeatable), "
                       "e.g. --fault \"silent MOD\"."),
        QStringLiteral("FAULT"));
    const QCommandLineOption control_opt(QStringLiteral("control-port"),
        QStringLiteral("Accept control-language lines on 127.0.0.1:PORT."), QStringLiteral("PORT"));
    const QCommandLineOption no_stdin_opt(QStringLiteral("no-stdin"),
        QStringLiteral("Do not read control lines from standard input."));
    const QCommandLineOption replay_opt(QStringLiteral("replay"),
        QStringLiteral("Answer the commands with the replies recorded in transcript FILE, in order; "
                       "the device model takes over when the recording ends."),
        QStringLiteral("FILE"));
    const QCommandLineOption firmware_opt(QStringLiteral("firmware"),
        QStringLiteral("Firmware version reported by VER (default 106 = 1.06)."), QStringLiteral("N"));
    const QCommandLineOption ip_opt(QStringLiteral("ip"),
        QStringLiteral("IP address the device reports to EIP999 (default 192.168.1.100)."),
        QStringLiteral("A.B.C.D"));
    const QCommandLineOption mask_opt(QStringLiteral("mask"),
        QStringLiteral("Subnet mask reported to EMK999 (default 255.255.255.0)."), QStringLiteral("A.B.C.D"));
    const QCommandLineOption gateway_opt(QStringLiteral("gateway"),
        QStringLiteral("Gateway reported to EGW999 (default 192.168.1.1)."), QStringLiteral("A.B.C.D"));
    const QCommandLineOption standby_opt(QStringLiteral("standby"),
        QStringLiteral("Start in standby instead of on."));
    parser.addOptions({tcp_opt, serial_opt, baud_opt, restart_opt, log_opt, fault_opt, control_opt,
                       no_stdin_opt, replay_opt, firmware_opt, ip_opt, mask_opt, gateway_opt,
                       standby_opt});
    parser.process(app);

    if (!parser.isSet(tcp_opt) && !parser.isSet(serial_opt))
        die(QStringLiteral("give --tcp [ADDR:]PORT and/or --serial PATH (see --help)"));

    SimServer sim;
    QObject::connect(&sim, &SimServer::notice, [](const QString& text) { say(QStringLiteral("# ") + text); });

    bool ok = false;
    const int baud = parser.value(baud_opt).toInt(&ok);
    if (!ok || baud < 0) die(QStringLiteral("--baud wants a number of 0 or more"));
    const int restart_ms = parser.value(restart_opt).toInt(&ok);
    if (!ok || restart_ms < 0) die(QStringLiteral("--restart-ms wants a number of 0 or more"));
    sim.set_restart_ms(restart_ms);

    // Device identity, through the same words the control language uses.
    auto set = [&](const QCommandLineOption& opt, const char* key) {
        if (parser.isSet(opt) && !sim.apply_control(QStringLiteral("set %1 %2").arg(QLatin1String(key), parser.value(opt))))
            die(QStringLiteral("--%1: %2").arg(opt.names().first(), sim.last_error()));
    };
    set(firmware_opt, "version");
    set(ip_opt, "ip");
    set(mask_opt, "mask");
    set(gateway_opt, "gateway");
    // A factory reset returns to these, not to the built-in defaults.
    sim.device().factory() = sim.device().state();
    if (parser.isSet(standby_opt)) sim.device().state().power_on = false;

    for (const QString& fault_line : parser.values(fault_opt)) {
        tavrion_sim::ControlRequest req;
        std::string why;
        if (!tavrion_sim::parse_control(fault_line.toStdString(), req, why))
            die(QStringLiteral("--fault \"%1\": %2").arg(fault_line, QString::fromStdString(why)));
        if (req.type != tavrion_sim::ControlRequest::Arm)
            die(QStringLiteral("--fault \"%1\": not a fault on commands (give a CODE or ALL)").arg(fault_line));
        sim.faults().arm(req.fault);
    }
    if (parser.isSet(log_opt) && !sim.set_transcript(parser.value(log_opt))) die(sim.last_error());
    if (parser.isSet(replay_opt)) {
        QString error;
        if (!sim.load_replay(parser.value(replay_opt), &error)) die(error);
    }

    if (parser.isSet(tcp_opt)) {
        QHostAddress address;
        quint16 port = 0;
        if (!parse_tcp(parser.value(tcp_opt), address, port))
            die(QStringLiteral("--tcp wants [ADDR:]PORT, not %1").arg(parser.value(tcp_opt)));
        if (!sim.listen_tcp(address, port)) die(sim.last_error());
        say(QStringLiteral("tavrion-sim: TCP on %1:%2").arg(address.toString()).arg(sim.tcp_port()));
    }
    if (parser.isSet(serial_opt)) {
        if (!sim.open_serial(parser.value(serial_opt), baud)) die(sim.last_error());
        say(QStringLiteral("tavrion-sim: serial on %1 -> %2, %3")
                .arg(parser.value(serial_opt), sim.serial_device(),
                     baud ? QStringLiteral("%1 baud").arg(baud) : QStringLiteral("unpaced")));
    }
    if (parser.isSet(control_opt)) {
        const uint p = parser.value(control_opt).toUInt(&ok);
        if (!ok || p > 65535 || !sim.listen_control(QHostAddress::LocalHost, static_cast<quint16>(p)))
            die(QStringLiteral("--control-port: %1").arg(sim.last_error()));
        say(QStringLiteral("tavrion-sim: control on 127.0.0.1:%1").arg(sim.control_port()));
    }

    // SIGINT/SIGTERM end the event loop, so that destructors remove the serial link.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) != 0) die(QStringLiteral("socketpair failed"));
    QSocketNotifier signal_notifier(signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(&signal_notifier, &QSocketNotifier::activated, &app, [] {
        char c;
        const ssize_t ignored = ::read(signal_pipe[0], &c, 1);
        (void)ignored;
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Started in the background from a terminal, reading standard input must fail (and end the
    // control input) rather than stop the simulator.
    std::signal(SIGTTIN, SIG_IGN);

    QSocketNotifier* stdin_notifier = nullptr;
    QByteArray stdin_buffer;
    if (!parser.isSet(no_stdin_opt)) {
        stdin_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
        QObject::connect(stdin_notifier, &QSocketNotifier::activated, &app, [&] {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {  // end of input: the simulator keeps running without it
                stdin_notifier->setEnabled(false);
                return;
            }
            stdin_buffer.append(buf, static_cast<int>(n));
            int nl;
            while ((nl = stdin_buffer.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(stdin_buffer.left(nl)).trimmed();
                stdin_buffer.remove(0, nl + 1);
                if (!line.isEmpty()) {
                    const QString out = sim.run_control(line);
                    std::fputs(out.toLocal8Bit().constData(), stdout);
                    std::fflush(stdout);
                }
            }
            if (stdin_buffer.size() > 4096) stdin_buffer.clear();
        });
    }

    const int rc = app.exec();
    say(QStringLiteral("tavrion-sim: stopped"));
    return rc;
}
