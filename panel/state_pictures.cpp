#include "panel/state_pictures.h"

#include "panel/accessibility.h"

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
    // What the picture shows, for screen readers: power on, audio output on, front panel locked.
    const bool on = name == QLatin1String("power_on.bmp") || name == QLatin1String("speaker_on.bmp")
                    || name == QLatin1String("lock.bmp");
    set_shown_on(button, StateMark::Picture, on);
    return true;
}

} // namespace tavrion
