// The hybrid wait behind sleep and sleepers, on the monotonic counter and the system's
// thread sleep.
#include "core/sleep.hpp"

#include "core/float_seconds.hpp"
#include "core/internal_fault.hpp"
#include "core/sleep_loop.hpp"
#include "core/time.hpp"
#include "platform/platform.hpp"
#include "platform/spin_hint.hpp"

namespace tempoloom {
namespace {

struct SystemTimebase {
    Instant start;

    Duration elapsed() const { return start.elapsed(); }
    static void threadSleep(const Duration& span) noexcept {
        platform::threadSleep(span.seconds, span.nanoseconds);
    }
    static Duration wakeLatency() noexcept {
        return Duration::fromNanos(platform::threadSleepWakeLatencyNanos());
    }
    static void spin() noexcept { platform::spinHint(); }
};

}  // namespace

void preciseSleep(double seconds) {
    if (seconds <= 0.0) {
        return;
    }
    // Read before converting, so the conversion counts toward the wait.
    SystemTimebase timebase{Instant::now()};
    const auto target = secondsToDuration(seconds);
    if (!target) {
        raiseFault("cannot convert float seconds to Duration: value is either too big or NaN");
    }
    sleepUntilElapsed(*target, timebase);
}

}  // namespace tempoloom
