// Writes the application icon as PNG files for the desktop entry: draw_app_icon <folder> <size>...
// gives <folder>/tavrion-<size>.png for each size.
#include "panel/app_icon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: draw_app_icon <folder> <size>...\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "bad size %s\n", argv[i]);
            return 2;
        }
        const QString name = QStringLiteral("tavrion-%1.png").arg(size);
        if (!tavrion::draw_app_icon(size).save(out.filePath(name), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    return 0;
}
