// One main window on fakes: a temporary program folder, recorded message boxes, and a serial port
// and TCP client whose far end is the test's script. Clicks go through real mouse events.
#pragma once

#include "session/clock.h"
#include "support/features.h"
#include "support/fakes.h"
#include "support/program_folder.h"

#include <QAbstractButton>
#include <QColor>
#include <QRect>
#include <QStyle>

#include <functional>
#include <memory>

class QScrollBar;

namespace tavrion::test {

class PanelHarness {
public:
    // `wait`: how the session waits for answers (the window's steps, or as tavrion-ctl and the hub).
    explicit PanelHarness(const Settings& settings = Settings(), ReplyWait wait = ReplyWait::Stepped);
    ~PanelHarness();

    // Runs the start-up course; false when it stopped on a file error.
    bool load();
    FrmMain& w() { return *window_; }
    // Hands the window over to the test, which then owns it (or lets it delete itself on close).
    FrmMain* release_window() { return window_.release(); }

    // A real left click in the middle of the control, as a user makes it. A click on a disabled or
    // hidden control does nothing, as on the screen.
    static void click(QWidget* control);
    // Sleeps in the event loop until `done` holds or `ms` pass; true when it held.
    static bool wait_until(const std::function<bool()>& done, int ms = 5000);
    static void pump(int ms); // lets the event loop run for `ms`
    // Where a part of a slider (an arrow, the track, the thumb) is drawn, for clicks and drags.
    static QRect slider_part(QScrollBar* s, QStyle::SubControl part);
    // The share of a control's face, as the window shows it, that lies within 8 per channel of
    // `colour`: the whole window is grabbed, and the control's rectangle less `border` pixels on
    // each side (outline, focus frame) and less its visible children is counted.
    static double face_share(QWidget* control, const QColor& colour, int border = 2);

    // Selects the Ethernet link and connects the fake socket.
    void connect_tcp();
    // Start-up on RS-232 (COM1 open), then the device reports power on, which enables the gated
    // frames; returns once `frame` is enabled, with the wire record emptied.
    void ready(QWidget* frame);
    // An unsolicited reply arrives and is dispatched by the serial receiver.
    void arrive(const QByteArray& reply);

    ProgramFolder folder;
    RecordingBoxes boxes;
    FakeSerialPort serial;
    FakeTcpClient tcp;
    SteadyClock clock;

private:
    std::unique_ptr<FrmMain> window_;
};

// A scripted device for the fakes: answers each command from a table, "ERR000" for anything the
// table lacks (set `unknown` empty for silence).
struct ScriptedDevice {
    QHash<QByteArray, QByteArray> answers; // command -> reply without terminator
    QByteArray unknown = "ERR000";
    Responder responder() const
    {
        return [this](const QByteArray& command) -> QByteArray {
            const auto it = answers.find(command);
            const QByteArray r = it != answers.end() ? it.value() : unknown;
            return r.isEmpty() ? QByteArray() : r + '\r';
        };
    }
};

} // namespace tavrion::test
