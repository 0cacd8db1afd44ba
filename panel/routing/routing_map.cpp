// Input-to-output routing: the output and input button rows, the coloured line of each output,
// and the read-back of all four routes.
#include "panel/routing/routing_map.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "session/read_sequences.h"
#include "panel/line_shape.h"
#include "panel/button_rows.h"
#include "panel/panel_state.h"

#include <QPushButton>

namespace tavrion {

RoutingMap::RoutingMap(DeviceSession& session, DeviceModel& model, ReportedState& device, const Controls& controls)
    : session_(session), model_(model), device_(device), c_(controls)
{
    connect(&model, &DeviceModel::output_reported, this, [this](int output) { reply_out(output); });
    connect(&model, &DeviceModel::input_reported, this, [this](int output, int input) { reply_inp(output, input); });
    for (int n = 1; n <= 4; ++n) {
        connect(c_.cmd_out(n), &QPushButton::clicked, this, [this, n] { cmd_out_Click(n); });
        connect(c_.cmd_inp(n), &QPushButton::clicked, this, [this, n] { cmd_inp_Click(n); });
    }
}

void RoutingMap::cmd_out_Click(int index)
{
    if (model_.display_mode() == 3) return; // a video wall has no outputs to route one by one
    if (!c_.cmd_out.has(index)) return;
    session_.send_command(command_of(Code::OUT, index));
    session_.send_command(query_of(Code::INP));
}

void RoutingMap::cmd_inp_Click(int index)
{
    if (!c_.cmd_inp.has(index)) return;
    session_.send_command(command_of(Code::INP, index));
}

void RoutingMap::reply_out(int output)
{
    // The model reports only outputs 1..4 (OUT007 and OUT000 are ignored there), so the current
    // output always names a button and a line array.
    select_in_row(c_.cmd_out, output);
}

void RoutingMap::reply_inp(int output, int input)
{
    // The model reports only inputs 1..4 (INP007 and INP000 are ignored there).
    const int n = input;
    if (!c_.cmd_inp.has(n)) return;
    device_.cur_input = n;
    select_in_row(c_.cmd_inp, n);

    // In TV Wall the map shows no lines.
    if (model_.display_mode() != 1 && model_.display_mode() != 2) return;
    for (int i = 1; i <= 4; ++i)
        if (LineShape* l = routing_line(output, i)) l->hide();
    if (LineShape* l = routing_line(output, device_.cur_input)) l->show();
}

void RoutingMap::map_refresh() { read_routing_map(ask_session(session_)); }

LineShape* RoutingMap::routing_line(int output, int input) const
{
    switch (output) {
    case 1: return c_.line_a(input);
    case 2: return c_.line_b(input);
    case 3: return c_.line_c(input);
    case 4: return c_.line_d(input);
    default: return nullptr;
    }
}

} // namespace tavrion
