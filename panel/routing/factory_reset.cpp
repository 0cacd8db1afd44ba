// Factory reset, and the RST reply that completes both it (…1) and the picture reset (…2).
#include "panel/routing/factory_reset.h"

#include "protocol/command_catalogue.h"
#include "panel/adjust/picture.h"
#include "session/device_model.h"
#include "session/device_session.h"

#include <QPushButton>

namespace tavrion {

FactoryReset::FactoryReset(DeviceSession& session, DeviceModel& model, Picture& picture, const Controls& controls)
    : session_(session), picture_(picture), c_(controls)
{
    connect(&model, &DeviceModel::reset_reported, this, [this](int d) { reply_rst(d); });
    connect(c_.cmd_fact_reset, &QPushButton::clicked, this, [this] { cmd_fact_reset_Click(); });
}

void FactoryReset::cmd_fact_reset_Click()
{
    // Held disabled only when the command can go out; otherwise send_command reports the link.
    if (session_.link_up()) c_.cmd_fact_reset->setEnabled(false);
    session_.send_command(command_of(Code::RST, 1)); // on Ethernet this takes the restart course
}

void FactoryReset::reply_rst(int digit)
{
    switch (digit) {
    case 1: c_.cmd_fact_reset->setEnabled(true); break;
    case 2: picture_.picture_reset_step(); break;
    default: break; // names neither reset: nothing to complete
    }
}

} // namespace tavrion
