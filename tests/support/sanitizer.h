// Under AddressSanitizer freed memory waits in quarantine and every allocation carries shadow
// memory, so resident memory says nothing about the program's own growth there; in that build
// LeakSanitizer is what finds leaks.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TAVRION_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVRION_ASAN 1
#endif
#endif

namespace tavrion::test {
#ifdef TAVRION_ASAN
constexpr bool kResidentMemoryMeaningful = false;
#else
constexpr bool kResidentMemoryMeaningful = true;
#endif
} // namespace tavrion::test
