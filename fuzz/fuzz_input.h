// Reading a fuzz input: single bytes and length-prefixed chunks; running out yields zeros and
// short chunks, never an error, so every byte string is a valid input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <string>

namespace tavrion::fuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    // Up to `n` bytes (fewer at the end of the input).
    std::string bytes(std::size_t n)
    {
        const std::size_t k = std::min(n, size_ - std::min(pos_, size_));
        std::string out(reinterpret_cast<const char*>(data_) + pos_, k);
        pos_ += k;
        return out;
    }
    // A chunk: one length byte (masked by `mask`), then that many bytes.
    std::string chunk(std::uint8_t mask = 0xFF) { return bytes(byte() & mask); }
    std::string rest() { return bytes(size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken property: report and abort, which libFuzzer records as a crash with its input.
[[noreturn]] inline void check_failed(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

} // namespace tavrion::fuzz

#define FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) ::tavrion::fuzz::check_failed(#cond, __FILE__, __LINE__); \
    } while (0)

// The libFuzzer entry, compiled only into the fuzz executables.
#ifdef TAVRION_LIBFUZZER
#define TAVRION_FUZZ_ENTRY(fn) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { return fn(data, size); }
#else
#define TAVRION_FUZZ_ENTRY(fn)
#endif
