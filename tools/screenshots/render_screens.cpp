// Renders the README's screenshots: the real main window, started from a throw-away program folder
// whose COM1 is the in-process simulator, driven through its own buttons, and grabbed offscreen.
//
//   render_screens OUT_DIR [PROGRAM_DIR]
//
// PROGRAM_DIR supplies output_reso.txt and bmp/ (default: this build's program folder). Every
// picture is taken after a Refresh that must have read the device completely; anything else (a
// message box, an unanswered query, a state the window does not show) ends the run with exit
// code 1 and no picture is left half-made, so the program doubles as an end-to-end check.
#include "session/clock.h"
#include "support/test_access.h"
#include "session/serial_port.h"
#include "session/tcp_client.h"
#include "panel/line_shape.h"
#include "session/device_session.h"
#include "panel/routing/routing_map.h"
#include "panel/shell/frm_keypad.h"
#include "panel/frm_main.h"
#include "panel/shell/menu_keys.h"
#include "panel/shell/refresh_all.h"
#include "session/message_boxes.h"
#include "sim/sim_server.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QStringList>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>

#ifndef TAVRION_PROGRAM_DIR
#define TAVRION_PROGRAM_DIR ""
#endif

namespace {

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

// A message box in a screenshot run is always a failure: it is reported and the run ends.
class ReportingBoxes : public tavrion::MessageBoxes {
public:
    void show(const QString& text, tavrion::BoxIcon) override
    {
        err() << "render_screens: the panel said: " << text << Qt::endl;
        texts << text;
    }
    QStringList texts;
};

bool copy_file(const QString& from, const QString& to)
{
    QFile::remove(to);
    if (QFile::copy(from, to)) return true;
    err() << "render_screens: cannot copy " << from << " to " << to << Qt::endl;
    return false;
}

// The program folder the panel starts from: the shipped resolution list and pictures, and settings
// for RS-232 on COM1 with the expanded window.
bool make_program_folder(const QString& source, const QString& dir)
{
    if (!copy_file(source + QStringLiteral("/output_reso.txt"), dir + QStringLiteral("/output_reso.txt"))) return false;
    QDir().mkpath(dir + QStringLiteral("/bmp"));
    const QStringList bmps = QDir(source + QStringLiteral("/bmp")).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    if (bmps.isEmpty()) {
        err() << "render_screens: no pictures in " << source << "/bmp" << Qt::endl;
        return false;
    }
    for (const QString& b : bmps)
        if (!copy_file(source + QStringLiteral("/bmp/") + b, dir + QStringLiteral("/bmp/") + b)) return false;
    QFile ini(dir + QStringLiteral("/tavrion.ini"));
    if (!ini.open(QIODevice::WriteOnly)) return false;
    ini.write("0\r\n1\r\n#TRUE#\r\n\"192.168.1.100\"\r\n");
    return true;
}

// A device worth looking at: routes that cross, picture values that differ per output, bezel
// correction on, Bitstream audio, the right half for Dual B, 1920x1080@60.
void set_up_device(tavrion_sim::DeviceState& d)
{
    d.power_on = true;
    d.mode = 1;
    d.brightness = {62, 48, 55, 70};
    d.contrast = {55, 60, 45, 52};
    d.hue = {50, 47, 53, 50};
    d.saturation = {58, 52, 64, 49};
    d.bezel_on = true;
    d.bezel_h = 24;
    d.bezel_v = 16;
    d.dual_a_audio = 1;
    d.dual_b_audio = 2;
    d.audio_edid = 3;
    d.resolution = 14;
}

// The pictures show the window's colours exactly. A window of flat colours with anti-aliased text
// often has no more than 256 of them: a palette of just those keeps the file small; otherwise the
// picture is kept in full colour. Read back, the file must give the window's pixels again.
bool save_png(const QPixmap& picture, const QString& path)
{
    const QImage window = picture.toImage().convertToFormat(QImage::Format_RGB32);
    QList<QRgb> colours;
    QSet<QRgb> seen;
    for (int y = 0; y < window.height() && colours.size() <= 256; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(window.constScanLine(y));
        for (int x = 0; x < window.width() && colours.size() <= 256; ++x)
            if (!seen.contains(line[x])) {
                seen.insert(line[x]);
                colours << line[x];
            }
    }
    const QImage image = colours.size() <= 256
        ? window.convertToFormat(QImage::Format_Indexed8, colours, Qt::ThresholdDither | Qt::AvoidDither)
        : window;
    if (!image.save(path, "PNG", 0)) {
        err() << "render_screens: cannot write " << path << Qt::endl;
        return false;
    }
    if (QImage(path).convertToFormat(QImage::Format_RGB32) != window) {
        err() << "render_screens: " << path << " does not show the window's colours" << Qt::endl;
        return false;
    }
    QTextStream(stdout) << path << "  " << image.width() << "x" << image.height() << "  "
                        << (colours.size() <= 256 ? QStringLiteral("%1 colours").arg(colours.size()) : QStringLiteral("full colour"))
                        << "  " << QFileInfo(path).size() / 1024 << " KB" << Qt::endl;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // As the panel itself: a style that paints the state colours of the buttons.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setApplicationName(QStringLiteral("Tavrion"));

    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3 || args.at(1).startsWith(QLatin1Char('-'))) {
        err() << "usage: render_screens OUT_DIR [PROGRAM_DIR]" << Qt::endl;
        return 2;
    }
    const QString out_dir = args.at(1);
    const QString source = args.size() > 2 ? args.at(2) : QStringLiteral(TAVRION_PROGRAM_DIR);
    if (!QDir().mkpath(out_dir)) {
        err() << "render_screens: cannot create " << out_dir << Qt::endl;
        return 1;
    }

    QTemporaryDir folder;
    if (!folder.isValid() || !make_program_folder(source, folder.path())) return 1;

    tavrion_sim::SimServer sim;
    if (!sim.open_serial(folder.filePath(QStringLiteral("serial/COM1")))) {
        err() << "render_screens: the simulator cannot open its serial side: " << sim.last_error() << Qt::endl;
        return 1;
    }
    set_up_device(sim.device().state());

    tavrion::SteadyClock clock;
    tavrion::QtSerialPort serial(folder.path());
    tavrion::QtTcpClient socket;
    ReportingBoxes boxes;
    tavrion::Platform platform;
    platform.program_dir = folder.path();
    platform.clock = &clock;
    platform.serial = &serial;
    platform.socket = &socket;
    platform.boxes = &boxes;

    tavrion::FrmMain w(platform);
    if (!w.Form_Load() || !w.session().serial_connected()) {
        err() << "render_screens: the panel did not start on the simulator's COM1" << Qt::endl;
        return 1;
    }

    int failures = 0;
    auto expect = [&](bool ok, const QString& what) {
        if (!ok) {
            err() << "render_screens: " << what << Qt::endl;
            ++failures;
        }
        return ok;
    };
    // A click runs its whole transaction before it returns.
    auto click = [&](QPushButton* b, const QString& what) {
        expect(b && b->isVisible() && b->isEnabled(), what + QStringLiteral(" cannot be pressed"));
        if (b) b->click();
        expect(boxes.texts.isEmpty(), what + QStringLiteral(" brought up a message"));
    };
    auto refresh = [&](int mode) {
        click(w.cmd_refresh, QStringLiteral("Refresh"));
        expect(tavrion::SessionTestAccess::reply_ok(w.session()), QStringLiteral("Refresh stopped at an unanswered query"));
        expect(w.txt_ver->text() == QStringLiteral("1.06"), QStringLiteral("Refresh did not show the firmware version"));
        expect(w.device_state().power_state == 1, QStringLiteral("Refresh did not show the device on"));
        expect(w.device_state().display_mode == mode, QStringLiteral("Refresh did not show display mode %1").arg(mode));
    };
    // The picture rows show what the device holds: in Matrix one row for all outputs (output A's
    // value), in Dual and TV Wall one row per output. Value boxes may carry a blank before the number.
    auto shows = [](QLineEdit* box, int value) { return box->text().trimmed() == QString::number(value); };
    auto expect_pictures = [&](int rows) {
        const tavrion_sim::DeviceState& d = sim.device().state();
        for (int n = 1; n <= rows; ++n)
            expect(shows(w.txt_bri(n), d.brightness[n - 1]) && shows(w.txt_con(n), d.contrast[n - 1])
                       && shows(w.txt_sat(n), d.saturation[n - 1]) && shows(w.txt_hue(n), d.hue[n - 1]),
                   QStringLiteral("picture row %1 does not show the device's values").arg(n));
    };
    auto expect_routes = [&](const int (&routes)[4]) {
        for (int out = 1; out <= 4; ++out)
            for (int in = 1; in <= 4; ++in)
                expect(w.routing().routing_line(out, in)->isVisible() == (routes[out - 1] == in),
                       QStringLiteral("the map does not show output %1 on input %2").arg(out).arg(routes[out - 1]));
    };
    auto shoot = [&](QWidget* window, const QString& name) {
        if (failures) return false;
        return expect(save_png(window->grab(), QDir(out_dir).filePath(name)), QStringLiteral("no ") + name);
    };

    // Matrix: route A<-3, B<-1, C<-4, D<-2 with the window's own buttons, then read it all back.
    refresh(1);
    const int routes[4] = {3, 1, 4, 2};
    for (int out = 1; out <= 4; ++out) {
        click(w.cmd_out(out), QStringLiteral("Output %1").arg(out));
        click(w.cmd_inp(routes[out - 1]), QStringLiteral("Input %1").arg(routes[out - 1]));
    }
    for (int out = 1; out <= 4; ++out)
        expect(sim.device().state().routes[out - 1] == routes[out - 1], QStringLiteral("routing did not reach the device"));
    click(w.cmd_get_ip, QStringLiteral("Get IP"));
    expect(w.txt_get_ip->text().startsWith(QStringLiteral("192.168.001.100")), QStringLiteral("Get IP showed nothing"));
    refresh(1);
    expect_routes(routes);
    expect_pictures(1);
    shoot(&w, QStringLiteral("matrix.png"));

    click(w.cmd_mode(2), QStringLiteral("Dual"));
    refresh(2);
    expect_routes(routes);
    expect_pictures(4);
    shoot(&w, QStringLiteral("dual.png"));

    click(w.cmd_mode(3), QStringLiteral("TV Wall"));
    refresh(3);
    expect_pictures(4);
    expect(shows(w.txt_bezel_h, 24) && shows(w.txt_bezel_v, 16),
           QStringLiteral("the bezel correction is not shown"));
    shoot(&w, QStringLiteral("tv-wall.png"));

    // The compact window in Matrix mode, and the keypad window that "Keyboard" opens.
    click(w.cmd_mode(1), QStringLiteral("Matrix"));
    click(w.cmd_advance, QStringLiteral("Advanced"));
    expect(!w.flags().advanced_view, QStringLiteral("Advanced did not make the window compact"));
    refresh(1);
    {
        // Offscreen windows have a 2-pixel frame instead of a title bar, which leaves the compact
        // window taller than on a desktop. Show what a desktop shows: the designed outer height
        // (2640 twips = 176 px) less a usual 25-pixel title bar and frame.
        const int desktop_client_h = std::min(w.height(), 176 - 25);
        if (!failures)
            expect(save_png(w.grab(QRect(0, 0, w.width(), desktop_client_h)),
                            QDir(out_dir).filePath(QStringLiteral("compact.png"))),
                   QStringLiteral("no compact.png"));
    }

    click(w.cmd_keypad, QStringLiteral("Keyboard"));
    expect(w.menu_keys().keypad_open() && w.menu_keys().keypad_window(), QStringLiteral("Keyboard did not open the keypad window"));
    if (w.menu_keys().keypad_window()) shoot(w.menu_keys().keypad_window(), QStringLiteral("keypad.png"));

    w.close();
    if (failures) {
        err() << "render_screens: " << failures << " problem(s); pictures may be missing or stale" << Qt::endl;
        return 1;
    }
    return 0;
}
