// tavrion-hub: the web remote for one or several KV-7720 units (see --help).
#include "hub/hub_server.h"
#include "hub/service_notify.h"
#include "hub/sign_in.h"
#include "hub/user_command.h"
#include "hub/users.h"

#include <QCoreApplication>
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
    QString error;
    const auto options = parse_options(app.arguments().mid(1), error);
    if (!options) {
        print(stderr, QStringLiteral("tavrion-hub: %1\nTry 'tavrion-hub --help'.\n").arg(error));
        return 2;
    }
    if (options->help) {
        print(stdout, usage_text());
        return 0;
    }
    const QString program_dir = QCoreApplication::applicationDirPath();
    const QString token_path = token_file_path(*options, program_dir);
    bool made = false;
    const auto token = load_or_make_token(token_path, made, error);
    if (!token) {
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
        return 2;
    }
    if (made) print(stderr, QStringLiteral("tavrion-hub: made a new access token in %1\n").arg(token_path));
    HubOptions given = *options;
    const std::string dir = program_dir.toLocal8Bit().toStdString();
    // The units file may name the certificate, which --show-url's scheme depends on.
    std::optional<UnitsSetup> setup;
    if (!options->units_file.isEmpty()) {
        setup = read_units_file(options->units_file, error);
        if (!setup) {
            print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
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
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
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
            print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
            return 2;
        }
    }

    const auto mqtt = mqtt_settings(options->mqtt, setup->mqtt, error);
    if (!mqtt && !error.isEmpty()) {
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
        return 2;
    }

    const QHostAddress listen = options->listen_address;
    if (options->metrics_open && !listen.isLoopback())
        print(stderr, QStringLiteral("tavrion-hub: warning: --metrics-open with --listen %1: the metrics are open without a "
                                     "token to every client that reaches that address\n").arg(options->listen_text));

    int status = 0;
    {
        Hub hub(std::move(*setup), given, *token, dir);
        hub.watch_sign_ins(sign_ins_path, *sign_ins);
        if (mqtt) hub.use_broker(*mqtt);
        if (tls) hub.use_tls(*tls, error);
        const quint16 port = hub.start();
        if (!port) {
            print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(hub.start_error()));
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
                        print(stderr, QStringLiteral("tavrion-hub: SIGHUP: loaded the certificate %1 anew\n").arg(given.tls_cert));
                    else
                        print(stderr, QStringLiteral("tavrion-hub: SIGHUP: kept the certificate in use: %1\n").arg(why));
                    return;
                }
                notifier->setEnabled(false);
                service.stopping();
                hub.shutdown([] { QCoreApplication::exit(0); });
            });
            std::signal(SIGINT, on_signal);
            std::signal(SIGTERM, on_signal);
            std::signal(SIGHUP, on_signal);
        }
        const QString host = options->listen_text.left(options->listen_text.lastIndexOf(QLatin1Char(':')));
        print(stdout, QStringLiteral("tavrion-hub: listening on %3://%1:%2/ (tavrion-hub --show-url prints the address "
                                     "to open)\n").arg(host).arg(port).arg(tls ? QStringLiteral("https") : QStringLiteral("http")));
        service.ready();
        status = app.exec();
    }
    return status;
}
