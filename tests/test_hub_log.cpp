// The hub's log: the form of a line by hand and under journald, the options that choose what is
// logged, and what a unit on a refused port makes the hub say.
#include "hub/hub_config.h"
#include "hub/hub_log.h"
#include "support/hub_process.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <functional>

#include <unistd.h>

namespace {

using tavrion::hub::hub_log::Level;
using tavrion::hub::hub_log::Mode;

// Within this a unit on a refused port has been tried and found down; the first try is at once.
constexpr int kDownMs = 5000;

// What `write` put on standard error, each line without its time ("2026-03-04 05:06:07.089 ").
QStringList logged(const std::function<void()>& write)
{
    QTemporaryFile file;
    if (!file.open()) return {QStringLiteral("no scratch file")};
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file.handle(), STDERR_FILENO);
    write();
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    QFile written(file.fileName());
    written.open(QIODevice::ReadOnly);
    QStringList lines;
    for (const QString& l : QString::fromUtf8(written.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) lines << l.mid(24);
    return lines;
}

} // namespace

class TestHubLog : public QObject {
    Q_OBJECT

private slots:
    // Level × mode → the line: journald's priority is syslog's (error 3 … debug 7), and by hand
    // the local time to the millisecond and the level's word. Each line of a text is a line.
    void line_forms_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        const struct {
            Level level;
            const char* word;
            const char* priority;
        } levels[] = {{Level::error, "error", "<3>"},   {Level::warning, "warning", "<4>"}, {Level::notice, "notice", "<5>"},
                      {Level::info, "info", "<6>"},     {Level::debug, "debug", "<7>"}};
        for (const auto& l : levels) {
            QTest::addRow("%s by hand", l.word) << int(l.level) << int(Mode::by_hand) << "link down"
                                                << QByteArray("2026-03-04 05:06:07.089 ") + l.word + " unit: link down\n";
            QTest::addRow("%s journal", l.word) << int(l.level) << int(Mode::journal) << "link down"
                                                << QByteArray(l.priority) + "unit: link down\n";
        }
        QTest::newRow("two lines, journal") << int(Level::warning) << int(Mode::journal) << "a\nb\n"
                                            << QByteArray("<4>unit: a\n<4>unit: b\n");
        QTest::newRow("two lines, by hand") << int(Level::info) << int(Mode::by_hand) << "a\nb"
                                            << QByteArray("2026-03-04 05:06:07.089 info unit: a\n2026-03-04 05:06:07.089 info unit: b\n");
    }
    void line_forms()
    {
        QFETCH(int, level);
        QFETCH(int, mode);
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        const QDateTime at(QDate(2026, 3, 4), QTime(5, 6, 7, 89));
        QCOMPARE(tavrion::hub::hub_log::format(Level(level), QStringLiteral("unit"), text, Mode(mode), at), line);
    }

    // A crowd of clients refused at once costs the log 20 lines, not one each.
    void client_lines_are_bounded()
    {
        const QStringList lines = logged([] {
            for (int i = 0; i < 50; ++i)
                tavrion::hub::hub_log::about_client(tavrion::hub::hub_log::Area::port, QStringLiteral("client %1 refused").arg(i));
        });
        QCOMPARE(lines.size(), 20);
    }

    // A unit's link as the log tells it: each change once, a repeated reason of one outage at
    // info, and on the way back how long the unit was out. Steps are "ms state [problem]", or
    // "ms restarting".
    void link_changes_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("refused, tried again, up") << QStringList{"0 connecting", "0 down refused", "1000 connecting", "1000 down refused", "1000 down refused", "3500 connecting", "3500 up"}
            << QStringList{"info unit: unit u: link connecting", "warning unit: unit u: link down: refused",
                           "info unit: unit u: link connecting (out for 1.0 s)", "info unit: unit u: link down: refused (out for 1.0 s)",
                           "info unit: unit u: link connecting (out for 3.5 s)", "info unit: unit u: link up after 3.5 s out"};
        QTest::newRow("a new reason warns again") << QStringList{"0 down refused", "1000 connecting", "1000 down timed out"}
            << QStringList{"warning unit: unit u: link down: refused", "info unit: unit u: link connecting (out for 1.0 s)",
                           "warning unit: unit u: link down: timed out (out for 1.0 s)"};
        QTest::newRow("silent a while") << QStringList{"0 up", "100 silent", "100 silent", "2100 up", "2200 up"}
            << QStringList{"info unit: unit u: link up", "warning unit: unit u: link silent: the device left an exchange unanswered",
                           "info unit: unit u: link up after 2.0 s out"};
        QTest::newRow("a restart") << QStringList{"0 up", "10 restarting", "5010 up"}
            << QStringList{"info unit: unit u: link up", "info unit: unit u: restarting (the device restarts; its protocol clients are let go)",
                           "info unit: unit u: link up after 5.0 s out (a restart)"};
        QTest::newRow("out for minutes") << QStringList{"0 up", "1000 down lost", "251000 up"}
            << QStringList{"info unit: unit u: link up", "warning unit: unit u: link down: lost", "info unit: unit u: link up after 4 min 10 s out"};
    }
    void link_changes()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, lines);
        const QStringList got = logged([&] {
            tavrion::hub::hub_log::LinkLog link(QStringLiteral("u"));
            for (const QString& step : steps) {
                const qint64 at = step.section(QLatin1Char(' '), 0, 0).toLongLong();
                const QString state = step.section(QLatin1Char(' '), 1, 1);
                if (state == "restarting") link.restarting(at);
                else link.changed(state, step.section(QLatin1Char(' '), 2), at);
            }
        });
        QCOMPARE(got, lines);
    }

    // The command line through the parser: --log-level, and the answers for what it refuses
    // (as they were before the parser).
    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("result"); // the level, or "error: " and the message
        QTest::newRow("default") << QStringList{} << "info";
        QTest::newRow("debug") << QStringList{"--log-level", "debug"} << "debug";
        QTest::newRow("with =") << QStringList{"--log-level=notice"} << "notice";
        QTest::newRow("the last wins") << QStringList{"--log-level", "error", "--log-level", "warning"} << "warning";
        QTest::newRow("unknown level") << QStringList{"--log-level", "loud"}
                                       << "error: --log-level takes error, warning, notice, info or debug, not \"loud\"";
        QTest::newRow("no level") << QStringList{"--log-level"} << "error: --log-level needs a value";
        QTest::newRow("empty value") << QStringList{"--units="} << "error: --units needs a value";
        QTest::newRow("unknown option") << QStringList{"--bogus=1"} << "error: unknown argument \"--bogus\"";
        QTest::newRow("single dash") << QStringList{"-x"} << "error: unknown argument \"-x\"";
        QTest::newRow("a word") << QStringList{"extra"} << "error: unknown argument \"extra\"";
        QTest::newRow("a switch with a value") << QStringList{"--show-url=1"} << "error: --show-url takes no value";
        QTest::newRow("half a TLS pair") << QStringList{"--tls-cert", "c.pem"} << "error: --tls-cert and --tls-key go together";
        QTest::newRow("bad listen") << QStringList{"--listen", "here"} << "error: --listen takes ADDR:PORT (an IP address), not \"here\"";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, result);
        QString error;
        const auto o = tavrion::hub::parse_options(args, error);
        QCOMPARE(o ? tavrion::hub::hub_log::level_name(o->log_level) : QStringLiteral("error: ") + error, result);
    }

    // A unit on a refused port, by hand and under journald, at two levels: within a few seconds
    // the log says it is connecting and down, each line in its mode's form, and nothing below
    // the level chosen.
    void a_unit_on_a_refused_port_data()
    {
        QTest::addColumn<QString>("mode"); // "hand", "journal", "other stream" (the variable names another one)
        QTest::addColumn<QString>("level");
        QTest::addColumn<QStringList>("present"); // patterns of whole lines
        QTest::addColumn<QString>("absent");      // a pattern no line matches
        const QString time = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        QTest::newRow("by hand") << "hand" << ""
            << QStringList{time + "info http: started; the page and the API on http://127\\.0\\.0\\.1:\\d+/",
                           time + "info unit: unit x: link connecting", time + "warning unit: unit x: link down: .*refused.*",
                           time + "info http: client 127\\.0\\.0\\.1 refused: 401 GET /"}
            << "^<|guess";
        QTest::newRow("by hand, warnings") << "hand" << "warning"
            << QStringList{time + "warning unit: unit x: link down: .*refused.*"} << " (info|notice|debug) ";
        QTest::newRow("journal") << "journal" << ""
            << QStringList{"<6>http: started; .*", "<6>unit: unit x: link connecting", "<4>unit: unit x: link down: .*refused.*"}
            << "^\\d{4}-|^<7>";
        QTest::newRow("journal, debug") << "journal" << "debug" << QStringList{"<4>unit: unit x: link down: .*", "<7>.*"} << "^\\d{4}-";
        QTest::newRow("another stream") << "other stream" << ""
            << QStringList{time + "warning unit: unit x: link down: .*refused.*"} << "^<";
    }
    void a_unit_on_a_refused_port()
    {
        QFETCH(QString, mode);
        QFETCH(QString, level);
        QFETCH(QStringList, present);
        QFETCH(QString, absent);
        QTemporaryDir dir;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QString units = tavrion_test::write_units(
            dir.filePath("units.json"), QJsonArray{QJsonObject{{"id", "x"}, {"tcp", QStringLiteral("127.0.0.1:%1").arg(closed.serverPort())}}}, 0);
        closed.close();
        QStringList wrapper;
        // The variable names the stream the hub's standard error is, as systemd sets it.
        if (mode == "journal")
            wrapper = {"/bin/sh", "-c", "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2); exec \"$0\" \"$@\""};
        if (mode == "other stream") wrapper = {"/usr/bin/env", "JOURNAL_STREAM=1:2"};
        QProcess hub;
        const quint16 port = tavrion_test::start_hub(hub, units, dir.filePath("hub.token"),
                                                     level.isEmpty() ? QStringList{} : QStringList{"--log-level", level}, nullptr, wrapper);
        QVERIFY(port);
        // A wrong token is refused and logged, without the query that carried it.
        QTcpSocket guess;
        guess.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(guess.waitForConnected(5000));
        guess.write(QStringLiteral("GET /?token=guess HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n\r\n").arg(port).toLatin1());
        QVERIFY(QTest::qWaitFor([&] { return guess.bytesAvailable() > 0 || guess.waitForReadyRead(100); }, 5000));
        QByteArray log;
        QVERIFY2(QTest::qWaitFor([&] { return (log += hub.readAllStandardError()).contains("link down"); }, kDownMs), log.constData());
        hub.terminate();
        QVERIFY(hub.waitForFinished(30000));
        log += hub.readAllStandardError();
        const QStringList lines = QString::fromUtf8(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& pattern : present) {
            const QRegularExpression whole(QLatin1Char('^') + pattern + QLatin1Char('$'));
            QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return whole.match(l).hasMatch(); }),
                     qPrintable(pattern + QStringLiteral(" in:\n") + log));
        }
        const QRegularExpression not_there(absent);
        for (const QString& l : lines) QVERIFY2(!not_there.match(l).hasMatch(), qPrintable(l));
    }
};

QTEST_GUILESS_MAIN(TestHubLog)
#include "test_hub_log.moc"
