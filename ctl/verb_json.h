// The JSON document that --json prints for a verb other than status: what it did, what the device's
// answers reported, and (diff, restore) each difference as data.
#pragma once

#include "ctl/invocation.h"

#include <string>

namespace tavrion::ctl {

// `printed`: what the verb would have printed; `errors`: its standard error; `state`: the status
// document of the values the device's answers reported during the verb.
std::string verb_json(const Verb& verb, int status, const std::string& printed, const std::string& errors,
                      const std::string& state);

} // namespace tavrion::ctl
