// Keeps the keyboard focus on a control that a running command disables for a while, instead of
// letting Qt hand it to whatever control comes next (a keyboard or screen-reader user would find
// themselves on "RS-232" after Refresh).
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace tavrion {

class FocusKeeper : public QObject {
public:
    explicit FocusKeeper(QWidget* window);

    // For the window's focusNextPrevChild: true while Qt moves the focus away only because the
    // control that has it was disabled; the control then keeps it. Tab and Backtab still move.
    bool keeps_focus() const;
    // Set while the window handles a Tab or Backtab key.
    void set_tabbing(bool on) { tabbing_ = on; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void focus_changed(QWidget* old, QWidget* now);

    QWidget* window_;
    bool tabbing_ = false;
    // A control whose frame was disabled under it: Qt cleared its focus; it gets it back when it
    // is enabled again, unless another control took the focus meanwhile.
    QPointer<QWidget> lost_;
};

} // namespace tavrion
