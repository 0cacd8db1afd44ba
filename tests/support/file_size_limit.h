// A full disk, as far as the files a test writes can tell.
#pragma once

#include <csignal>
#include <sys/resource.h>

namespace tavrion::test {

// Regular files may not grow past `bytes` while this lives; a write beyond fails with EFBIG
// (SIGXFSZ is ignored meanwhile), as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = saved_;
        l.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &l) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, old_handler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    void (*old_handler_)(int) = nullptr;
    bool ok_ = false;
};

} // namespace tavrion::test
