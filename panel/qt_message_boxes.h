// Message boxes on the screen, modal to the main window.
#pragma once

#include "session/message_boxes.h"

class QWidget;

namespace tavrion {

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text, BoxIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace tavrion
