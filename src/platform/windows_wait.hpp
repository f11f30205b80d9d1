// The arithmetic of the Windows thread sleep, apart from the calls it feeds, so that it
// can be checked without waiting: the waitable timer's due time, the millisecond count of
// the fallback, and how late each of the two may wake.
#pragma once

#include "platform/platform.hpp"

#include <cstdint>
#include <limits>
#include <optional>

namespace tempoloom::platform::windows {

// The high-resolution timer wakes on a grid of about 0.5 ms, and a request of 1 ms or
// more overruns by up to about as much again.
inline constexpr std::uint64_t timerWakeLatencyNanos = 1'000'000;

// The system timer's increment, in 100-ns units, where the system does not tell it:
// 64 ticks a second.
inline constexpr std::uint32_t defaultTimeIncrement = 156'250;

// How late the millisecond fallback may wake, given the system timer's increment in 100-ns
// units: Sleep wakes on the first tick at or after its due time, up to one increment late;
// the request was rounded up to whole milliseconds, up to 1 ms more; and the wake may come
// after its tick by as much as the high-resolution timer's own allowance.
constexpr std::uint64_t fallbackWakeLatencyNanos(std::uint32_t timeIncrement) noexcept {
    const std::uint64_t increment = timeIncrement != 0 ? timeIncrement : defaultTimeIncrement;
    return increment * 100 + 1'000'000 + timerWakeLatencyNanos;
}

// The timer takes a signed 64-bit due time; its negation must fit as well.
inline constexpr std::uint64_t maxTimerDueTime =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Due time in 100-ns units, or nothing when it does not fit the timer. A started unit
// counts as a whole one, so the timer never wakes before the span asked.
constexpr std::optional<std::uint64_t> timerDueTime(std::uint64_t seconds,
                                                    std::uint32_t nanoseconds) noexcept {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    if (seconds > max / fileTimeUnitsPerSecond) {
        return std::nullopt;
    }
    const std::uint64_t whole = seconds * fileTimeUnitsPerSecond;
    const std::uint64_t part = nanoseconds / 100 + (nanoseconds % 100 != 0 ? 1 : 0);
    if (part > max - whole || whole + part > maxTimerDueTime) {
        return std::nullopt;
    }
    return whole + part;
}

// Whole milliseconds for the fallback sleep: every started millisecond counts as a whole
// one, and a span beyond 64 bits of milliseconds saturates instead of wrapping.
constexpr std::uint64_t fallbackMilliseconds(std::uint64_t seconds,
                                             std::uint32_t nanoseconds) noexcept {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t part = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 != 0 ? 1 : 0);
    if (seconds > (max - part) / 1000) {
        return max;
    }
    return seconds * 1000 + part;
}

}  // namespace tempoloom::platform::windows
