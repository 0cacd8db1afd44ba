// From the outside, as a user works it: real clicks and keys on the real window against the
// simulated KV-7720 (pseudo-terminal and TCP loopback). Routing, mode switches, picture sliders,
// picture refresh and reset, audio, bezel, presets, output resolution, menu keys and the keypad
// window, the network query and the factory reset: the commands on the wire, in order, what the
// device then holds, and what the window shows of it.
#include "support/panel_harness.h"
#include "support/test_access.h"
#include "support/sim_harness.h"
#include "support/state_compare.h"
#include "support/wire_queries.h"

#include "panel/line_shape.h"
#include "panel/colours.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

using namespace tavrion;
using namespace tavrion::test;

#ifdef TAVRION_HAVE_SIM

Q_DECLARE_METATYPE(SimHarness::Link)

namespace {

QString picture_of(QWidget* w) { return w->property("picture").toString(); }
bool is_selected(QWidget* w) { return back_colour(w) == selection_colour; }

// The one button of a row that carries the selection colour, 0 when none does, -1 for several.
template <int Hi>
int selected_in(const Indexed<QPushButton, 1, Hi>& row)
{
    int found = 0;
    for (int n = 1; n <= Hi; ++n)
        if (is_selected(row(n))) found = found ? -1 : n;
    return found;
}

using tavrion::test::map_queries;
using tavrion::test::picture_queries;

#define COMPARE_WINDOW_TO_DEVICE(h)                                                                  \
    do {                                                                                             \
        const QStringList diff_ = window_differences((h).w(), (h).device());                        \
        QVERIFY2(diff_.isEmpty(), qPrintable(diff_.join(QStringLiteral("; "))));                      \
    } while (false)

// The device on, in `mode`, read once by Refresh; the wire record emptied.
bool start(SimHarness& h, int mode)
{
    if (!h.load()) return false;
    h.device().mode = mode;
    h.refresh();
    h.clear_wire();
    return h.w().device_state().display_mode == mode && h.w().fra_btn->isEnabled();
}

// A user's gesture on a slider: an arrow, the track beside the thumb, or a drag of the thumb.
enum class Gesture { ArrowRight, ArrowLeft, TrackRight, Drag, DragToEnd, DragToStart };

void move_slider(QScrollBar* s, Gesture g)
{
    switch (g) {
    case Gesture::ArrowRight:
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, PanelHarness::slider_part(s, QStyle::SC_ScrollBarAddLine).center());
        break;
    case Gesture::ArrowLeft:
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, PanelHarness::slider_part(s, QStyle::SC_ScrollBarSubLine).center());
        break;
    case Gesture::TrackRight: {
        const QRect track = PanelHarness::slider_part(s, QStyle::SC_ScrollBarAddPage);
        QTest::mouseClick(s, Qt::LeftButton, Qt::NoModifier, QPoint(track.right() - 1, track.center().y()));
        break;
    }
    case Gesture::Drag: {
        const QPoint from = PanelHarness::slider_part(s, QStyle::SC_ScrollBarSlider).center();
        QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, from);
        for (int dx = 2; dx <= 10; dx += 2) {
            QTest::mouseMove(s, from + QPoint(dx, 0));
            PanelHarness::pump(5);
        }
        QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, from + QPoint(10, 0));
        break;
    }
    case Gesture::DragToEnd:
    case Gesture::DragToStart: {
        // Past the end of the track: the thumb stops at the slider's limit.
        const QPoint from = PanelHarness::slider_part(s, QStyle::SC_ScrollBarSlider).center();
        const QPoint to(g == Gesture::DragToEnd ? s->width() + 40 : -40, from.y());
        QTest::mousePress(s, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(s, (from + to) / 2);
        PanelHarness::pump(5);
        QTest::mouseMove(s, to);
        PanelHarness::pump(5);
        QTest::mouseRelease(s, Qt::LeftButton, Qt::NoModifier, to);
        break;
    }
    }
}

// Chooses entry `position` of a drop-down list as a user does: open it, go to the entry, Enter.
void choose(QComboBox* list, int position)
{
    PanelHarness::click(list);
    QAbstractItemView* view = list->view();
    QVERIFY(PanelHarness::wait_until([&] { return view->isVisible(); }, 2000));
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < position; ++i) QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    QVERIFY(PanelHarness::wait_until([&] { return !view->isVisible(); }, 2000));
}

} // namespace

class TestE2eRest : public QObject {
    Q_OBJECT
private slots:
    // ---- routing ----------------------------------------------------------------------------

    void routing_clicks_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<int>("mode");
        QTest::newRow("Matrix, RS-232") << SimHarness::Link::Serial << 1;
        QTest::newRow("Dual, RS-232") << SimHarness::Link::Serial << 2;
        QTest::newRow("TV Wall, RS-232") << SimHarness::Link::Serial << 3;
        QTest::newRow("Matrix, TCP") << SimHarness::Link::Tcp << 1;
        QTest::newRow("Dual, TCP") << SimHarness::Link::Tcp << 2;
        QTest::newRow("TV Wall, TCP") << SimHarness::Link::Tcp << 3;
    }
    void routing_clicks()
    {
        QFETCH(SimHarness::Link, link);
        QFETCH(int, mode);
        SimHarness h(link, true, 115200);
        h.device().routes = {{2, 3, 4, 1}};
        QVERIFY(start(h, mode));
        FrmMain& w = h.w();

        PanelHarness::click(w.cmd_out(2));
        PanelHarness::click(w.cmd_inp(3));

        if (mode == 3) {
            // A video wall has no output to pick: only the input goes out, to the current output.
            QCOMPARE(h.wire(), QStringList{"INP003"});
            QCOMPARE(h.device().current_output, 4);
            QCOMPARE(h.device().routes, (std::array<int, 4>{{2, 3, 4, 3}}));
            QCOMPARE(selected_in(w.cmd_inp), 3);
            for (int o = 1; o <= 4; ++o)
                for (int i = 1; i <= 4; ++i) QVERIFY(!w.routing().routing_line(o, i)->isVisibleTo(&w));
            QCOMPARE(w.cmd_out(2)->text(), QString());
        } else {
            QCOMPARE(h.wire(), (QStringList{"OUT002", "INP999", "INP003"}));
            QCOMPARE(h.device().current_output, 2);
            QCOMPARE(h.device().routes, (std::array<int, 4>{{2, 3, 4, 1}}));
            QCOMPARE(w.cmd_out(2)->text(), mode == 1 ? QStringLiteral("B") : QStringLiteral("AR"));
            QCOMPARE(selected_in(w.cmd_out), 2);
            QCOMPARE(selected_in(w.cmd_inp), 3);
            // Output B's line moved to input 3; the other outputs keep theirs.
            for (int i = 1; i <= 4; ++i) QCOMPARE(w.routing().routing_line(2, i)->isVisibleTo(&w), i == 3);
            QVERIFY(w.routing().routing_line(1, 2)->isVisibleTo(&w));
            QVERIFY(w.routing().routing_line(3, 4)->isVisibleTo(&w));
            QVERIFY(w.routing().routing_line(4, 1)->isVisibleTo(&w));
            // Another output, another input: D to 2.
            h.clear_wire();
            PanelHarness::click(w.cmd_out(4));
            PanelHarness::click(w.cmd_inp(2));
            QCOMPARE(h.wire(), (QStringList{"OUT004", "INP999", "INP002"}));
            QCOMPARE(h.device().routes, (std::array<int, 4>{{2, 3, 4, 2}}));
        }
        QVERIFY(h.boxes.boxes.isEmpty());
        // Read back from scratch, the window agrees with the device.
        h.refresh();
        COMPARE_WINDOW_TO_DEVICE(h);
    }

    // ---- display modes ----------------------------------------------------------------------

    void mode_switch_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("Matrix to Dual, RS-232") << SimHarness::Link::Serial << 1 << 2;
        QTest::newRow("Dual to TV Wall, RS-232") << SimHarness::Link::Serial << 2 << 3;
        QTest::newRow("TV Wall to Matrix, RS-232") << SimHarness::Link::Serial << 3 << 1;
        QTest::newRow("Matrix to TV Wall, TCP") << SimHarness::Link::Tcp << 1 << 3;
        QTest::newRow("TV Wall to Dual, TCP") << SimHarness::Link::Tcp << 3 << 2;
        QTest::newRow("Dual to Matrix, TCP") << SimHarness::Link::Tcp << 2 << 1;
    }
    void mode_switch()
    {
        QFETCH(SimHarness::Link, link);
        QFETCH(int, from);
        QFETCH(int, to);
        SimHarness h(link, true, 115200);
        h.device().routes = {{4, 3, 2, 1}};
        h.device().brightness = {{11, 22, 33, 44}};
        h.device().saturation = {{90, 80, 70, 60}};
        QVERIFY(start(h, from));
        FrmMain& w = h.w();

        PanelHarness::click(w.cmd_mode(to));

        QStringList expected{QStringLiteral("MOD00%1").arg(to)};
        expected << (to == 3 ? QStringList{"OUT001", "INP999"} : map_queries()) << picture_queries(to);
        QCOMPARE(h.wire(), expected);
        QCOMPARE(h.device().mode, to);
        QCOMPARE(w.device_state().display_mode, to);
        for (int m = 1; m <= 3; ++m) QVERIFY(w.cmd_mode(m)->isEnabled());
        // The window now shows the device in its new layout, routing and picture rows included.
        COMPARE_WINDOW_TO_DEVICE(h);
        static const char* const labels[4][4] = {{}, {"ALL", "", "", ""}, {"AL", "AR", "BL", "BR"}, {"Out A", "Out B", "Out C", "Out D"}};
        for (int n = 1; n <= 4; ++n)
            for (QLabel* l : {w.lab_con(n), w.lab_bri(n), w.lab_sat(n), w.lab_hue(n)})
                QCOMPARE(l->text(), QLatin1String(labels[to][n - 1]));
        if (to == 3) {
            QCOMPARE(h.device().current_output, 1);
            QCOMPARE(selected_in(w.cmd_out), 1); // the blank output button the OUT reply named
        } else {
            QCOMPARE(selected_in(w.cmd_out), 4);
        }
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void slow_device_still_completes_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("control");
        QTest::newRow("mode change answered after 2.5 s, RS-232") << SimHarness::Link::Serial << "delay 2500 MOD once" << "mode";
        QTest::newRow("recall answered after 2 s, TCP") << SimHarness::Link::Tcp << "delay 2000 CAL once" << "recall";
    }
    void slow_device_still_completes()
    {
        // The device takes seconds to change its layout or restore a preset; its answer comes
        // after the ordinary wait has given up, and the follow-up reads still happen.
        QFETCH(SimHarness::Link, link);
        QFETCH(QString, fault);
        QFETCH(QString, control);
        SimHarness h(link, true, 115200);
        h.device().presets[0].routes = {{4, 4, 1, 1}};
        h.device().presets[0].mode = 1;
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        QVERIFY(h.sim().apply_control(fault));
        if (control == QLatin1String("mode")) {
            PanelHarness::click(w.cmd_mode(2));
            QCOMPARE(h.wire(), QStringList{"MOD002"} + map_queries() + picture_queries(2));
            QCOMPARE(w.device_state().display_mode, 2);
            QCOMPARE(selected_in(w.cmd_mode), 2);
        } else {
            PanelHarness::click(w.cmd_recall(1));
            QCOMPARE(h.wire(), QStringList{"CAL001"} + map_queries());
            QCOMPARE(selected_in(w.cmd_recall), 1);
            QVERIFY(w.routing().routing_line(2, 4)->isVisibleTo(&w));
        }
        COMPARE_WINDOW_TO_DEVICE(h);
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- picture ----------------------------------------------------------------------------

    void picture_slider_sends_one_command_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("gesture");
        QTest::newRow("Matrix, brightness, arrow") << SimHarness::Link::Serial << 1 << "BRI" << 1 << int(Gesture::ArrowRight);
        QTest::newRow("Matrix, hue, track, TCP") << SimHarness::Link::Tcp << 1 << "HUE" << 1 << int(Gesture::TrackRight);
        QTest::newRow("Dual, contrast row 3, arrow") << SimHarness::Link::Serial << 2 << "CON" << 3 << int(Gesture::ArrowRight);
        QTest::newRow("Dual, saturation row 1, left arrow, TCP") << SimHarness::Link::Tcp << 2 << "SAT" << 1 << int(Gesture::ArrowLeft);
        QTest::newRow("TV Wall, hue row 4, track") << SimHarness::Link::Serial << 3 << "HUE" << 4 << int(Gesture::TrackRight);
        QTest::newRow("TV Wall, saturation row 2, drag, TCP") << SimHarness::Link::Tcp << 3 << "SAT" << 2 << int(Gesture::Drag);
        QTest::newRow("TV Wall, brightness row 3, drag") << SimHarness::Link::Serial << 3 << "BRI" << 3 << int(Gesture::Drag);
        // The ends of the range, where a row's code meets the next row's.
        QTest::newRow("Dual, hue row 4 to 100") << SimHarness::Link::Serial << 2 << "HUE" << 4 << int(Gesture::DragToEnd);
        QTest::newRow("TV Wall, contrast row 2 to 0, TCP") << SimHarness::Link::Tcp << 3 << "CON" << 2 << int(Gesture::DragToStart);
        QTest::newRow("Matrix, saturation to 100") << SimHarness::Link::Serial << 1 << "SAT" << 1 << int(Gesture::DragToEnd);
    }
    void picture_slider_sends_one_command()
    {
        QFETCH(SimHarness::Link, link);
        QFETCH(int, mode);
        QFETCH(QString, code);
        QFETCH(int, row);
        QFETCH(int, gesture);
        SimHarness h(link, true, 115200);
        QVERIFY(start(h, mode));
        FrmMain& w = h.w();
        const std::string c = code.toStdString();
        QScrollBar* slider = (c == "BRI" ? w.hsr_bri : c == "CON" ? w.hsr_con : c == "HUE" ? w.hsr_hue : w.hsr_sat)(row);
        QLineEdit* box = (c == "BRI" ? w.txt_bri : c == "CON" ? w.txt_con : c == "HUE" ? w.txt_hue : w.txt_sat)(row);
        QCOMPARE(slider->value(), 50);

        move_slider(slider, Gesture(gesture));
        const int v = slider->value();
        QVERIFY(v != 50);
        if (Gesture(gesture) == Gesture::DragToEnd) QCOMPARE(v, 100);
        if (Gesture(gesture) == Gesture::DragToStart) QCOMPARE(v, 0);
        const int p = mode == 1 ? v : v + 200 * (row - 1);
        QCOMPARE(h.wire(), QStringList{code + QStringLiteral("%1").arg(p, 3, 10, QLatin1Char('0'))});
        // The device takes it for that output alone, or for all four in Matrix mode.
        const std::array<int, 4>& values = *h.device().picture(c);
        for (int n = 1; n <= 4; ++n) QCOMPARE(values[size_t(n - 1)], (mode == 1 || n == row) ? v : 50);
        // Its answer comes back through the receiver and lands on the same row, sending nothing.
        QVERIFY(PanelHarness::wait_until([&] { return box->text() == QStringLiteral(" %1").arg(v); }, 2000));
        PanelHarness::pump(50);
        QCOMPARE(h.wire().size(), 1);
        QCOMPARE(slider->value(), v);
        COMPARE_WINDOW_TO_DEVICE(h);
    }

    void matrix_uses_one_picture_row()
    {
        SimHarness h(SimHarness::Link::Serial, true, 0);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        for (int n = 2; n <= 4; ++n)
            for (QScrollBar* s : {w.hsr_bri(n), w.hsr_con(n), w.hsr_hue(n), w.hsr_sat(n)}) {
                QVERIFY(!s->isEnabled());
                move_slider(s, Gesture::TrackRight);
            }
        PanelHarness::pump(20);
        QVERIFY(h.wire().isEmpty());
    }

    void picture_refresh_and_reset_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::addColumn<int>("mode");
        QTest::newRow("Matrix, RS-232") << SimHarness::Link::Serial << 1;
        QTest::newRow("Dual, TCP") << SimHarness::Link::Tcp << 2;
        QTest::newRow("TV Wall, RS-232") << SimHarness::Link::Serial << 3;
    }
    void picture_refresh_and_reset()
    {
        QFETCH(SimHarness::Link, link);
        QFETCH(int, mode);
        SimHarness h(link, true, 115200);
        QVERIFY(start(h, mode));
        FrmMain& w = h.w();

        // Someone turns the knobs at the device; the picture Refresh reads them back.
        h.device().brightness = {{1, 2, 3, 4}};
        h.device().contrast = {{100, 0, 100, 0}};
        h.device().hue = {{17, 27, 37, 47}};
        h.device().saturation = {{64, 74, 84, 94}};
        PanelHarness::click(w.cmd_pic_refresh);
        QCOMPARE(h.wire(), picture_queries(mode));
        COMPARE_WINDOW_TO_DEVICE(h);

        // Reset: the device puts every picture value to 50; the window follows on its answer.
        h.clear_wire();
        PanelHarness::click(w.cmd_pic_reset);
        QCOMPARE(h.wire(), QStringList{"RST002"});
        for (Code code : kPictureCodes)
            QCOMPARE(*h.device().picture(code_text(code)), (std::array<int, 4>{{50, 50, 50, 50}}));
        const int rows = mode == 1 ? 1 : 4;
        for (int n = 1; n <= 4; ++n) {
            for (QScrollBar* s : {w.hsr_bri(n), w.hsr_con(n), w.hsr_hue(n), w.hsr_sat(n)})
                QCOMPARE(s->value(), n <= rows ? 50 : 0);
            for (QLineEdit* b : {w.txt_bri(n), w.txt_con(n), w.txt_hue(n), w.txt_sat(n)})
                QCOMPARE(b->text(), n <= rows ? QStringLiteral("50") : QString());
        }
        PanelHarness::pump(50);
        QCOMPARE(h.wire(), QStringList{"RST002"}); // the reset values were not sent back
        QVERIFY(w.cmd_fact_reset->isEnabled());
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- audio ------------------------------------------------------------------------------

    void audio_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::newRow("RS-232") << SimHarness::Link::Serial;
        QTest::newRow("TCP") << SimHarness::Link::Tcp;
    }
    void audio()
    {
        QFETCH(SimHarness::Link, link);
        SimHarness h(link, true, 115200);
        QVERIFY(start(h, 2));
        FrmMain& w = h.w();
        QVERIFY(w.opt_audio(0)->isChecked());
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));

        PanelHarness::click(w.opt_audio(2));
        PanelHarness::click(w.opt_audio(4));
        PanelHarness::click(w.opt_da(2));
        PanelHarness::click(w.opt_db(2));
        PanelHarness::click(w.cmd_mute);
        QCOMPARE(h.wire(), (QStringList{"AUE002", "AUE004", "AUA002", "AUB002", "AUD000"}));
        QCOMPARE(h.device().audio_edid, 4);
        QCOMPARE(h.device().dual_a_audio, 2);
        QCOMPARE(h.device().dual_b_audio, 2);
        QVERIFY(!h.device().audio_on);
        QVERIFY(w.opt_audio(4)->isChecked());
        QVERIFY(w.opt_da(2)->isChecked());
        QVERIFY(w.opt_db(2)->isChecked());
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_off.bmp"));

        h.clear_wire();
        PanelHarness::click(w.cmd_mute);
        QCOMPARE(h.wire(), QStringList{"AUD001"});
        QVERIFY(h.device().audio_on);
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_on.bmp"));

        // Outside Dual mode the dual-audio frames are shut.
        h.clear_wire();
        PanelHarness::click(w.cmd_mode(1));
        h.clear_wire();
        PanelHarness::click(w.opt_da(1));
        PanelHarness::click(w.opt_db(1));
        QVERIFY(h.wire().isEmpty());
        QCOMPARE(h.device().dual_a_audio, 2);
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- bezel ------------------------------------------------------------------------------

    void bezel_in_tv_wall()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        QVERIFY(start(h, 3));
        FrmMain& w = h.w();
        QVERIFY(w.fra_bezel->isEnabled());
        QVERIFY(w.opt_bezel_onoff(0)->isChecked());
        QVERIFY(!w.hsr_bezel_h->isEnabled()); // off: the amounts wait
        QCOMPARE(w.hsr_bezel_h->maximum(), 120);
        QCOMPARE(w.hsr_bezel_v->maximum(), 90);

        PanelHarness::click(w.opt_bezel_onoff(1));
        QCOMPARE(h.wire(), QStringList{"BEZ001"});
        QVERIFY(h.device().bezel_on);
        QVERIFY(w.hsr_bezel_h->isEnabled());
        QVERIFY(w.hsr_bezel_v->isEnabled());

        move_slider(w.hsr_bezel_h, Gesture::TrackRight);
        const int hv = w.hsr_bezel_h->value();
        move_slider(w.hsr_bezel_v, Gesture::ArrowRight);
        QCOMPARE(w.hsr_bezel_v->value(), 1);
        QCOMPARE(h.wire(), (QStringList{"BEZ001", QStringLiteral("BEH%1").arg(hv, 3, 10, QLatin1Char('0')), "BEV001"}));
        QCOMPARE(h.device().bezel_h, hv);
        QCOMPARE(h.device().bezel_v, 1);
        QVERIFY(PanelHarness::wait_until([&] { return w.txt_bezel_v->text() == QStringLiteral(" 1"); }, 2000));
        QCOMPARE(w.txt_bezel_h->text(), QStringLiteral(" %1").arg(hv));

        // The device's own maximum, read by the refresh, is as far as the slider goes.
        move_slider(w.hsr_bezel_h, Gesture::DragToEnd);
        QCOMPARE(w.hsr_bezel_h->value(), 120);
        QCOMPARE(h.wire().last(), QStringLiteral("BEH120"));
        QCOMPARE(h.device().bezel_h, 120);
        QVERIFY(PanelHarness::wait_until([&] { return w.txt_bezel_h->text() == QStringLiteral(" 120"); }, 2000));

        PanelHarness::click(w.opt_bezel_onoff(0));
        QCOMPARE(h.wire().last(), QStringLiteral("BEZ000"));
        QVERIFY(!h.device().bezel_on);
        QVERIFY(!w.hsr_bezel_h->isEnabled());
        QVERIFY(!w.hsr_bezel_v->isEnabled());
        PanelHarness::pump(30);
        QCOMPARE(h.wire().size(), 5);
        h.refresh();
        COMPARE_WINDOW_TO_DEVICE(h);

        // Outside TV Wall the frame is shut.
        PanelHarness::click(w.cmd_mode(1));
        h.clear_wire();
        PanelHarness::click(w.opt_bezel_onoff(1));
        QVERIFY(h.wire().isEmpty());
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- presets ----------------------------------------------------------------------------

    void presets_save_and_recall_data()
    {
        QTest::addColumn<SimHarness::Link>("link");
        QTest::newRow("RS-232") << SimHarness::Link::Serial;
        QTest::newRow("TCP") << SimHarness::Link::Tcp;
    }
    void presets_save_and_recall()
    {
        QFETCH(SimHarness::Link, link);
        SimHarness h(link, true, 115200);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();

        // Route A to 4 and save that as preset 2.
        PanelHarness::click(w.cmd_out(1));
        PanelHarness::click(w.cmd_inp(4));
        h.clear_wire();
        PanelHarness::click(w.cmd_save(2));
        QCOMPARE(h.wire(), QStringList{"SAV002"});
        QCOMPARE(h.device().presets[1], static_cast<const tavrion_sim::PresetContent&>(h.device()));
        QCOMPARE(selected_in(w.cmd_save), 2);
        QCOMPARE(selected_in(w.cmd_recall), 0);
        for (int n = 1; n <= 4; ++n) QVERIFY(w.cmd_save(n)->isEnabled());

        // Route A elsewhere, then recall: the device restores the route, the map is read back.
        PanelHarness::click(w.cmd_out(1));
        PanelHarness::click(w.cmd_inp(1));
        QVERIFY(w.routing().routing_line(1, 1)->isVisibleTo(&w));
        h.clear_wire();
        PanelHarness::click(w.cmd_recall(2));
        QCOMPARE(h.wire(), QStringList{"CAL002"} + map_queries());
        QCOMPARE(h.device().routes[0], 4);
        QVERIFY(w.routing().routing_line(1, 4)->isVisibleTo(&w));
        QVERIFY(!w.routing().routing_line(1, 1)->isVisibleTo(&w));
        QCOMPARE(selected_in(w.cmd_recall), 2);
        QCOMPARE(selected_in(w.cmd_save), 2); // the other row keeps its highlight
        QCOMPARE(selected_in(w.cmd_out), 4);
        for (int n = 1; n <= 4; ++n) QVERIFY(w.cmd_recall(n)->isEnabled());
        COMPARE_WINDOW_TO_DEVICE(h);

        // A preset saved in another mode brings that mode back on the device; the recall reads
        // only the routing, and the next Refresh shows the rest.
        PanelHarness::click(w.cmd_mode(2));
        QCOMPARE(selected_in(w.cmd_recall), 0); // a mode change clears both highlights
        QCOMPARE(selected_in(w.cmd_save), 0);
        PanelHarness::click(w.cmd_save(3));
        PanelHarness::click(w.cmd_mode(1));
        h.clear_wire();
        PanelHarness::click(w.cmd_recall(3));
        QCOMPARE(h.wire(), QStringList{"CAL003"} + map_queries());
        QCOMPARE(h.device().mode, 2);
        QCOMPARE(w.device_state().display_mode, 1);
        h.refresh();
        COMPARE_WINDOW_TO_DEVICE(h);
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- output resolution ------------------------------------------------------------------

    void output_resolution()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        QCOMPARE(w.cbo_output->currentIndex(), 13);

        choose(w.cbo_output, 5);
        QCOMPARE(h.wire(), QStringList{"RES006"});
        QCOMPARE(h.device().resolution, 6);
        QCOMPARE(w.cbo_output->currentIndex(), 5);
        QVERIFY(w.cbo_output->isEnabled());

        // In Dual the fifth and sixth entries send nothing; the seventh goes out.
        PanelHarness::click(w.cmd_mode(2));
        h.clear_wire();
        choose(w.cbo_output, 4);
        QVERIFY(h.wire().isEmpty());
        QCOMPARE(w.cbo_output->currentIndex(), 4); // the user's choice stays shown
        QCOMPARE(h.device().resolution, 6);
        choose(w.cbo_output, 6);
        QCOMPARE(h.wire(), QStringList{"RES007"});
        QCOMPARE(h.device().resolution, 7);
        QCOMPARE(w.cbo_output->currentIndex(), 6);
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- menu keys and the keypad window ----------------------------------------------------

    void menu_buttons()
    {
        SimHarness h(SimHarness::Link::Tcp, true, 0);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        for (QPushButton* b : {w.cmd_menu_menu, w.cmd_menu_down, w.cmd_menu_right, w.cmd_menu_ok, w.cmd_menu_up,
                               w.cmd_menu_left, w.cmd_menu_exit})
            PanelHarness::click(b);
        QCOMPARE(h.wire(), (QStringList{"MNX001", "MND001", "MNR001", "MNO001", "MNU001", "MNL001", "MNE001"}));
        QCOMPARE(h.device().menu_keys, 7);
        QCOMPARE(h.device().last_menu_key, std::string("MNE"));
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void keypad_window()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        QVERIFY(w.cmd_keypad->isVisible());
        PanelHarness::click(w.cmd_keypad);
        QVERIFY(w.menu_keys().keypad_open());
        QWidget* pad = w.menu_keys().keypad_window();
        QVERIFY(pad && pad->isVisible());

        QTest::keyClick(pad, Qt::Key_8, Qt::KeypadModifier);  // menu up
        QTest::keyClick(pad, Qt::Key_Down);                    // menu down (Num Lock off)
        QTest::keyClick(pad, Qt::Key_5, Qt::KeypadModifier);  // OK
        QTest::keyClick(pad, Qt::Key_3, Qt::KeypadModifier);  // menu
        QTest::keyClick(pad, Qt::Key_End);                     // exit
        QCOMPARE(h.wire(), (QStringList{"MNU001", "MND001", "MNO001", "MNX001", "MNE001"}));
        QCOMPARE(h.device().menu_keys, 5);

        // A held arrow key: a repeat that comes in the short pause after the command is dropped,
        // not sent on to the device.
        h.clear_wire();
        auto repeat = [pad] {
            QCoreApplication::postEvent(pad, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true));
        };
        bool first = true;
        QObject watch; // ends the connection before the locals it reads go
        connect(&h.sim(), &tavrion_sim::SimServer::command_received, &watch, [&](const QString& c) {
            if (c != QLatin1String("MND001") || !first) return;
            first = false;
            QTimer::singleShot(25, pad, repeat); // answered by then, well inside the pause
        });
        QCoreApplication::postEvent(pad, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier));
        PanelHarness::pump(200);
        QCOMPARE(h.wire(), QStringList{"MND001"});

        h.clear_wire();
        QTest::keyClick(pad, Qt::Key_S);          // output B
        QTest::keyClick(pad, Qt::Key_L);          // input 3
        QTest::keyClick(pad, Qt::Key_Home);       // speaker: the device reported on, so off
        QTest::keyClick(pad, Qt::Key_9, Qt::KeypadModifier); // lock
        QTest::keyClick(pad, Qt::Key_4);          // main keyboard 4: nothing
        QTest::keyClick(pad, Qt::Key_Space);      // nothing
        QCOMPARE(h.wire(), (QStringList{"OUT002", "INP999", "INP003", "AUD000", "LCK001"}));
        QCOMPARE(h.device().routes[1], 3);
        QVERIFY(!h.device().audio_on);
        QVERIFY(h.device().locked);
        QVERIFY(w.routing().routing_line(2, 3)->isVisibleTo(&w));
        QCOMPARE(picture_of(w.cmd_mute), QStringLiteral("speaker_off.bmp"));
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));

        h.clear_wire();
        QTest::keyClick(pad, Qt::Key_3);          // TV Wall
        QCOMPARE(h.wire(), (QStringList{"MOD003", "OUT001", "INP999"} + picture_queries(3)));
        QCOMPARE(h.device().mode, 3);
        COMPARE_WINDOW_TO_DEVICE(h);

        PanelHarness::click(w.cmd_keypad);
        QVERIFY(!w.menu_keys().keypad_open());
        QVERIFY(!pad->isVisible());
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    // ---- network settings -------------------------------------------------------------------

    void get_ip_over_rs232()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        QVERIFY(start(h, 1));
        QVERIFY(h.sim().apply_control(QStringLiteral("set ip 10.0.7.42")));
        QVERIFY(h.sim().apply_control(QStringLiteral("set mask 255.255.0.0")));
        QVERIFY(h.sim().apply_control(QStringLiteral("set gateway 10.0.0.1")));
        FrmMain& w = h.w();
        QVERIFY(w.cmd_get_ip->isEnabled());

        QColor colour_while_running;
        bool disabled_while_running = false;
        QObject watch; // ends the connection before the locals it reads go
        connect(&h.sim(), &tavrion_sim::SimServer::command_received, &watch, [&](const QString& c) {
            if (c != QLatin1String("EMK999")) return;
            colour_while_running = back_colour(w.cmd_get_ip);
            disabled_while_running = !w.cmd_get_ip->isEnabled();
        });
        PanelHarness::click(w.cmd_get_ip);
        QCOMPARE(h.wire(), (QStringList{"EIP999", "EMK999", "EGW999"}));
        QVERIFY(disabled_while_running);
        QCOMPARE(colour_while_running, connecting_colour);
        // Shown as the device sent them: three-digit parts (a line edit keeps no line end).
        QCOMPARE(w.txt_get_ip->text().trimmed(), QStringLiteral("010.000.007.042"));
        QCOMPARE(w.txt_get_mask->text().trimmed(), QStringLiteral("255.255.000.000"));
        QCOMPARE(w.txt_get_gate->text().trimmed(), QStringLiteral("010.000.000.001"));
        QVERIFY(w.cmd_get_ip->isEnabled());
        QCOMPARE(back_colour(w.cmd_get_ip), button_face_colour());
        QCOMPARE(SessionTestAccess::net_query_state(w.session()), 254);

        // The link goes on as before.
        h.clear_wire();
        PanelHarness::click(w.cmd_lock);
        QCOMPARE(h.wire(), QStringList{"LCK001"});
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));
        QVERIFY(h.boxes.boxes.isEmpty());
    }

    void get_ip_is_not_offered_over_tcp()
    {
        SimHarness h(SimHarness::Link::Tcp, true, 0);
        QVERIFY(start(h, 1));
        FrmMain& w = h.w();
        QVERIFY(!w.cmd_get_ip->isEnabled());
        PanelHarness::click(w.cmd_get_ip);
        PanelHarness::pump(20);
        QVERIFY(h.wire().isEmpty());
        QVERIFY(w.txt_get_ip->text().isEmpty());
    }

    // ---- factory reset ----------------------------------------------------------------------

    void factory_reset_over_rs232()
    {
        SimHarness h(SimHarness::Link::Serial, true, 115200);
        h.device().locked = true;
        h.device().routes = {{4, 4, 4, 4}};
        h.device().contrast = {{9, 9, 9, 9}};
        QVERIFY(start(h, 2));
        FrmMain& w = h.w();

        bool disabled_while_sent = false;
        QObject watch; // ends the connection before the locals it reads go
        connect(&h.sim(), &tavrion_sim::SimServer::command_received, &watch, [&](const QString& c) {
            if (c == QLatin1String("RST001")) disabled_while_sent = !w.cmd_fact_reset->isEnabled();
        });
        PanelHarness::click(w.cmd_fact_reset);
        QCOMPARE(h.wire(), QStringList{"RST001"});
        QVERIFY(disabled_while_sent);
        QVERIFY(w.cmd_fact_reset->isEnabled()); // the device's answer completed it
        QVERIFY(h.boxes.boxes.isEmpty());
        QVERIFY(w.session().serial_connected());
        QCOMPARE(static_cast<const tavrion_sim::PresetContent&>(h.device()),
                 static_cast<const tavrion_sim::PresetContent&>(h.sim().device().factory()));
        QVERIFY(!h.device().locked);
        // The answer completes the reset and nothing more: the window shows the old state until
        // the user reads the device again.
        QCOMPARE(w.device_state().display_mode, 2);
        QCOMPARE(picture_of(w.cmd_lock), QStringLiteral("lock.bmp"));
        h.clear_wire();
        h.refresh();
        QCOMPARE(h.wire().size(), 28);
        COMPARE_WINDOW_TO_DEVICE(h);
    }
};

#else

class TestE2eRest : public QObject {
    Q_OBJECT
private slots:
    void simulator_missing() { QSKIP("built without tavrion-sim"); }
};

#endif

QTEST_MAIN(TestE2eRest)
#include "test_e2e_rest.moc"
