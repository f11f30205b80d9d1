// Float seconds to a Duration, exactly, with integers only.
#pragma once

#include "core/time.hpp"

#include <bit>
#include <compare>
#include <cstdint>
#include <optional>

namespace tempoloom {

// An unsigned 128-bit number, just wide enough for a mantissa times 10^9; standard C++
// has no such integer type.
struct Wide {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    // high compares first, so the default ordering is the numeric one.
    friend constexpr auto operator<=>(const Wide&, const Wide&) = default;

    // The exact product, from 32-bit halves.
    static constexpr Wide product(std::uint64_t a, std::uint64_t b) noexcept {
        constexpr std::uint64_t mask = 0xFFFF'FFFF;
        const std::uint64_t lowLow = (a & mask) * (b & mask);
        const std::uint64_t highLow = (a >> 32) * (b & mask);
        const std::uint64_t lowHigh = (a & mask) * (b >> 32);
        const std::uint64_t highHigh = (a >> 32) * (b >> 32);
        const std::uint64_t middle = (lowLow >> 32) + (highLow & mask) + (lowHigh & mask);
        return {highHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32),
                (middle << 32) | (lowLow & mask)};
    }

    // ⌊this / 2^shift⌋, for 0 < shift < 128.
    constexpr Wide shiftedRight(unsigned shift) const noexcept {
        if (shift >= 64) {
            return {0, high >> (shift - 64)};
        }
        return {high >> shift, (low >> shift) | (high << (64 - shift))};
    }

    // this mod 2^bits, for 0 < bits < 128.
    constexpr Wide lowBits(unsigned bits) const noexcept {
        if (bits >= 64) {
            return {high & ((std::uint64_t{1} << (bits - 64)) - 1), low};
        }
        return {0, low & ((std::uint64_t{1} << bits) - 1)};
    }

    static constexpr Wide power(unsigned exponent) noexcept {
        if (exponent >= 64) {
            return {std::uint64_t{1} << (exponent - 64), 0};
        }
        return {0, std::uint64_t{1} << exponent};
    }
};

// product / 2^shift rounded to nearest, ties to even; the quotient must fit 64 bits.
constexpr std::uint64_t roundedShift(const Wide& product, unsigned shift) noexcept {
    const Wide rest = product.lowBits(shift);
    const Wide half = Wide::power(shift - 1);
    std::uint64_t result = product.shiftedRight(shift).low;
    if (rest > half || (rest == half && (result & 1) != 0)) {
        ++result;
    }
    return result;
}

// Float seconds to a Duration, exactly: the double's value times 10^9, rounded to the
// nearest nanosecond with ties to even, computed from its fields with integers only.
// Nothing for NaN, +inf and values of 2^64 and above. The sign is ignored: callers have
// already returned for every value ≤ 0.
constexpr std::optional<Duration> secondsToDuration(double seconds) noexcept {
    constexpr std::uint64_t fractionMask = (std::uint64_t{1} << 52) - 1;
    const auto bits = std::bit_cast<std::uint64_t>(seconds);
    const auto exponent = static_cast<unsigned>((bits >> 52) & 0x7FF);
    const std::uint64_t mantissa = (bits & fractionMask) | (std::uint64_t{1} << 52);

    if (exponent < 992) {  // below 2^-31: under half a nanosecond
        return Duration{};
    }
    if (exponent < 1023) {  // below 1 second: mantissa · 10^9 / 2^(1075 − exponent)
        return Duration::fromNanos(
            roundedShift(Wide::product(mantissa, nanosPerSecond), 1075 - exponent));
    }
    if (exponent < 1075) {  // below 2^52: whole seconds and a fraction
        std::uint64_t wholeSeconds = mantissa >> (1075 - exponent);
        const std::uint64_t fraction = (mantissa << (exponent - 1023)) & fractionMask;
        const std::uint64_t nanos = roundedShift(Wide::product(fraction, nanosPerSecond), 52);
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
