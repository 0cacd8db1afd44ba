// The window on a screen scaled by 2: twice as large in device pixels, lines and drawn pictures
// sharp at that scale, and no control covering another or cut short.
#include "panel/line_shape.h"
#include "panel/shell/frm_keypad.h"
#include "support/panel_harness.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

using namespace tavrion;
using namespace tavrion::test;

namespace {

// Device pixels of a pixmap as a 2x2 block pattern: a picture drawn at 1x and blown up has every
// 2x2 block uniform; one drawn at 2x has edges inside the blocks.
bool has_detail_finer_than_blocks(const QImage& img)
{
    for (int y = 0; y + 1 < img.height(); y += 2)
        for (int x = 0; x + 1 < img.width(); x += 2) {
            const QRgb c = img.pixel(x, y);
            if (img.pixel(x + 1, y) != c || img.pixel(x, y + 1) != c || img.pixel(x + 1, y + 1) != c) return true;
        }
    return false;
}

// The part of a control that shows something: a label's text, the whole of anything else.
QRect painted_rect(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (!l->pixmap().isNull()) return l->geometry();
        const QRect r = l->fontMetrics().boundingRect(l->contentsRect(), int(l->alignment()), l->text());
        return r.translated(l->pos()).intersected(l->geometry());
    }
    return w->geometry();
}

// Overlaps the window's design intends: containers of the compact strip on top of the routing
// panel, the start hint touching "Matrix", each value box over the middle of its slider, the
// "Picture" label on the picture frame's border.
bool designed_overlap(const QString& a, const QString& b)
{
    auto is = [&](const QString& x, const QString& y) { return (a == x && b == y) || (a == y && b == x); };
    if (is("fra_rs232", "fra_btn") || is("cmd_keypad", "fra_btn") || is("img_start", "cmd_mode(1)")
        || is("lab_pic", "fra_pic"))
        return true;
    for (const char* p : {"bezel_h", "bezel_v", "con", "bri", "sat", "hue"}) {
        const QString hsr = QStringLiteral("hsr_") + QLatin1String(p), txt = QStringLiteral("txt_") + QLatin1String(p);
        const QString a0 = a.section('(', 0, 0), b0 = b.section('(', 0, 0);
        if (((a0 == hsr && b0 == txt) || (a0 == txt && b0 == hsr)) && a.section('(', 1) == b.section('(', 1)) return true;
    }
    return false;
}

int text_room(QWidget* w)
{
    QStyle* s = w->style();
    if (qobject_cast<QRadioButton*>(w))
        return w->width() - s->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w)
               - s->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    if (qobject_cast<QPushButton*>(w)) return w->width() - 2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    return w->width();
}

QString caption(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->pixmap().isNull() ? l->text() : QString();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return QString();
}

} // namespace

class TestHighDpi : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QCOMPARE(qApp->devicePixelRatio(), 2.0); }

    void window_is_twice_as_large()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        QCOMPARE(w.width(), 827); // layout in pixels of the window, 15 twips each
        const QPixmap shot = w.grab();
        QCOMPARE(shot.devicePixelRatio(), 2.0);
        QCOMPARE(shot.size(), w.size() * 2);
        // The text grows with it: a caption is twice as many device pixels high.
        const QImage button = w.cmd_refresh->grab().toImage();
        QCOMPARE(button.size(), w.cmd_refresh->size() * 2);

        w.menu_keys().cmd_keypad_Click();
        FrmKeypad& keypad = *w.menu_keys().keypad_window();
        QCOMPARE(keypad.grab().size(), keypad.size() * 2);
        const QPixmap map = keypad.img_keypad->pixmap();
        QCOMPARE(map.devicePixelRatio(), 2.0);
        QCOMPARE(map.deviceIndependentSize().toSize(), QSize(339, 96));
        QVERIFY(has_detail_finer_than_blocks(map.toImage()));
    }

    void drawn_pictures_are_sharp()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        for (QPushButton* b : {w.cmd_pwr, w.cmd_lock, w.cmd_mute, w.cmd_menu_up, w.cmd_menu_down, w.cmd_menu_left,
                               w.cmd_menu_right, w.cmd_menu_ok, w.cmd_menu_menu, w.cmd_menu_exit}) {
            QVERIFY2(b->property("picture").toString().isEmpty(), qPrintable(b->objectName())); // design picture
            const QPixmap pm = b->icon().pixmap(b->iconSize(), 2.0);
            QCOMPARE(pm.size(), b->iconSize() * 2);
            QVERIFY2(has_detail_finer_than_blocks(pm.toImage()), qPrintable(b->objectName()));
        }
        QCOMPARE(w.cmd_menu_up->iconSize(), QSize(46, 32));
        const QPixmap hint = w.img_start->pixmap();
        QCOMPARE(hint.deviceIndependentSize().toSize(), QSize(170, 13));
        QVERIFY(has_detail_finer_than_blocks(hint.toImage()));
        // The state pictures are bitmaps of fixed size: shown at their size in window pixels.
        QVERIFY(w.pictures().show(w.cmd_lock, QStringLiteral("lock.bmp")));
        QCOMPARE(w.cmd_lock->iconSize(), QSize(46, 32));
    }

    void routing_lines_are_sharp()
    {
        PanelHarness h(Settings{});
        QVERIFY(h.load());
        FrmMain& w = h.w();
        LineShape* straight = w.line_b(2); // output B to input 2: vertical
        LineShape* slanted = w.line_a(4);  // output A to input 4
        straight->show();
        slanted->show();
        QCoreApplication::processEvents();
        const QColor green = straight->colour(), red = slanted->colour();

        // A vertical line two window pixels wide is four device pixels wide, with hard edges.
        const QRect box = straight->geometry();
        const QImage img = w.fra_btn->grab(box).toImage();
        QCOMPARE(img.size(), box.size() * 2);
        const int row = img.height() / 2;
        int run = 0;
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, row);
            if (c == green) ++run;
            else QVERIFY2(c.green() < 128 || c.red() > 128, "blended edge pixel");
        }
        QCOMPARE(run, 4);

        // The slanted line: no pixel is a mix of its colour and the background.
        const QImage s = w.fra_btn->grab(slanted->geometry()).toImage();
        int solid = 0;
        for (int y = 0; y < s.height(); ++y)
            for (int x = 0; x < s.width(); ++x) {
                const QColor c = s.pixelColor(x, y);
                if (c == red) ++solid;
                else if (c.red() > c.green() + 40 && c.red() > c.blue() + 40)
                    QFAIL(qPrintable(QStringLiteral("blended pixel at %1,%2").arg(x).arg(y)));
            }
        QVERIFY(solid > 4 * (slanted->geometry().width() - 4));
    }

    void nothing_overlaps_or_is_cut_short()
    {
        PanelHarness h(Settings{}); // RS-232: the serial controls show
        QVERIFY(h.load());
        FrmMain& w = h.w();
        w.cmd_keypad->show(); // as after the first refresh
        QList<QWidget*> containers{&w};
        for (QWidget* c : w.findChildren<QWidget*>())
            if (qobject_cast<QGroupBox*>(c) || c == w.fra_btn) containers << c;
        const QRect client = w.rect();
        for (QWidget* c : containers) {
            QList<QWidget*> kids;
            for (QObject* o : c->children()) {
                auto* k = qobject_cast<QWidget*>(o);
                if (!k || k->isWindow() || !k->isVisibleTo(&w) || qobject_cast<LineShape*>(k)) continue;
                if (c == &w && !client.contains(k->geometry())) continue; // the log, below the window
                kids << k;
                // Inside its container, and its caption fits.
                QVERIFY2(c->rect().contains(k->geometry()), qPrintable(k->objectName()));
                const QString text = caption(k);
                if (!text.isEmpty() && !qobject_cast<QGroupBox*>(k)) {
                    const int need = k->fontMetrics().horizontalAdvance(text);
                    QVERIFY2(need <= text_room(k), qPrintable(QStringLiteral("%1: \"%2\" needs %3 of %4")
                                                                  .arg(k->objectName(), text).arg(need).arg(text_room(k))));
                }
            }
            for (int i = 0; i < kids.size(); ++i)
                for (int j = i + 1; j < kids.size(); ++j) {
                    const QString a = kids[i]->objectName(), b = kids[j]->objectName();
                    if (designed_overlap(a, b)) continue;
                    QVERIFY2(!painted_rect(kids[i]).intersects(painted_rect(kids[j])),
                             qPrintable(QStringLiteral("%1 overlaps %2").arg(a, b)));
                }
        }
        // img_start and "Matrix" touch by two pixels and no more.
        QCOMPARE(w.img_start->geometry().intersected(w.cmd_mode(1)->geometry()).width(), 2);
    }
};

int main(int argc, char* argv[])
{
    // The screen scale is fixed when the application starts.
    qputenv("QT_SCALE_FACTOR", "2");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestHighDpi t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "test_high_dpi.moc"
