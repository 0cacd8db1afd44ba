// The focus stays with a control while a command has it disabled, or comes back to it after.
#include "panel/focus_keeper.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace tavrion {

FocusKeeper::FocusKeeper(QWidget* window) : QObject(window), window_(window)
{
    connect(qApp, &QApplication::focusChanged, this, &FocusKeeper::focus_changed);
}

bool FocusKeeper::keeps_focus() const
{
    // Qt asks the window for the next control right after it disabled the one with the focus; at
    // no other time is a disabled control the focus widget when the window is asked, except when
    // the user presses Tab away from it.
    const QWidget* f = window_->focusWidget();
    return !tabbing_ && f && !f->isEnabled() && f->isVisible();
}

void FocusKeeper::focus_changed(QWidget* old, QWidget* now)
{
    if (now) {
        if (lost_) lost_->removeEventFilter(this);
        lost_ = nullptr;
        return;
    }
    // The focus went nowhere: a frame was disabled under the control that had it.
    if (old && old->window() == window_ && !old->isEnabled()) {
        lost_ = old;
        old->installEventFilter(this);
    }
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && watched == lost_ && lost_->isEnabled()) {
        QWidget* back = lost_;
        back->removeEventFilter(this);
        lost_ = nullptr;
        if (!window_->focusWidget() && back->isVisible()) back->setFocus(Qt::OtherFocusReason);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tavrion
