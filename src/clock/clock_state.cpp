// Making the initial state of a clock object.
#include "clock/clock_state.hpp"

#include "core/time.hpp"

namespace tempoloom {

PendingError wallClockError() {
    return PendingError::withMessage(PyExc_RuntimeError, wallClockBefore1970);
}

Fallible<ClockState> ClockState::create() {
    const Instant start = Instant::now();
    const auto epoch = epochSeconds();
    if (!epoch) {
        return failWith(wallClockError());
    }
    return ClockState{0.0, *epoch, start};
}

}  // namespace tempoloom
