// Float seconds to a Duration, exactly: the double's value times 10^9, rounded to the
// nearest nanosecond with ties to even, computed from its fields with integers only.
#pragma once

#include "clock/duration.hpp"

#include <bit>
#include <cstdint>
#include <optional>

namespace tempoloom {

// Nothing for NaN, +inf and values of 2^64 and above. The sign is ignored: callers have
// already returned for every value ≤ 0.
constexpr std::optional<Duration> secondsToDuration(double seconds) noexcept {
    using u128 = unsigned __int128;
    constexpr std::uint64_t fractionMask = (std::uint64_t{1} << 52) - 1;
    const auto bits = std::bit_cast<std::uint64_t>(seconds);
    const auto exponent = static_cast<unsigned>((bits >> 52) & 0x7FF);
    const std::uint64_t mantissa = (bits & fractionMask) | (std::uint64_t{1} << 52);

    // Rounds product / 2^shift to nearest, ties to even.
    const auto roundedShift = [](u128 product, unsigned shift) {
        const u128 low = product & ((u128{1} << shift) - 1);
        const u128 half = u128{1} << (shift - 1);
        auto result = static_cast<std::uint64_t>(product >> shift);
        if (low > half || (low == half && (result & 1) != 0)) {
            ++result;
        }
        return result;
    };

    if (exponent < 992) {  // below 2^-31: under half a nanosecond
        return Duration{};
    }
    if (exponent < 1023) {  // below 1 second
        const u128 product = (u128{mantissa} << (exponent - 979)) * nanosPerSecond;
        const std::uint64_t nanos = roundedShift(product, 96);
        return Duration::fromNanos(nanos);
    }
    if (exponent < 1075) {  // below 2^52: whole seconds and a fraction
        std::uint64_t wholeSeconds = mantissa >> (1075 - exponent);
        const std::uint64_t fraction = (mantissa << (exponent - 1023)) & fractionMask;
        const std::uint64_t nanos = roundedShift(u128{fraction} * nanosPerSecond, 52);
        if (nanos == nanosPerSecond) {
            return Duration{wholeSeconds + 1, 0};
        }
        return Duration{wholeSeconds, static_cast<std::uint32_t>(nanos)};
    }
    if (exponent < 1087) {  // below 2^64: whole seconds
        return Duration{mantissa << (exponent - 1075), 0};
    }
    return std::nullopt;
}

}  // namespace tempoloom
