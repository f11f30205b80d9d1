// Conversion of monotonic counter ticks to whole nanoseconds.
#pragma once

#include "clock/duration.hpp"

#include <cstdint>

namespace tempoloom {

// Truncates to whole nanoseconds. The products stay within 64 bits while the frequency
// and ticks / frequency are below about 1.8·10^10.
constexpr Duration ticksToDuration(std::uint64_t ticks, std::uint64_t frequency) noexcept {
    if (frequency == nanosPerSecond) {  // a nanosecond counter: no division at run time
        return Duration::fromNanos(ticks);
    }
    const std::uint64_t total =
        (ticks / frequency) * nanosPerSecond + ((ticks % frequency) * nanosPerSecond) / frequency;
    return Duration::fromNanos(total);
}

}  // namespace tempoloom
