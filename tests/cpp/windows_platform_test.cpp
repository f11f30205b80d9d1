// The Windows platform layer on a Windows system (or wine): the counter and its frequency
// cache, the wall clock, the thread sleep on the high-resolution timer and on its
// millisecond fallback, and the precise sleep over both.
#include "core/sleep.hpp"
#include "core/time.hpp"
#include "platform/platform.hpp"
#include "platform/windows_testing.hpp"
#include "platform/windows_wait.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>
#include <thread>
#include <vector>

namespace tempoloom {
namespace {

namespace seams = platform::testing;

constexpr std::uint64_t maxU64 = std::numeric_limits<std::uint64_t>::max();

// Frequency queries this file makes itself, apart from those behind Instant.
std::atomic<std::uint64_t> directFrequencyQueries{0};

std::uint64_t queryFrequency() {
    directFrequencyQueries.fetch_add(1);
    const auto frequency = platform::counterFrequency();
    EXPECT_TRUE(frequency);
    return frequency.value_or(1);
}

double seconds(const Duration& d) { return d.toSeconds(); }

// Beyond the wake latency each path declares, a wait can only be late by the scheduler,
// which on a loaded machine keeps a thread from its core for tens of milliseconds (up to
// 18 ms seen under wine on two busy cores).
constexpr std::uint64_t schedulingAllowanceNanos = 100'000'000;

// The latest a thread sleep of `sleptNanos` may end (on the fallback, whole milliseconds).
Duration latestWake(std::uint64_t sleptNanos) {
    return Duration::fromNanos(sleptNanos + platform::threadSleepWakeLatencyNanos() +
                               schedulingAllowanceNanos);
}

// Forces the millisecond fallback on this thread for its lifetime.
class MillisecondSleeps {
public:
    MillisecondSleeps() { seams::forceMillisecondSleeps(true); }
    ~MillisecondSleeps() { seams::forceMillisecondSleeps(false); }
    MillisecondSleeps(const MillisecondSleeps&) = delete;
    MillisecondSleeps& operator=(const MillisecondSleeps&) = delete;
};

TEST(WindowsCounter, InstantReadsTheCounterAtItsFrequency) {
    const std::uint64_t frequency = queryFrequency();
    std::printf("counter frequency: %llu Hz\n", static_cast<unsigned long long>(frequency));
    const auto before = platform::counterTicks();
    const Instant now = Instant::now();
    const auto after = platform::counterTicks();
    ASSERT_TRUE(before && after);
    EXPECT_LE(ticksToDuration(*before, frequency), now.sinceOrigin);
    EXPECT_LE(now.sinceOrigin, ticksToDuration(*after, frequency));
}

TEST(WindowsCounter, FrequencyIsAskedOncePerProcess) {
    Instant::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 1000; ++i) {
                Instant::now();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(seams::counterFrequencyQueries() - directFrequencyQueries.load(), 1u);
}

TEST(WindowsWallClock, EpochSecondsAgreesWithTheRuntimesClocks) {
    using std::chrono::system_clock;
    const auto toSeconds = [](system_clock::time_point t) {
        return std::chrono::duration<double>(t.time_since_epoch()).count();
    };
    for (int i = 0; i < 20; ++i) {
        const std::time_t coarseBefore = std::time(nullptr);
        const auto before = system_clock::now();
        const auto epoch = epochSeconds();
        const auto after = system_clock::now();
        const std::time_t coarseAfter = std::time(nullptr);
        ASSERT_TRUE(epoch);
        EXPECT_GE(*epoch, toSeconds(before) - 0.005);
        EXPECT_LE(*epoch, toSeconds(after) + 0.005);
        EXPECT_GE(*epoch, static_cast<double>(coarseBefore) - 0.005);
        EXPECT_LT(*epoch, static_cast<double>(coarseAfter) + 1.005);
    }
}

// Thread sleeps on either path, as (nanoseconds, milliseconds the fallback asks for).
struct Span {
    std::uint32_t nanoseconds;
    std::uint64_t fallbackMs;
};
constexpr Span spans[] = {{0, 0}, {100'000, 1}, {999'900, 1}, {1'000'000, 1}, {1'000'100, 2},
                          {2'500'000, 3}};

TEST(WindowsThreadSleep, TimerSleepsAtLeastTheSpan) {
    // Windows 10 1803 and later, and wine, have high-resolution timers: no fallback, and
    // the sleep allows for the timer's latency.
    const std::uint64_t fallbackBefore = seams::fallbackMillisecondsSlept();
    for (const Span& span : spans) {
        const Instant start = Instant::now();
        platform::threadSleep(0, span.nanoseconds);
        const Duration elapsed = start.elapsed();
        EXPECT_EQ(platform::threadSleepWakeLatencyNanos(),
                  platform::windows::timerWakeLatencyNanos);
        EXPECT_GE(elapsed, (Duration{0, span.nanoseconds}));
        EXPECT_LT(elapsed, latestWake(span.nanoseconds));
    }
    EXPECT_EQ(seams::fallbackMillisecondsSlept(), fallbackBefore);
}

TEST(WindowsThreadSleep, FallbackSleepsWholeMilliseconds) {
    const MillisecondSleeps forced;
    // The system timer's tick on top of the timer's millisecond.
    const std::uint64_t latency = platform::threadSleepWakeLatencyNanos();
    std::printf("fallback wake latency: %.3f ms\n", static_cast<double>(latency) / 1e6);
    EXPECT_GT(latency, 2 * platform::windows::timerWakeLatencyNanos);
    for (const Span& span : spans) {
        const std::uint64_t fallbackBefore = seams::fallbackMillisecondsSlept();
        const Instant start = Instant::now();
        platform::threadSleep(0, span.nanoseconds);
        const Duration elapsed = start.elapsed();
        EXPECT_EQ(seams::fallbackMillisecondsSlept() - fallbackBefore, span.fallbackMs)
            << span.nanoseconds;
        EXPECT_GE(elapsed, (Duration{0, span.nanoseconds}));
        EXPECT_LT(elapsed, latestWake(span.fallbackMs * 1'000'000));
        EXPECT_EQ(platform::threadSleepWakeLatencyNanos(), latency);
    }
}

TEST(WindowsThreadSleep, ForcingTheFallbackStaysOnItsThread) {
    const MillisecondSleeps forced;
    std::uint64_t otherThreadFallback = maxU64;
    std::uint64_t otherThreadLatency = 0;
    std::thread other([&] {
        platform::threadSleep(0, 100'000);
        otherThreadFallback = seams::fallbackMillisecondsSlept();
        otherThreadLatency = platform::threadSleepWakeLatencyNanos();
    });
    other.join();
    EXPECT_EQ(otherThreadFallback, 0u);
    EXPECT_EQ(otherThreadLatency, platform::windows::timerWakeLatencyNanos);
}

TEST(WindowsPreciseSleep, NeverReturnsEarlyOnTimerOrFallback) {
    for (const bool fallback : {false, true}) {
        seams::forceMillisecondSleeps(fallback);
        for (const double wait : {0.0001, 0.0003, 0.01}) {
            for (int i = 0; i < 5; ++i) {
                const Instant start = Instant::now();
                preciseSleep(wait);
                const double elapsed = seconds(start.elapsed());
                EXPECT_GE(elapsed, wait) << (fallback ? "fallback" : "timer");
                EXPECT_LT(elapsed, wait + static_cast<double>(schedulingAllowanceNanos) / 1e9)
                    << (fallback ? "fallback" : "timer");
            }
        }
    }
    seams::forceMillisecondSleeps(false);
}

}  // namespace
}  // namespace tempoloom
