// The arithmetic of the Windows thread sleep: the waitable timer's due time and when it
// gives way to the millisecond fallback, the fallback's rounding and its wake latency.
// Pure, so it runs in every build, not only the Windows one.
#include "platform/windows_wait.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tempoloom::platform::windows {
namespace {

constexpr std::uint64_t maxU64 = std::numeric_limits<std::uint64_t>::max();

TEST(WindowsWait, DueTimeCountsWholeHundredNanosecondUnits) {
    EXPECT_EQ(timerDueTime(0, 0), 0u);
    EXPECT_EQ(timerDueTime(0, 1), 1u);
    EXPECT_EQ(timerDueTime(0, 99), 1u);
    EXPECT_EQ(timerDueTime(0, 100), 1u);
    EXPECT_EQ(timerDueTime(0, 199), 2u);
    EXPECT_EQ(timerDueTime(0, 100'000), 1000u);
    EXPECT_EQ(timerDueTime(1, 0), 10'000'000u);
    EXPECT_EQ(timerDueTime(2, 999'999'999), 30'000'000u);
}

TEST(WindowsWait, DueTimeRefusesWhatTheTimerCannotTake) {
    // The largest signed due time is taken, one unit more is not.
    EXPECT_EQ(timerDueTime(922'337'203'685, 477'580'700), 9'223'372'036'854'775'807u);
    EXPECT_EQ(timerDueTime(922'337'203'685, 477'580'601), 9'223'372'036'854'775'807u);
    EXPECT_FALSE(timerDueTime(922'337'203'685, 477'580'701));
    EXPECT_FALSE(timerDueTime(922'337'203'686, 0));
    // Seconds times 10^7 fits 64 bits but not the signed range.
    EXPECT_FALSE(timerDueTime(maxU64 / 10'000'000, 0));
    // Adding the sub-second units overflows 64 bits (and would wrap to a short wait).
    EXPECT_FALSE(timerDueTime(maxU64 / 10'000'000, 999'999'999));
    // Seconds times 10^7 overflows 64 bits.
    EXPECT_FALSE(timerDueTime(maxU64 / 10'000'000 + 1, 0));
    EXPECT_FALSE(timerDueTime(maxU64, 999'999'999));
}

TEST(WindowsWait, FallbackCountsEveryStartedMillisecond) {
    EXPECT_EQ(fallbackMilliseconds(0, 0), 0u);
    EXPECT_EQ(fallbackMilliseconds(0, 1), 1u);
    EXPECT_EQ(fallbackMilliseconds(0, 100'000), 1u);
    EXPECT_EQ(fallbackMilliseconds(0, 999'999), 1u);
    EXPECT_EQ(fallbackMilliseconds(0, 1'000'000), 1u);
    EXPECT_EQ(fallbackMilliseconds(0, 1'000'001), 2u);
    EXPECT_EQ(fallbackMilliseconds(1, 0), 1000u);
    EXPECT_EQ(fallbackMilliseconds(1, 500'000), 1001u);
    EXPECT_EQ(fallbackMilliseconds(2, 999'999'999), 3000u);
}

TEST(WindowsWait, FallbackSaturatesInsteadOfWrapping) {
    constexpr std::uint64_t lastWhole = maxU64 / 1000;  // 18'446'744'073'709'551 s
    EXPECT_EQ(fallbackMilliseconds(lastWhole, 0), lastWhole * 1000);
    EXPECT_EQ(fallbackMilliseconds(lastWhole, 615'000'000), maxU64);
    EXPECT_EQ(fallbackMilliseconds(lastWhole, 615'000'001), maxU64);
    EXPECT_EQ(fallbackMilliseconds(lastWhole, 999'999'999), maxU64);
    EXPECT_EQ(fallbackMilliseconds(lastWhole + 1, 0), maxU64);
    EXPECT_EQ(fallbackMilliseconds(maxU64, 999'999'999), maxU64);
}

TEST(WindowsWait, FallbackLatencyFollowsTheTick) {
    // The tick plus 2 ms (the millisecond rounding, and a wake after its tick); a system
    // that gives no increment is taken to tick 64 times a second.
    EXPECT_EQ(fallbackWakeLatencyNanos(156'250), 17'625'000u);
    EXPECT_EQ(fallbackWakeLatencyNanos(10'000), 3'000'000u);
    EXPECT_EQ(fallbackWakeLatencyNanos(0), 17'625'000u);
}

}  // namespace
}  // namespace tempoloom::platform::windows
