// The window with everything it composes, for tests that press a feature's handler directly or read
// the session.
#pragma once

#include "panel/adjust/audio.h"
#include "panel/adjust/bezel.h"
#include "panel/adjust/picture.h"
#include "session/device_model.h"
#include "session/device_session.h"
#include "panel/routing/display_modes.h"
#include "panel/routing/factory_reset.h"
#include "panel/routing/presets.h"
#include "panel/routing/routing_map.h"
#include "panel/shell/command_log.h"
#include "panel/shell/frm_keypad.h"
#include "panel/frm_main.h"
#include "panel/shell/interface_frame.h"
#include "panel/shell/menu_keys.h"
#include "panel/shell/network_query.h"
#include "panel/shell/output_resolution.h"
#include "panel/shell/power_lock.h"
#include "panel/shell/refresh_all.h"
