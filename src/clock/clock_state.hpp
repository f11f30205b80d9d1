// ClockState: what every clock object holds, and how a new one is made.
#pragma once

#include "boundary/pending_error.hpp"
#include "core/time.hpp"

namespace tempoloom {

// The RuntimeError text for a wall clock that reads before 1970.
inline constexpr const char* wallClockBefore1970 = "Uh oh. The system clock took a shit.";

struct ClockState {
    double timeAtLastReset = 0.0;       // the zero point, seconds since startInstant
    double epochTimeAtLastReset = 0.0;  // Unix time at which the zero point was set
    Instant startInstant;               // never changes after construction

    // Reads the counter, then the wall clock.
    static Fallible<ClockState> create();
};

// The error for a wall clock before 1970.
PendingError wallClockError();

}  // namespace tempoloom
