// The words for why a write failed.
#include "verbs/write_failure.h"

#include <cerrno>
#include <cstring>

namespace tavrion::verbs {

std::string write_failure(int error_number, const std::string& system_text)
{
    switch (error_number) {
    case ENOSPC: return "no space left on the device";
    case EFBIG: return "the file size limit (ulimit -f) does not allow more";
#ifdef EDQUOT
    case EDQUOT: return "the disk quota is used up";
#endif
    case EBADF: return "it is closed";
    case EPIPE: return "the reading end has gone";
    case EACCES:
    case EPERM: return "permission denied";
    default: break;
    }
    if (!system_text.empty()) return system_text;
    return error_number ? std::strerror(error_number) : "the write failed";
}

} // namespace tavrion::verbs
