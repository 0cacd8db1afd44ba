// A control array with the window's own indexes (outputs 1..4, interfaces 0..1 ...).
// Asking for an index outside the array yields nullptr; handlers test has() before they address a
// control named by a reply.
#pragma once

#include <array>

namespace tavrion {

template <class T, int Lo, int Hi>
class Indexed {
public:
    static constexpr int lo = Lo;
    static constexpr int hi = Hi;
    static constexpr bool has(int i) { return i >= Lo && i <= Hi; }
    T* operator()(int i) const { return has(i) ? items_[std::size_t(i - Lo)] : nullptr; }
    void set(int i, T* item) { items_[std::size_t(i - Lo)] = item; }

private:
    std::array<T*, std::size_t(Hi - Lo + 1)> items_{};
};

} // namespace tavrion
