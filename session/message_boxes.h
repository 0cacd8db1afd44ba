// The message boxes of the device session and the window: caption "Tavrion", an OK button, plain
// text. The window shows them with QMessageBox (panel/qt_message_boxes.h); tests record them, and
// the command-line tool prints them.
#pragma once

#include <QString>

namespace tavrion {

enum class BoxIcon { None, Critical, Exclamation };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString& text, BoxIcon icon) = 0;
};

} // namespace tavrion
