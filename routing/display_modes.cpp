// Matrix, Dual and TV Wall: the mode buttons, and the MOD reply that lays the window out for the
// device's mode.
#include "routing/display_modes.h"

#include "adjust/picture.h"
#include "link/device_session.h"
#include "link/protocol.h"
#include "routing/line_shape.h"
#include "routing/routing_map.h"
#include "shell/accessibility.h"
#include "shell/button_rows.h"
#include "shell/panel_state.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace tavrion {

DisplayModes::DisplayModes(DeviceSession& session, ReportedState& device, RoutingMap& routing, Picture& picture,
                           const Controls& controls)
    : session_(session), device_(device), routing_(routing), picture_(picture), c_(controls)
{
    session.router().add("MOD", [this] { reply_mod(); });
    for (int m = 1; m <= 3; ++m) connect(c_.cmd_mode(m), &QPushButton::clicked, this, [this, m] { cmd_mode_Click(m); });
}

void DisplayModes::cmd_mode_Click(int index)
{
    if (!c_.cmd_mode.has(index)) return;
    clear_row(c_.cmd_mode);
    enable_row(c_.cmd_mode, false);
    // A mode change clears the output and preset highlights.
    clear_row(c_.cmd_out);
    clear_row(c_.cmd_recall);
    clear_row(c_.cmd_save);

    session_.send_command("MOD" + pad3(index));
    // The device takes seconds to switch; its answer may come after send_command gave up.
    session_.await_late_reply();

    if (session_.reply_ok()) {
        if (index != 3) {
            routing_.map_refresh();
            if (session_.reply_ok()) picture_.cmd_pic_refresh_Click();
        } else {
            // No map in a video wall: only output 1 and its input are read.
            session_.send_command("OUT001");
            if (session_.reply_ok()) session_.send_command("INP999");
            if (session_.reply_ok()) picture_.cmd_pic_refresh_Click();
        }
    }

    if (index != 3) set_back_colour(c_.cmd_out(device_.cur_output), selection_colour);
    enable_row(c_.cmd_mode, true);
}

void DisplayModes::reply_mod()
{
    // A mode the window has no layout for (MOD009, MOD000) is ignored entirely: display_mode keeps
    // a value every other handler knows how to branch on, and the layout stays as it is.
    const int mode = reply_last_digit(session_.reply_text());
    if (!c_.cmd_mode.has(mode)) return;
    device_.display_mode = mode;

    select_in_row(c_.cmd_mode, device_.display_mode);

    c_.fra_dual_a->setEnabled(false);
    c_.fra_dual_b->setEnabled(false);
    c_.fra_bezel->setEnabled(false);

    for (int o = 1; o <= 4; ++o)
        for (int i = 1; i <= 4; ++i) routing_.routing_line(o, i)->hide();

    auto set_row_labels = [this](int n, const QString& caption) {
        for (QLabel* l : {c_.lab_con(n), c_.lab_bri(n), c_.lab_sat(n), c_.lab_hue(n)}) l->setText(caption);
    };

    switch (device_.display_mode) {
    case 1: {
        const char* captions[] = {"A", "B", "C", "D"};
        for (int n = 1; n <= 4; ++n) c_.cmd_out(n)->setText(QString::fromLatin1(captions[n - 1]));
        set_row_labels(1, QStringLiteral("ALL"));
        for (int n = 2; n <= 4; ++n) {
            set_row_labels(n, QString());
            for (QLineEdit* box : {c_.txt_bri(n), c_.txt_con(n), c_.txt_hue(n), c_.txt_sat(n)}) box->clear();
            for (QScrollBar* s : {c_.hsr_con(n), c_.hsr_bri(n), c_.hsr_sat(n), c_.hsr_hue(n)}) s->setEnabled(false);
        }
        break;
    }
    case 2: {
        const char* captions[] = {"AL", "AR", "BL", "BR"};
        for (int n = 1; n <= 4; ++n) c_.cmd_out(n)->setText(QString::fromLatin1(captions[n - 1]));
        if (device_.power_state == 1) {
            c_.fra_dual_a->setEnabled(true);
            c_.fra_dual_b->setEnabled(true);
        }
        for (int n = 1; n <= 4; ++n) set_row_labels(n, QString::fromLatin1(captions[n - 1]));
        break;
    }
    case 3: {
        clear_row(c_.cmd_out);
        for (int n = 1; n <= 4; ++n) c_.cmd_out(n)->setText(QString());
        if (device_.power_state == 1) c_.fra_bezel->setEnabled(true);
        const char* captions[] = {"Out A", "Out B", "Out C", "Out D"};
        for (int n = 1; n <= 4; ++n) set_row_labels(n, QString::fromLatin1(captions[n - 1]));
        break;
    }
    }

    if (device_.display_mode == 2 || device_.display_mode == 3)
        for (int n = 2; n <= 4; ++n)
            for (QScrollBar* s : {c_.hsr_con(n), c_.hsr_bri(n), c_.hsr_sat(n), c_.hsr_hue(n)}) s->setEnabled(true);

    name_from_captions(c_);
    enable_row(c_.cmd_mode, true);
}

} // namespace tavrion
