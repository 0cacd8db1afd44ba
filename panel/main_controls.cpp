// The control inventory of the main window: names, captions, positions (twips), fonts and design
// states.
#include "panel/main_controls.h"

#include "panel/line_shape.h"
#include "panel/colours.h"
#include "panel/design_pictures.h"
#include "panel/accessibility.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <vector>

namespace tavrion {

namespace {

constexpr int kTwipsPerPixel = 15;

int px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

template <class W>
W* place(W* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
    return w;
}

QFont font_of(const char* family, double points, bool bold = false)
{
    QFont f(QString::fromLatin1(family));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h)
{
    auto* b = place(new QPushButton(caption, parent), l, t, w, h);
    b->setObjectName(QString::fromLatin1(name));
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

QPushButton* picture_button(QWidget* parent, const char* name, const QPixmap& picture, int l, int t, int w, int h)
{
    auto* b = button(parent, name, QString(), l, t, w, h);
    b->setIcon(QIcon(picture));
    b->setIconSize(picture.deviceIndependentSize().toSize());
    set_back_colour(b, light_grey_colour);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h)
{
    auto* lab = place(new QLabel(caption, parent), l, t, w, h);
    lab->setObjectName(QString::fromLatin1(name));
    lab->setTextFormat(Qt::PlainText);
    return lab;
}

QLineEdit* text_box(QWidget* parent, const char* name, int l, int t, int w, int h, bool fixed_pitch = false)
{
    auto* e = place(new QLineEdit(parent), l, t, w, h);
    e->setObjectName(QString::fromLatin1(name));
    if (fixed_pitch) {
        QFont f = font_of("Courier New", 9.75);
        f.setStyleHint(QFont::TypeWriter);
        e->setFont(f);
    }
    return e;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h)
{
    auto* g = place(new QGroupBox(caption, parent), l, t, w, h);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}

QRadioButton* option(QWidget* parent, QButtonGroup* group, int index, const QString& name,
                     const QString& caption, int l, int t, int w, int h)
{
    auto* r = place(new QRadioButton(caption, parent), l, t, w, h);
    r->setObjectName(name);
    group->addButton(r, index);
    return r;
}

// A scroll bar turns its keys round (Right lowers the value of a horizontal one); a slider's keys
// move the value the way its own arrows do: Right and Up raise it, Page Up by 10. The mouse wheel
// keeps the scroll bar's direction.
class Slider : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        setInvertedControls(false);
        QScrollBar::keyPressEvent(event);
        setInvertedControls(true);
    }
};

QScrollBar* slider(QWidget* parent, const QString& name, int maximum, int l, int t, int w, int h)
{
    auto* s = place(new Slider(Qt::Horizontal, parent), l, t, w, h);
    s->setObjectName(name);
    s->setRange(0, maximum);
    s->setSingleStep(1);
    s->setPageStep(10);
    // One value per click or per released drag: the device gets nothing while the thumb moves.
    s->setTracking(false);
    // Reachable with Tab, so the arrow keys can move it without a mouse.
    s->setFocusPolicy(Qt::StrongFocus);
    return s;
}

// A picture that keeps its colours in a disabled frame. Qt greys the picture of a disabled label;
// the start hint lies in the routing panel, which is disabled until the device reports that it is
// on, and is the cue that must stand out just then.
class FixedColourPicture : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        style()->drawItemPixmap(&p, contentsRect(), int(alignment()), pixmap());
    }
};

QString indexed_name(const char* base, int i) { return QStringLiteral("%1(%2)").arg(QLatin1String(base)).arg(i); }

// A control that shows only a picture gets a name for screen readers and the same words as tooltip.
void describe(QWidget* w, const QString& name, const QString& what)
{
    w->setAccessibleName(name);
    w->setAccessibleDescription(what);
    w->setToolTip(what);
}

// Tab moves through the window as it is read: row by row from the top, left to right in a row.
// Controls whose tops lie within kRowTolerance pixels of a row's first control share its row.
constexpr int kRowTolerance = 10;

void set_reading_tab_order(QWidget* window)
{
    struct Stop {
        QWidget* w;
        QPoint at;
    };
    std::vector<Stop> stops;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || w->focusProxy() || w->window() != window) continue;
        // Parts of compound controls (a combo box's line edit ...) follow their owner.
        if (w->parentWidget() != window && w->parentWidget()->focusPolicy() != Qt::NoFocus) continue;
        stops.push_back({w, w->mapTo(window, QPoint(0, 0))});
    }
    std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) { return a.at.y() < b.at.y(); });
    for (size_t first = 0; first < stops.size();) {
        size_t end = first + 1;
        while (end < stops.size() && stops[end].at.y() <= stops[first].at.y() + kRowTolerance) ++end;
        std::stable_sort(stops.begin() + long(first), stops.begin() + long(end),
                         [](const Stop& a, const Stop& b) { return a.at.x() < b.at.x(); });
        first = end;
    }
    for (size_t i = 1; i < stops.size(); ++i) QWidget::setTabOrder(stops[i - 1].w, stops[i].w);
}

// Room for a caption inside its control, in pixels of the window.
int caption_room(QWidget* w)
{
    QStyle* s = w->style();
    if (qobject_cast<QRadioButton*>(w))
        return w->width() - s->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w)
               - s->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
    if (qobject_cast<QPushButton*>(w)) return w->width() - 2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    // A label's box may reach under the control to its right (a slider, a text box): its text
    // ends before that control.
    int room = w->width();
    for (QObject* o : w->parentWidget()->children()) {
        auto* sibling = qobject_cast<QWidget*>(o);
        if (!sibling || sibling == w || sibling->isWindow() || sibling->isHidden()
            || sibling->testAttribute(Qt::WA_TransparentForMouseEvents))
            continue;
        const QRect g = sibling->geometry();
        if (g.intersects(w->geometry()) && g.left() > w->x()) room = std::min(room, g.left() - w->x() - 1);
    }
    return room;
}

// Where Arial or Verdana is missing the system puts a wider font in its place, and a caption that
// fits in the design would be cut off. Such a caption gets its font a little smaller instead; the
// places and sizes of the controls stay as designed.
void fit_captions(QWidget* window)
{
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        if (text.isEmpty()) continue;
        QFont f = w->font();
        const int room = caption_room(w);
        while (QFontMetrics(f).horizontalAdvance(text) > room && f.pointSizeF() > 6.5) f.setPointSizeF(f.pointSizeF() - 0.25);
        if (f != w->font()) w->setFont(f);
    }
}

} // namespace

void MainControls::setupUi(QWidget* frm_main)
{
    QWidget* const w = frm_main;
    // First: Qt may ask for the controls' accessible interfaces while they are being built.
    mark_as_frame(w);
    w->setObjectName(QStringLiteral("frm_main"));
    w->setWindowTitle(QStringLiteral("Tavrion"));
    w->setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                      | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                      | Qt::WindowCloseButtonHint);
    w->setFont(font_of("Arial", 9.75));
    w->setFixedSize(px(12405), px(6405));

    // ---- routing panel (created first: the Interface frame and "Keyboard" lie on top of it) ----
    fra_btn = place(new QWidget(w), 1350, 90, 11025, 2115);
    fra_btn->setObjectName(QStringLiteral("fra_btn"));
    fra_btn->setEnabled(false);

    const char* out_captions[] = {"A", "B", "C", "D"};
    for (int n = 1; n <= 4; ++n) {
        auto* o = button(fra_btn, "", QString::fromLatin1(out_captions[n - 1]), 2550 + 1140 * (n - 1), 510, 1100, 495);
        o->setObjectName(indexed_name("cmd_out", n));
        o->setFont(font_of("Verdana", 14.25, true));
        set_back_colour(o, light_grey_colour);
        cmd_out.set(n, o);
        auto* i = button(fra_btn, "", QString::number(n), 2550 + 1140 * (n - 1), 1560, 1100, 495);
        i->setObjectName(indexed_name("cmd_inp", n));
        i->setFont(font_of("Verdana", 14.25, true));
        set_back_colour(i, light_grey_colour);
        cmd_inp.set(n, i);
    }

    // The sixteen routing lines: output X's array, element n ends on input n's button.
    struct Ends { int x1, y1, x2, y2; };
    const Ends ends[4][4] = {
        {{3090, 1050, 3090, 1560}, {3090, 1080, 4080, 1560}, {3090, 1080, 5130, 1560}, {3300, 1080, 6330, 1560}},
        {{4320, 1080, 3300, 1560}, {4320, 1050, 4320, 1560}, {4320, 1080, 5340, 1560}, {4320, 1080, 6330, 1560}},
        {{5340, 1050, 3300, 1560}, {5280, 1080, 4320, 1560}, {5340, 1050, 5340, 1560}, {5340, 1080, 6330, 1560}},
        {{6330, 1050, 3300, 1560}, {6330, 1050, 4320, 1560}, {6330, 1080, 5310, 1560}, {6330, 1050, 6330, 1560}},
    };
    const QColor line_colours[4] = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};
    Indexed<LineShape, 1, 4>* arrays[4] = {&line_a, &line_b, &line_c, &line_d};
    const char* line_names[4] = {"line_a", "line_b", "line_c", "line_d"};
    for (int o = 0; o < 4; ++o)
        for (int n = 1; n <= 4; ++n) {
            const Ends& e = ends[o][n - 1];
            auto* l = new LineShape(fra_btn, e.x1, e.y1, e.x2, e.y2, line_colours[o]);
            l->setObjectName(indexed_name(line_names[o], n));
            arrays[o]->set(n, l);
        }

    const char* mode_captions[] = {"Matrix", "Dual", "TV Wall"};
    const int mode_lefts[] = {2550, 4050, 5580};
    const int mode_widths[] = {1485, 1515, 1485};
    for (int m = 1; m <= 3; ++m) {
        auto* b = button(fra_btn, "", QString::fromLatin1(mode_captions[m - 1]), mode_lefts[m - 1], 0, mode_widths[m - 1], 435);
        b->setObjectName(indexed_name("cmd_mode", m));
        b->setFont(font_of("Arial", 12, true));
        cmd_mode.set(m, b);
    }

    cmd_mute = picture_button(fra_btn, "cmd_mute", design_speaker(QSize(46, 32)), 0, 360, 735, 525);
    cmd_menu_up = picture_button(fra_btn, "cmd_menu_up", design_menu_key(MenuGlyph::Up), 780, 360, 735, 525);
    cmd_lock = picture_button(fra_btn, "cmd_lock", design_lock_word(QSize(46, 32)), 1560, 360, 735, 525);
    cmd_menu_left = picture_button(fra_btn, "cmd_menu_left", design_menu_key(MenuGlyph::Left), 0, 930, 735, 555);
    cmd_menu_ok = picture_button(fra_btn, "cmd_menu_ok", design_menu_key(MenuGlyph::Ok), 780, 930, 735, 555);
    cmd_menu_right = picture_button(fra_btn, "cmd_menu_right", design_menu_key(MenuGlyph::Right), 1560, 930, 735, 555);
    cmd_menu_exit = picture_button(fra_btn, "cmd_menu_exit", design_menu_key(MenuGlyph::Exit), 0, 1530, 735, 525);
    cmd_menu_down = picture_button(fra_btn, "cmd_menu_down", design_menu_key(MenuGlyph::Down), 780, 1530, 735, 525);
    cmd_menu_menu = picture_button(fra_btn, "cmd_menu_menu", design_menu_key(MenuGlyph::Menu), 1560, 1530, 735, 525);

    lab_reso_out = label(fra_btn, "lab_reso_out", QStringLiteral("Output Resolution"), 7230, 1770, 1575, 315);
    cbo_output = place(new QComboBox(fra_btn), 8880, 1710, 2055, 375);
    cbo_output->setObjectName(QStringLiteral("cbo_output"));
    cbo_output->setEditable(false);

    img_start = place(new FixedColourPicture(fra_btn), 30, 0, 170 * kTwipsPerPixel, 13 * kTwipsPerPixel);
    img_start->setObjectName(QStringLiteral("img_start"));
    img_start->setPixmap(design_start_hint());

    // ---- window level, compact strip ------------------------------------------------------------
    cmd_refresh = button(w, "cmd_refresh", QStringLiteral("Refresh"), 60, 60, 1100, 405);
    cmd_keypad = button(w, "cmd_keypad", QStringLiteral("Keyboard"), 1350, 60, 2295, 345);
    cmd_keypad->hide();
    cmd_pwr = picture_button(w, "cmd_pwr", design_power_symbol(QSize(60, 33)), 60, 1140, 1100, 585);
    cmd_advance = button(w, "cmd_advance", QStringLiteral("Advanced"), 60, 1740, 1095, 405);

    fra_rs232 = frame(w, "fra_rs232", QStringLiteral("Interface"), 8550, 0, 3795, 1695);
    auto* interface_group = new QButtonGroup(w);
    opt_interface.set(0, option(fra_rs232, interface_group, 0, QStringLiteral("opt_interface(0)"), QStringLiteral("RS-232"), 150, 300, 1095, 255));
    opt_interface.set(1, option(fra_rs232, interface_group, 1, QStringLiteral("opt_interface(1)"), QStringLiteral("Ethernet"), 1290, 300, 1215, 255));
    cmd_conn = button(fra_rs232, "cmd_conn", QStringLiteral("Connect"), 120, 630, 1215, 405);
    cmd_conn_eth = button(fra_rs232, "cmd_conn_eth", QStringLiteral("Connect"), 120, 630, 1215, 405);
    cmd_disconn = button(fra_rs232, "cmd_disconn", QStringLiteral("Disconnect"), 1350, 630, 1215, 405);
    cmd_disconn_eth = button(fra_rs232, "cmd_disconn_eth", QStringLiteral("Disconnect"), 1350, 630, 1215, 405);
    for (auto* b : {cmd_conn, cmd_conn_eth, cmd_disconn, cmd_disconn_eth}) b->hide();
    cmd_disconn_eth->setEnabled(false);
    cbo_com = place(new QComboBox(fra_rs232), 120, 1110, 1215, 375);
    cbo_com->setObjectName(QStringLiteral("cbo_com"));
    cbo_com->hide();
    lab_ip = label(fra_rs232, "lab_ip", QStringLiteral("IP :"), 120, 1200, 360, 255);
    lab_ip->hide();
    txt_ip = text_box(fra_rs232, "txt_ip", 480, 1140, 1965, 345, true);
    txt_ip->hide();
    lab_eth_state = label(fra_rs232, "lab_eth_state", QStringLiteral("Connecting..."), 2520, 1170, 1215, 255);
    {
        QPalette p = lab_eth_state->palette();
        p.setColor(QPalette::WindowText, QColor(255, 0, 0));
        lab_eth_state->setPalette(p);
    }
    lab_eth_state->hide();

    // ---- expanded area ---------------------------------------------------------------------------
    fra_dual_a = frame(w, "fra_dual_a", QStringLiteral("Dual A Audio"), 60, 2430, 1785, 735);
    fra_dual_b = frame(w, "fra_dual_b", QStringLiteral("Dual B Audio"), 60, 3270, 1785, 735);
    auto* da_group = new QButtonGroup(w);
    auto* db_group = new QButtonGroup(w);
    opt_da.set(1, option(fra_dual_a, da_group, 1, QStringLiteral("opt_da(1)"), QStringLiteral("Left"), 120, 300, 765, 315));
    opt_da.set(2, option(fra_dual_a, da_group, 2, QStringLiteral("opt_da(2)"), QStringLiteral("Right"), 900, 300, 765, 315));
    opt_db.set(1, option(fra_dual_b, db_group, 1, QStringLiteral("opt_db(1)"), QStringLiteral("Left"), 120, 300, 765, 315));
    opt_db.set(2, option(fra_dual_b, db_group, 2, QStringLiteral("opt_db(2)"), QStringLiteral("Right"), 900, 300, 765, 315));

    fra_bezel = frame(w, "fra_bezel", QStringLiteral("Bezel Correction"), 1980, 2430, 2385, 1575);
    auto* bezel_group = new QButtonGroup(w);
    opt_bezel_onoff.set(1, option(fra_bezel, bezel_group, 1, QStringLiteral("opt_bezel_onoff(1)"), QStringLiteral("On"), 120, 270, 615, 315));
    opt_bezel_onoff.set(0, option(fra_bezel, bezel_group, 0, QStringLiteral("opt_bezel_onoff(0)"), QStringLiteral("Off"), 780, 270, 615, 315));
    lab_bezel_h = label(fra_bezel, "lab_bezel_h", QStringLiteral("H Correction"), 120, 660, 1155, 375);
    // The value box lies over the middle of its slider, leaving the two arrows free.
    hsr_bezel_h = slider(fra_bezel, QStringLiteral("hsr_bezel_h"), 254, 1230, 600, 1035, 375);
    txt_bezel_h = text_box(fra_bezel, "txt_bezel_h", 1470, 600, 555, 375);
    lab_bezel_v = label(fra_bezel, "lab_bezel_v", QStringLiteral("V Correction"), 120, 1110, 1155, 375);
    hsr_bezel_v = slider(fra_bezel, QStringLiteral("hsr_bezel_v"), 254, 1230, 1080, 1035, 375);
    txt_bezel_v = text_box(fra_bezel, "txt_bezel_v", 1470, 1080, 555, 375);

    fra_pic = frame(w, "fra_pic", QStringLiteral("Picture"), 4410, 2430, 7965, 2685);
    {
        QPalette p = fra_pic->palette();
        p.setColor(QPalette::Window, QColor(128, 128, 128));
        // The four property frames cover this frame's own caption; lab_pic shows "Picture" in its
        // place. Qt draws child frames without hiding the parent's title, so the title is painted
        // in the background colour and the children get the normal text colour back.
        p.setColor(QPalette::WindowText, QColor(128, 128, 128));
        fra_pic->setPalette(p);
        fra_pic->setAutoFillBackground(true);
    }
    QPalette property_palette = fra_pic->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        property_palette.setColor(g, QPalette::WindowText, w->palette().color(g, QPalette::WindowText));
    struct Property {
        const char* frame_name;
        const char* caption;
        int left;
        QGroupBox** frame;
        Indexed<QLabel, 1, 4>* labels;
        Indexed<QScrollBar, 1, 4>* sliders;
        Indexed<QLineEdit, 1, 4>* boxes;
        const char* lab;
        const char* hsr;
        const char* txt;
    };
    const Property properties[] = {
        {"fra_con", "Contrast", 120, &fra_con, &lab_con, &hsr_con, &txt_con, "lab_con", "hsr_con", "txt_con"},
        {"fra_bri", "Brightness", 2070, &fra_bri, &lab_bri, &hsr_bri, &txt_bri, "lab_bri", "hsr_bri", "txt_bri"},
        {"fra_sat", "Saturation", 4020, &fra_sat, &lab_sat, &hsr_sat, &txt_sat, "lab_sat", "hsr_sat", "txt_sat"},
        {"fra_hue", "Hue", 5970, &fra_hue, &lab_hue, &hsr_hue, &txt_hue, "lab_hue", "hsr_hue", "txt_hue"},
    };
    const char* row_captions[] = {"Out A", "Out B", "Out C", "Out D"};
    for (const Property& pr : properties) {
        QGroupBox* f = frame(fra_pic, pr.frame_name, QString::fromLatin1(pr.caption), pr.left, 60, 1845, 2175);
        f->setPalette(property_palette);
        *pr.frame = f;
        for (int n = 1; n <= 4; ++n) {
            const int top = 300 + 450 * (n - 1);
            auto* lab = label(f, "", QString::fromLatin1(row_captions[n - 1]), 60, 360 + 450 * (n - 1), 645, 375);
            lab->setObjectName(indexed_name(pr.lab, n));
            pr.labels->set(n, lab);
            pr.sliders->set(n, slider(f, indexed_name(pr.hsr, n), 100, 690, top, 1035, 375));
            auto* box = text_box(f, "", 930, top, 555, 375);
            box->setObjectName(indexed_name(pr.txt, n));
            pr.boxes->set(n, box);
        }
    }
    cmd_pic_reset = button(fra_pic, "cmd_pic_reset", QStringLiteral("Reset"), 5640, 2310, 1100, 345);
    cmd_pic_refresh = button(fra_pic, "cmd_pic_refresh", QStringLiteral("Refresh"), 6750, 2310, 1100, 345);
    lab_pic = label(w, "lab_pic", QStringLiteral("Picture"), 4920, 2340, 645, 315);
    {
        QPalette p = lab_pic->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        p.setColor(QPalette::Window, QColor(128, 128, 128));
        lab_pic->setPalette(p);
        lab_pic->setAutoFillBackground(true);
    }

    fra_audio = frame(w, "fra_audio", QStringLiteral("Audio EDID"), 60, 4080, 2475, 1035);
    auto* audio_group = new QButtonGroup(w);
    opt_audio.set(0, option(fra_audio, audio_group, 0, QStringLiteral("opt_audio(0)"), QStringLiteral("2CH"), 90, 270, 765, 315));
    opt_audio.set(1, option(fra_audio, audio_group, 1, QStringLiteral("opt_audio(1)"), QStringLiteral("6CH"), 870, 270, 765, 315));
    opt_audio.set(2, option(fra_audio, audio_group, 2, QStringLiteral("opt_audio(2)"), QStringLiteral("8CH"), 1680, 270, 675, 315));
    opt_audio.set(3, option(fra_audio, audio_group, 3, QStringLiteral("opt_audio(3)"), QStringLiteral("Bitstream"), 90, 630, 1305, 315));
    opt_audio.set(4, option(fra_audio, audio_group, 4, QStringLiteral("opt_audio(4)"), QStringLiteral("HD"), 1680, 630, 765, 315));

    cmd_fact_reset = button(w, "cmd_fact_reset", QStringLiteral("Factory Reset"), 2670, 4080, 1695, 525);
    cmd_ver = button(w, "cmd_ver", QStringLiteral("F/W Ver"), 2670, 4680, 1035, 435);
    set_back_colour(cmd_ver, light_grey_colour);
    txt_ver = text_box(w, "txt_ver", 3750, 4680, 615, 435);

    fra_recall_save = frame(w, "fra_recall_save", QStringLiteral("Recall / Save"), 60, 5190, 7755, 1095);
    for (int n = 1; n <= 4; ++n) {
        auto* r = button(fra_recall_save, "", QStringLiteral("Recall %1").arg(n), 90 + 930 * (n - 1), 420, 915, 435);
        r->setObjectName(indexed_name("cmd_recall", n));
        cmd_recall.set(n, r);
        auto* s = button(fra_recall_save, "", QStringLiteral("Save %1").arg(n), 3960 + 930 * (n - 1), 420, 915, 435);
        s->setObjectName(indexed_name("cmd_save", n));
        cmd_save.set(n, s);
    }

    cmd_get_ip = button(w, "cmd_get_ip", QStringLiteral("Get IP"), 7980, 5160, 1100, 375);
    cmd_get_ip->setEnabled(false);
    lab_inq_ip = label(w, "lab_inq_ip", QStringLiteral("IP"), 9540, 5220, 315, 315);
    txt_get_ip = text_box(w, "txt_get_ip", 9810, 5160, 1965, 345, true);
    Label1 = label(w, "Label1", QStringLiteral("Subnet Mask"), 8580, 5580, 1395, 315);
    txt_get_mask = text_box(w, "txt_get_mask", 9810, 5550, 1965, 345, true);
    Label3 = label(w, "Label3", QStringLiteral("Gate Way"), 8850, 5940, 1035, 315);
    txt_get_gate = text_box(w, "txt_get_gate", 9810, 5940, 1965, 345, true);

    // The command log lies below the client area: kept, not seen.
    txt_cmd = place(new QPlainTextEdit(w), 150, 6600, 11415, 1125);
    txt_cmd->setObjectName(QStringLiteral("txt_cmd"));
    {
        QFont f = font_of("Courier New", 9.75);
        f.setStyleHint(QFont::TypeWriter);
        txt_cmd->setFont(f);
    }
    txt_cmd->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txt_cmd->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Nothing in the log is ever undone; an undo stack would record every entry.
    txt_cmd->setUndoRedoEnabled(false);
    cmd_clear = button(w, "cmd_clear", QString(QChar(0x6E05)), 11640, 6600, 645, 555);
    cmd_clear->setAccessibleName(QStringLiteral("Clear the command log"));
    // Both lie below the window: Tab must not take the focus out of sight.
    txt_cmd->setFocusPolicy(Qt::NoFocus);
    cmd_clear->setFocusPolicy(Qt::NoFocus);

    for (QGroupBox* f : {fra_dual_a, fra_dual_b, fra_bezel, fra_pic, fra_audio, fra_recall_save}) f->setEnabled(false);

    // ---- names and tooltips of the picture-only controls ----------------------------------------
    describe(cmd_pwr, QStringLiteral("Power"), QStringLiteral("Power: switch the device on or to standby"));
    describe(cmd_lock, QStringLiteral("Front-panel lock"), QStringLiteral("Lock: lock or unlock the device's front-panel keys"));
    describe(cmd_mute, QStringLiteral("Audio output"), QStringLiteral("Speaker: switch the device's audio output on or off"));
    describe(cmd_menu_up, QStringLiteral("Menu up"), QStringLiteral("Up: move up in the device's on-screen menu"));
    describe(cmd_menu_down, QStringLiteral("Menu down"), QStringLiteral("Down: move down in the device's on-screen menu"));
    describe(cmd_menu_left, QStringLiteral("Menu left"), QStringLiteral("Left: move left or lower a value in the device's on-screen menu"));
    describe(cmd_menu_right, QStringLiteral("Menu right"), QStringLiteral("Right: move right or raise a value in the device's on-screen menu"));
    describe(cmd_menu_ok, QStringLiteral("Menu OK"), QStringLiteral("OK: confirm the selected item of the device's on-screen menu"));
    describe(cmd_menu_menu, QStringLiteral("Menu"), QStringLiteral("Menu: open the device's on-screen menu"));
    describe(cmd_menu_exit, QStringLiteral("Menu exit"), QStringLiteral("Exit: leave the device's on-screen menu"));
    describe(img_start, QStringLiteral("Click Refresh to START !"),
             QStringLiteral("Press Refresh to read the device's state and enable the panel"));

    name_controls(*this);
    set_reading_tab_order(w);
    fit_captions(w);
}

} // namespace tavrion
