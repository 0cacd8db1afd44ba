// tavrion-hub: the web remote for one or several KV-7720 units (see --help).
#include "hub/hub_server.h"
#include "hub/service_notify.h"
#include "hub/sign_in.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

void on_signal(int)
{
    const char c = 1;
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
    const QString token_path = options->token_file.isEmpty() ? program_dir + QStringLiteral("/tavrion-hub.token")
                                                             : options->token_file;
    bool made = false;
    const auto token = load_or_make_token(token_path, made, error);
    if (!token) {
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
        return 2;
    }
    if (made) print(stderr, QStringLiteral("tavrion-hub: made a new access token in %1\n").arg(token_path));
    if (options->show_url) {
        print(stdout, show_url_text(*options, *token, QNetworkInterface::allAddresses(), ::isatty(STDOUT_FILENO)));
        return 0;
    }
    const std::string dir = program_dir.toLocal8Bit().toStdString();
    auto setup = options->units_file.isEmpty() ? default_units(dir, error) : read_units_file(options->units_file, error);
    if (!setup || !apply_protocol_listen(*options, *setup, error)) {
        print(stderr, QStringLiteral("tavrion-hub: %1\n").arg(error));
        return 2;
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
        Hub hub(std::move(*setup), *options, *token, dir);
        if (mqtt) hub.use_broker(*mqtt);
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
            QObject::connect(notifier, &QSocketNotifier::activated, &hub, [notifier, &hub, &service] {
                notifier->setEnabled(false);
                service.stopping();
                hub.shutdown([] { QCoreApplication::exit(0); });
            });
            std::signal(SIGINT, on_signal);
            std::signal(SIGTERM, on_signal);
        }
        const QString host = options->listen_text.left(options->listen_text.lastIndexOf(QLatin1Char(':')));
        print(stdout, QStringLiteral("tavrion-hub: listening on http://%1:%2/ (tavrion-hub --show-url prints the address "
                                     "to open)\n").arg(host).arg(port));
        service.ready();
        status = app.exec();
    }
    return status;
}
