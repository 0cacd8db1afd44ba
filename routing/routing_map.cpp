// Input-to-output routing: the output and input button rows, the coloured line of each output,
// and the read-back of all four routes.
#include "routing/routing_map.h"

#include "link/device_session.h"
#include "link/protocol.h"
#include "routing/line_shape.h"
#include "shell/button_rows.h"
#include "shell/panel_state.h"

#include <QPushButton>

namespace tavrion {

RoutingMap::RoutingMap(DeviceSession& session, ReportedState& device, const Controls& controls)
    : session_(session), device_(device), c_(controls)
{
    session.router().add("OUT", [this] { reply_out(); });
    session.router().add("INP", [this] { reply_inp(); });
    for (int n = 1; n <= 4; ++n) {
        connect(c_.cmd_out(n), &QPushButton::clicked, this, [this, n] { cmd_out_Click(n); });
        connect(c_.cmd_inp(n), &QPushButton::clicked, this, [this, n] { cmd_inp_Click(n); });
    }
}

void RoutingMap::cmd_out_Click(int index)
{
    if (device_.display_mode == 3) return; // a video wall has no outputs to route one by one
    if (!c_.cmd_out.has(index)) return;
    session_.send_command("OUT" + pad3(index));
    session_.send_command("INP999");
}

void RoutingMap::cmd_inp_Click(int index)
{
    if (!c_.cmd_inp.has(index)) return;
    session_.send_command("INP" + pad3(index));
}

void RoutingMap::reply_out()
{
    // A reply naming no output button (OUT007, OUT000) is ignored entirely: the highlight and
    // cur_output stay as they were, so cur_output always names a button and a line array.
    const int n = reply_last_digit(session_.reply_text());
    if (!c_.cmd_out.has(n)) return;
    device_.cur_output = n;
    select_in_row(c_.cmd_out, n);
}

void RoutingMap::reply_inp()
{
    // A reply naming no input button (INP007, INP000) is ignored entirely, like an OUT reply.
    const int n = reply_last_digit(session_.reply_text());
    if (!c_.cmd_inp.has(n)) return;
    device_.cur_input = n;
    select_in_row(c_.cmd_inp, n);

    // In TV Wall the map shows no lines.
    if (device_.display_mode != 1 && device_.display_mode != 2) return;
    for (int i = 1; i <= 4; ++i)
        if (LineShape* l = routing_line(device_.cur_output, i)) l->hide();
    if (LineShape* l = routing_line(device_.cur_output, device_.cur_input)) l->show();
}

void RoutingMap::map_refresh()
{
    for (int n = 1; n <= 4; ++n) {
        session_.send_command("OUT" + pad3(n));
        if (!session_.reply_ok()) return;
        session_.send_command("INP999");
        if (!session_.reply_ok()) return;
    }
}

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
