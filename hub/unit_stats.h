// A unit's running figures for the metrics page: counted in the unit's thread, read by the HTTP
// thread at any moment without waiting for the unit (every figure is an atomic of its own).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace tavrion::hub {

// How an exchange with the device ended, in the session's own terms.
enum class ExchangeOutcome { Answered, Refused, OtherCode, Silent, Unreadable, LinkDown, Restarted, Ended, Count };
constexpr std::array<const char*, int(ExchangeOutcome::Count)> kOutcomeNames{
    "answered", "refused", "other_code", "silent", "unreadable", "link_down", "restarted", "ended"};

// Upper bounds (seconds) of the exchange-time histogram: a reply takes a few ms on TCP, tens on
// RS-232; the late replies of mode and preset commands take seconds; silence ends at the wait's bound.
constexpr std::array<double, 10> kExchangeBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5};

struct UnitStats {
    std::array<std::atomic<std::uint64_t>, int(ExchangeOutcome::Count)> exchanges{};
    // Not cumulative: an exchange counts in the first bucket that holds it (the last: beyond all).
    std::array<std::atomic<std::uint64_t>, kExchangeBuckets.size() + 1> buckets{};
    std::atomic<std::uint64_t> time_sum_us{0};
    std::atomic<std::int64_t> last_full_read_ms{0}; // since the epoch; 0: never
    std::atomic<int> protocol_clients{0};

    void count_exchange(ExchangeOutcome outcome, double seconds)
    {
        exchanges[std::size_t(outcome)].fetch_add(1, std::memory_order_relaxed);
        std::size_t b = 0;
        while (b < kExchangeBuckets.size() && seconds > kExchangeBuckets[b]) ++b;
        buckets[b].fetch_add(1, std::memory_order_relaxed);
        time_sum_us.fetch_add(std::uint64_t(seconds * 1e6), std::memory_order_relaxed);
    }
};

} // namespace tavrion::hub
