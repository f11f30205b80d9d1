// The precise sleep's loop, apart from the clock and the thread sleep it runs on, so that
// a model of another system's timer runs the very same code as the module.
#pragma once

#include "core/time.hpp"

#include <concepts>
#include <optional>

namespace tempoloom {

// At or below this the thread sleep cannot be trusted to wake in time: spin instead.
inline constexpr Duration spinWindow{0, 200'000};
// A shorter request is not worth a timer.
inline constexpr Duration shortestThreadSleep{0, 100'000};

// What to ask of a thread sleep that may wake up to `wakeLatency` past its request, with
// `remaining` to go: half of it, but never so much that a late wake passes the deadline.
// Nothing when the rest is to be spun. A latency of zero leaves plain halving.
constexpr std::optional<Duration> threadSleepRequest(const Duration& remaining,
                                                     const Duration& wakeLatency) noexcept {
    if (remaining <= spinWindow || remaining <= wakeLatency) {
        return std::nullopt;
    }
    const Duration half = remaining.half();
    const Duration beforeLatency = remaining.minus(wakeLatency);
    const Duration request = beforeLatency < half ? beforeLatency : half;
    if (request < shortestThreadSleep) {
        return std::nullopt;
    }
    return request;
}

// What the loop runs on: the time since the wait began, a thread sleep, how late that may
// wake, and a spin pass.
template <class T>
concept SleepTimebase = requires(T& timebase, const Duration& span) {
    { timebase.elapsed() } -> std::same_as<Duration>;
    timebase.threadSleep(span);
    { timebase.wakeLatency() } -> std::same_as<Duration>;
    timebase.spin();
};

// Returns at the first reading at or past `target`, measuring again after every thread
// sleep, so one that ends early or late never shortens the wait. The wake latency is asked
// again after each thread sleep, since the path the next one takes may have changed.
template <SleepTimebase Timebase>
void sleepUntilElapsed(const Duration& target, Timebase& timebase) {
    Duration wakeLatency = timebase.wakeLatency();
    for (;;) {
        const Duration elapsed = timebase.elapsed();
        if (elapsed >= target) {
            return;
        }
        if (const auto request = threadSleepRequest(target.minus(elapsed), wakeLatency)) {
            timebase.threadSleep(*request);
            wakeLatency = timebase.wakeLatency();
        } else {
            timebase.spin();
        }
    }
}

}  // namespace tempoloom
