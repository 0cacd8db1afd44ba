#include "panel/colours.h"

#include "panel/accessibility.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

namespace tavrion {

namespace {

// Set on a widget whose face shows a colour of its own.
const char kFlatFace[] = "tavrion_flat_face";

// The application's style, except that the face of a button marked kFlatFace is one flat fill of
// its palette's button colour. Fusion paints a gradient lightened and paled from that colour
// ((0, 192, 0) shows as about (61, 233, 61)) and greys it further when disabled; a state colour
// must show as given. The outline, the focus frame and the caption stay the style's own.
class FlatFaceStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_PanelButtonCommand || !widget || !widget->property(kFlatFace).toBool()) return;
        const QColor c = option->palette.color(QPalette::Button);
        const bool down = option->state & (State_Sunken | State_On);
        // Inside the one-pixel outline, which shows the keyboard focus in the highlight colour.
        const QRect face = option->rect.adjusted(1, 1, -1, -1);
        painter->fillRect(face, down ? c.darker(110) : c);
        if ((option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) {
            // A thin blue outline is easily lost against a strong colour: a second line inside it.
            painter->save();
            painter->setRenderHint(QPainter::Antialiasing, false);
            painter->setPen(option->palette.color(QPalette::Highlight).darker(125));
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(face.adjusted(0, 0, -1, -1));
            painter->restore();
        }
    }
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        if (element == CE_PushButtonLabel && !(option->state & State_Enabled) && widget
            && widget->property(kFlatFace).toBool()) {
            // The style's grey for a disabled caption all but vanishes on a light grey face: a
            // darker shade of the face instead, as grey 128 on grey 192.
            if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
                QStyleOptionButton dimmed = *button;
                dimmed.palette.setColor(QPalette::Disabled, QPalette::ButtonText,
                                        option->palette.color(QPalette::Button).darker(150));
                QProxyStyle::drawControl(element, &dimmed, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// One for the whole program, over the application's style, given to each button that gets a
// colour (the buttons of other widgets keep the application's style untouched).
QStyle* flat_face_style()
{
    static QPointer<QStyle> style;
    if (!style) {
        QStyle* base = QStyleFactory::create(QApplication::style()->name());
        style = base ? new FlatFaceStyle(base) : new FlatFaceStyle();
        style->setParent(qApp); // goes with the application, after its windows
    }
    return style;
}

} // namespace

QColor button_face_colour() { return QApplication::palette().color(QPalette::Button); }

void set_back_colour(QWidget* w, const QColor& c)
{
    if (!w) return;
    // A row's selection shows only as this colour: screen readers hear it as "checked".
    set_shown_on(w, StateMark::Selection, c == selection_colour);
    const bool flat = c != button_face_colour();
    if (w->property(kFlatFace).toBool() != flat) {
        w->setProperty(kFlatFace, flat);
        if (flat && w->style() != flat_face_style()) w->setStyle(flat_face_style());
        w->update();
    }
    QPalette p = w->palette();
    if (p.color(QPalette::Button) == c) return;
    p.setColor(QPalette::Button, c);
    w->setPalette(p);
}

QColor back_colour(const QWidget* w) { return w ? w->palette().color(QPalette::Button) : QColor(); }

} // namespace tavrion
