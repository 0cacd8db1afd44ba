// Power and front-panel lock: what the toggles send, the pictures the replies show, and the frames
// that only the device's "on" opens.
#include "device_state_support.h"
#include "panel/colours.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
QString picture_of(QWidget* w) { return w->property("picture").toString(); }

QList<QWidget*> gated(FrmMain& w)
{
    return {w.fra_btn, w.fra_recall_save, w.fra_dual_a, w.fra_dual_b, w.fra_bezel, w.fra_pic, w.fra_audio};
}
} // namespace

class TestPowerLock : public QObject {
    Q_OBJECT
private slots:
    void first_click_switches_on()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.power = 0;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();

        QString picture_while_waiting;
        bool enabled_while_waiting = true;
        auto inner = h.serial.responder;
        h.serial.responder = [&](const QByteArray& c) {
            picture_while_waiting = picture_of(w.cmd_pwr);
            enabled_while_waiting = w.cmd_pwr->isEnabled();
            return inner(c);
        };
        PanelHarness::click(w.cmd_pwr);

        QCOMPARE(h.serial.commands, QStringList({"PWR001"}));
        QCOMPARE(picture_while_waiting, QStringLiteral("power_none.bmp"));
        QVERIFY(!enabled_while_waiting);
        QCOMPARE(w.device_state().power_state, 1);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_on.bmp"));
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));
        QVERIFY(w.cmd_pwr->isEnabled());
        QVERIFY(w.cmd_fact_reset->isEnabled());
        for (QWidget* f : gated(w)) QVERIFY2(f->isEnabled(), qPrintable(f->objectName()));

        // On: the next click goes to standby and closes the frames again.
        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.serial.commands, QStringList({"PWR001", "PWR000"}));
        QCOMPARE(w.device_state().power_state, 0);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_standby.bmp"));
        for (QWidget* f : gated(w)) QVERIFY(!f->isEnabled());
        QVERIFY(w.cmd_pwr->isEnabled());
    }

    void standby_leaves_the_shell_usable()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        PanelHarness::click(w.cmd_refresh);
        QVERIFY(w.fra_btn->isEnabled());

        h.serial.feed("PWR000\r"); // the device goes to standby on its own
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().power_state == 0; }));
        for (QWidget* f : gated(w)) QVERIFY2(!f->isEnabled(), qPrintable(f->objectName()));
        QVERIFY(w.cmd_refresh->isEnabled());
        QVERIFY(w.cmd_advance->isEnabled());
        QVERIFY(w.cmd_pwr->isEnabled());
        QVERIFY(w.fra_rs232->isEnabled());
        QVERIFY(w.cmd_conn->isEnabled());

        // Usable, not only enabled: real clicks still reach the device.
        h.serial.clear();
        PanelHarness::click(w.cmd_out(2)); // gated: nothing
        QVERIFY(h.serial.commands.isEmpty());
        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.serial.commands, QStringList({"PWR001"}));
        QVERIFY(w.fra_btn->isEnabled());
    }

    void on_request_answered_with_standby()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.power = 0;
        dev.overrides["PWR001"] = "PWR000";
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(w.device_state().power_state, 0);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_standby.bmp"));
        QVERIFY(!w.cmd_pwr->isEnabled()); // until a reply reports on
        w.session().send_command("PWR999");
        QVERIFY(!w.cmd_pwr->isEnabled());
        dev.power = 2; // any digit but 0 is on, and is kept as "on"
        w.session().send_command("PWR999");
        QCOMPARE(w.device_state().power_state, 1);
        QVERIFY(w.cmd_pwr->isEnabled());
        QVERIFY(w.fra_pic->isEnabled());
        dev.mode = 2;
        w.session().send_command("MOD999");
        QVERIFY(w.fra_dual_a->isEnabled()); // the Dual layout sees the device as on
    }

    void ethernet_restart_on_power_on()
    {
        PanelHarness h(Settings{1, 1, true, QStringLiteral("127.0.0.1")});
        MiniDevice dev;
        dev.overrides["PWR001"] = ""; // the device restarts instead of answering
        h.tcp.responder = dev.responder();
        QVERIFY(h.load());
        h.connect_tcp();
        FrmMain& w = h.w();
        QVERIFY(w.session().eth_connected());
        PanelHarness::click(w.cmd_refresh);
        QVERIFY(w.cmd_keypad->isVisibleTo(&w));
        h.tcp.clear();
        h.boxes.clear();

        h.tcp.feed("PWR000\r"); // standby, reported by the device on its own
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().power_state == 0; }));
        PanelHarness::click(w.cmd_pwr);
        QCOMPARE(h.tcp.commands, QStringList({"PWR001"}));
        QCOMPARE(h.boxes.texts(), QStringList({"Need to re-connect Ethernet after KV-7720 re-boots ready !"}));
        QVERIFY(!w.session().eth_connected());
        QVERIFY(w.img_start->isVisibleTo(&w));
        QVERIFY(!w.cmd_keypad->isVisibleTo(&w));
        QVERIFY(!w.cmd_pwr->isEnabled());
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_none.bmp"));
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));
    }

    void lock_toggles()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        w.session().send_command("PWR999");
        PanelHarness::click(w.cmd_lock);
        QCOMPARE(w.device_state().lock_state, 1);
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));
        PanelHarness::click(w.cmd_lock);
        QCOMPARE(w.device_state().lock_state, 0);
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("unlock.bmp"));
        h.serial.feed("LCK002\r"); // any digit but 0 is locked, so the next click unlocks
        QVERIFY(PanelHarness::wait_until([&] { return w.device_state().lock_state == 1; }));
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));
        PanelHarness::click(w.cmd_lock);
        QCOMPARE(h.serial.commands, QStringList({"PWR999", "LCK001", "LCK000", "LCK000"}));
    }

    void lock_without_answers_and_while_busy()
    {
        PanelHarness h;
        MiniDevice dev;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        w.session().send_command("PWR999");
        h.serial.clear();
        dev.silent = true;
        PanelHarness::click(w.cmd_lock);
        PanelHarness::click(w.cmd_lock);
        QCOMPARE(h.serial.commands, QStringList({"LCK001", "LCK000"}));
        QCOMPARE(w.device_state().lock_state, 0);
        QVERIFY(!w.cmd_lock->property("picture").isValid()); // no reply: the design picture stays

        // A click while another command waits changes the state but sends nothing.
        dev.silent = false;
        h.serial.clear();
        h.serial.delay_ms = 100;
        QTimer::singleShot(30, &w, [&] { w.power_lock().cmd_lock_Click(); });
        w.session().send_command("VER999");
        QCOMPARE(h.serial.commands, QStringList({"VER999"}));
        QCOMPARE(w.device_state().lock_state, 1);
    }

    void missing_picture_keeps_the_button()
    {
        PanelHarness h;
        MiniDevice dev;
        dev.lock = 1;
        h.serial.responder = dev.responder();
        start(h);
        FrmMain& w = h.w();
        QVERIFY(QFile::remove(h.folder.file(QStringLiteral("bmp/lock.bmp"))));
        h.folder.write_file(QStringLiteral("bmp/unlock.bmp"), "not a bitmap");
        const qint64 design = w.cmd_lock->icon().cacheKey();
        w.session().send_command("LCK999");
        QCOMPARE(w.device_state().lock_state, 1);
        QCOMPARE(w.cmd_lock->icon().cacheKey(), design);
        QVERIFY(!w.cmd_lock->property("picture").isValid());
        dev.lock = 0;
        w.session().send_command("LCK999");
        QCOMPARE(w.cmd_lock->icon().cacheKey(), design);
        QVERIFY(!w.pictures().show(w.cmd_lock, QStringLiteral("unlock.bmp")));
        QVERIFY(w.pictures().show(w.cmd_lock, QStringLiteral("power_on.bmp")));
        QVERIFY(w.cmd_lock->icon().cacheKey() != design);
    }

    void not_connected()
    {
        PanelHarness h;
        start(h);
        FrmMain& w = h.w();
        w.interface_frame().cmd_disconn_Click();
        PanelHarness::click(w.cmd_pwr);
        QVERIFY(h.serial.commands.isEmpty());
        QCOMPARE(h.boxes.texts(), QStringList({"RS232 port is disconnected !"}));
        QCOMPARE(w.device_state().power_state, 1);
        QCOMPARE(picture_of(w.cmd_pwr), QStringLiteral("power_none.bmp"));
        QVERIFY(!w.cmd_pwr->isEnabled());
        QVERIFY(w.cmd_refresh->isEnabled()); // the way back: refresh reads the power state
    }
};

QTEST_MAIN(TestPowerLock)
#include "test_power_lock.moc"
