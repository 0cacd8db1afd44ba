// Message boxes of the panel: caption "Tavrion", an OK button, plain text. Tests record them
// through the same interface instead of showing them.
#pragma once

#include <QString>

class QWidget;

namespace tavrion {

enum class BoxIcon { None, Critical, Exclamation };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString& text, BoxIcon icon) = 0;
};

class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text, BoxIcon icon) override;

private:
    QWidget* parent_;
};

} // namespace tavrion
