#include "panel/qt_message_boxes.h"

#include <QMessageBox>

namespace tavrion {

void QtMessageBoxes::show(const QString& text, BoxIcon icon)
{
    QMessageBox box(parent_);
    box.setWindowTitle(QStringLiteral("Tavrion"));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    switch (icon) {
    case BoxIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case BoxIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case BoxIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    }
    box.exec();
}

} // namespace tavrion
