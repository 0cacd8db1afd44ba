// Output resolution: the list position p stands for device resolution p + 1.
#include "shell/frm_main.h"

#include "link/protocol.h"

#include <QComboBox>

namespace tavrion {

void FrmMain::cbo_output_Click()
{
    if (!ui_events_enabled) return; // moved by a reply: nothing goes back
    const int position = cbo_output->currentIndex();
    if (position < 0) return; // nothing selected: no resolution to ask for
    // The fifth and sixth resolutions exist only in Matrix mode; the list keeps the user's choice.
    if (display_mode != 1 && (position == 4 || position == 5)) return;
    cbo_output->setEnabled(false);
    send_command("RES" + pad3(position + 1));
    cbo_output->setEnabled(true);
}

void FrmMain::reply_res()
{
    // Only the last two digits count: RES112 is the twelfth entry, RES000 clears the selection.
    const int n = reply_last_two(reply_text);
    // A number beyond the list (RES099 with 12 entries) cannot be shown: the selection stays.
    if (n < 0 || n > cbo_output->count()) return;
    ui_events_enabled = false;
    cbo_output->setCurrentIndex(n - 1);
    do_events();
    ui_events_enabled = true;
}

} // namespace tavrion
