// The transaction engine and the unacknowledged sends against a scripted device on the fake
// links: step counts and timing of the bounded wait, matching and dispatch, the busy flag, the
// command log, late replies, and the restart course of RST001 / PWR001 on Ethernet; where the way
// of waiting changes only the time, with the window's steps and with the waits of tavrion-ctl and
// the hub.
#include "support/panel_harness.h"
#include "support/test_access.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {

// A device that answers nothing.
Responder silent() { return [](const QByteArray&) { return QByteArray(); }; }

// A device that answers every command with `reply` (bytes as given, terminator included).
Responder always(const QByteArray& reply) { return [reply](const QByteArray&) { return reply; }; }

// Runs one transaction; returns its duration in seconds and the number of wait steps it took.
struct Timed {
    double seconds;
    quint64 steps;
};
Timed timed_send(FrmMain& w, const std::string& command)
{
    const quint64 before = SessionTestAccess::wait_step_count(w.session());
    QElapsedTimer t;
    t.start();
    w.session().send_command(command);
    return {t.nsecsElapsed() / 1e9, SessionTestAccess::wait_step_count(w.session()) - before};
}

QString log_text(FrmMain& w) { return w.txt_cmd->toPlainText(); }

// The rows of a test that runs with both ways of waiting: the window's steps, and the waits of
// tavrion-ctl and the hub that end on the answer. Those take one wait where the steps take many.
void both_waits()
{
    QTest::addColumn<bool>("prompt");
    QTest::newRow("stepped") << false;
    QTest::newRow("prompt") << true;
}
ReplyWait wait_of(bool prompt) { return prompt ? ReplyWait::Prompt : ReplyWait::Stepped; }
quint64 steps_of(bool prompt, quint64 steps) { return prompt ? 1 : steps; }

} // namespace

class TestTransaction : public QObject {
    Q_OBJECT
private slots:
    // ---- the bounded wait ---------------------------------------------------------------------

    void silent_device_runs_out_the_steps_on_rs232_data() { both_waits(); }
    void silent_device_runs_out_the_steps_on_rs232()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        QVERIFY(h.w().session().serial_connected());
        h.serial.responder = silent();

        const Timed t = timed_send(h.w(), "OUT002");
        QCOMPARE(t.steps, steps_of(prompt, 301));
        qInfo("silent device, RS-232: %.3f s", t.seconds);
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 1); // no handler ran
        QCOMPARE(h.serial.commands, QStringList{"OUT002"});
        QCOMPARE(h.serial.raw, QByteArray("OUT002\r"));
        // Each step lasts at least 2 ms of the millisecond clock.
        QVERIFY2(t.seconds >= 0.6, qPrintable(QString::number(t.seconds)));
        QVERIFY2(t.seconds < 1.0, qPrintable(QString::number(t.seconds)));
        QVERIFY(SessionTestAccess::tim_rx_enabled(h.w().session()));
        QVERIFY(h.boxes.boxes.isEmpty());

        // A reset command takes the same course on this link: no restart message.
        const Timed r = timed_send(h.w(), "RST001");
        QCOMPARE(r.steps, steps_of(prompt, 301));
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QVERIFY(h.boxes.boxes.isEmpty());
        QVERIFY(h.w().session().serial_connected());
    }

    void silent_device_runs_out_the_steps_on_ethernet_data() { both_waits(); }
    void silent_device_runs_out_the_steps_on_ethernet()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.connect_tcp();
        QVERIFY(h.w().session().eth_connected());
        h.tcp.responder = silent();

        const Timed t = timed_send(h.w(), "OUT002");
        QCOMPARE(t.steps, steps_of(prompt, 601));
        qInfo("silent device, Ethernet: %.3f s", t.seconds);
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.tcp.raw, QByteArray("OUT002\r"));
        QVERIFY2(t.seconds >= 1.2, qPrintable(QString::number(t.seconds)));
        QVERIFY2(t.seconds < 1.8, qPrintable(QString::number(t.seconds)));
        QVERIFY(h.w().session().eth_connected());
    }

    void matching_reply_ends_the_wait_and_is_dispatched_data() { both_waits(); }
    void matching_reply_ends_the_wait_and_is_dispatched()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        ScriptedDevice dev;
        dev.answers["OUT003"] = "OUT003";
        h.serial.responder = dev.responder();
        h.serial.delay_ms = 5;
        int handled = 0;
        SessionTestAccess::router(h.w().session()).set_dispatch_hook([&](const std::string&) { ++handled; });

        const Timed t = timed_send(h.w(), "OUT003");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 3);
        QVERIFY2(t.steps < (prompt ? 2 : 50), qPrintable(QString::number(t.steps)));
        PanelHarness::pump(20);
        QCOMPARE(handled, 1); // by the transaction, and not again by the receiver
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);
        QVERIFY(SessionTestAccess::reply_text(h.w().session()).empty());
        QVERIFY(SessionTestAccess::tim_rx_enabled(h.w().session())); // re-armed after the hand-over
    }

    void reply_of_another_code_or_err_data() { both_waits(); }
    void reply_of_another_code_or_err()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());

        // Another code: not dispatched, reply_ok false.
        h.serial.responder = always("OUT004\r");
        h.w().session().send_command("INP999");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 1);

        // ERR: the transaction counts as answered, nothing is dispatched or shown.
        h.serial.responder = always("ERR004\r");
        const Timed t = timed_send(h.w(), "OUT004");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QVERIFY(t.steps < 50);
        QCOMPARE(h.w().device_state().cur_output, 1);
        QVERIFY(h.boxes.boxes.isEmpty());

        // A code without handler (menu keys) is answered, nothing else.
        h.serial.responder = always("MNX001\r");
        h.w().session().send_command("MNX001");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));

        // A line failing the digit test is dropped; the wait runs out.
        h.serial.responder = always("OUT0X2\r");
        const Timed bad = timed_send(h.w(), "OUT002");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(bad.steps, steps_of(prompt, 301));
        QCOMPARE(h.w().device_state().cur_output, 1);
    }

    void five_characters_when_the_steps_run_out_are_no_reply_data() { both_waits(); }
    void five_characters_when_the_steps_run_out_are_no_reply()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.serial.responder = always("OUT00");
        const Timed t = timed_send(h.w(), "OUT002");
        QCOMPARE(t.steps, steps_of(prompt, 301));
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 1);
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0); // the fragment is thrown away with the transaction
        QVERIFY(SessionTestAccess::reply_text(h.w().session()).empty());
    }

    void link_down_sends_and_logs_nothing()
    {
        PanelHarness h;
        QVERIFY(h.load());
        PanelHarness::click(h.w().cmd_disconn);
        QVERIFY(!h.w().session().serial_connected());
        h.serial.clear();
        SessionTestAccess::set_reply_ok(h.w().session(), true);
        h.w().session().send_command("OUT002");
        h.w().session().send_command_nowait("BRI050");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.boxes.texts(), (QStringList{"RS232 port is disconnected !", "RS232 port is disconnected !"}));
        QCOMPARE(h.boxes.boxes[0].icon, BoxIcon::Critical);
        QVERIFY(h.serial.raw.isEmpty());
        QCOMPARE(h.w().command_log().log_lines(), 0);
        QVERIFY(log_text(h.w()).isEmpty());

        h.boxes.clear();
        PanelHarness::click(h.w().opt_interface(1));
        QCOMPARE(h.w().session().link_interface(), 1);
        h.w().session().send_command("OUT002");
        h.w().session().send_command_nowait("BRI050");
        QCOMPARE(h.boxes.texts(), (QStringList{"Ethernet port is disconnected !", "Ethernet port is disconnected !"}));
        QCOMPARE(h.boxes.boxes[1].icon, BoxIcon::Critical);
        QVERIFY(h.tcp.raw.isEmpty());
        QCOMPARE(h.w().command_log().log_lines(), 0);
    }

    void nested_wait_does_not_stall_the_outer_one_data() { both_waits(); }
    void nested_wait_does_not_stall_the_outer_one()
    {
        QFETCH(bool, prompt);
        // A handler that waits while a transaction waits (a late-reply wait started by a click):
        // both end on time, and the outer wait keeps its step count.
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.serial.responder = silent();
        double inner_seconds = -1;
        QTimer::singleShot(20, &h.w(), [&] {
            QMetaObject::invokeMethod(&h.w(), [&] {
                QElapsedTimer t;
                t.start();
                h.w().session().wait_seconds(0.1f);
                inner_seconds = t.nsecsElapsed() / 1e9;
            }, Qt::QueuedConnection);
        });
        const Timed t = timed_send(h.w(), "OUT002");
        QVERIFY(inner_seconds > 0.1 && inner_seconds < 0.3);
        QCOMPARE(t.steps, steps_of(prompt, 301) + 1); // the reply's wait and the nested one
        QVERIFY2(t.seconds >= 0.6 && t.seconds < 1.1, qPrintable(QString::number(t.seconds)));
        QVERIFY(!h.w().session().waiting()); // the nested wait cleared it, as designed
    }

    void wake_up_taken_by_a_nested_pass_does_not_stall_the_wait()
    {
        // A reply handler run by the wait's own pass may take so long that the step's bound passes
        // meanwhile, and then process events itself (the receivers do): that inner pass takes the
        // wake-up meant for the wait. The wait must still end at once, not when some unrelated
        // event happens to come.
        PanelHarness h;
        QVERIFY(h.load());
        QTimer far_off; // the only other timer: a stalled wait lasts until it fires
        far_off.setSingleShot(true);
        far_off.start(3000);
        for (int i = 0; i < 5; ++i) {
            QMetaObject::invokeMethod(&h.w(), [] {
                QThread::usleep(4000);
                QCoreApplication::processEvents();
            }, Qt::QueuedConnection);
            QElapsedTimer t;
            t.start();
            h.w().session().wait_seconds(0.001f);
            QVERIFY2(t.elapsed() < 100, qPrintable(QStringLiteral("the wait stalled for %1 ms").arg(t.elapsed())));
        }
        QVERIFY(far_off.isActive());

        // A long nested loop (a message box left open for 300 ms) is not woken a thousand times a
        // second meanwhile, and the wait still ends soon after it.
        int nested_passes = 0;
        QMetaObject::invokeMethod(&h.w(), [&] {
            QThread::usleep(4000);
            const auto c = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                   [&] { ++nested_passes; });
            QEventLoop box;
            QTimer::singleShot(300, &box, &QEventLoop::quit);
            box.exec();
            disconnect(c);
        }, Qt::QueuedConnection);
        QElapsedTimer t;
        t.start();
        h.w().session().wait_seconds(0.001f);
        QVERIFY2(t.elapsed() < 400, qPrintable(QStringLiteral("the wait stalled for %1 ms").arg(t.elapsed())));
        QVERIFY2(nested_passes < 40, qPrintable(QStringLiteral("%1 passes in the nested loop").arg(nested_passes)));

        // Nor does the wake-up outlive the wait: the idle loop afterwards sleeps.
        int passes = 0;
        const auto counter = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                                     [&] { ++passes; });
        h.pump(50);
        disconnect(counter);
        QVERIFY2(passes < 20, qPrintable(QStringLiteral("%1 passes in 50 ms idle").arg(passes)));
    }

    // ---- the busy flag ------------------------------------------------------------------------

    void send_while_busy_is_dropped_data() { both_waits(); }
    void send_while_busy_is_dropped()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.serial.responder = always("OUT002\r");
        h.serial.delay_ms = 60;
        int log_before_nested = -1;
        bool nested_reply_ok = true;
        QTimer::singleShot(20, &h.w(), [&] {
            log_before_nested = h.w().command_log().log_lines();
            h.w().session().send_command("OUT004");
            h.w().session().send_command_nowait("BRI050");
            nested_reply_ok = SessionTestAccess::reply_ok(h.w().session());
        });
        h.w().session().send_command("OUT002");
        QCOMPARE(log_before_nested, 1);
        QVERIFY(!nested_reply_ok);
        QCOMPARE(h.serial.commands, QStringList{"OUT002"}); // neither nested send went out
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 2);
        QCOMPARE(h.w().command_log().log_lines(), 2); // the command and its reply, nothing of the dropped sends
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void reply_accepted_then_cleared_by_a_dropped_send_is_still_evaluated_data() { both_waits(); }
    void reply_accepted_then_cleared_by_a_dropped_send_is_still_evaluated()
    {
        QFETCH(bool, prompt);
        // A dropped send clears reply_ok after the reply was accepted: the transaction no longer
        // sees it, waits out its steps, and still dispatches the reply it holds.
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.connect_tcp();
        h.tcp.responder = always("OUT003\r");
        bool once = false;
        QObject::connect(&h.tcp, &TcpClient::data_arrival, &h.w(), [&] {
            if (once || !SessionTestAccess::reply_ok(h.w().session())) return;
            once = true;
            h.w().session().send_command("OUT004");
        });
        const Timed t = timed_send(h.w(), "OUT003");
        QVERIFY(once);
        QCOMPARE(t.steps, steps_of(prompt, 601));
        QVERIFY2(t.seconds >= 1.2, qPrintable(QString::number(t.seconds)));
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 3);
        QCOMPARE(h.tcp.commands, QStringList{"OUT003"});
    }

    // ---- the command log ----------------------------------------------------------------------

    void thirty_second_log_entry_starts_a_new_log()
    {
        PanelHarness h;
        QVERIFY(h.load());
        h.serial.responder = always("ERR000\r");
        for (int i = 0; i < 15; ++i) h.w().session().send_command("MNU001");
        QCOMPARE(h.w().command_log().log_lines(), 30);
        // Replies as received, CR included (as its control picture), in one run that the box wraps.
        QVERIFY(log_text(h.w()).startsWith(QStringLiteral("MNU001 ERR000\u240D MNU001 ERR000\u240D ")));
        QCOMPARE(h.w().txt_cmd->document()->blockCount(), 1);

        // The 31st entry (the command) is appended; the 32nd (its reply) clears the log first.
        int lines_at_write = -1;
        QString text_at_write;
        h.serial.responder = [&](const QByteArray&) {
            lines_at_write = h.w().command_log().log_lines();
            text_at_write = log_text(h.w());
            return QByteArray("VER106\r");
        };
        h.w().session().send_command("VER999");
        QCOMPARE(lines_at_write, 31);
        QVERIFY(text_at_write.startsWith("MNU001 ERR000"));
        QVERIFY(text_at_write.endsWith("VER999 "));
        QCOMPARE(h.w().command_log().log_lines(), 1);
        QVERIFY(log_text(h.w()).startsWith("VER106"));
        QVERIFY(!log_text(h.w()).contains("VER999"));
        QVERIFY(!log_text(h.w()).contains("ERR000"));

        PanelHarness::click(h.w().cmd_clear);
        QCOMPARE(h.w().command_log().log_lines(), 0);
        QVERIFY(log_text(h.w()).isEmpty());

        // A log of more than 1024 characters (junk) is cleared before the next entry as well.
        h.serial.feed(QByteArray(1100, 'x'));
        QVERIFY(PanelHarness::wait_until([&] { return log_text(h.w()).size() > 1024; }, 1000));
        h.serial.responder = always("ERR000\r");
        h.w().session().send_command("MNU001");
        QCOMPARE(log_text(h.w()), QStringLiteral("MNU001 ERR000\u240D "));
    }

    // ---- replies that find no transaction -----------------------------------------------------

    void late_replies_are_dispatched_by_the_receivers_data() { both_waits(); }
    void late_replies_are_dispatched_by_the_receivers()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        // The reply comes after the wait has given up, however long its steps took on a busy machine.
        h.serial.responder = always("");
        h.w().session().send_command("OUT003");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 1);
        h.serial.feed("OUT003\r");
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 3; }, 2000));
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);

        // The receiver's own verdicts: ERR answered, an unknown code or EXT (serial) not.
        h.serial.feed("ZZZ001\r");
        QVERIFY(PanelHarness::wait_until([&] { return !SessionTestAccess::reply_ok(h.w().session()); }, 1000));
        h.serial.feed("ERR001\r");
        QVERIFY(PanelHarness::wait_until([&] { return SessionTestAccess::reply_ok(h.w().session()); }, 1000));
        h.serial.feed("EXT000\r");
        QVERIFY(PanelHarness::wait_until([&] { return !SessionTestAccess::reply_ok(h.w().session()); }, 1000));
        QVERIFY(h.w().session().serial_connected());

        h.connect_tcp();
        h.tcp.responder = always("");
        h.w().session().send_command("OUT002");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 3);
        h.tcp.feed("OUT002\r");
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 2; }, 2000));
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        h.tcp.feed("ZZZ001\r");
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        h.tcp.feed("ERR001\r");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
    }

    // ---- the restart course -------------------------------------------------------------------

    void reset_and_power_on_over_ethernet_take_the_restart_course_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("prompt");
        for (const bool prompt : {false, true}) {
            const char* wait = prompt ? ", prompt" : ", stepped";
            QTest::newRow(qPrintable(QStringLiteral("RST001, silent") + wait)) << "RST001" << false << prompt;
            QTest::newRow(qPrintable(QStringLiteral("PWR001, answered before the drop") + wait)) << "PWR001" << true << prompt;
        }
    }
    void reset_and_power_on_over_ethernet_take_the_restart_course()
    {
        QFETCH(QString, command);
        QFETCH(bool, answered);
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.connect_tcp();
        QVERIFY(h.w().session().eth_connected());
        h.w().img_start->hide(); // as a refresh leaves them
        h.w().cmd_keypad->show();
        h.tcp.responder = answered ? always(command.toLatin1() + '\r') : silent();
        h.tcp.clear();

        QElapsedTimer t;
        t.start();
        double shown_at = -1;
        bool connected_when_shown = false, restarting_when_shown = false;
        h.boxes.on_show = [&](const RecordingBoxes::Box&) {
            shown_at = t.nsecsElapsed() / 1e9;
            connected_when_shown = h.w().session().eth_connected();
            restarting_when_shown = h.w().session().restarting();
        };
        const quint64 steps_before = SessionTestAccess::wait_step_count(h.w().session());
        h.w().session().send_command(command.toStdString());

        QCOMPARE(h.tcp.commands, QStringList{command});
        QCOMPARE(h.boxes.texts(), QStringList{"Need to re-connect Ethernet after KV-7720 re-boots ready !"});
        QCOMPARE(h.boxes.boxes[0].icon, BoxIcon::Exclamation);
        QVERIFY2(shown_at >= 1.0 && shown_at < 1.5, qPrintable(QString::number(shown_at)));
        QVERIFY(connected_when_shown);
        // The course is the session's to announce (the hub takes the link's loss from it), and it
        // ends with the exchange.
        QVERIFY(restarting_when_shown);
        QVERIFY(!h.w().session().restarting());
        // The 1 s wait, then one step unless the answer is already there.
        QCOMPARE(SessionTestAccess::wait_step_count(h.w().session()) - steps_before, quint64(answered ? 1 : 2));
        QVERIFY(!h.w().img_start->isHidden());
        QVERIFY(h.w().cmd_keypad->isHidden());
        QVERIFY(!h.w().session().eth_connected());
        QCOMPARE(h.tcp.state(), int(TcpClient::Closed));
        QVERIFY(!SessionTestAccess::tim_eth(h.w().session())->isActive());
        QVERIFY(h.w().cmd_conn_eth->isEnabled());
        QVERIFY(!h.w().cmd_disconn_eth->isEnabled());
        QCOMPARE(SessionTestAccess::reply_ok(h.w().session()), answered);
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
    }

    // ---- unacknowledged sends -----------------------------------------------------------------

    void nowait_sends_without_log_or_wait_and_its_answer_comes_later_data() { both_waits(); }
    void nowait_sends_without_log_or_wait_and_its_answer_comes_later()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.serial.responder = always("OUT003\r");
        h.serial.delay_ms = 20;
        SessionTestAccess::set_tim_rx_enabled(h.w().session(), false); // as a reply left for a transaction would leave it
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session()));
        const quint64 steps_before = SessionTestAccess::wait_step_count(h.w().session());
        QElapsedTimer t;
        t.start();
        h.w().session().send_command_nowait("OUT003");
        QVERIFY(t.elapsed() < 15);
        QCOMPARE(SessionTestAccess::wait_step_count(h.w().session()), steps_before);
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        QVERIFY(SessionTestAccess::tim_rx_enabled(h.w().session()));
        QCOMPARE(h.serial.raw, QByteArray("OUT003\r"));
        QCOMPARE(h.w().command_log().log_lines(), 0);
        QVERIFY(!SessionTestAccess::reply_ok(h.w().session())); // not touched

        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 3; }, 1000));
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().command_log().log_lines(), 1); // the answer is logged by the receiver, the send is not

        // A second send discards what had arrived of the first answer.
        h.serial.responder = silent();
        h.w().session().send_command_nowait("OUT002");
        h.serial.feed("OUT0");
        QVERIFY(PanelHarness::wait_until([&] { return SessionTestAccess::rx_count(h.w().session()) == 4; }, 1000));
        h.w().session().send_command_nowait("OUT004");
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);
        QVERIFY(SessionTestAccess::reply_text(h.w().session()).empty());
        h.serial.feed("OUT004\r");
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 4; }, 1000));

        // Ethernet: the same, answered through the socket's receiver.
        h.connect_tcp();
        h.tcp.responder = always("OUT002\r");
        h.tcp.delay_ms = 20;
        h.tcp.clear();
        const int log_before = h.w().command_log().log_lines();
        h.w().session().send_command_nowait("OUT002");
        QCOMPARE(h.tcp.raw, QByteArray("OUT002\r"));
        QCOMPARE(h.w().command_log().log_lines(), log_before);
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 2; }, 1000));
        QCOMPARE(h.w().command_log().log_lines(), log_before + 1);
    }

    void nowait_answer_that_arrives_within_the_send_is_dispatched_and_receiving_goes_on_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("prompt");
        QTest::newRow("RS-232") << false << false;
        QTest::newRow("TCP") << true << false;
        QTest::newRow("RS-232, prompt") << false << true;
        QTest::newRow("TCP, prompt") << true << true;
    }
    void nowait_answer_that_arrives_within_the_send_is_dispatched_and_receiving_goes_on()
    {
        // A fast line answers while the send itself still processes events: the receiver sees a
        // transaction in flight and leaves the answer for it, but an unacknowledged send has no
        // one to take it over. The answer must still reach its handler, once, and the lines after
        // it must be heard on their own.
        QFETCH(bool, tcp);
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        if (tcp) h.connect_tcp();
        CommandWire& wire = tcp ? static_cast<CommandWire&>(h.tcp) : h.serial;
        auto feed = [&](const QByteArray& bytes) { tcp ? h.tcp.feed(bytes) : h.serial.feed(bytes); };
        QStringList dispatched;
        SessionTestAccess::router(h.w().session()).set_dispatch_hook([&](const std::string& code) { dispatched << QString::fromStdString(code); });
        wire.responder = [](const QByteArray& c) { return c + "\r"; };
        wire.delay_ms = -1;
        h.w().session().send_command_nowait("OUT003");
        QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
        QVERIFY(SessionTestAccess::tim_rx_enabled(h.w().session()));
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().cur_output == 3; }, 1000));
        QCOMPARE(dispatched, QStringList{"OUT"});
        QCOMPARE(SessionTestAccess::rx_count(h.w().session()), 0);

        // A slider moved while a mode change waits for its late reply: the slider's answer ends
        // the wait, as any answer does, and the mode reply after it still reaches reply_mod.
        SessionTestAccess::set_reply_ok(h.w().session(), false);
        QTimer::singleShot(20, &h.w(), [&] { h.w().session().send_command_nowait("OUT004"); });
        QTimer::singleShot(60, &h.w(), [&] { feed("MOD002\r"); });
        const Exchange late = h.w().session().await_late_reply("MOD002", Exchange{});
        // Both replies come within the first half-second step, and the last one is the outcome;
        // a wait that ends on the answer ends on the slider's.
        if (prompt) QVERIFY(late.late && late.kind == Exchange::Kind::OtherCode && late.reply == "OUT004");
        else QVERIFY(late.late && late.answered() && late.reply == "MOD002");
        QVERIFY(PanelHarness::wait_until([&] { return h.w().device_state().display_mode == 2; }, 1000));
        QCOMPARE(h.w().device_state().cur_output, 4);
        QCOMPARE(dispatched, (QStringList{"OUT", "OUT", "MOD"}));

        QElapsedTimer t;
        t.start();
        h.w().session().send_command("OUT002");
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 2);
        QVERIFY(t.elapsed() < 300);
    }

    void nowait_is_dropped_during_a_transaction_data() { both_waits(); }
    void nowait_is_dropped_during_a_transaction()
    {
        QFETCH(bool, prompt);
        PanelHarness h(Settings(), wait_of(prompt));
        QVERIFY(h.load());
        h.serial.responder = [](const QByteArray& c) { return c == "OUT002" ? QByteArray("OUT002\r") : QByteArray(); };
        h.serial.delay_ms = 80;
        QTimer::singleShot(20, &h.w(), [&] { h.w().session().send_command_nowait("BRI050"); });
        h.w().session().send_command("OUT002");
        QCOMPARE(h.serial.commands, QStringList{"OUT002"});
        QVERIFY(SessionTestAccess::reply_ok(h.w().session()));
        QCOMPARE(h.w().device_state().cur_output, 2);
    }
};

// The waits must hold on any event dispatcher. The link tests run on the GLib one Qt picks here;
// this program runs on the plain Unix one, which does not return to the caller after a nested
// event loop on its own and so shows a wait that sleeps past its deadline.
int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestTransaction test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_transaction.moc"
