// tavrion-hub: the web remote for one or several KV-7720 units (see --help).
#include "hub/hub_log.h"
#include "hub/hub_server.h"
#include "hub/service_notify.h"
#include "hub/sign_in.h"
#include "hub/user_command.h"
#include "hub/users.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

// The signal's number goes through the pipe: SIGHUP reloads, the others stop.
void on_signal(int number)
{
    const char c = char(number);
    [[maybe_unused]] const auto n = ::write(signal_pipe[1], &c, 1);
}

void print(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tavrion::hub;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrion-hub"));
    if (app.arguments().value(1) == QLatin1String("user"))
        return user_command(app.arguments().mid(2), QCoreApplication::applicationDirPath());
    hub_log::install();
    using hub_log::Area;
    QString error;
    const auto options = parse_options(app.arguments().mid(1), error);
    if (!options) {
        // A usage error is the command line's answer to whoever typed it, not a line of the log.
        print(stderr, QStringLiteral("tavrion-hub: %1\nTry 'tavrion-hub --help'.\n").arg(error));
        return 2;
    }
    hub_log::set_threshold(options->log_level);
    if (options->help) {
        print(stdout, usage_text());
        return 0;
    }
    const QString program_dir = QCoreApplication::applicationDirPath();
    const QString token_path = token_file_path(*options, program_dir);
    bool made = false;
    const auto token = load_or_make_token(token_path, made, error);
    if (!token) {
        hub_log::error(Area::http, error);
        return 2;
    }
    if (made) hub_log::notice(Area::http, QStringLiteral("made a new access token in %1").arg(token_path));
    HubOptions given = *options;
    if (given.audit_file.isEmpty())
        given.audit_file = QFileInfo(token_path).absoluteDir().filePath(QStringLiteral("tavrion-hub-audit.jsonl"));
    const std::string dir = program_dir.toLocal8Bit().toStdString();
    // The units file may name the certificate, which --show-url's scheme depends on.
    std::optional<UnitsSetup> setup;
    if (!options->units_file.isEmpty()) {
        setup = read_units_file(options->units_file, error);
        if (!setup) {
            hub_log::error(Area::unit, error);
            return 2;
        }
        apply_tls_files(given, *setup, error);
    }
    const QString sign_ins_path = sign_ins_file_path(*options, program_dir);
    const auto sign_ins = read_sign_ins(sign_ins_path, error);
    if (!sign_ins) {
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
        return 2;
    }
    if (options->show_url) {
        print(stdout, show_url_text(given, *token, QNetworkInterface::allAddresses(), ::isatty(STDOUT_FILENO)));
        return 0;
    }
    if (!setup) setup = default_units(dir, error);
    if (!setup || !apply_protocol_listen(given, *setup, error)) {
        hub_log::error(setup ? Area::port : Area::unit, error);
        return 2;
    }
    std::optional<TlsPair> tls;
    if (!given.tls_cert.isEmpty()) {
        tls = read_tls_pair(given.tls_cert, given.tls_key, error);
        HttpFront probe({}, {});
        if (tls && !probe.use_tls(tls->cert, tls->key, error))
            error = QStringLiteral("%1, %2: %3").arg(given.tls_cert, given.tls_key, error);
        else if (tls) error.clear();
        if (!tls || !error.isEmpty()) {
            hub_log::error(Area::http, error);
            return 2;
        }
    }

    const auto mqtt = mqtt_settings(options->mqtt, setup->mqtt, error);
    if (!mqtt && !error.isEmpty()) {
        hub_log::error(Area::mqtt, error);
        return 2;
    }

    const QHostAddress listen = options->listen_address;
    if (options->metrics_open && !listen.isLoopback())
        hub_log::warning(Area::http, QStringLiteral("--metrics-open with --listen %1: the metrics are open without a token to "
                                                    "every client that reaches that address").arg(options->listen_text));

    for (const UnitConfig& u : setup->units)
        hub_log::debug(Area::unit, QStringLiteral("unit %1 (\"%2\") on %3").arg(QString::fromStdString(u.id), QString::fromStdString(u.name),
                                                                           QString::fromStdString(u.link.name())));
    int status = 0;
    {
        Hub hub(std::move(*setup), given, *token, dir);
        hub.watch_sign_ins(sign_ins_path, *sign_ins);
        if (mqtt) hub.use_broker(*mqtt);
        if (tls) hub.use_tls(*tls, error);
        const quint16 port = hub.start();
        if (!port) {
            hub_log::error(Area::http, hub.start_error());
            return 3;
        }
        // SIGINT and SIGTERM stop every unit between two commands, answer the requests in flight,
        // and then end the event loop.
        ServiceNotifier service;
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) == 0) {
            auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, &app);
            QObject::connect(notifier, &QSocketNotifier::activated, &hub, [notifier, &hub, given, &service] {
                char number = 0;
                if (::read(signal_pipe[0], &number, 1) == 1 && number == SIGHUP) {
                    hub.reload_sign_ins();
                    if (given.tls_cert.isEmpty()) return;
                    // A new certificate for new connections; a pair that cannot be used leaves the old one.
                    QString why;
                    const auto pair = read_tls_pair(given.tls_cert, given.tls_key, why);
                    if (pair && hub.use_tls(*pair, why))
                        hub_log::notice(Area::http, QStringLiteral("SIGHUP: loaded the certificate %1 anew").arg(given.tls_cert));
                    else
                        hub_log::warning(Area::http, QStringLiteral("SIGHUP: kept the certificate in use: %1").arg(why));
                    return;
                }
                notifier->setEnabled(false);
                hub_log::info(Area::http, QStringLiteral("stopping (%1): the requests in flight are answered first")
                                              .arg(QString::fromLatin1(number == SIGINT ? "SIGINT" : "SIGTERM")));
                service.stopping();
                hub.shutdown([] { QCoreApplication::exit(0); });
            });
            std::signal(SIGINT, on_signal);
            std::signal(SIGTERM, on_signal);
            std::signal(SIGHUP, on_signal);
        }
        const QString host = options->listen_text.left(options->listen_text.lastIndexOf(QLatin1Char(':')));
        hub_log::info(Area::http, QStringLiteral("started; the page and the API on %3://%1:%2/")
                                      .arg(host).arg(port).arg(tls ? QStringLiteral("https") : QStringLiteral("http")));
        print(stdout, QStringLiteral("tavrion-hub: listening on %3://%1:%2/ (tavrion-hub --show-url prints the address "
                                     "to open)\n").arg(host).arg(port).arg(tls ? QStringLiteral("https") : QStringLiteral("http")));
        service.ready();
        status = app.exec();
    }
    hub_log::info(Area::http, QStringLiteral("stopped"));
    return status;
}
