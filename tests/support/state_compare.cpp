#include "support/state_compare.h"

#ifdef TAVRION_HAVE_SIM

#include "panel/line_shape.h"
#include "panel/colours.h"
#include "support/features.h"
#include "sim/device_model.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion::test {

namespace {

QString picture_of(const QPushButton* b) { return b->property("picture").toString(); }

// Own enabled flag, whatever the frames around the control say.
bool own_enabled(const QWidget* w) { return !w->testAttribute(Qt::WA_ForceDisabled); }

QString yes_no(bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); }

class Diff {
public:
    void text(const QString& what, const QString& shown, const QString& device)
    {
        if (shown != device)
            out << QStringLiteral("%1: shows \"%2\", device \"%3\"").arg(what, shown, device);
    }
    void number(const QString& what, int shown, int device)
    {
        if (shown != device) out << QStringLiteral("%1: shows %2, device %3").arg(what).arg(shown).arg(device);
    }
    void flag(const QString& what, bool shown, bool device) { text(what, yes_no(shown), yes_no(device)); }
    QStringList out;
};

// The index of the one checked button of an option group; -1 for none, -2 for several.
template <typename Group>
int checked_index(const Group& group, int lo, int hi)
{
    int found = -1;
    for (int i = lo; i <= hi; ++i)
        if (group(i) && group(i)->isChecked()) found = found == -1 ? i : -2;
    return found;
}

// The indexes of the buttons of a row that carry the selection colour, as text ("2", "", "1,3").
template <typename Row>
QString highlighted(const Row& row, int lo, int hi)
{
    QStringList on;
    for (int i = lo; i <= hi; ++i)
        if (back_colour(row(i)) == selection_colour) on << QString::number(i);
    return on.join(QLatin1Char(','));
}

// The value box of a slider: the replies write a blank in the sign position.
int box_number(const QLineEdit* box)
{
    bool ok = false;
    const int v = box->text().trimmed().toInt(&ok);
    return ok ? v : -1;
}

void compare_picture(Diff& d, FrmMain& w, const tavrion_sim::DeviceState& dev)
{
    struct Property {
        const char* name;
        const Indexed<QScrollBar, 1, 4>& sliders;
        const Indexed<QLineEdit, 1, 4>& boxes;
        const std::array<int, 4>& values;
    };
    const Property properties[] = {
        {"bri", w.hsr_bri, w.txt_bri, dev.brightness},
        {"con", w.hsr_con, w.txt_con, dev.contrast},
        {"hue", w.hsr_hue, w.txt_hue, dev.hue},
        {"sat", w.hsr_sat, w.txt_sat, dev.saturation},
    };
    for (const Property& p : properties) {
        const QString name = QString::fromLatin1(p.name);
        for (int row = 1; row <= 4; ++row) {
            const QString at = QStringLiteral("(%1)").arg(row);
            QScrollBar* s = p.sliders(row);
            QLineEdit* box = p.boxes(row);
            if (dev.mode == 1 && row > 1) {
                // Matrix has one value for all outputs, in the first row; the others are blank.
                d.flag(QStringLiteral("hsr_") + name + at + QStringLiteral(" enabled"), own_enabled(s), false);
                d.text(QStringLiteral("txt_") + name + at, box->text(), QString());
                continue;
            }
            d.flag(QStringLiteral("hsr_") + name + at + QStringLiteral(" enabled"), own_enabled(s), true);
            d.number(QStringLiteral("hsr_") + name + at, s->value(), p.values[size_t(row - 1)]);
            d.number(QStringLiteral("txt_") + name + at, box_number(box), p.values[size_t(row - 1)]);
        }
    }
}

} // namespace

QStringList window_differences(FrmMain& w, const tavrion_sim::DeviceState& dev)
{
    Diff d;

    const std::string v = tavrion_sim::DeviceModel::pad3(dev.version);
    d.text(QStringLiteral("txt_ver"), w.txt_ver->text(),
           QString::fromStdString(v.substr(0, 1) + "." + v.substr(1, 2)));

    d.number(QStringLiteral("power_state"), w.device_state().power_state, dev.power_on ? 1 : 0);
    d.text(QStringLiteral("cmd_pwr picture"), picture_of(w.cmd_pwr),
           dev.power_on ? QStringLiteral("power_on.bmp") : QStringLiteral("power_standby.bmp"));
    d.number(QStringLiteral("lock_state"), w.device_state().lock_state, dev.locked ? 1 : 0);
    d.text(QStringLiteral("cmd_lock picture"), picture_of(w.cmd_lock),
           dev.locked ? QStringLiteral("lock.bmp") : QStringLiteral("unlock.bmp"));

    const std::pair<const char*, QWidget*> gated[] = {
        {"fra_btn", w.fra_btn}, {"fra_recall_save", w.fra_recall_save}, {"fra_pic", w.fra_pic},
        {"fra_audio", w.fra_audio}, {"fra_dual_a", w.fra_dual_a}, {"fra_dual_b", w.fra_dual_b},
        {"fra_bezel", w.fra_bezel}};
    for (const auto& [name, frame] : gated) {
        bool expected = dev.power_on;
        if (frame == w.fra_dual_a || frame == w.fra_dual_b) expected = expected && dev.mode == 2;
        if (frame == w.fra_bezel) expected = expected && dev.mode == 3;
        d.flag(QLatin1String(name) + QStringLiteral(" enabled"), own_enabled(frame), expected);
    }
    if (!dev.power_on) return d.out;

    // Audio.
    d.number(QStringLiteral("audio_state"), w.device_state().audio_state, dev.audio_on ? 1 : 0);
    d.text(QStringLiteral("cmd_mute picture"), picture_of(w.cmd_mute),
           dev.audio_on ? QStringLiteral("speaker_on.bmp") : QStringLiteral("speaker_off.bmp"));
    d.number(QStringLiteral("opt_audio checked"), checked_index(w.opt_audio, 0, 4), dev.audio_edid);
    d.number(QStringLiteral("opt_da checked"), checked_index(w.opt_da, 1, 2), dev.dual_a_audio);
    d.number(QStringLiteral("opt_db checked"), checked_index(w.opt_db, 1, 2), dev.dual_b_audio);

    // Bezel.
    d.number(QStringLiteral("opt_bezel_onoff checked"), checked_index(w.opt_bezel_onoff, 0, 1), dev.bezel_on ? 1 : 0);
    d.number(QStringLiteral("hsr_bezel_h maximum"), w.hsr_bezel_h->maximum(), dev.bezel_h_max);
    d.number(QStringLiteral("hsr_bezel_h"), w.hsr_bezel_h->value(), dev.bezel_h);
    d.number(QStringLiteral("txt_bezel_h"), box_number(w.txt_bezel_h), dev.bezel_h);
    d.flag(QStringLiteral("hsr_bezel_h enabled"), own_enabled(w.hsr_bezel_h), dev.bezel_on);
    d.number(QStringLiteral("hsr_bezel_v maximum"), w.hsr_bezel_v->maximum(), dev.bezel_v_max);
    d.number(QStringLiteral("hsr_bezel_v"), w.hsr_bezel_v->value(), dev.bezel_v);
    d.number(QStringLiteral("txt_bezel_v"), box_number(w.txt_bezel_v), dev.bezel_v);
    d.flag(QStringLiteral("hsr_bezel_v enabled"), own_enabled(w.hsr_bezel_v), dev.bezel_on);

    // Resolution: list position p is resolution p + 1.
    d.number(QStringLiteral("cbo_output resolution"), w.cbo_output->currentIndex() + 1, dev.resolution);

    // Mode and its layout.
    d.number(QStringLiteral("display_mode"), w.device_state().display_mode, dev.mode);
    d.text(QStringLiteral("cmd_mode highlight"), highlighted(w.cmd_mode, 1, 3), QString::number(dev.mode));
    static const char* const captions[4][4] = {
        {}, {"A", "B", "C", "D"}, {"AL", "AR", "BL", "BR"}, {"", "", "", ""}};
    static const char* const row_labels[4][4] = {
        {}, {"ALL", "", "", ""}, {"AL", "AR", "BL", "BR"}, {"Out A", "Out B", "Out C", "Out D"}};
    if (dev.mode >= 1 && dev.mode <= 3)
        for (int n = 1; n <= 4; ++n) {
            d.text(QStringLiteral("cmd_out(%1) caption").arg(n), w.cmd_out(n)->text(),
                   QLatin1String(captions[dev.mode][n - 1]));
            const std::pair<const char*, QLabel*> labels[] = {
                {"lab_bri", w.lab_bri(n)}, {"lab_con", w.lab_con(n)}, {"lab_hue", w.lab_hue(n)}, {"lab_sat", w.lab_sat(n)}};
            for (const auto& [name, label] : labels)
                d.text(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(n), label->text(),
                       QLatin1String(row_labels[dev.mode][n - 1]));
        }

    // Routing: the current output and its input, and one line per output outside TV Wall.
    d.number(QStringLiteral("cur_output"), w.device_state().cur_output, dev.current_output);
    d.text(QStringLiteral("cmd_out highlight"), highlighted(w.cmd_out, 1, 4), QString::number(dev.current_output));
    const int current_input = dev.current_output >= 1 && dev.current_output <= 4
        ? dev.routes[size_t(dev.current_output - 1)] : -1;
    d.number(QStringLiteral("cur_input"), w.device_state().cur_input, current_input);
    d.text(QStringLiteral("cmd_inp highlight"), highlighted(w.cmd_inp, 1, 4), QString::number(current_input));
    for (int o = 1; o <= 4; ++o) {
        QStringList shown;
        for (int i = 1; i <= 4; ++i)
            if (LineShape* l = w.routing().routing_line(o, i); l && !l->isHidden()) shown << QString::number(i);
        const QString expected = dev.mode == 3 ? QString() : QString::number(dev.routes[size_t(o - 1)]);
        d.text(QStringLiteral("routing lines of output %1").arg(o), shown.join(QLatin1Char(',')), expected);
    }

    if (w.flags().advanced_view) compare_picture(d, w, dev);
    return d.out;
}

} // namespace tavrion::test

#endif
