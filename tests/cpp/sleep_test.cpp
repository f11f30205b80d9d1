// The precise sleep on the real counter: never early, and faults for what it cannot wait.
#include "core/sleep.hpp"

#include "core/internal_fault.hpp"
#include "core/sleep_loop.hpp"
#include "core/time.hpp"
#include "platform/windows_wait.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace tempoloom {
namespace {

TEST(PreciseSleep, NeverReturnsEarly) {
    for (double seconds : {0.0001, 0.0002, 0.0003, 0.001, 0.01}) {
        for (int i = 0; i < 5; ++i) {
            const Instant start = Instant::now();
            preciseSleep(seconds);
            const Duration elapsed = start.elapsed();
            EXPECT_GE(elapsed.toSeconds(), seconds);
            EXPECT_LT(elapsed.toSeconds(), seconds + 0.5);
        }
    }
}

TEST(PreciseSleep, ReturnsAtOnceForNothingToWait) {
    const Instant start = Instant::now();
    for (double seconds : {0.0, -0.0, -1.0, -std::numeric_limits<double>::infinity(), 1e-10}) {
        preciseSleep(seconds);
    }
    EXPECT_LT(start.elapsed().toSeconds(), 0.1);
}

TEST(PreciseSleep, UnconvertibleSecondsAreFaults) {
    for (double seconds : {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), 18446744073709551616.0}) {
        try {
            preciseSleep(seconds);
            ADD_FAILURE() << seconds;
        } catch (const InternalFault& fault) {
            EXPECT_EQ(fault.message(),
                      "cannot convert float seconds to Duration: value is either too big or NaN");
        }
    }
}

// A clock that each reading advances by a nanosecond, and thread sleeps that last exactly
// as long as asked.
struct VirtualTimebase {
    std::uint64_t now = 0;
    std::vector<std::uint64_t> requests;
    std::uint64_t remainingAtLastRequest = 0;
    std::uint64_t target = 0;
    Duration latency;

    Duration elapsed() { return Duration::fromNanos(++now); }
    void threadSleep(const Duration& span) {
        remainingAtLastRequest = target - now;
        requests.push_back(span.seconds * nanosPerSecond + span.nanoseconds);
        now += requests.back();
    }
    Duration wakeLatency() const { return latency; }
    void spin() {}
};

TEST(PreciseSleep, ThreadSleepsNeverComeWithinTheTimersWakeLatency) {
    struct Case {
        std::uint64_t latency;
        std::vector<std::uint64_t> requests;
    };
    const Case cases[] = {
        // No latency: plain halving while more than 200 µs remain.
        {0, {4'999'999, 2'499'999, 1'249'999, 624'999, 312'499, 156'249}},
        // 1 ms: the last request stops 1 ms short of the deadline, and below that it spins.
        {1'000'000, {4'999'999, 2'499'999, 1'249'999, 249'999}},
    };
    for (const Case& c : cases) {
        VirtualTimebase timebase;
        timebase.target = 10'000'000;
        timebase.latency = Duration::fromNanos(c.latency);
        sleepUntilElapsed(Duration{0, 10'000'000}, timebase);
        EXPECT_EQ(timebase.requests, c.requests) << c.latency;
        EXPECT_GT(timebase.remainingAtLastRequest, c.latency);
        EXPECT_EQ(timebase.now, 10'000'000u) << "returns at the first reading at the target";
    }
}

// Windows' millisecond fallback: Sleep counts whole milliseconds and wakes on the first
// tick of the system timer at or after its due time. A reading takes 25 ns, a spin pass
// a microsecond (to keep the model quick).
struct TickTimebase {
    static constexpr std::uint64_t tick = 15'625'000;
    std::uint64_t now = 0;
    std::uint64_t start = 0;
    Duration latency;
    // The high-resolution timer's latency until the first thread sleep finds it failing.
    bool failureFoundByFirstSleep = false;

    Duration elapsed() {
        now += 25;
        return Duration::fromNanos(now - start);
    }
    void threadSleep(const Duration& span) {
        const std::uint64_t ms =
            platform::windows::fallbackMilliseconds(span.seconds, span.nanoseconds);
        now = (now + ms * 1'000'000 + tick - 1) / tick * tick;
        failureFoundByFirstSleep = false;
    }
    Duration wakeLatency() const {
        return failureFoundByFirstSleep
                   ? Duration::fromNanos(platform::windows::timerWakeLatencyNanos)
                   : latency;
    }
    void spin() { now += 1'000; }
};

TEST(PreciseSleep, MillisecondFallbackLandsOnTimeOnceItsLatencyIsAllowedFor) {
    const Duration fallback = Duration::fromNanos(
        platform::windows::fallbackWakeLatencyNanos(platform::windows::defaultTimeIncrement));
    const Duration timer = Duration::fromNanos(platform::windows::timerWakeLatencyNanos);
    // The worst lateness over waits of `fromUs` to `toUs` in steps of 250 µs, each begun
    // at 25 phases of the tick.
    const auto worstLateNs = [](Duration latency, bool foundByFirstSleep, std::uint64_t fromUs,
                                std::uint64_t toUs) {
        std::uint64_t worst = 0;
        for (std::uint64_t us = fromUs; us <= toUs; us += 250) {
            for (std::uint64_t phase = 0; phase < TickTimebase::tick; phase += 625'013) {
                TickTimebase timebase{.now = phase,
                                      .start = phase,
                                      .latency = latency,
                                      .failureFoundByFirstSleep = foundByFirstSleep};
                const Duration target = Duration::fromNanos(us * 1'000);
                sleepUntilElapsed(target, timebase);
                const std::uint64_t waited = timebase.now - timebase.start;
                EXPECT_GE(waited, us * 1'000) << "returned early";
                worst = std::max(worst, waited - us * 1'000);
            }
        }
        return worst;
    };
    // Planned for the fallback from the start, as after the process found no
    // high-resolution timer.
    EXPECT_LT(worstLateNs(fallback, false, 1'500, 50'000), 2'000u);
    // Found out by the first thread sleep: the rest of the wait plans for the fallback. A
    // wait shorter than two ticks may be late by then.
    EXPECT_LT(worstLateNs(fallback, true, 40'000, 100'000), 2'000u);
    // Planned for the timer's millisecond instead, sleeps land up to a tick late.
    EXPECT_GT(worstLateNs(timer, false, 1'500, 50'000), 10'000'000u);
}

TEST(PreciseSleep, ThreadSleepRequestBoundaries) {
    const auto request = [](std::uint64_t remaining, std::uint64_t latency) {
        const auto r =
            threadSleepRequest(Duration::fromNanos(remaining), Duration::fromNanos(latency));
        return r ? static_cast<std::int64_t>(r->seconds * nanosPerSecond + r->nanoseconds) : -1;
    };
    EXPECT_EQ(request(200'000, 0), -1);
    EXPECT_EQ(request(200'001, 0), 100'000);
    EXPECT_EQ(request(3 * nanosPerSecond + 1, 0), 1'500'000'000);
    // Within the latency, or too little left beyond it to be worth a timer: spin.
    EXPECT_EQ(request(1'000'000, 1'000'000), -1);
    EXPECT_EQ(request(1'099'999, 1'000'000), -1);
    EXPECT_EQ(request(1'100'000, 1'000'000), 100'000);
    EXPECT_EQ(request(2'000'000, 1'000'000), 1'000'000);
    EXPECT_EQ(request(2'000'001, 1'000'000), 1'000'000);
    EXPECT_EQ(request(5 * nanosPerSecond + 1'000'000, 1'000'000), 2'500'500'000);
}

}  // namespace
}  // namespace tempoloom
