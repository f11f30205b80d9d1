// Making a clock object: both readings are taken before anything is allocated.
#include "clock/construct.hpp"

#include "boundary/entry_frame.hpp"
#include "boundary/parser.hpp"
#include "module/clock_object.hpp"

#include <memory>

namespace tempoloom {

PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        if (auto parsed = parseTupleDict(parameters, args, kwargs, {}); !parsed) {
            return propagate(parsed);
        }
        auto state = ClockState::create();
        if (!state) {
            return propagate(state);
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
