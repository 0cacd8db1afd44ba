// Picture adjustment: one unacknowledged command per value set by the user, replies that move the
// sliders without echo, the read-back per layout, and the reset.
#include "device_state_support.h"
#include "support/test_access.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

namespace {
void click_part(QScrollBar* s, QStyle::SubControl part)
{
    QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, PanelHarness::slider_part(s, part).center());
}
} // namespace

class TestPicture : public QObject {
    Q_OBJECT
private slots:
    void user_moves_send_one_command_each()
    {
        PoweredPanel p(3);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        dev.picture["CON3"] = 44;
        dev.echo_picture_sets = false;
        w.session().send_command("CON993");
        QCOMPARE(w.hsr_con(3)->value(), 44);
        h.serial.clear();

        QScrollBar* s = w.hsr_con(3);
        click_part(s, QStyle::SC_ScrollBarAddLine);
        QVERIFY(PanelHarness::wait_until([&] { return !h.serial.commands.isEmpty(); }, 1000));
        PanelHarness::pump(50);
        QCOMPARE(h.serial.commands, QStringList({"CON445"}));
        QCOMPARE(w.txt_con(3)->text(), QStringLiteral("45")); // no leading blank from the user's side
        QCOMPARE(dev.pic("CON", 3), 45);

        // A click in the track moves by a page (or jumps there): still one command.
        h.serial.clear();
        const QRect track = PanelHarness::slider_part(s, QStyle::SC_ScrollBarAddPage);
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, QPoint(track.right() - 1, track.center().y()));
        PanelHarness::pump(50);
        QCOMPARE(h.serial.commands.size(), 1);
        QVERIFY(s->value() > 45);
        QCOMPARE(h.serial.commands.first(), QStringLiteral("CON%1").arg(400 + s->value()));

        // A drag sends nothing while the thumb moves, and one command on release.
        dev.picture["CON3"] = 10;
        w.session().send_command("CON993");
        QCOMPARE(s->value(), 10);
        h.serial.clear();
        const QPoint from = PanelHarness::slider_part(s, QStyle::SC_ScrollBarSlider).center();
        QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, from);
        for (int dx = 2; dx <= 10; dx += 2) {
            QTest::mouseMove(s, from + QPoint(dx, 0));
            PanelHarness::pump(5);
        }
        QVERIFY(h.serial.commands.isEmpty());
        QCOMPARE(s->value(), 10);
        QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, from + QPoint(10, 0));
        PanelHarness::pump(50);
        QCOMPARE(h.serial.commands.size(), 1);
        QVERIFY(s->value() > 10);
        QCOMPARE(h.serial.commands.first(), QStringLiteral("CON%1").arg(400 + s->value()));

        // Matrix sends the plain value; page and step actions each send once.
        power_on_in_mode(h, dev, 1);
        w.hsr_bri(1)->triggerAction(QAbstractSlider::SliderPageStepAdd);
        w.hsr_bri(1)->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(h.serial.commands, QStringList({"BRI010", "BRI009"}));
        QCOMPARE(w.txt_bri(1)->text(), QStringLiteral("9"));

        // Keys move the way the slider's arrows do, one command each.
        const struct {
            Qt::Key key;
            int value;
        } keys[] = {{Qt::Key_Right, 10}, {Qt::Key_Up, 11}, {Qt::Key_Left, 10}, {Qt::Key_Down, 9},
                    {Qt::Key_PageUp, 19}, {Qt::Key_PageDown, 9}, {Qt::Key_End, 100}, {Qt::Key_Home, 0}};
        for (const auto& k : keys) {
            h.serial.clear();
            QTest::keyClick(w.hsr_bri(1), k.key);
            QCOMPARE(w.hsr_bri(1)->value(), k.value);
            QCOMPARE(h.serial.commands, QStringList{QStringLiteral("BRI%1").arg(k.value, 3, 10, QLatin1Char('0'))});
        }
    }

    void replies_move_sliders_without_echo()
    {
        PoweredPanel p(2);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        h.serial.feed("SAT437\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.hsr_sat(3)->value() == 37; }));
        PanelHarness::pump(30);
        QCOMPARE(w.lab_sat(3)->text(), QStringLiteral("BL"));
        QCOMPARE(w.txt_sat(3)->text(), QStringLiteral(" 37"));
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(w.flags().ui_events_enabled);

        // Parameters naming no row or no position of this layout are ignored.
        for (const char* r : {"BRI950\r", "BRI801\r", "BRI350\r", "SAT999\r"}) {
            h.serial.feed(r);
            PanelHarness::pump(20);
        }
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(w.hsr_bri(n)->value(), 0);
            QVERIFY(w.txt_bri(n)->text().isEmpty());
        }
        QCOMPARE(w.hsr_sat(3)->value(), 37);

        power_on_in_mode(h, dev, 1);
        w.hsr_bri(2)->setEnabled(true); // a row Matrix does not use, to see it is left alone
        h.serial.feed("BRI050\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.hsr_bri(1)->value() == 50; }));
        QCOMPARE(w.txt_bri(1)->text(), QStringLiteral(" 50"));
        h.serial.feed("BRI101\r");
        PanelHarness::pump(20);
        h.serial.feed("BRI250\r");
        PanelHarness::pump(20);
        QCOMPARE(w.hsr_bri(1)->value(), 50);
        QCOMPARE(w.hsr_bri(2)->value(), 0);
        PanelHarness::pump(30);
        QVERIFY(h.serial.commands.isEmpty());
    }

    void refresh_per_layout()
    {
        PoweredPanel p(2);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();
        for (int n = 1; n <= 4; ++n) {
            dev.picture[QByteArray("BRI") + QByteArray::number(n)] = 10 * n;
            dev.picture[QByteArray("HUE") + QByteArray::number(n)] = 100 - n;
        }
        PanelHarness::click(w.cmd_pic_refresh);
        QCOMPARE(h.serial.commands, picture_queries(2));
        for (int n = 1; n <= 4; ++n) {
            QCOMPARE(w.hsr_bri(n)->value(), 10 * n);
            QCOMPARE(w.hsr_hue(n)->value(), 100 - n);
            QCOMPARE(w.txt_hue(n)->text(), QStringLiteral(" %1").arg(100 - n));
            QCOMPARE(w.hsr_con(n)->value(), 50);
        }

        // A missing saturation answer does not stop the next row...
        h.serial.clear();
        dev.overrides["SAT992"] = "";
        PanelHarness::click(w.cmd_pic_refresh);
        QCOMPARE(h.serial.commands, picture_queries(2));
        // ...a missing contrast answer ends it.
        h.serial.clear();
        dev.overrides["CON991"] = "";
        PanelHarness::click(w.cmd_pic_refresh);
        QCOMPARE(h.serial.commands, QStringList({"BRI991", "CON991"}));

        power_on_in_mode(h, dev, 1);
        dev.overrides["CON999"] = "ERR000"; // answered: the refresh goes on
        PanelHarness::click(w.cmd_pic_refresh);
        QCOMPARE(h.serial.commands, picture_queries(1));
    }

    void moves_during_a_refresh_are_dropped()
    {
        PoweredPanel p(2);
        PanelHarness& h = p.h;
        FrmMain& w = p.w();
        h.serial.delay_ms = 20;
        int moves = 0;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, &w, [&] {
            if (!SessionTestAccess::cmd_busy(w.session())) return;
            ++moves;
            w.hsr_con(4)->triggerAction(QAbstractSlider::SliderPageStepAdd);
            click_part(w.hsr_sat(1), QStyle::SC_ScrollBarAddLine);
        });
        user.start(15);
        PanelHarness::click(w.cmd_pic_refresh);
        user.stop();
        QVERIFY(moves > 0);
        QCOMPARE(h.serial.commands, picture_queries(2));
    }

    void reset()
    {
        PoweredPanel p(1);
        PanelHarness& h = p.h;
        MiniDevice& dev = p.dev;
        FrmMain& w = p.w();

        // The click sends RST002 and changes nothing itself; the RST reply resets the rows in use.
        dev.overrides["RST002"] = "";
        PanelHarness::click(w.cmd_pic_reset);
        QCOMPARE(h.serial.commands, QStringList({"RST002"}));
        QCOMPARE(w.hsr_bri(1)->value(), 0);
        h.serial.feed("RST002\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.hsr_sat(1)->value() == 50; }));
        for (auto* s : {w.hsr_bri(1), w.hsr_con(1), w.hsr_hue(1), w.hsr_sat(1)}) QCOMPARE(s->value(), 50);
        QCOMPARE(w.txt_sat(1)->text(), QStringLiteral("50"));
        QCOMPARE(w.hsr_bri(2)->value(), 0);
        QVERIFY(w.txt_bri(2)->text().isEmpty());

        // In TV Wall the reply, taken by the receiver, resets all four rows.
        power_on_in_mode(h, dev, 3);
        h.serial.clear();
        QVERIFY(w.hsr_sat(4)->value() != 50);
        h.serial.feed("RST002\r");
        QVERIFY(PanelHarness::wait_until([&] { return w.hsr_sat(4)->value() == 50; }));
        for (int n = 1; n <= 4; ++n)
            for (auto* s : {w.hsr_bri(n), w.hsr_con(n), w.hsr_hue(n), w.hsr_sat(n)}) QCOMPARE(s->value(), 50);
        QCOMPARE(w.txt_hue(4)->text(), QStringLiteral("50"));
        PanelHarness::pump(30);
        QVERIFY(h.serial.commands.isEmpty());
        QVERIFY(w.flags().ui_events_enabled);
    }
};

QTEST_MAIN(TestPicture)
#include "test_picture.moc"
