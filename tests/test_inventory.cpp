// The window as designed: names, captions, places (twips, relative to the container), and the
// design states of the controls, checked on a freshly built window.
#include "panel/line_shape.h"
#include "support/panel_harness.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {

struct Row {
    const char* parent;  // objectName of the container
    QString name;
    QString caption;     // button/label text or frame title; ignored for other kinds
    int left, top, width, height; // twips; width/height -1 where the design gives no size
    bool hidden = false;
    bool disabled = false;
};

QString caption_of(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return QString();
}

// Twips to pixels may round either way; one pixel of slack.
bool near_px(int px, int twips) { return qAbs(px * 15 - twips) <= 15; }

QString n(const char* base, int i) { return QStringLiteral("%1(%2)").arg(QLatin1String(base)).arg(i); }

QList<Row> design_rows()
{
    QList<Row> r;
    const char* W = "frm_main";
    // Window level, compact strip.
    r << Row{W, "cmd_refresh", "Refresh", 60, 60, 1100, 405}
      << Row{W, "cmd_keypad", "Keyboard", 1350, 60, 2295, 345, true}
      << Row{W, "cmd_pwr", "", 60, 1140, 1100, 585}
      << Row{W, "cmd_advance", "Advanced", 60, 1740, 1095, 405}
      << Row{W, "fra_rs232", "Interface", 8550, 0, 3795, 1695}
      << Row{W, "fra_btn", "", 1350, 90, 11025, 2115, false, true};
    // Expanded area.
    r << Row{W, "fra_dual_a", "Dual A Audio", 60, 2430, 1785, 735, false, true}
      << Row{W, "fra_dual_b", "Dual B Audio", 60, 3270, 1785, 735, false, true}
      << Row{W, "fra_bezel", "Bezel Correction", 1980, 2430, 2385, 1575, false, true}
      << Row{W, "fra_pic", "Picture", 4410, 2430, 7965, 2685, false, true}
      << Row{W, "lab_pic", "Picture", 4920, 2340, 645, 315}
      << Row{W, "fra_audio", "Audio EDID", 60, 4080, 2475, 1035, false, true}
      << Row{W, "cmd_fact_reset", "Factory Reset", 2670, 4080, 1695, 525}
      << Row{W, "cmd_ver", "F/W Ver", 2670, 4680, 1035, 435}
      << Row{W, "txt_ver", "", 3750, 4680, 615, 435}
      << Row{W, "fra_recall_save", "Recall / Save", 60, 5190, 7755, 1095, false, true}
      << Row{W, "cmd_get_ip", "Get IP", 7980, 5160, 1100, 375, false, true}
      << Row{W, "lab_inq_ip", "IP", 9540, 5220, 315, 315}
      << Row{W, "txt_get_ip", "", 9810, 5160, 1965, 345}
      << Row{W, "Label1", "Subnet Mask", 8580, 5580, 1395, 315}
      << Row{W, "txt_get_mask", "", 9810, 5550, 1965, 345}
      << Row{W, "Label3", "Gate Way", 8850, 5940, 1035, 315}
      << Row{W, "txt_get_gate", "", 9810, 5940, 1965, 345}
      << Row{W, "txt_cmd", "", 150, 6600, 11415, 1125}
      << Row{W, "cmd_clear", QString(QChar(0x6E05)), 11640, 6600, 645, 555};
    // Interface frame.
    const char* I = "fra_rs232";
    r << Row{I, "opt_interface(0)", "RS-232", 150, 300, -1, -1}
      << Row{I, "opt_interface(1)", "Ethernet", 1290, 300, -1, -1}
      << Row{I, "cmd_conn", "Connect", 120, 630, 1215, 405, true}
      << Row{I, "cmd_conn_eth", "Connect", 120, 630, 1215, 405, true}
      << Row{I, "cmd_disconn", "Disconnect", 1350, 630, 1215, 405, true}
      << Row{I, "cmd_disconn_eth", "Disconnect", 1350, 630, 1215, 405, true, true}
      << Row{I, "cbo_com", "", 120, 1110, 1215, 375, true}
      << Row{I, "lab_ip", "IP :", 120, 1200, -1, -1, true}
      << Row{I, "txt_ip", "", 480, 1140, 1965, 345, true}
      << Row{I, "lab_eth_state", "Connecting...", 2520, 1170, -1, -1, true};
    // Routing panel.
    const char* B = "fra_btn";
    const char* outs[] = {"A", "B", "C", "D"};
    for (int i = 1; i <= 4; ++i) {
        r << Row{B, n("cmd_out", i), outs[i - 1], 2550 + 1140 * (i - 1), 510, 1100, 495}
          << Row{B, n("cmd_inp", i), QString::number(i), 2550 + 1140 * (i - 1), 1560, 1100, 495};
    }
    r << Row{B, "cmd_mode(1)", "Matrix", 2550, 0, 1485, 435}
      << Row{B, "cmd_mode(2)", "Dual", 4050, 0, 1515, 435}
      << Row{B, "cmd_mode(3)", "TV Wall", 5580, 0, 1485, 435};
    const char* block[3][3] = {{"cmd_mute", "cmd_menu_up", "cmd_lock"},
                               {"cmd_menu_left", "cmd_menu_ok", "cmd_menu_right"},
                               {"cmd_menu_exit", "cmd_menu_down", "cmd_menu_menu"}};
    const int block_tops[] = {360, 930, 1530};
    const int block_heights[] = {525, 555, 525};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            r << Row{B, block[row][col], "", 780 * col, block_tops[row], 735, block_heights[row]};
    r << Row{B, "lab_reso_out", "Output Resolution", 7230, 1770, 1575, 315}
      << Row{B, "cbo_output", "", 8880, 1710, 2055, 375}
      << Row{B, "img_start", "", 30, 0, 170 * 15, 13 * 15};
    // Picture frame, and one property frame's rows.
    const char* P = "fra_pic";
    r << Row{P, "fra_con", "Contrast", 120, 60, 1845, 2175}
      << Row{P, "fra_bri", "Brightness", 2070, 60, 1845, 2175}
      << Row{P, "fra_sat", "Saturation", 4020, 60, 1845, 2175}
      << Row{P, "fra_hue", "Hue", 5970, 60, 1845, 2175}
      << Row{P, "cmd_pic_reset", "Reset", 5640, 2310, 1100, 345}
      << Row{P, "cmd_pic_refresh", "Refresh", 6750, 2310, 1100, 345};
    for (int i = 1; i <= 4; ++i) {
        const char* outs_long[] = {"Out A", "Out B", "Out C", "Out D"};
        r << Row{"fra_sat", n("lab_sat", i), outs_long[i - 1], 60, 360 + 450 * (i - 1), 645, 375}
          << Row{"fra_sat", n("hsr_sat", i), "", 690, 300 + 450 * (i - 1), 1035, 375}
          << Row{"fra_sat", n("txt_sat", i), "", 930, 300 + 450 * (i - 1), 555, 375};
    }
    // Bezel.
    const char* Z = "fra_bezel";
    r << Row{Z, "opt_bezel_onoff(1)", "On", 120, 270, 615, 315}
      << Row{Z, "opt_bezel_onoff(0)", "Off", 780, 270, 615, 315}
      << Row{Z, "lab_bezel_h", "H Correction", 120, 660, 1155, 375}
      << Row{Z, "hsr_bezel_h", "", 1230, 600, 1035, 375}
      << Row{Z, "txt_bezel_h", "", 1470, 600, 555, 375}
      << Row{Z, "lab_bezel_v", "V Correction", 120, 1110, 1155, 375}
      << Row{Z, "hsr_bezel_v", "", 1230, 1080, 1035, 375}
      << Row{Z, "txt_bezel_v", "", 1470, 1080, 555, 375};
    // Audio.
    r << Row{"fra_dual_a", "opt_da(1)", "Left", 120, 300, 765, 315}
      << Row{"fra_dual_a", "opt_da(2)", "Right", 900, 300, 765, 315}
      << Row{"fra_dual_b", "opt_db(1)", "Left", 120, 300, 765, 315}
      << Row{"fra_dual_b", "opt_db(2)", "Right", 900, 300, 765, 315}
      << Row{"fra_audio", "opt_audio(0)", "2CH", 90, 270, 765, 315}
      << Row{"fra_audio", "opt_audio(1)", "6CH", 870, 270, 765, 315}
      << Row{"fra_audio", "opt_audio(2)", "8CH", 1680, 270, 675, 315}
      << Row{"fra_audio", "opt_audio(3)", "Bitstream", 90, 630, 1305, 315}
      << Row{"fra_audio", "opt_audio(4)", "HD", 1680, 630, 765, 315};
    // Recall / save.
    for (int i = 1; i <= 4; ++i)
        r << Row{"fra_recall_save", n("cmd_recall", i), QStringLiteral("Recall %1").arg(i), 90 + 930 * (i - 1), 420, 915, 435}
          << Row{"fra_recall_save", n("cmd_save", i), QStringLiteral("Save %1").arg(i), 3960 + 930 * (i - 1), 420, 915, 435};
    return r;
}

} // namespace

class TestInventory : public QObject {
    Q_OBJECT
private slots:
    void controls_as_designed()
    {
        PanelHarness h;
        FrmMain& w = h.w();
        QCOMPARE(w.objectName(), QStringLiteral("frm_main"));
        // Client area 12405 x 6405 twips.
        QCOMPARE(w.size(), QSize(827, 427));

        for (const Row& row : design_rows()) {
            const QString where = row.name;
            auto* c = w.findChild<QWidget*>(row.name);
            QVERIFY2(c, qPrintable(where + " missing"));
            QVERIFY2(c->parentWidget() && c->parentWidget()->objectName() == QLatin1String(row.parent),
                     qPrintable(where + " lies in " + (c->parentWidget() ? c->parentWidget()->objectName() : QString())));
            if (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLabel*>(c) || qobject_cast<QGroupBox*>(c))
                QVERIFY2(caption_of(c) == row.caption, qPrintable(where + " caption \"" + caption_of(c) + "\""));
            const QRect g = c->geometry();
            bool placed = near_px(g.x(), row.left) && near_px(g.y(), row.top);
            if (row.width >= 0) placed = placed && near_px(g.width(), row.width) && near_px(g.height(), row.height);
            QVERIFY2(placed, qPrintable(where + QStringLiteral(" at %1,%2 %3x%4 px").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())));
            QVERIFY2(c->isHidden() == row.hidden, qPrintable(where + " hidden state"));
            QVERIFY2(c->isEnabledTo(c->parentWidget()) == !row.disabled, qPrintable(where + " enabled state"));
        }
    }

    void kinds_and_ranges()
    {
        PanelHarness h;
        FrmMain& w = h.w();
        for (int i = 1; i <= 4; ++i)
            for (QScrollBar* s : {w.hsr_con(i), w.hsr_bri(i), w.hsr_sat(i), w.hsr_hue(i)}) {
                QCOMPARE(s->orientation(), Qt::Horizontal);
                QCOMPARE(s->minimum(), 0);
                QCOMPARE(s->maximum(), 100);
                QCOMPARE(s->pageStep(), 10);
                QCOMPARE(s->value(), 0);
            }
        QCOMPARE(w.hsr_bezel_h->maximum(), 254);
        QCOMPARE(w.hsr_bezel_v->maximum(), 254);
        QVERIFY(!w.cbo_com->isEditable());
        QVERIFY(!w.cbo_output->isEditable());
        QVERIFY(w.cmd_pwr->text().isEmpty() && !w.cmd_pwr->icon().isNull());

        // Sixteen routing lines, hidden at start, in the output's colour.
        const Indexed<LineShape, 1, 4>* arrays[] = {&w.line_a, &w.line_b, &w.line_c, &w.line_d};
        const QColor colours[] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};
        for (int o = 0; o < 4; ++o)
            for (int i = 1; i <= 4; ++i) {
                LineShape* l = (*arrays[o])(i);
                QVERIFY(l);
                QCOMPARE(l->parentWidget(), w.fra_btn);
                QVERIFY(l->isHidden());
                QCOMPARE(l->colour(), colours[o]);
            }
        // line_c(2) and line_d(3) have their own end points.
        QCOMPARE(w.line_c(2)->p1(), QPoint(5280 / 15, 1080 / 15));
        QCOMPARE(w.line_d(3)->p2(), QPoint(5310 / 15, 1560 / 15));
    }

    void strip_containers_lie_above_the_routing_panel()
    {
        PanelHarness h;
        FrmMain& w = h.w();
        const QObjectList& order = w.children(); // stacking order, bottom first
        QVERIFY(order.indexOf(w.fra_rs232) > order.indexOf(w.fra_btn));
        QVERIFY(order.indexOf(w.cmd_keypad) > order.indexOf(w.fra_btn));

        // And on screen: where they overlap, the click reaches the Interface frame and "Keyboard".
        QVERIFY(h.load());
        w.cmd_keypad->show();
        for (QWidget* top : {static_cast<QWidget*>(w.fra_rs232), static_cast<QWidget*>(w.cmd_keypad)}) {
            const QRect overlap = top->geometry().intersected(w.fra_btn->geometry());
            QVERIFY(!overlap.isEmpty());
            QWidget* hit = w.childAt(overlap.center());
            QVERIFY(hit);
            QVERIFY2(hit == top || top->isAncestorOf(hit), qPrintable(hit->objectName()));
        }
    }

    void after_start_up()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        QCOMPARE(w.width(), 827);
        // Seven frames wait for the device to report power on; the start hint shows.
        for (QWidget* f : {w.fra_btn, static_cast<QWidget*>(w.fra_dual_a), static_cast<QWidget*>(w.fra_dual_b),
                           static_cast<QWidget*>(w.fra_bezel), static_cast<QWidget*>(w.fra_pic),
                           static_cast<QWidget*>(w.fra_audio), static_cast<QWidget*>(w.fra_recall_save)})
            QVERIFY2(!f->isEnabled(), qPrintable(f->objectName()));
        QVERIFY(w.img_start->isVisible());
        QVERIFY(!w.cmd_keypad->isVisible());
        // The log lies below the client area at both heights.
        QVERIFY(w.txt_cmd->geometry().top() >= w.height());
    }
};

QTEST_MAIN(TestInventory)
#include "test_inventory.moc"
