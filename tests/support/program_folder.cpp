#include "support/program_folder.h"

#include <QDir>
#include <QFile>

namespace tavrion::test {

ProgramFolder::ProgramFolder(const Settings& settings)
{
    write_settings(settings);
    write_file(QStringLiteral("output_reso.txt"), [] {
        QFile f(QStringLiteral(TAVRION_SOURCE_DIR "/dist/output_reso.txt"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }());
    QDir().mkpath(dir_.filePath(QStringLiteral("bmp")));
    const QDir bmp(QStringLiteral(TAVRION_PROGRAM_DIR "/bmp"));
    for (const QString& name : bmp.entryList({QStringLiteral("*.bmp")}, QDir::Files))
        QFile::copy(bmp.filePath(name), dir_.filePath(QStringLiteral("bmp/") + name));
}

void ProgramFolder::write_settings(const Settings& s)
{
    const QByteArray text = QByteArray::number(s.link_interface) + "\r\n" + QByteArray::number(s.com_port) + "\r\n"
        + (s.advanced_view ? "#TRUE#" : "#FALSE#") + "\r\n\"" + s.address.toLatin1() + "\"\r\n";
    write_file(QStringLiteral("tavrion.ini"), text);
}

void ProgramFolder::write_file(const QString& name, const QByteArray& content)
{
    QFile f(dir_.filePath(name));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(content);
}

QByteArray ProgramFolder::read_file(const QString& name) const
{
    QFile f(dir_.filePath(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void ProgramFolder::write_resolutions(const QStringList& entries)
{
    QByteArray text;
    for (const QString& e : entries) text += "\"" + e.toLatin1() + "\"\r\n";
    text += "\"END\"\r\n";
    write_file(QStringLiteral("output_reso.txt"), text);
}

QStringList ProgramFolder::shipped_resolutions()
{
    QFile f(QStringLiteral(TAVRION_SOURCE_DIR "/dist/output_reso.txt"));
    f.open(QIODevice::ReadOnly);
    QStringList out;
    for (QByteArray line : f.readAll().split('\n')) {
        line = line.trimmed();
        if (line.startsWith('"')) line = line.mid(1, line.indexOf('"', 1) - 1);
        if (line == "END") break;
        if (!line.isEmpty()) out << QString::fromLatin1(line);
    }
    return out;
}

} // namespace tavrion::test
