// The JSON document that --json prints for a verb other than status: what it did, what the device's
// answers reported, and (diff, restore) each difference as data.
#pragma once

#include "verbs/runner.h"

#include <string>
#include <vector>

namespace tavrion::ctl {

std::string verb_json(const verbs::Verb& verb, const verbs::VerbResult& result,
                      const std::vector<std::string>* resolutions);

} // namespace tavrion::ctl
