// From the outside, as a user works it: real clicks on the real window against the simulated
// KV-7720 (pseudo-terminal and TCP loopback). What goes over the wire, in order, and whether the
// window then shows what the device holds: refresh-all in each mode, power and lock, the frames
// that power gates, and the restart the device makes over TCP.
#include "support/ctl_document.h"
#include "support/test_access.h"
#include "support/panel_harness.h"
#include "support/sim_harness.h"
#include "support/state_compare.h"
#include "support/wire_queries.h"

#include "panel/line_shape.h"
#include "session/device_model.h"
#include "panel/colours.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>

using namespace tavrion;
using namespace tavrion::test;
using tavrion_sim::DeviceState;

#ifdef TAVRION_HAVE_SIM

Q_DECLARE_METATYPE(SimHarness::Link)

namespace {

const QString kRestartWarning = QStringLiteral("Need to re-connect Ethernet after KV-7720 re-boots ready !");

QString picture_of(QWidget* w) { return w->property("picture").toString(); }

// The queries of refresh-all, up to and including the routing map and the picture read-back.
QStringList refresh_chain(int mode, bool advanced)
{
    QStringList c = {"VER999", "AUA999", "AUB999", "AUD999", "AUE999", "BEH999", "BEV999", "BEZ999",
                     "BEH998", "BEV998", "LCK999", "PWR999", "RES999", "MOD999"};
    if (mode != 3) c << "OUT999";
    c << "INP999";
    c << test::map_queries();
    return advanced ? c << test::picture_queries(mode) : c;
}

// The frames that a device in standby (or not yet heard from) keeps shut.
QList<QWidget*> gated_frames(FrmMain& w)
{
    return {w.fra_btn, w.fra_recall_save, w.fra_dual_a, w.fra_dual_b, w.fra_bezel, w.fra_pic, w.fra_audio};
}

// A device set well away from its factory settings and from the window's start values, so that
// nothing matches by accident.
void make_unusual(DeviceState& d, int mode)
{
    d.version = 107;
    d.locked = true;
    d.audio_on = false;
    d.audio_edid = 3;
    d.dual_a_audio = 2;
    d.dual_b_audio = 1;
    d.mode = mode;
    d.current_output = 2;
    d.routes = {{3, 1, 4, 2}};
    d.resolution = 7;
    d.brightness = {{10, 20, 30, 40}};
    d.contrast = {{55, 65, 75, 85}};
    d.hue = {{0, 100, 33, 67}};
    d.saturation = {{5, 15, 25, 35}};
    d.bezel_on = true;
    d.bezel_h = 12;
    d.bezel_v = 34;
    d.bezel_h_max = 110;
    d.bezel_v_max = 80;
}

// Waits until the simulated device accepts connections again after a restart, then presses
// Connect, as the warning tells the user to.
bool reconnect_after_restart(SimHarness& h)
{
    if (!PanelHarness::wait_until([&] { return !h.sim().restarting(); }, 5000)) return false;
    return h.connect_tcp();
}

} // namespace

class TestE2eDeviceState : public QObject {
    Q_OBJECT
private slots:
    // ---- refresh-all ------------------------------------------------------------------------

    void refresh_reads_the_whole_device_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("advanced");
        QTest::addColumn<int>("commands");
        QTest::newRow("Matrix, RS-232 at 115200") << SimHarness::Link::Serial << 115200 << 1 << true << 28;
        QTest::newRow("Dual, RS-232 at 115200") << SimHarness::Link::Serial << 115200 << 2 << true << 40;
        QTest::newRow("TV Wall, RS-232 at 115200") << SimHarness::Link::Serial << 115200 << 3 << true << 39;
        QTest::newRow("Matrix, TCP") << SimHarness::Link::Tcp << 0 << 1 << true << 28;
        QTest::newRow("Dual, TCP") << SimHarness::Link::Tcp << 0 << 2 << true << 40;
        QTest::newRow("TV Wall, TCP") << SimHarness::Link::Tcp << 0 << 3 << true << 39;
        // The compact window reads no picture values.
        QTest::newRow("Dual, compact window") << SimHarness::Link::Serial << 0 << 2 << false << 24;
    }
    void refresh_reads_the_whole_device()
    {
        QFETCH(SimHarness::Link, link);
        QFETCH(int, baud);
        QFETCH(int, mode);
        QFETCH(bool, advanced);
        QFETCH(int, commands);
        SimHarness h(link, advanced, baud);
        QVERIFY(h.load());
        make_unusual(h.device(), mode);
        FrmMain& w = h.w();
        QVERIFY(w.img_start->isVisibleTo(&w));
        QVERIFY(!w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(!w.fra_btn->isEnabled());
        h.clear_wire();
        // While the chain runs, the button is held and coloured.
        QColor colour_while_running;
        bool disabled_while_running = false;
        QObject watch; // ends the connection before the locals it reads go
        connect(&h.sim(), &tavrion_sim::SimServer::command_received, &watch, [&](const QString& c) {
            if (c != QLatin1String("MOD999")) return;
            colour_while_running = back_colour(w.cmd_refresh);
            disabled_while_running = !w.cmd_refresh->isEnabled();
        });

        h.refresh();

        QVERIFY(disabled_while_running);
        QCOMPARE(colour_while_running, connecting_colour);
        const QStringList expected = refresh_chain(mode, advanced);
        QCOMPARE(expected.size(), commands);
        QCOMPARE(h.wire(), expected);
        QVERIFY(h.boxes.boxes.isEmpty());
        QVERIFY(!w.img_start->isVisibleTo(&w));
        QVERIFY(w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(w.cmd_refresh->isEnabled());
        QCOMPARE(back_colour(w.cmd_refresh), button_face_colour());
        QVERIFY(w.cmd_pwr->isEnabled());
        QVERIFY(w.cmd_fact_reset->isEnabled());
        if (advanced) {
            const QStringList diff = window_differences(w, h.device());
            QVERIFY2(diff.isEmpty(), qPrintable(diff.join(QStringLiteral("; "))));
            // Values from the device are shown with a blank in the sign position.
            QCOMPARE(w.txt_bezel_h->text(), QStringLiteral(" 12"));
            QCOMPARE(w.txt_bri(1)->text(), QStringLiteral(" 10"));
            QCOMPARE(w.txt_ver->text(), QStringLiteral("1.07"));
            // The other view of the same model: tavrion-ctl's document of it is the device's state.
            QCOMPARE(document_of(w.model()), document_of(h.device(), false));
        } else {
            // Everything but the picture rows, which keep their start values.
            QCOMPARE(w.hsr_bri(1)->value(), 0);
            QVERIFY(w.txt_bri(1)->text().isEmpty());
            QCOMPARE(w.device_state().display_mode, mode);
            QVERIFY(w.routing().routing_line(1, 3)->isVisibleTo(&w));
            QVERIFY(w.routing().routing_line(4, 2)->isVisibleTo(&w));
        }
        // Nothing the refresh showed was sent back to the device.
        PanelHarness::pump(50);
        QCOMPARE(h.wire().size(), commands);
    }

    void refresh_of_a_device_in_standby()
    {
        // The device answers only what it serves in standby; the others are refused and the
        // chain runs to its end. The window then shows standby and keeps its frames shut.
        SimHarness h(SimHarness::Link::Serial, true, 0);
        QVERIFY(h.load());
        h.device().power_on = false;
        h.device().locked = true;
        h.clear_wire();
        h.refresh();
        FrmMain& w = h.w();
        QCOMPARE(h.wire(), refresh_chain(1, true));
        QCOMPARE(w.txt_ver->text(), QStringLiteral("1.06"));
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));
        const QStringList diff = window_differences(w, h.device());
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join(QStringLiteral("; "))));
        QVERIFY(w.cmd_pwr->isEnabled()); // the way back on
        QVERIFY(w.cmd_refresh->isEnabled());
        QVERIFY(w.cmd_advance->isEnabled());
        QVERIFY(w.fra_rs232->isEnabled());

        // Switched on and read again, the window shows everything, bezel amounts included: the
        // refused maximum queries of the standby refresh have left nothing behind.
        h.device().bezel_on = true;
        h.device().bezel_h = 12;
        h.device().bezel_v = 34;
        PanelHarness::click(w.cmd_pwr);
        QVERIFY(h.device().power_on);
        h.clear_wire();
        h.refresh();
        QCOMPARE(h.wire(), refresh_chain(1, true));
        const QStringList after = window_differences(w, h.device());
        QVERIFY2(after.isEmpty(), qPrintable(after.join(QStringLiteral("; "))));
    }

    // ---- power and lock ---------------------------------------------------------------------

    void lock_from_the_window_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::newRow("RS-232") << SimHarness::Link::Serial;
        QTest::newRow("TCP") << SimHarness::Link::Tcp;
    }
    void lock_from_the_window()
    {
        QFETCH(SimHarness::Link, link);
        SimHarness h(link, true, 0);
        QVERIFY(h.load());
        h.refresh();
        FrmMain& w = h.w();
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("unlock.bmp"));
        h.clear_wire();

        PanelHarness::click(w.cmd_lock);
        QCOMPARE(h.wire(), QStringList{"LCK001"});
        QVERIFY(h.device().locked);
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));

        PanelHarness::click(w.cmd_lock);
        QCOMPARE(h.wire(), (QStringList{"LCK001", "LCK000"}));
        QVERIFY(!h.device().locked);
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("unlock.bmp"));
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void standby_and_back_on_over_rs232()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        QVERIFY(h.load());
        h.device().mode = 2;
        h.refresh();
        FrmMain& w = h.w();
        const QList<QWidget*> frames = gated_frames(w);
        h.clear_wire();

        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.wire(), QStringList{"PWR000"});
        QVERIFY(!h.device().power_on);
        QCOMPARE(w.device_state().power_state, 0);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_standby.bmp"));
        for (QWidget* f : frames) QVERIFY2(!f->isEnabled(), qPrintable(f->objectName()));
        QVERIFY(w.cmd_pwr->isEnabled());

        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.wire(), (QStringList{"PWR000", "PWR001"}));
        QVERIFY(h.device().power_on);
        QCOMPARE(w.device_state().power_state, 1);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_on.bmp"));
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));
        QVERIFY(w.cmd_pwr->isEnabled());
        // The power reply opens all seven; the next mode reply narrows them to the layout.
        for (QWidget* f : frames) QVERIFY2(f->isEnabled(), qPrintable(f->objectName()));
        QVERIFY(h.boxes.boxes.isEmpty());

        h.refresh();
        const QStringList diff = window_differences(w, h.device());
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join(QStringLiteral("; "))));
    }

    void standby_closes_the_seven_frames_to_clicks_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("Dual") << 2;
        QTest::newRow("TV Wall") << 3;
    }
    void standby_closes_the_seven_frames_to_clicks()
    {
        QFETCH(int, mode);
        SimHarness h(SimHarness::Link::Serial, true, 0);
        QVERIFY(h.load());
        h.device().mode = mode;
        FrmMain& w = h.w();

        // Before the device has reported power, nothing inside the frames can be clicked.
        QList<QWidget*> inside = {w.cmd_out(2), w.cmd_inp(3), w.cmd_mode(1), w.cmd_lock, w.cmd_mute, w.cmd_menu_ok,
                                  w.cmd_recall(1), w.cmd_save(2), w.opt_da(2), w.opt_db(2), w.opt_bezel_onoff(1),
                                  w.cmd_pic_refresh, w.cmd_pic_reset, w.opt_audio(4)};
        h.clear_wire();
        for (QWidget* c : inside) PanelHarness::click(c);
        QVERIFY2(h.wire().isEmpty(), qPrintable(h.wire().join(' ')));

        h.refresh();
        PanelHarness::click(w.cmd_pwr); // to standby
        QVERIFY(!h.device().power_on);
        h.clear_wire();
        for (QWidget* c : inside) PanelHarness::click(c);
        QVERIFY2(h.wire().isEmpty(), qPrintable(h.wire().join(' ')));

        // What stays usable in standby: Refresh, the power button, Advanced, the Interface frame.
        PanelHarness::click(w.cmd_refresh);
        QCOMPARE(h.wire().value(0), QStringLiteral("VER999"));
        const int before = w.height();
        PanelHarness::click(w.cmd_advance);
        QVERIFY(w.height() < before);
        h.clear_wire();
        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.wire(), QStringList{"PWR001"});
        QVERIFY(h.device().power_on);
        QVERIFY(w.fra_btn->isEnabled());
    }

    // ---- the restart over TCP ---------------------------------------------------------------

    void restart_course_over_tcp_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("drop_ms");
        // The simulated device drops the connection half a second after the command; the link
        // watch notices that before the panel's one-second wait is over.
        QTest::newRow("power on, device drops at 0.5 s") << QStringLiteral("PWR001") << 500;
        QTest::newRow("factory reset, device drops at 0.5 s") << QStringLiteral("RST001") << 500;
        // A slower device is still connected when the panel closes the link itself.
        QTest::newRow("power on, device drops at 1.5 s") << QStringLiteral("PWR001") << 1500;
    }
    void restart_course_over_tcp()
    {
        QFETCH(QString, command);
        QFETCH(int, drop_ms);
        SimHarness h(SimHarness::Link::Tcp, true, 0);
        h.sim().set_restart_ms(300);
        h.sim().set_restart_drop_ms(drop_ms);
        QVERIFY(h.load());
        make_unusual(h.device(), 2);
        h.refresh();
        FrmMain& w = h.w();
        QVERIFY(w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(!w.img_start->isVisibleTo(&w));
        h.clear_wire();
        if (command == QLatin1String("PWR001")) {
            // Standby is answered like any command; only switching on restarts the device.
            PanelHarness::click(w.cmd_pwr);
            QCOMPARE(h.wire(), QStringList{"PWR000"});
            QVERIFY(!h.device().power_on);
            QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_standby.bmp"));
            QVERIFY(w.session().eth_connected());
            QVERIFY(h.boxes.boxes.isEmpty());
            h.clear_wire();
        }

        QElapsedTimer clock;
        qint64 warned_after = -1;
        h.boxes.on_show = [&](const RecordingBoxes::Box& b) {
            if (b.text == kRestartWarning) warned_after = clock.elapsed();
        };
        clock.start();
        PanelHarness::click(command == QLatin1String("PWR001") ? w.cmd_pwr : w.cmd_fact_reset);

        h.boxes.on_show = nullptr;
        QCOMPARE(h.wire(), QStringList{command});
        // About one second after the command: never before the second is over.
        QVERIFY2(warned_after >= 1000 && warned_after < 2500, qPrintable(QString::number(warned_after)));
        QCOMPARE(h.boxes.boxes.last().text, kRestartWarning);
        QCOMPARE(h.boxes.boxes.last().icon, BoxIcon::Exclamation);
        if (drop_ms < 1000)
            QCOMPARE(h.boxes.texts(), (QStringList{"Ethernet is disconnected !", kRestartWarning}));
        else
            QCOMPARE(h.boxes.texts(), QStringList{kRestartWarning});
        QVERIFY(!SessionTestAccess::reply_ok(w.session()));
        QVERIFY(!SessionTestAccess::cmd_busy(w.session()));
        QVERIFY(w.img_start->isVisibleTo(&w));
        QVERIFY(!w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(!w.session().eth_connected());
        QVERIFY(w.cmd_conn_eth->isEnabled());
        QVERIFY(!w.cmd_disconn_eth->isEnabled());
        QCOMPARE(back_colour(w.cmd_disconn_eth), disconnected_colour);

        if (command == QLatin1String("PWR001")) {
            QVERIFY(h.device().power_on);
            QVERIFY(!w.cmd_pwr->isEnabled());
            QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_none.bmp"));
            QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));
        } else {
            // The device is back at its factory settings; it keeps what identifies it.
            QCOMPARE(static_cast<const tavrion_sim::PresetContent&>(h.device()),
                     static_cast<const tavrion_sim::PresetContent&>(h.sim().device().factory()));
            QCOMPARE(h.device().version, 107);
            QVERIFY(!w.cmd_fact_reset->isEnabled());
        }

        // The user reconnects once the device is ready and refreshes: the window follows it.
        QVERIFY(reconnect_after_restart(h));
        QCOMPARE(back_colour(w.cmd_conn_eth), connected_colour);
        QVERIFY(w.cmd_disconn_eth->isEnabled());
        h.boxes.clear();
        h.clear_wire();
        h.refresh();
        QCOMPARE(h.wire(), refresh_chain(h.device().mode, true));
        const QStringList diff = window_differences(w, h.device());
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join(QStringLiteral("; "))));
        QVERIFY(w.cmd_pwr->isEnabled());
        QVERIFY(w.cmd_fact_reset->isEnabled());
        QVERIFY(w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void power_on_over_rs232_takes_no_restart_course()
    {
        SimHarness h(SimHarness::Link::Serial, true, 0);
        h.device().power_on = false;
        QVERIFY(h.load());
        h.refresh();
        FrmMain& w = h.w();
        h.clear_wire();
        QElapsedTimer clock;
        clock.start();
        PanelHarness::click(w.cmd_pwr);
        QVERIFY(clock.elapsed() < 900);
        QCOMPARE(h.wire(), QStringList{"PWR001"});
        QVERIFY(h.boxes.boxes.isEmpty());
        QVERIFY(w.session().serial_connected());
        QVERIFY(!w.img_start->isVisibleTo(&w));
        QVERIFY(w.cmd_pwr->isEnabled());
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_on.bmp"));
        QVERIFY(w.fra_btn->isEnabled());
    }
};

#else

class TestE2eDeviceState : public QObject {
    Q_OBJECT
private slots:
    void simulator_missing() { QSKIP("built without tavrion-sim"); }
};

#endif

QTEST_MAIN(TestE2eDeviceState)
#include "test_e2e_device_state.moc"
