// Tick conversion, Duration arithmetic and the epoch offset.
#include "core/time.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tempoloom {
namespace {

using platform::unixEpochAsFileTime;

TEST(Ticks, ConvertsAtTheCountersFrequencyAndTruncates) {
    // Windows' usual 10 MHz: each tick is exactly 100 ns, across a second and a decade of uptime.
    EXPECT_EQ(ticksToDuration(0, 10'000'000), Duration{});
    EXPECT_EQ(ticksToDuration(9'999'999, 10'000'000), (Duration{0, 999'999'900}));
    EXPECT_EQ(ticksToDuration(10'000'001, 10'000'000), (Duration{1, 100}));
    EXPECT_EQ(ticksToDuration(12'345'678'901, 10'000'000), (Duration{1234, 567'890'100}));
    EXPECT_EQ(ticksToDuration(3'155'760'000'000'007ull, 10'000'000), (Duration{315'576'000, 700}));
    EXPECT_EQ(ticksToDuration(1, 3'000'000), (Duration{0, 333}));
    EXPECT_EQ(ticksToDuration(2, 3'000'000), (Duration{0, 666}));
    EXPECT_EQ(ticksToDuration(5'000'000'123, 1'000'000'000), (Duration{5, 123}));
    // A counter months into its run at a high frequency stays exact.
    EXPECT_EQ(ticksToDuration(24'000'000'000'000'001ull, 24'000'000), (Duration{1'000'000'000, 41}));
}

TEST(Duration, ToSecondsRoundsNanosecondsFirst) {
    EXPECT_EQ(Duration{}.toSeconds(), 0.0);
    EXPECT_FALSE(std::signbit(Duration{}.toSeconds()));
    EXPECT_EQ((Duration{1, 500'000'000}).toSeconds(), 1.5);
    EXPECT_EQ((Duration{0, 1}).toSeconds(), 1e-9);
    // q + s with q = n / 1e9 rounded once, then the sum rounded once.
    const Duration d{1'700'000'000, 123'456'789};
    EXPECT_EQ(d.toSeconds(), 123'456'789.0 / 1e9 + 1'700'000'000.0);
}

TEST(Duration, MinusBorrowsASecondAndHalfKeepsOddSeconds) {
    EXPECT_EQ((Duration{5, 100}).minus(Duration{2, 300}), (Duration{2, 999'999'800}));
    EXPECT_EQ((Duration{5, 300}).minus(Duration{2, 100}), (Duration{3, 200}));
    EXPECT_EQ((Duration{3, 7}).half(), (Duration{1, 500'000'003}));
    EXPECT_EQ((Duration{0, 400'001}).half(), (Duration{0, 200'000}));
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ((Duration{max, 999'999'999}).half(), (Duration{max / 2, 999'999'999}));
}

TEST(Instant, ElapsedIsNeverNegative) {
    const Instant start{{10, 500}};
    EXPECT_EQ(start.elapsedUntil(Instant{{10, 499}}), Duration{});
    EXPECT_EQ(start.elapsedUntil(Instant{{9, 999'999'999}}), Duration{});
    EXPECT_EQ(start.elapsedUntil(Instant{{12, 100}}), (Duration{1, 999'999'600}));
}

TEST(Instant, NowAdvances) {
    const Instant first = Instant::now();
    const Instant second = Instant::now();
    EXPECT_LE(first, second);
}

TEST(Epoch, RefusesInstantsBefore1970AndKeeps100NanosecondUnits) {
    EXPECT_FALSE(epochDuration(unixEpochAsFileTime - 1));
    EXPECT_FALSE(epochDuration(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(epochDuration(unixEpochAsFileTime), Duration{});
    EXPECT_EQ(epochDuration(unixEpochAsFileTime + 1), (Duration{0, 100}));
    EXPECT_EQ(epochDuration(unixEpochAsFileTime + 10'000'000 * 3 + 9'999'999),
              (Duration{3, 999'999'900}));
}

TEST(Epoch, ReadsTheWallClock) {
    const auto seconds = epochSeconds();
    ASSERT_TRUE(seconds);
    EXPECT_GT(*seconds, 1.7e9);  // after 2023
}

}  // namespace
}  // namespace tempoloom
