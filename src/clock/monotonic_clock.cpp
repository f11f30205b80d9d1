// MonotonicClock: construction, getTime, getLastResetTime and the two attributes.
#include "boundary/conversions.hpp"
#include "boundary/entry_frame.hpp"
#include "boundary/holds.hpp"
#include "boundary/parser.hpp"
#include "clock/construct.hpp"
#include "clock/entries.hpp"
#include "module/clock_object.hpp"
#include "module/type_cache.hpp"

#include <array>

namespace tempoloom {
namespace {

constexpr std::array<std::string_view, 1> applyZeroName{"applyZero"};

constexpr ParameterList newParameters{.functionName = "__new__", .className = "MonotonicClock"};
constexpr ParameterList getTimeParameters{
    .functionName = "getTime", .className = "MonotonicClock", .positional = applyZeroName};

Fallible<ClockObject*> checkedClock(PyObject* self) {
    if (auto checked = checkInstance(self, TypeObjectCache::of(ClockClass::monotonicClock).require());
        !checked) {
        return propagate(checked);
    }
    return &asClock(self);
}

// A float from one field, read under a shared hold.
template <class Read>
Fallible<OwnedRef> readUnderSharedHold(ClockObject& clock, Read read) {
    auto hold = SharedHold::take(clock.borrow);
    if (!hold) {
        return propagate(hold);
    }
    return requireObject(PyFloat_FromDouble(read(clock.state)));
}

}  // namespace

PyObject* monotonicClockNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return constructClock(newParameters, type, args, kwargs);
}

PyObject* getTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(getTimeParameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        auto clock = checkedClock(self);
        if (!clock) {
            return propagate(clock);
        }
        auto hold = SharedHold::take((*clock)->borrow);
        if (!hold) {
            return propagate(hold);
        }
        bool applyZero = true;
        if (slots[0]) {
            auto converted = convertArgument("applyZero", slots[0], argToBool);
            if (!converted) {
                return propagate(converted);
            }
            applyZero = *converted;
        }
        return requireObject(PyFloat_FromDouble((*clock)->state.time(applyZero)));
    });
}

PyObject* getLastResetTimeEntry(PyObject* self, PyObject*) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        auto clock = checkedClock(self);
        if (!clock) {
            return propagate(clock);
        }
        return readUnderSharedHold(**clock,
                                   [](const ClockState& state) { return state.timeAtLastReset; });
    });
}

// The interpreter's descriptors hand the getters instances of the class only.
PyObject* timeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        return readUnderSharedHold(asClock(self),
                                   [](const ClockState& state) { return state.timeAtLastReset; });
    });
}

PyObject* epochTimeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        return readUnderSharedHold(
            asClock(self), [](const ClockState& state) { return state.epochTimeAtLastReset; });
    });
}

}  // namespace tempoloom
