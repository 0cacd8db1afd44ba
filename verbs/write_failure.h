// Why a write failed, in words a user acts on: a backup file and tavrion-ctl's standard output
// both report it.
#pragma once

#include <string>

namespace tavrion::verbs {

// The common causes by name ("no space left on the device", "the file size limit"), the system's
// words otherwise.
std::string write_failure(int error_number, const std::string& system_text);

} // namespace tavrion::verbs
