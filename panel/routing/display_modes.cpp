// Matrix, Dual and TV Wall: the mode buttons, and the MOD reply that lays the window out for the
// device's mode.
#include "panel/routing/display_modes.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "session/read_sequences.h"
#include "panel/line_shape.h"
#include "panel/routing/routing_map.h"
#include "panel/button_rows.h"
#include "panel/panel_state.h"
#include "panel/accessibility.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace tavrion {

DisplayModes::DisplayModes(DeviceSession& session, DeviceModel& model, ReportedState& device, RoutingMap& routing,
                           const Controls& controls)
    : session_(session), model_(model), device_(device), routing_(routing), c_(controls)
{
    connect(&model, &DeviceModel::mode_reported, this, [this](int mode) { reply_mod(mode); });
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

    // The device takes seconds to switch; its answer may come after send_command gave up.
    const Exchange e = send_awaiting_late_reply(session_, command_of(Code::MOD, index));
    if (e.ok() || e.late) reread_after_mode(index, model_, ask_session(session_));

    if (index != 3) set_back_colour(c_.cmd_out(model_.current_output()), selection_colour);
    enable_row(c_.cmd_mode, true);
}

void DisplayModes::reply_mod(int mode)
{
    // The model reports only the modes the window has a layout for (MOD009 and MOD000 are ignored
    // there), so display_mode keeps a value every other handler knows how to branch on.
    select_in_row(c_.cmd_mode, mode);

    c_.fra_dual_a->setEnabled(false);
    c_.fra_dual_b->setEnabled(false);
    c_.fra_bezel->setEnabled(false);

    for (int o = 1; o <= 4; ++o)
        for (int i = 1; i <= 4; ++i) routing_.routing_line(o, i)->hide();

    auto set_row_labels = [this](int n, const QString& caption) {
        for (QLabel* l : {c_.lab_con(n), c_.lab_bri(n), c_.lab_sat(n), c_.lab_hue(n)}) l->setText(caption);
    };

    switch (mode) {
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

    if (mode == 2 || mode == 3)
        for (int n = 2; n <= 4; ++n)
            for (QScrollBar* s : {c_.hsr_con(n), c_.hsr_bri(n), c_.hsr_sat(n), c_.hsr_hue(n)}) s->setEnabled(true);

    name_from_captions(c_);
    enable_row(c_.cmd_mode, true);
}

} // namespace tavrion
