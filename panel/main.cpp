// Tavrion: control panel for the KV-7720 video matrix switcher.
#include "session/clock.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "panel/app_icon.h"
#include "panel/frm_main.h"
#include "panel/qt_message_boxes.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // A style that paints the button backgrounds the panel uses to show state.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setApplicationName(QStringLiteral("Tavrion"));
    // The desktop entry that install-desktop-entry.sh writes is tavrion.desktop.
    app.setDesktopFileName(QStringLiteral("tavrion"));
    app.setWindowIcon(tavrion::app_icon());

    const QString program_dir = QCoreApplication::applicationDirPath();
    tavrion::SteadyClock clock;
    tavrion::QtSerialPort serial(program_dir);
    tavrion::QtTcpClient socket;
    tavrion::QtMessageBoxes boxes;

    tavrion::Platform platform;
    platform.program_dir = program_dir;
    platform.clock = &clock;
    platform.serial = &serial;
    platform.socket = &socket;
    platform.boxes = &boxes;

    tavrion::FrmMain window(platform);
    boxes.set_parent(&window);
    if (!window.Form_Load()) return 1;
    return app.exec();
}
