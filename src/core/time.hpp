// Time values and readings: Duration, the counter's ticks as one, Instant on the monotonic
// counter, and the wall clock as Unix seconds.
#pragma once

#include "platform/platform.hpp"

#include <compare>
#include <cstdint>
#include <optional>

namespace tempoloom {

using platform::nanosPerSecond;

// A non-negative span of whole nanoseconds, kept as seconds plus nanoseconds.
struct Duration {
    std::uint64_t seconds = 0;
    std::uint32_t nanoseconds = 0;  // always below 10^9

    // Compares by seconds, then nanoseconds.
    friend constexpr auto operator<=>(const Duration&, const Duration&) = default;

    static constexpr Duration fromNanos(std::uint64_t total) noexcept {
        return {total / nanosPerSecond, static_cast<std::uint32_t>(total % nanosPerSecond)};
    }

    // Seconds as a double: the nanoseconds are scaled first and added last, two roundings.
    double toSeconds() const noexcept {
        const double s = static_cast<double>(seconds);
        const double n = static_cast<double>(nanoseconds);
        const double q = n / 1e9;
        return q + s;
    }

    // this − earlier; the caller guarantees earlier ≤ this.
    constexpr Duration minus(const Duration& earlier) const noexcept {
        if (nanoseconds >= earlier.nanoseconds) {
            return {seconds - earlier.seconds, nanoseconds - earlier.nanoseconds};
        }
        return {seconds - earlier.seconds - 1,
                static_cast<std::uint32_t>(nanoseconds + nanosPerSecond - earlier.nanoseconds)};
    }

    // ⌊(seconds·10^9 + nanoseconds) / 2⌋ nanoseconds, without leaving 64 bits.
    constexpr Duration half() const noexcept {
        return {seconds / 2, nanoseconds / 2 + (seconds % 2 != 0 ? 500'000'000u : 0u)};
    }
};

// Counter ticks truncated to whole nanoseconds. The products stay within 64 bits while the
// frequency and ticks / frequency are below about 1.8·10^10.
constexpr Duration ticksToDuration(std::uint64_t ticks, std::uint64_t frequency) noexcept {
    if (frequency == nanosPerSecond) {  // a nanosecond counter: no division at run time
        return Duration::fromNanos(ticks);
    }
    const std::uint64_t total =
        (ticks / frequency) * nanosPerSecond + ((ticks % frequency) * nanosPerSecond) / frequency;
    return Duration::fromNanos(total);
}

// A reading of the monotonic counter, as a Duration from the counter's origin.
struct Instant {
    Duration sinceOrigin;

    friend constexpr auto operator<=>(const Instant&, const Instant&) = default;

    // Reads the counter; an unreadable counter or frequency is an internal fault.
    static Instant now();

    // Time from this instant until now; zero if the counter reads earlier than this.
    Duration elapsed() const;

    // The same, against a given reading of now.
    constexpr Duration elapsedUntil(const Instant& now) const noexcept {
        return now < *this ? Duration{} : now.sinceOrigin.minus(sinceOrigin);
    }
};

// Unix seconds for a file time, or nothing when it lies before 1970.
constexpr std::optional<Duration> epochDuration(std::int64_t fileTime) noexcept {
    if (fileTime < platform::unixEpochAsFileTime) {
        return std::nullopt;
    }
    const auto units = static_cast<std::uint64_t>(fileTime - platform::unixEpochAsFileTime);
    constexpr std::uint64_t perSecond = platform::fileTimeUnitsPerSecond;
    return Duration{units / perSecond, static_cast<std::uint32_t>(units % perSecond) * 100};
}

// The current wall-clock time in Unix seconds, or nothing before 1970.
std::optional<double> epochSeconds() noexcept;

}  // namespace tempoloom
