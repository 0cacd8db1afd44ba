// Input-to-output routing: the output and input button rows, the coloured line of each output,
// and the read-back of all four routes.
#include "shell/frm_main.h"

#include "link/protocol.h"
#include "routing/line_shape.h"
#include "shell/colours.h"

#include <QPushButton>

namespace tavrion {

void FrmMain::cmd_out_Click(int index)
{
    if (display_mode == 3) return; // a video wall has no outputs to route one by one
    if (!cmd_out.has(index)) return;
    send_command("OUT" + pad3(index));
    send_command("INP999");
}

void FrmMain::cmd_inp_Click(int index)
{
    if (!cmd_inp.has(index)) return;
    send_command("INP" + pad3(index));
}

void FrmMain::reply_out()
{
    // A reply naming no output button (OUT007, OUT000) is ignored entirely: the highlight and
    // cur_output stay as they were, so cur_output always names a button and a line array.
    const int n = reply_last_digit(reply_text);
    if (!cmd_out.has(n)) return;
    for (int i = 1; i <= 4; ++i) set_back_colour(cmd_out(i), button_face_colour());
    cur_output = n;
    set_back_colour(cmd_out(cur_output), selection_colour);
}

void FrmMain::reply_inp()
{
    // A reply naming no input button (INP007, INP000) is ignored entirely, like an OUT reply.
    const int n = reply_last_digit(reply_text);
    if (!cmd_inp.has(n)) return;
    for (int i = 1; i <= 4; ++i) set_back_colour(cmd_inp(i), button_face_colour());
    cur_input = n;
    set_back_colour(cmd_inp(cur_input), selection_colour);

    // In TV Wall the map shows no lines.
    if (display_mode != 1 && display_mode != 2) return;
    for (int i = 1; i <= 4; ++i)
        if (LineShape* l = routing_line(cur_output, i)) l->hide();
    if (LineShape* l = routing_line(cur_output, cur_input)) l->show();
}

void FrmMain::map_refresh()
{
    for (int n = 1; n <= 4; ++n) {
        send_command("OUT" + pad3(n));
        if (!reply_ok) return;
        send_command("INP999");
        if (!reply_ok) return;
    }
}

LineShape* FrmMain::routing_line(int output, int input) const
{
    switch (output) {
    case 1: return line_a(input);
    case 2: return line_b(input);
    case 3: return line_c(input);
    case 4: return line_d(input);
    default: return nullptr;
    }
}

} // namespace tavrion
