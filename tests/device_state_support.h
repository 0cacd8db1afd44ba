// Shared by the device-state tests (refresh, power, routing, modes, picture): a small stateful
// scripted device for the fake links, and the start of a window on RS-232.
#pragma once

#include "support/wire_queries.h"

#include "protocol/protocol.h"
#include "support/panel_harness.h"

#include <QHash>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>

namespace tavrion::test {

// Answers like a KV-7720 that remembers what it was told: mode, power, lock, the routing table
// and the picture values. `overrides` replace an answer (empty = silence); after `fall_silent_after`
// has been answered, nothing more is.
struct MiniDevice {
    int mode = 1, power = 1, lock = 0, current = 1;
    int route[5] = {0, 1, 2, 3, 4}; // route[output] = input
    QHash<QByteArray, int> picture;  // "BRI1" -> value of row 1 (Matrix uses row 1)
    QHash<QByteArray, QByteArray> overrides;
    QByteArray fall_silent_after;
    bool silent = false;
    bool echo_picture_sets = true; // answer a BRI/CON/HUE/SAT setting with the command itself

    int pic(const QByteArray& code, int row) const { return picture.value(code + QByteArray::number(row), 50); }

    QByteArray answer(const QByteArray& c)
    {
        if (silent) return {};
        if (overrides.contains(c)) return overrides.value(c);
        const QByteArray code = c.left(3);
        const int p = c.mid(3).toInt();
        auto rep = [&](int v) { return code + QByteArray::fromStdString(pad3(v)); };
        if (c == "VER999") return "VER106";
        if (code == "LCK") { if (p != 999) lock = p % 10; return rep(lock); }
        if (code == "PWR") { if (p != 999) power = p % 10; return rep(power); }
        if (code == "MOD") { if (p != 999) mode = p; return rep(mode); }
        if (code == "OUT") { if (p != 999) current = p; return rep(current); }
        if (code == "INP") { if (p != 999) route[current] = p; return rep(route[current]); }
        if (code == "BRI" || code == "CON" || code == "HUE" || code == "SAT") {
            if (p == 999) return rep(pic(code, 1));
            if (p >= 991 && p <= 994) return rep(pic(code, p - 990) + 200 * (p - 991));
            const int row = mode == 1 ? 1 : p / 200 + 1;
            picture[code + QByteArray::number(row)] = p - 200 * (row - 1);
            return echo_picture_sets ? c : QByteArray();
        }
        if (c == "RST002") return c;
        return "ERR000";
    }

    Responder responder()
    {
        return [this](const QByteArray& c) -> QByteArray {
            const QByteArray a = answer(c);
            if (!fall_silent_after.isEmpty() && c == fall_silent_after) silent = true;
            return a.isEmpty() ? QByteArray() : a + '\r';
        };
    }
};

// Starts the window on RS-232 (COM1 of the fake), compact or expanded.
inline void start(PanelHarness& h, bool advanced = true)
{
    FrmMain& w = h.w();
    QVERIFY(h.load());
    if (w.flags().advanced_view != advanced) PanelHarness::click(w.cmd_advance);
    QVERIFY(w.session().serial_connected());
}

// Lets the device report itself on and in `mode` (through the ordinary queries), then empties the
// wire record.
inline void power_on_in_mode(PanelHarness& h, MiniDevice& dev, int mode)
{
    dev.power = 1;
    dev.mode = mode;
    h.w().session().send_command("PWR999");
    h.w().session().send_command("MOD999");
    QCOMPARE(h.w().device_state().display_mode, mode);
    h.serial.clear();
}

// A window started on RS-232 with a MiniDevice behind it that reports itself on in `mode`, the
// wire record emptied: where most device-state tests begin.
struct PoweredPanel {
    PanelHarness h;
    MiniDevice dev;
    explicit PoweredPanel(int mode)
    {
        h.serial.responder = dev.responder();
        start(h);
        power_on_in_mode(h, dev, mode);
    }
    FrmMain& w() { return h.w(); }
};

} // namespace tavrion::test
