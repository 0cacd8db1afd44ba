// The whole of tavrion-ctl as main calls it: parse (usage errors: 2, nothing opened), --help, the
// link from the options or from tavrion.ini, open (failure: 3), run the verb, print its result.
#pragma once

#include "ctl/invocation.h"
#include "verbs/link.h"
#include "verbs/runner.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrion::ctl {

int run_program(const std::vector<std::string>& args, const std::string& program_dir, const DeviceOpener& open,
                std::ostream& out, std::ostream& err);

} // namespace tavrion::ctl
