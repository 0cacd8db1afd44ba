// Standard output checked on every write, on flush and on close.
#include "ctl/output.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tavrion::ctl {

DescriptorOutput::DescriptorOutput(int fd, bool closed) : fd_(fd), error_(closed ? EBADF : 0)
{
    setp(buffer_, buffer_ + sizeof buffer_);
}

DescriptorOutput::~DescriptorOutput() { drain(); }

bool DescriptorOutput::drain()
{
    const char* p = pbase();
    std::size_t left = std::size_t(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    written_ = written_ || left > 0;
    while (left > 0 && !error_) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            break;
        }
        p += n;
        left -= std::size_t(n);
    }
    return !error_;
}

int DescriptorOutput::overflow(int c)
{
    if (!drain()) return traits_type::eof();
    if (c != traits_type::eof()) {
        *pptr() = char(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int DescriptorOutput::sync() { return drain() ? 0 : -1; }

bool DescriptorOutput::finish(std::string& why)
{
    drain();
    // Some file systems report a failed write only when the file is closed.
    if (!error_ && ::close(fd_) != 0 && errno != EINTR) error_ = errno;
    fd_ = -1;
    if (!error_) return true;
    if (!written_) return true; // a closed output with nothing to write is no failure
    why = write_failure(error_, std::strerror(error_));
    return false;
}

bool hold_if_closed(int fd)
{
    if (::fcntl(fd, F_GETFD) != -1) return false;
    const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
    return true;
}

} // namespace tavrion::ctl
