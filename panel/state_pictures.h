// The pictures that show device state (power, lock, speaker), loaded at run time from the bmp
// folder beside the program.
#pragma once

#include <QString>

class QPushButton;

namespace tavrion {

class StatePictures {
public:
    explicit StatePictures(const QString& program_dir) : program_dir_(program_dir) {}
    QString path(const QString& name) const; // <program folder>/bmp/<name>
    // Loads <program folder>/bmp/<name> onto a picture button; a missing or unreadable file
    // leaves the picture as it was.
    bool show(QPushButton* button, const QString& name) const;

private:
    QString program_dir_;
};

} // namespace tavrion
