// The hybrid wait behind sleep and sleepers.
#include "core/sleep.hpp"

#include "core/float_seconds.hpp"
#include "core/internal_fault.hpp"
#include "core/time.hpp"
#include "platform/platform.hpp"
#include "platform/spin_hint.hpp"

namespace tempoloom {
namespace {

// Below this the thread sleep cannot be trusted to wake in time: spin instead.
constexpr Duration spinWindow{0, 200'000};

}  // namespace

void preciseSleep(double seconds) {
    if (seconds <= 0.0) {
        return;
    }
    // Read before converting, so the conversion counts toward the wait.
    const Instant start = Instant::now();
    const auto target = secondsToDuration(seconds);
    if (!target) {
        raiseFault("cannot convert float seconds to Duration: value is either too big or NaN");
    }
    for (;;) {
        const Duration elapsed = start.elapsed();
        if (elapsed >= *target) {
            return;
        }
        const Duration remaining = target->minus(elapsed);
        if (remaining > spinWindow) {
            const Duration half = remaining.half();
            platform::threadSleep(half.seconds, half.nanoseconds);
        } else {
            platform::spinHint();
        }
    }
}

}  // namespace tempoloom
