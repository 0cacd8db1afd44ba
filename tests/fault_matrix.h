// Shared by the fault-matrix programs (test_fault_matrix_serial, test_fault_matrix_tcp): the real
// panel on the real QSerialPort / QTcpSocket against tavrion-sim, a device fault armed, and the
// checks every fault must pass: bounded waits, the right message once, the window showing the
// replies it accepted, and a clean Refresh once the fault is gone.
#pragma once

#include "panel/colours.h"
#include "support/test_access.h"
#include "support/features.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"
#include "support/state_compare.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include <algorithm>

namespace tavrion::test::faults {

using Link = SimHarness::Link;
using tavrion_sim::DeviceState;

// What the panel makes of the faulted reply.
enum Effect {
    Taken,   // assembled and handled as if nothing had happened
    Refused, // an ERR: counts as answered, shows nothing, the refresh goes on
    Lost,    // no fitting reply: the refresh stops there
    Late,    // given up on, then handled when it arrives after all
};

// The refresh, as the parts of the device state its queries show, in the order it asks.
inline const QStringList& refresh_parts()
{
    static const QStringList parts = {"VER", "AUA", "AUB", "AUD", "AUE", "BEH", "BEV", "BEZ", "BEH998",
                                      "BEV998", "LCK", "PWR", "RES", "MOD", "MAP", "PIC"};
    return parts;
}

// The parts a refresh has shown afresh when the fault hit the query of `target` ("" = none).
inline QSet<QString> fresh_parts(const QString& target, Effect effect)
{
    QSet<QString> fresh;
    bool before = true;
    for (const QString& p : refresh_parts()) {
        const bool hit = p == target;
        if (hit) before = false;
        if (before || effect == Taken || (effect == Refused && !hit) || (effect == Late && hit)) fresh << p;
    }
    return fresh;
}

// What the window should show: the parts in `fresh` from `now`, the rest from `before`.
inline DeviceState shown_state(const DeviceState& before, const DeviceState& now, const QSet<QString>& fresh)
{
    DeviceState s = now;
    auto keep = [&](const char* part, auto member) {
        if (!fresh.contains(QLatin1String(part))) s.*member = before.*member;
    };
    keep("VER", &DeviceState::version);
    keep("AUA", &DeviceState::dual_a_audio);
    keep("AUB", &DeviceState::dual_b_audio);
    keep("AUD", &DeviceState::audio_on);
    keep("AUE", &DeviceState::audio_edid);
    keep("BEH", &DeviceState::bezel_h);
    keep("BEV", &DeviceState::bezel_v);
    keep("BEZ", &DeviceState::bezel_on);
    keep("BEH998", &DeviceState::bezel_h_max);
    keep("BEV998", &DeviceState::bezel_v_max);
    keep("LCK", &DeviceState::locked);
    keep("PWR", &DeviceState::power_on);
    keep("RES", &DeviceState::resolution);
    keep("MOD", &DeviceState::mode);
    keep("MAP", &DeviceState::routes);
    keep("MAP", &DeviceState::current_output);
    keep("PIC", &DeviceState::brightness);
    keep("PIC", &DeviceState::contrast);
    keep("PIC", &DeviceState::hue);
    keep("PIC", &DeviceState::saturation);
    return s;
}

// The differences between the window and `expected` after a refresh that showed only the `fresh`
// parts afresh.
inline QStringList partial_differences(FrmMain& w, const DeviceState& expected, const QSet<QString>& fresh)
{
    QStringList d = window_differences(w, expected);
    // A PWR reply that reports on opens every power-gated frame; only the MOD reply after it shuts
    // the Dual and bezel frames of the other modes again.
    if (expected.power_on && fresh.contains(QStringLiteral("PWR")) && !fresh.contains(QStringLiteral("MOD"))) {
        const std::pair<QString, QWidget*> frames[] = {
            {"fra_dual_a", w.fra_dual_a}, {"fra_dual_b", w.fra_dual_b}, {"fra_bezel", w.fra_bezel}};
        for (const auto& [name, frame] : frames) {
            d.erase(std::remove_if(d.begin(), d.end(),
                                   [&](const QString& line) { return line.startsWith(name + QStringLiteral(" enabled")); }),
                    d.end());
            if (frame->testAttribute(Qt::WA_ForceDisabled)) d << name + QStringLiteral(" not opened by the PWR reply");
        }
    }
    return d;
}

// Changes every setting a refresh reads (the device stays on), so that each control tells
// whether its query was answered after the change.
inline void change_everything(DeviceState& s)
{
    s.version = 213;
    s.dual_a_audio = 2;
    s.dual_b_audio = 2;
    s.audio_on = false;
    s.audio_edid = 4;
    s.bezel_h = 17;
    s.bezel_v = 9;
    s.bezel_on = true;
    s.bezel_h_max = 100;
    s.bezel_v_max = 80;
    s.locked = true;
    s.resolution = 3;
    s.mode = 2;
    s.routes = {{4, 3, 2, 1}};
    s.brightness = {{11, 12, 13, 14}};
    s.contrast = {{21, 22, 23, 24}};
    s.hue = {{31, 32, 33, 34}};
    s.saturation = {{41, 42, 43, 44}};
}

// How long one transaction may wait for its reply: its steps (301 on RS-232, 601 on Ethernet, at
// 2 ms each at least) and a tenth of a second for the rest.
inline qint64 wait_ms(Link link) { return link == Link::Serial ? 600 : 1200; }
// Past the wait by a scheduler's hiccup, not by a second wait: on two busy cores a link lost in the
// middle of a reply has been seen to end the wait 100 ms late.
inline qint64 bound_ms(Link link) { return wait_ms(link) + 250; }
// The device notes a command when its event loop reads it, so a gap it measures can come out
// shorter than the panel's wait (the first command read late, the next one at once), more so on a
// loaded machine or under a sanitizer. Giving up early with the wrong step count is 600 ms short.
inline qint64 floor_ms(Link link) { return wait_ms(link) - 50; }

inline const char* link_name(Link link) { return link == Link::Serial ? "serial" : "tcp"; }

// A table's rows once with the window's stepped waits and once more with the waits of tavrion-ctl
// and the hub, which end on the answer: a fault must come to the same outcome within the same
// bounds either way.
inline void rows_in_both_waits(const QStringList& names)
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("prompt");
    for (const bool prompt : {false, true})
        for (int i = 0; i < names.size(); ++i)
            QTest::newRow(qPrintable(names[i] + (prompt ? QStringLiteral(", prompt") : QString()))) << i << prompt;
}
inline ReplyWait wait_of(bool prompt) { return prompt ? ReplyWait::Prompt : ReplyWait::Stepped; }

// When the simulated device received each command, to tell how long each transaction took.
class Timeline : public QObject {
public:
    explicit Timeline(tavrion_sim::SimServer& sim)
    {
        clock.start();
        connect(&sim, &tavrion_sim::SimServer::command_received, this, [this](const QString& c) {
            at << clock.elapsed();
            commands << c;
        });
    }
    // The longest time from one command to the next, or from the last one to `end_ms`; with the
    // command that started it.
    QPair<qint64, QString> longest(qint64 end_ms) const
    {
        QPair<qint64, QString> worst{0, QString()};
        for (int i = 0; i < at.size(); ++i) {
            const qint64 gap = (i + 1 < at.size() ? at[i + 1] : end_ms) - at[i];
            if (gap > worst.first) worst = {gap, commands[i]};
        }
        return worst;
    }
    QElapsedTimer clock;
    QList<qint64> at;
    QStringList commands;
};

inline QString joined(const QStringList& l) { return l.join(QLatin1Char('\n')); }

inline bool shows_tcp_closed(FrmMain& w)
{
    return !w.session().eth_connected() && w.cmd_conn_eth->isEnabled() && back_colour(w.cmd_conn_eth) == button_face_colour()
        && !w.cmd_disconn_eth->isEnabled() && back_colour(w.cmd_disconn_eth) == disconnected_colour
        && w.lab_eth_state->isHidden();
}

inline bool shows_serial_closed(FrmMain& w)
{
    return !w.session().serial_connected() && back_colour(w.cmd_conn) == button_face_colour()
        && back_colour(w.cmd_disconn) == disconnected_colour;
}

// Clears every fault, brings the link back if it went, and checks that Refresh makes the window
// equal the device again with no message.
inline void refresh_after_clearing(SimHarness& h)
{
    QVERIFY(h.sim().apply_control(QStringLiteral("reset")));
    h.boxes.clear();
    if (h.link == Link::Tcp && !h.w().session().eth_connected()) {
        QVERIFY(PanelHarness::wait_until([&] { return !h.sim().restarting(); }, 5000));
        QVERIFY(h.connect_tcp());
    }
    h.refresh();
    const QStringList d = window_differences(h.w(), h.device());
    QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
    QVERIFY2(h.boxes.texts().isEmpty(), qPrintable(joined(h.boxes.texts())));
    QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));
}

// A fault armed on the device while the user presses Refresh.
struct RefreshFault {
    const char* name;
    QStringList faults;
    QString target;
    Effect effect;
    bool runs_out;       // the faulted transaction waits out all its steps
    bool drops_tcp;      // the TCP connection goes with the fault
};

// Faults that still let every reply through: pieces, bursts and stray bytes around them.
inline QList<RefreshFault> assembly_faults()
{
    return {
        {"split at 1", {"split 1 gap 10"}, "", Taken, false, false},
        {"split at 2", {"split 2 gap 10"}, "", Taken, false, false},
        {"split at 3", {"split 3 gap 10"}, "", Taken, false, false},
        {"split at 4", {"split 4 gap 10"}, "", Taken, false, false},
        {"split at 5", {"split 5 gap 10"}, "", Taken, false, false},
        {"split at 6", {"split 6 gap 10"}, "", Taken, false, false},
        {"two replies in one read", {"double"}, "", Taken, false, false},
        {"three replies in one read", {"double", "trailing VER106\\r"}, "", Taken, false, false},
        {"trailing line feed", {"trailing \\n"}, "", Taken, false, false},
    };
}

// Faults that leave one transaction of a refresh without its reply.
inline QList<RefreshFault> unanswered_faults(Link link)
{
    const bool serial = link == Link::Serial;
    return {
        {"silent device", {"silent"}, "VER", Lost, true, false},
        // A line feed that comes on its own shifts the next reply by one character.
        {"line feed in a read of its own", {"split 7 gap 100 RES", "trailing \\n RES"}, "MOD", Lost, true, false},
        {"silent RES", {"silent RES"}, "RES", Lost, true, false},
        {"ERR", {"err 002 RES"}, "RES", Refused, false, false},
        {"another code", {"code AUE RES"}, "RES", Lost, false, false},
        {"garbage", {"garbage RES"}, "RES", Lost, true, false},
        {"late reply", {serial ? "delay 900 RES" : "delay 1700 RES"}, "RES", Late, true, false},
        // RS-232 does not act on EXT, so over the serial line it is just another code.
        {"EXT during a transaction", {"ext RES"}, "RES", Lost, false, !serial},
        {"dropped mid-reply", {"drop-mid RES"}, "RES", Lost, true, !serial},
    };
}

// Refresh once on a device that answers normally, change every setting on the device, arm the
// fault and refresh again; then check what the panel made of it, clear the fault and refresh.
inline void run_refresh_fault(Link link, const RefreshFault& f, ReplyWait wait = ReplyWait::Stepped)
{
    SimHarness h(link, true, 0, wait);
    QVERIFY(h.load());
    h.refresh();
    QStringList d = window_differences(h.w(), h.device());
    QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
    const DeviceState before = h.device();
    change_everything(h.device());
    const DeviceState now = h.device();
    for (const QString& line : f.faults)
        QVERIFY2(h.sim().apply_control(line), qPrintable(line + QStringLiteral(": ") + h.sim().last_error()));

    Timeline t(h.sim());
    h.refresh();
    const qint64 end = t.clock.elapsed();
    const auto longest = t.longest(end);
    QVERIFY2(longest.first <= bound_ms(link),
             qPrintable(QStringLiteral("%1 waited %2 ms").arg(longest.second).arg(longest.first)));
    if (f.runs_out)
        QVERIFY2(longest.first >= floor_ms(link),
                 qPrintable(QStringLiteral("%1 gave up after %2 ms").arg(longest.second).arg(longest.first)));
    QVERIFY(h.w().cmd_refresh->isEnabled());

    if (f.effect == Late) {
        // The answer comes after the wait gave up; the receiver hands it to its handler.
        const int shown = now.resolution - 1;
        QVERIFY(PanelHarness::wait_until([&] { return h.w().cbo_output->currentIndex() == shown; }, 2000));
    }
    // Time for the link watch to see a closed connection, and for stray bytes to arrive.
    PanelHarness::pump(300);

    const bool dropped = f.drops_tcp && link == Link::Tcp;
    const QStringList boxes = dropped ? QStringList{"Ethernet is disconnected !"} : QStringList{};
    QCOMPARE(h.boxes.texts(), boxes);
    if (dropped) QVERIFY(shows_tcp_closed(h.w()));
    else if (link == Link::Tcp) QVERIFY(h.w().session().eth_connected());
    else QVERIFY(h.w().session().serial_connected());

    const QSet<QString> fresh = fresh_parts(f.target, f.effect);
    DeviceState expected = shown_state(before, now, fresh);
    expected.current_output = h.device().current_output; // the map moves it, or nothing does
    d = partial_differences(h.w(), expected, fresh);
    QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
    QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));

    refresh_after_clearing(h);
}

// Lines the device sends while no transaction waits.
struct IdleFault {
    const char* name;
    QString control;   // what the simulator is told to do now
    bool drops_tcp;    // the device ends the TCP session
    bool shows_locked; // the line reports the front panel locked
};

inline QList<IdleFault> idle_faults(Link link)
{
    const bool serial = link == Link::Serial;
    return {
        // Over TCP the device says goodbye and closes; the RS-232 receiver does not act on EXT.
        {"EXT while idle", serial ? "send EXT000\\r" : "ext", !serial, false},
        {"unsolicited reply", "unsolicited LCK001", false, true},
    };
}

inline void run_idle_fault(Link link, const IdleFault& f, ReplyWait wait = ReplyWait::Stepped)
{
    SimHarness h(link, true, 0, wait);
    QVERIFY(h.load());
    h.refresh();
    QVERIFY(window_differences(h.w(), h.device()).isEmpty());
    const DeviceState before = h.device();

    QVERIFY2(h.sim().apply_control(f.control), qPrintable(f.control + QStringLiteral(": ") + h.sim().last_error()));
    PanelHarness::pump(300);

    // No message either way: EXT ends the session quietly.
    QVERIFY2(h.boxes.texts().isEmpty(), qPrintable(joined(h.boxes.texts())));
    if (link == Link::Tcp) QCOMPARE(shows_tcp_closed(h.w()), f.drops_tcp);
    else QVERIFY(h.w().session().serial_connected());
    DeviceState shown = before;
    shown.locked = f.shows_locked;
    const QStringList d = window_differences(h.w(), shown);
    QVERIFY2(d.isEmpty(), qPrintable(joined(d)));
    QVERIFY(!SessionTestAccess::cmd_busy(h.w().session()));

    refresh_after_clearing(h);
}

// PWR001 (from standby) and RST001: over TCP the device restarts instead of answering, over the
// serial line it answers.
inline void run_restart(Link link, const QString& command, ReplyWait wait = ReplyWait::Stepped)
{
    SimHarness h(link, true, 0, wait);
    h.sim().set_restart_ms(300);
    QVERIFY(h.load());
    FrmMain& w = h.w();
    const bool power_on = command == QLatin1String("PWR001");
    if (power_on) h.device().power_on = false;
    else change_everything(h.device());
    h.refresh();
    QStringList d = window_differences(w, h.device());
    QVERIFY2(d.isEmpty(), qPrintable(joined(d)));

    h.clear_wire();
    QElapsedTimer t;
    t.start();
    PanelHarness::click(power_on ? w.cmd_pwr : w.cmd_fact_reset);
    const qint64 took = t.elapsed();
    QCOMPARE(h.wire(), QStringList{command});
    PanelHarness::pump(300);

    if (link == Link::Tcp) {
        // One second for the device to go down, then the warning and a quiet disconnect. The
        // simulated device drops the connection half-way through that second, and the link watch,
        // which runs on during the wait, reports it first.
        QVERIFY2(took >= 1000 && took <= 1100, qPrintable(QString::number(took)));
        QCOMPARE(h.boxes.texts(), (QStringList{"Ethernet is disconnected !",
                                               "Need to re-connect Ethernet after KV-7720 re-boots ready !"}));
        QCOMPARE(h.boxes.boxes.last().icon, BoxIcon::Exclamation);
        QVERIFY(shows_tcp_closed(w));
        QVERIFY(!w.img_start->isHidden());
        QVERIFY(w.cmd_keypad->isHidden());
        // Unanswered: the power button shows no state and stays disabled, the reset button waits.
        if (power_on) {
            QCOMPARE(w.cmd_pwr->property("picture").toString(), QStringLiteral("power_none.bmp"));
            QVERIFY(!w.cmd_pwr->isEnabled());
        } else {
            QVERIFY(!w.cmd_fact_reset->isEnabled());
        }
    } else {
        QVERIFY2(took < bound_ms(link), qPrintable(QString::number(took)));
        QVERIFY2(h.boxes.texts().isEmpty(), qPrintable(joined(h.boxes.texts())));
        QVERIFY(w.session().serial_connected());
        if (power_on) {
            QCOMPARE(w.cmd_pwr->property("picture").toString(), QStringLiteral("power_on.bmp"));
            QVERIFY(w.fra_btn->isEnabled());
        } else {
            QVERIFY(w.cmd_fact_reset->isEnabled());
        }
    }
    QVERIFY(!SessionTestAccess::cmd_busy(w.session()));

    refresh_after_clearing(h);
    QVERIFY(w.img_start->isHidden());
    QVERIFY(!w.cmd_keypad->isHidden());
}

} // namespace tavrion::test::faults
