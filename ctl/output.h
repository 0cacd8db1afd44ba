// Standard output that notices when it cannot be written (a full disk, a closed descriptor), and
// the words for why a write failed: a cron job must not take a lost snapshot for a saved one.
#pragma once

#include "verbs/write_failure.h"

#include <streambuf>
#include <string>

namespace tavrion::ctl {

using verbs::write_failure;


// Writes to a file descriptor and remembers the first failure.
class DescriptorOutput : public std::streambuf {
public:
    // `closed`: the descriptor was not open when the program started (its number is held by
    // /dev/null meanwhile so that no port or socket takes it), so every write fails.
    DescriptorOutput(int fd, bool closed);
    ~DescriptorOutput() override;

    // Flushes and closes the descriptor; false, with the reason, when anything written was lost.
    bool finish(std::string& why);

protected:
    int overflow(int c) override;
    int sync() override;

private:
    bool drain();

    int fd_;
    int error_ = 0;        // errno of the first failed write
    bool written_ = false; // anything was to be written
    char buffer_[4096];
};

// Makes sure descriptors 0, 1 and 2 are open (on /dev/null where they were not), before anything
// else is opened; true when descriptor `fd` was closed.
bool hold_if_closed(int fd);

} // namespace tavrion::ctl
