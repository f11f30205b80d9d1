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
    return clockMethod<SharedHold>(
        ClockClass::monotonicClock, getTimeParameters, self, args, nargs, kwnames, argToBool, true,
        [](const ClockState& state, bool applyZero) -> Fallible<OwnedRef> {
            return requireObject(PyFloat_FromDouble(state.time(applyZero)));
        });
}

PyObject* getLastResetTimeEntry(PyObject* self, PyObject*) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        auto clock = checkedClock(ClockClass::monotonicClock, self);
        if (!clock) {
            return propagate(clock);
        }
        return readUnderSharedHold(**clock, &ClockState::timeAtLastReset);
    });
}

// The interpreter's descriptors hand the getters instances of the class only.
PyObject* timeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry(
        [&] { return readUnderSharedHold(asClock(self), &ClockState::timeAtLastReset); });
}

PyObject* epochTimeAtLastResetGetter(PyObject* self, void*) noexcept {
    return objectEntry(
        [&] { return readUnderSharedHold(asClock(self), &ClockState::epochTimeAtLastReset); });
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
