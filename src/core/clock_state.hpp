// ClockState: what every clock object holds, and the arithmetic of the clocks' operations.
#pragma once

#include "core/time.hpp"

#include <optional>

namespace tempoloom {

struct ClockState {
    double timeAtLastReset = 0.0;       // the zero point, seconds since startInstant
    double epochTimeAtLastReset = 0.0;  // Unix time at which the zero point was set
    Instant startInstant;               // never changes after construction

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
        return applyZero ? elapsed - timeAtLastReset : elapsed;
    }

    // Puts the zero point newT seconds after now, reading the counter, then the wall clock.
    // False when the wall clock reads before 1970: the new zero point stays, a finished
    // state rather than a torn one.
    [[nodiscard]] bool reset(double newT) {
        const double elapsed = startInstant.elapsed().toSeconds();
        timeAtLastReset = elapsed + newT;
        const auto epoch = epochSeconds();
        if (!epoch) {
            return false;
        }
        epochTimeAtLastReset = *epoch;
        return true;
    }

    // Moves the zero point, and its Unix time, t seconds later.
    void add(double t) {
        timeAtLastReset += t;
        epochTimeAtLastReset += t;
    }

    // Moves the zero point, and its Unix time, t seconds earlier.
    void addTime(double t) {
        timeAtLastReset -= t;
        epochTimeAtLastReset -= t;
    }
};

}  // namespace tempoloom
