#include "panel/state_pictures.h"

#include <QDir>
#include <QPixmap>
#include <QPushButton>

namespace tavrion {

QString StatePictures::path(const QString& name) const
{
    return QDir(program_dir_).filePath(QStringLiteral("bmp/") + name);
}

bool StatePictures::show(QPushButton* button, const QString& name) const
{
    if (!button) return false;
    const QString file = path(name);
    if (file.isEmpty()) return false;
    const QPixmap picture(file);
    if (picture.isNull()) return false; // missing or unreadable: the button keeps its picture
    button->setIcon(QIcon(picture));
    button->setIconSize(picture.size());
    button->setProperty("picture", name);
    return true;
}

} // namespace tavrion
