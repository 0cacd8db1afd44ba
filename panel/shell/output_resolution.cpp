// Output resolution: the list position p stands for device resolution p + 1.
#include "panel/shell/output_resolution.h"

#include "protocol/command_catalogue.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "protocol/protocol.h"
#include "panel/panel_state.h"

#include <QComboBox>

namespace tavrion {

OutputResolution::OutputResolution(DeviceSession& session, DeviceModel& model, PanelFlags& flags,
                                   const Controls& controls)
    : session_(session), model_(model), flags_(flags), c_(controls)
{
    connect(&model, &DeviceModel::resolution_reported, this, [this](int number) { reply_res(number); });
    connect(c_.cbo_output, &QComboBox::currentIndexChanged, this, [this] { cbo_output_Click(); });
}

void OutputResolution::cbo_output_Click()
{
    if (!flags_.ui_events_enabled) return; // moved by a reply: nothing goes back
    const int position = c_.cbo_output->currentIndex();
    if (position < 0) return; // nothing selected: no resolution to ask for
    // The fifth and sixth resolutions exist only in Matrix mode; the list keeps the user's choice.
    if (model_.display_mode() != 1 && (position == 4 || position == 5)) return;
    c_.cbo_output->setEnabled(false);
    session_.send_command(command_of(Code::RES, position + 1));
    c_.cbo_output->setEnabled(true);
}

void OutputResolution::reply_res(int number)
{
    // The model counts only the last two digits: RES112 is the twelfth entry, RES000 clears the
    // selection. A number beyond the list (RES099 with 12 entries) cannot be shown: the model
    // keeps it, the selection here stays.
    const int n = number;
    if (n < 0 || n > c_.cbo_output->count()) return;
    flags_.ui_events_enabled = false;
    c_.cbo_output->setCurrentIndex(n - 1);
    session_.do_events();
    flags_.ui_events_enabled = true;
}

} // namespace tavrion
