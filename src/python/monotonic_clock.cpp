// MonotonicClock's Python face: construction, getTime, getLastResetTime, the two
// attributes, and the tables that make the class.
#include "python/interpreter.hpp"

#include "python/clock_common.hpp"

namespace tempoloom {
namespace {

constexpr std::array<std::string_view, 1> applyZeroName{"applyZero"};

constexpr ParameterList newParameters{.functionName = "__new__", .className = "MonotonicClock"};
constexpr ParameterList getTimeParameters{
    .functionName = "getTime", .className = "MonotonicClock", .positional = applyZeroName};

PyObject* newEntry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return constructClock(newParameters, type, args, kwargs);
}

PyObject* getTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(getTimeParameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        auto checked = checkedClock(ClockClass::monotonicClock, self);
        if (!checked) {
            return propagate(checked);
        }
        ClockData& clock = **checked;
        // No argument or a bool: nothing to convert, no Python code runs, no hold.
        PyObject* given = slots[0].get();
        if (given == nullptr || Py_IS_TYPE(given, &PyBool_Type)) {
            const bool applyZero = given != Py_False;
            auto time = readWithoutHold(
                clock, [applyZero](const ClockState& state) { return state.time(applyZero); });
            if (!time) {
                return propagate(time);
            }
            return requireObject(PyFloat_FromDouble(*time));
        }
        // Anything else is converted, or refused, under the shared hold: numpy's __bool__ is
        // Python code, which must not change the clock while this read holds it.
        auto hold = SharedHold::take(clock.borrow);
        if (!hold) {
            return propagate(hold);
        }
        auto applyZero = convertArgument(getTimeParameters.positional[0], slots[0], argToBool);
        if (!applyZero) {
            return propagate(applyZero);
        }
        return requireObject(PyFloat_FromDouble(clock.state.time(*applyZero)));
    });
}

PyObject* getLastResetTimeEntry(PyObject* self, PyObject*) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        auto clock = checkedClock(ClockClass::monotonicClock, self);
        if (!clock) {
            return propagate(clock);
        }
        return readField(**clock, &ClockState::timeAtLastReset);
    });
}

// The interpreter's descriptors hand the getters instances of the class only.
PyObject* timeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry([&] { return readField(asClock(self), &ClockState::timeAtLastReset); });
}

PyObject* epochTimeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry([&] { return readField(asClock(self), &ClockState::epochTimeAtLastReset); });
}

PyMethodDef methods[] = {
    {"getTime", asCFunction(getTimeEntry), METH_FASTCALL | METH_KEYWORDS,
     "getTime($self, applyZero=True)\n--\n\n"},
    {"getLastResetTime", asCFunction(getLastResetTimeEntry), METH_NOARGS,
     "getLastResetTime($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef attributes[] = {
    {"_timeAtLastReset", timeAtLastResetGetter, nullptr, "", nullptr},
    {"_epochTimeAtLastReset", epochTimeAtLastResetGetter, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const ClassDefinition monotonicClockDefinition{
    .name = "MonotonicClock",
    .specName = "builtins.MonotonicClock",
    .doc = "MonotonicClock()\n--\n\n",
    .construct = newEntry,
    .methods = methods,
    .getset = attributes,
};

}  // namespace tempoloom
