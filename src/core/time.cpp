// Reading the counter, with the process-wide frequency cache, and the wall clock.
#include "core/time.hpp"

#include "core/internal_fault.hpp"

#include <atomic>

namespace tempoloom {
namespace {

// 0 until the first read; racing first reads store the same value.
std::atomic<std::uint64_t> frequencyCache{0};

std::uint64_t counterFrequency() {
    std::uint64_t frequency = frequencyCache.load(std::memory_order_relaxed);
    if (frequency != 0) {
        return frequency;
    }
    const auto queried = platform::counterFrequency();
    if (!queried || *queried == 0) {
        raiseFault("the monotonic counter's frequency could not be read");
    }
    frequencyCache.store(*queried, std::memory_order_relaxed);
    return *queried;
}

}  // namespace

Instant Instant::now() {
    const auto ticks = platform::counterTicks();
    if (!ticks) {
        raiseFault("the monotonic counter could not be read");
    }
    return Instant{ticksToDuration(*ticks, counterFrequency())};
}

Duration Instant::elapsed() const { return elapsedUntil(now()); }

std::optional<double> epochSeconds() noexcept {
    const auto since1970 = epochDuration(platform::wallClockFileTime());
    if (!since1970) {
        return std::nullopt;
    }
    return since1970->toSeconds();
}

}  // namespace tempoloom
