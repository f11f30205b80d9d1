// The exact float-seconds conversion, at its boundaries and against an independent
// computation over many random doubles.
#include "core/float_seconds.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace tempoloom {
namespace {

// Independent of the code under test: base-2^32 digits (least significant first),
// schoolbook multiplication, a bit-by-bit shift and long division by 10^9.
using Digits = std::array<std::uint64_t, 4>;

bool bitOf(const Digits& n, int k) { return ((n[k / 32] >> (k % 32)) & 1) != 0; }

void addOne(Digits& n) {
    for (auto& digit : n) {
        digit = (digit + 1) & 0xFFFF'FFFF;
        if (digit != 0) {
            return;
        }
    }
}

Digits shiftedOnce(const Digits& n, bool left) {
    Digits out{};
    for (int i = 0; i < 4; ++i) {
        out[i] = left ? ((n[i] << 1) | (i > 0 ? n[i - 1] >> 31 : 0)) & 0xFFFF'FFFF
                      : (n[i] >> 1) | (i < 3 ? (n[i + 1] & 1) << 31 : 0);
    }
    return out;
}

Duration referenceDuration(double t) {
    int exponent = 0;
    const double fraction = std::frexp(t, &exponent);  // t = fraction · 2^exponent
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int power = exponent - 53;  // t = mantissa · 2^power
    Digits n{};
    std::uint64_t carry = 0;
    for (int i = 0; i < 2; ++i) {
        const std::uint64_t v = ((mantissa >> (32 * i)) & 0xFFFF'FFFF) * nanosPerSecond + carry;
        n[i] = v & 0xFFFF'FFFF;
        carry = v >> 32;
    }
    n[2] = carry;
    if (power >= 0) {
        for (int i = 0; i < power; ++i) {
            n = shiftedOnce(n, true);
        }
    } else if (-power > 100) {  // far below half a nanosecond
        return Duration{};
    } else {
        const int shift = -power;
        const bool half = bitOf(n, shift - 1);
        bool below = false;
        for (int k = 0; k < shift - 1; ++k) {
            below = below || bitOf(n, k);
        }
        for (int i = 0; i < shift; ++i) {
            n = shiftedOnce(n, false);
        }
        if (half && (below || bitOf(n, 0))) {
            addOne(n);
        }
    }
    Digits quotient{};
    std::uint64_t remainder = 0;
    for (int i = 3; i >= 0; --i) {
        const std::uint64_t current = (remainder << 32) | n[i];
        quotient[i] = current / nanosPerSecond;
        remainder = current % nanosPerSecond;
    }
    EXPECT_EQ(quotient[2] | quotient[3], 0u) << t;
    return {(quotient[1] << 32) | quotient[0], static_cast<std::uint32_t>(remainder)};
}

TEST(SecondsToDuration, WideProductCarriesBetweenHalves) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    static_assert(Wide::product(max, max) == Wide{max - 1, 1});
    static_assert(Wide::product(max, 1) == Wide{0, max});
    static_assert(Wide::product(std::uint64_t{1} << 32, std::uint64_t{1} << 32) == Wide{1, 0});
    static_assert(Wide::product(0xFFFF'FFFF, 0xFFFF'FFFF) == Wide{0, 0xFFFF'FFFE'0000'0001});
    static_assert(roundedShift(Wide{1, 0}, 64) == 1);
    static_assert(roundedShift(Wide{0, 0b1011}, 1) == 6);  // 5.5 ties up to the even 6
    static_assert(roundedShift(Wide{0, 0b1001}, 1) == 4);  // 4.5 ties down to the even 4
}

TEST(SecondsToDuration, TiesGoToTheEvenNanosecond) {
    EXPECT_EQ(secondsToDuration(std::ldexp(1.0, -10)), (Duration{0, 976'562}));
    EXPECT_EQ(secondsToDuration(3 * std::ldexp(1.0, -10)), (Duration{0, 2'929'688}));
    EXPECT_EQ(secondsToDuration(0.9999999999), (Duration{1, 0}));
    EXPECT_EQ(secondsToDuration(0.01), (Duration{0, 10'000'000}));
    EXPECT_EQ(secondsToDuration(1.5), (Duration{1, 500'000'000}));
}

TEST(SecondsToDuration, Boundaries) {
    EXPECT_EQ(secondsToDuration(std::numeric_limits<double>::denorm_min()), Duration{});
    EXPECT_EQ(secondsToDuration(std::nextafter(std::ldexp(1.0, -31), 0.0)), Duration{});
    EXPECT_EQ(secondsToDuration(std::ldexp(1.0, -31)), Duration{});  // 0.47 ns
    EXPECT_EQ(secondsToDuration(1e-10), Duration{});
    EXPECT_EQ(secondsToDuration(6e-10), (Duration{0, 1}));
    EXPECT_EQ(secondsToDuration(std::nextafter(1.0, 0.0)), (Duration{1, 0}));
    EXPECT_EQ(secondsToDuration(1.0), (Duration{1, 0}));
    EXPECT_EQ(secondsToDuration(std::ldexp(1.0, 52)), (Duration{std::uint64_t{1} << 52, 0}));
    EXPECT_EQ(secondsToDuration(std::nextafter(std::ldexp(1.0, 52), 0.0)),
              (Duration{(std::uint64_t{1} << 52) - 1, 500'000'000}));
    EXPECT_EQ(secondsToDuration(std::nextafter(std::ldexp(1.0, 64), 0.0)),
              (Duration{std::numeric_limits<std::uint64_t>::max() - 2047, 0}));
    EXPECT_FALSE(secondsToDuration(std::ldexp(1.0, 64)));
    EXPECT_FALSE(secondsToDuration(1e20));
    EXPECT_FALSE(secondsToDuration(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(secondsToDuration(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(secondsToDuration(-std::numeric_limits<double>::quiet_NaN()));
}

TEST(SecondsToDuration, MatchesAnExactReferenceOnRandomDoubles) {
    std::mt19937_64 random(20261208);
    // Uniform bit patterns over every positive finite double below 2^64, and a dense
    // band of everyday sleep lengths.
    const auto limit = std::bit_cast<std::uint64_t>(std::ldexp(1.0, 64));
    std::uniform_int_distribution<std::uint64_t> anyBits(1, limit - 1);
    std::uniform_real_distribution<double> everyday(1e-7, 100.0);
    for (int i = 0; i < 400'000; ++i) {
        const double t = i % 2 == 0 ? std::bit_cast<double>(anyBits(random)) : everyday(random);
        const auto converted = secondsToDuration(t);
        ASSERT_TRUE(converted) << t;
        ASSERT_LT(converted->nanoseconds, nanosPerSecond);
        ASSERT_EQ(*converted, referenceDuration(t)) << std::hexfloat << t;
    }
}

TEST(SecondsToDuration, EveryTieLandsOnAnEvenCount) {
    // q · 2^-10 s is q · 976,562.5 ns: a tie for every odd q, up to thousands of seconds.
    for (std::uint64_t q = 1; q < (std::uint64_t{1} << 22); q += 2 * 997) {
        const double t = std::ldexp(static_cast<double>(q), -10);
        const auto converted = secondsToDuration(t);
        ASSERT_TRUE(converted);
        const std::uint64_t nanos = converted->seconds * nanosPerSecond + converted->nanoseconds;
        EXPECT_EQ(nanos % 2, 0u) << q;
        EXPECT_TRUE(nanos * 2 == q * 1'953'125 - 1 || nanos * 2 == q * 1'953'125 + 1) << q;
    }
}

}  // namespace
}  // namespace tempoloom
