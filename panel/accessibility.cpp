// Accessible names, buddies and states of the main window's controls, and the interfaces that
// report the states a button shows only by colour or picture.
#include "panel/accessibility.h"

#include "panel/line_shape.h"
#include "panel/main_controls.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

namespace tavrion {

namespace {

const char kShownState[] = "tavrion_shown_state"; // StateMark + 1 on a marked button
const char kShownOn[] = "tavrion_shown_on";
const char kFrame[] = "tavrion_accessible_frame";

// A push button of a marked window. Qt's own button interface knows only the checked state of a
// checkable button, and a checkable button would look pressed; this one reports the state the
// button's colour or picture shows. Interfaces are created on first use (Qt may ask while the
// button is still being built), so the state is read when asked, never copied.
class PanelButton : public QAccessibleWidget {
public:
    explicit PanelButton(QWidget* w) : QAccessibleWidget(w, QAccessible::PushButton) {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? button()->text().remove(QLatin1Char('&')) : name;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->isDown();
        const int kind = widget()->property(kShownState).toInt();
        if (kind != 0) {
            const bool on = shown_on(widget());
            // Checked only, also for the on/off pictures: Linux's bridge announces a change of
            // "checked" but never of "pressed", so a screen reader's cached copy of "pressed"
            // would go stale and contradict it.
            s.checkable = true;
            s.checked = on;
        } else if (button()->isCheckable()) {
            s.checkable = true;
            s.checked = button()->isChecked();
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) names.prepend(pressAction());
        return names;
    }

    void doAction(const QString& action) override
    {
        if (action != pressAction()) return QAccessibleWidget::doAction(action);
        if (widget()->isEnabled()) button()->animateClick();
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

QAccessibleInterface* panel_interfaces(const QString&, QObject* object)
{
    if (!object || !object->isWidgetType()) return nullptr;
    auto* w = static_cast<QWidget*>(object);
    if (w->isWindow()) return w->property(kFrame).toBool() ? new QAccessibleWidget(w, QAccessible::Window) : nullptr;
    if (qobject_cast<QPushButton*>(w) && w->window()->property(kFrame).toBool()) return new PanelButton(w);
    return nullptr;
}

void install_interfaces_once()
{
    static bool installed = false;
    if (installed) return;
    QAccessible::installFactory(panel_interfaces);
    installed = true;
}

void tell(QWidget* w, QAccessible::State changed)
{
    // Unguarded, as Qt's own widgets send theirs: Qt drops it when nobody listens.
    QAccessibleStateChangeEvent event(w, changed);
    QAccessible::updateAccessibility(&event);
}

// Qt announces every setAccessibleName, a name it had already too.
void rename(QWidget* w, const QString& name)
{
    if (w->accessibleName() != name) w->setAccessibleName(name);
}

} // namespace

void mark_as_frame(QWidget* window)
{
    install_interfaces_once();
    window->setProperty(kFrame, true);
}

void mark_state_button(QAbstractButton* b, StateMark kind)
{
    b->setProperty(kShownState, int(kind) + 1);
    b->setProperty(kShownOn, false);
}

bool shown_on(const QWidget* w) { return w && w->property(kShownOn).toBool(); }

void set_shown_on(QWidget* w, StateMark kind, bool on)
{
    if (!w || w->property(kShownState).toInt() != int(kind) + 1 || shown_on(w) == on) return;
    w->setProperty(kShownOn, on);
    QAccessible::State changed;
    changed.checked = true;
    tell(w, changed);
}

void name_outputs(const Indexed<QPushButton, 1, 4>& cmd_out)
{
    // "A" alone reads as a letter, and in TV Wall the buttons have no caption at all.
    for (int n = 1; n <= 4; ++n) {
        const QString caption = cmd_out(n)->text();
        rename(cmd_out(n), QStringLiteral("Output ") + (caption.isEmpty() ? QString(QChar(u'A' + (n - 1))) : caption));
    }
}

void name_picture_rows(const char* property, const Indexed<QLabel, 1, 4>& labels,
                       const Indexed<QScrollBar, 1, 4>& sliders, const Indexed<QLineEdit, 1, 4>& boxes)
{
    const QString what = QString::fromLatin1(property);
    for (int n = 1; n <= 4; ++n) {
        // Rows without a caption (Matrix uses only the first) go by their number.
        const QString row = labels(n)->text().isEmpty() ? QStringLiteral("row %1").arg(n) : labels(n)->text();
        rename(sliders(n), what + QStringLiteral(", ") + row);
        rename(boxes(n), what + QStringLiteral(" value, ") + row);
    }
}

void name_controls(MainControls& c)
{
    for (int n = 1; n <= 4; ++n) {
        for (QPushButton* b : {c.cmd_out(n), c.cmd_inp(n), c.cmd_recall(n), c.cmd_save(n)})
            mark_state_button(b, StateMark::Selection);
        c.cmd_inp(n)->setAccessibleName(QStringLiteral("Input %1").arg(n));
    }
    for (int m = 1; m <= 3; ++m) mark_state_button(c.cmd_mode(m), StateMark::Selection);
    for (QPushButton* b : {c.cmd_pwr, c.cmd_mute, c.cmd_lock}) mark_state_button(b, StateMark::Picture);
    name_from_captions(c);

    // The routing lines appear and vanish with the route; what they join is their name.
    const Indexed<LineShape, 1, 4>* lines[] = {&c.line_a, &c.line_b, &c.line_c, &c.line_d};
    for (int o = 0; o < 4; ++o)
        for (int i = 1; i <= 4; ++i)
            (*lines[o])(i)->setAccessibleName(QStringLiteral("Route from input %1 to output %2").arg(i).arg(QChar(u'A' + o)));

    // Controls that share a caption with others get their frame's caption too.
    c.hsr_bezel_h->setAccessibleName(QStringLiteral("Bezel H Correction"));
    c.txt_bezel_h->setAccessibleName(QStringLiteral("Bezel H Correction value"));
    c.hsr_bezel_v->setAccessibleName(QStringLiteral("Bezel V Correction"));
    c.txt_bezel_v->setAccessibleName(QStringLiteral("Bezel V Correction value"));
    c.opt_da(1)->setAccessibleName(QStringLiteral("Dual A Audio, Left"));
    c.opt_da(2)->setAccessibleName(QStringLiteral("Dual A Audio, Right"));
    c.opt_db(1)->setAccessibleName(QStringLiteral("Dual B Audio, Left"));
    c.opt_db(2)->setAccessibleName(QStringLiteral("Dual B Audio, Right"));
    c.cmd_pic_refresh->setAccessibleName(QStringLiteral("Picture Refresh"));
    // A frame inside a frame takes the outer frame's caption as its name ("Picture" four times),
    // not its own title.
    for (QGroupBox* f : {c.fra_con, c.fra_bri, c.fra_sat, c.fra_hue}) f->setAccessibleName(f->title());
    c.cmd_pic_reset->setAccessibleName(QStringLiteral("Picture Reset"));

    // Fields named by the label beside them; the labels also become their buddies, which is how
    // the Linux bridge relates a list to its label.
    const struct {
        QLabel* label;
        QWidget* field;
        const char* name;
    } labelled[] = {
        {c.lab_inq_ip, c.txt_get_ip, "IP"},
        {c.Label1, c.txt_get_mask, "Subnet Mask"},
        {c.Label3, c.txt_get_gate, "Gate Way"},
        {c.lab_ip, c.txt_ip, "Interface, IP"},
        {c.lab_reso_out, c.cbo_output, "Output Resolution"},
    };
    for (const auto& l : labelled) {
        l.label->setBuddy(l.field);
        l.field->setAccessibleName(QString::fromLatin1(l.name));
    }
    // Fields without a label of their own.
    c.cbo_com->setAccessibleName(QStringLiteral("COM port"));
    // On Linux Qt names a list by its current item ("COM1:") whatever its accessible name, and a
    // screen reader reads the list's label from the label it is related to. The COM list shows
    // none, so it gets one that stays hidden.
    auto* com_label = new QLabel(QStringLiteral("COM port"), c.cbo_com->parentWidget());
    com_label->setObjectName(QStringLiteral("lab_com_a11y"));
    com_label->setTextFormat(Qt::PlainText);
    com_label->hide();
    com_label->setBuddy(c.cbo_com);
    c.txt_ver->setAccessibleName(QStringLiteral("Firmware version"));
    c.txt_cmd->setAccessibleName(QStringLiteral("Command log"));
}

} // namespace tavrion
