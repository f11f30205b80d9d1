// ClockState: what every clock object holds, and the arithmetic of the clocks' operations.
#pragma once

#include "core/time.hpp"

#include <atomic>
#include <optional>

namespace tempoloom {

// The two doubles are stored by one writer at a time, under the object's exclusive hold,
// while readers that take no hold may load them, so every access after construction is
// atomic. An atomic load cannot tear one field, but a read combines loads: time() pairs a
// counter reading with the zero point, and a reset between the two would pair an earlier
// reading with a later zero point. So the changes write inside a window of the object's
// SequenceCount and the readers read through it, the stores release and the loads acquire
// as it needs (sequence_count.hpp); on x86 both are plain moves.
struct ClockState {
    double timeAtLastReset = 0.0;       // the zero point, seconds since startInstant
    double epochTimeAtLastReset = 0.0;  // Unix time at which the zero point was set
    Instant startInstant;               // never changes after construction

    static double load(const double& field) noexcept {
        // The field is never a const object; atomic_ref<const T> comes only with C++26.
        return std::atomic_ref(const_cast<double&>(field)).load(std::memory_order_acquire);
    }
    static void store(double& field, double value) noexcept {
        std::atomic_ref(field).store(value, std::memory_order_release);
    }

    // Reads the counter, then the wall clock; nothing when the wall clock reads before 1970.
    static std::optional<ClockState> start() {
        const Instant start = Instant::now();
        const auto epoch = epochSeconds();
        if (!epoch) {
            return std::nullopt;
        }
        return ClockState{0.0, *epoch, start};
    }

    // Seconds since the zero point, or since startInstant without applyZero.
    double time(bool applyZero) const {
        const double elapsed = startInstant.elapsed().toSeconds();
        return applyZero ? elapsed - load(timeAtLastReset) : elapsed;
    }

    // Puts the zero point newT seconds after now, reading the counter, then the wall clock.
    // False when the wall clock reads before 1970: the new zero point stays, a finished
    // state rather than a torn one.
    [[nodiscard]] bool reset(double newT) {
        const double elapsed = startInstant.elapsed().toSeconds();
        store(timeAtLastReset, elapsed + newT);
        const auto epoch = epochSeconds();
        if (!epoch) {
            return false;
        }
        store(epochTimeAtLastReset, *epoch);
        return true;
    }

    // Moves the zero point, and its Unix time, t seconds later.
    void add(double t) {
        store(timeAtLastReset, load(timeAtLastReset) + t);
        store(epochTimeAtLastReset, load(epochTimeAtLastReset) + t);
    }

    // Moves the zero point, and its Unix time, t seconds earlier.
    void addTime(double t) {
        store(timeAtLastReset, load(timeAtLastReset) - t);
        store(epochTimeAtLastReset, load(epochTimeAtLastReset) - t);
    }
};
static_assert(std::atomic_ref<double>::is_always_lock_free &&
              std::atomic_ref<double>::required_alignment <= alignof(double));

}  // namespace tempoloom
