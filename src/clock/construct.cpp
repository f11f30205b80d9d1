// Making a clock object: both readings are taken before anything is allocated.
#include "clock/construct.hpp"

#include "boundary/entry_frame.hpp"
#include "boundary/parser.hpp"
#include "module/clock_object.hpp"

#include <memory>

namespace tempoloom {
namespace {

// The RuntimeError text for a wall clock that reads before 1970.
constexpr const char* wallClockBefore1970 = "Uh oh. The system clock took a shit.";

}  // namespace

PendingError wallClockError() {
    return PendingError::withMessage(PyExc_RuntimeError, wallClockBefore1970);
}

PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        if (auto parsed = parseTupleDict(parameters, args, kwargs, {}); !parsed) {
            return propagate(parsed);
        }
        const auto state = ClockState::start();
        if (!state) {
            return failWith(wallClockError());
        }
        OwnedRef noArgs = requireObject(PyTuple_New(0));
        OwnedRef object = OwnedRef::steal(PyBaseObject_Type.tp_new(type, noArgs.get(), nullptr));
        if (!object) {
            return failFromInterpreter();
        }
        ClockObject& clock = asClock(object.get());
        clock.state = *state;
        std::construct_at(&clock.borrow);
        return object;
    });
}

}  // namespace tempoloom
