// What a backup must also be, beyond each value in range: one document of a version this program
// reads, every key once, and settings that agree with each other and with output_reso.txt, so that
// restore never stops half way through on something the file itself got wrong.
#pragma once

#include "verbs/device_status.h"

#include <string>
#include <vector>

namespace tavrion::verbs {

// The format number of a KV-7720 document newer than this program reads; 0 otherwise.
int newer_backup_format(const std::string& json);

// What makes an otherwise readable backup unusable, for the message; empty when nothing does.
std::string backup_inconsistency(const std::string& json, const DeviceStatus& backup,
                                 const std::vector<std::string>* resolutions);

} // namespace tavrion::verbs
