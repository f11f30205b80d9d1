// The exact float-seconds conversion, at its boundaries and against an independent
// computation over many random doubles.
#include "sleep/seconds_to_duration.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

namespace tempoloom {
namespace {

using u128 = unsigned __int128;

u128 totalNanos(const Duration& d) { return u128{d.seconds} * nanosPerSecond + d.nanoseconds; }

// Independent: frexp's integer mantissa and power of two, one division with a remainder.
u128 referenceNanos(double t) {
    int exponent = 0;
    const double fraction = std::frexp(t, &exponent);  // t = fraction · 2^exponent
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int power = exponent - 53;  // t = mantissa · 2^power
    const u128 scaled = u128{mantissa} * nanosPerSecond;
    if (power >= 0) {
        return scaled << power;
    }
    if (-power >= 127) {
        return 0;
    }
    const u128 divisor = u128{1} << -power;
    const u128 quotient = scaled / divisor;
    const u128 remainder = scaled % divisor;
    const u128 twice = remainder * 2;
    if (twice > divisor || (twice == divisor && (quotient & 1) != 0)) {
        return quotient + 1;
    }
    return quotient;
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
        ASSERT_TRUE(totalNanos(*converted) == referenceNanos(t)) << std::hexfloat << t;
    }
}

TEST(SecondsToDuration, EveryTieLandsOnAnEvenCount) {
    // q · 2^-10 s is q · 976,562.5 ns: a tie for every odd q, up to thousands of seconds.
    for (std::uint64_t q = 1; q < (std::uint64_t{1} << 22); q += 2 * 997) {
        const double t = std::ldexp(static_cast<double>(q), -10);
        const auto converted = secondsToDuration(t);
        ASSERT_TRUE(converted);
        const u128 nanos = totalNanos(*converted);
        EXPECT_TRUE(nanos % 2 == 0) << q;
        EXPECT_TRUE(nanos * 2 == u128{q} * 1'953'125 - 1 || nanos * 2 == u128{q} * 1'953'125 + 1)
            << q;
    }
}

}  // namespace
}  // namespace tempoloom
