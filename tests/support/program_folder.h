// A throw-away program folder for one test: the settings file, the resolution list and the state
// pictures, as the panel finds them beside its executable.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace tavrion::test {

struct Settings {
    int link_interface = 0;
    int com_port = 1;
    bool advanced_view = true;
    QString address = QStringLiteral("127.0.0.1");
};

class ProgramFolder {
public:
    // Writes tavrion.ini from `settings`, the shipped resolution list, and copies bmp/ from the
    // build's program folder.
    explicit ProgramFolder(const Settings& settings = Settings());

    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }
    void write_settings(const Settings& settings);
    void write_file(const QString& name, const QByteArray& content);
    QByteArray read_file(const QString& name) const;
    // The list "R1".."Rn" ended by END, or the shipped one when empty.
    void write_resolutions(const QStringList& entries);
    static QStringList shipped_resolutions();

private:
    QTemporaryDir dir_;
};

} // namespace tavrion::test
