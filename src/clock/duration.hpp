// Duration: a non-negative span of whole nanoseconds, kept as seconds plus nanoseconds.
#pragma once

#include <compare>
#include <cstdint>

namespace tempoloom {

inline constexpr std::uint64_t nanosPerSecond = 1'000'000'000;

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

}  // namespace tempoloom
