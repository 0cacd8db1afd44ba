// The window with everything it composes, for tests that press a feature's handler directly or read
// the session.
#pragma once

#include "adjust/audio.h"
#include "adjust/bezel.h"
#include "adjust/picture.h"
#include "link/device_model.h"
#include "link/device_session.h"
#include "routing/display_modes.h"
#include "routing/factory_reset.h"
#include "routing/presets.h"
#include "routing/routing_map.h"
#include "shell/command_log.h"
#include "shell/frm_keypad.h"
#include "shell/frm_main.h"
#include "shell/interface_frame.h"
#include "shell/menu_keys.h"
#include "shell/network_query.h"
#include "shell/output_resolution.h"
#include "shell/power_lock.h"
#include "shell/refresh_all.h"
