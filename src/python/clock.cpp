// Clock's Python face: construction, reset, add and addTime, and the tables that make the
// class. Every change runs under the exclusive hold, taken before the argument is
// converted and kept until the last field is written.
#include "python/interpreter.hpp"

#include "python/clock_common.hpp"

namespace tempoloom {
namespace {

constexpr std::array<std::string_view, 1> newTName{"newT"};
constexpr std::array<std::string_view, 1> tName{"t"};

constexpr ParameterList newParameters{.functionName = "__new__", .className = "Clock"};
constexpr ParameterList resetParameters{
    .functionName = "reset", .className = "Clock", .positional = newTName};
constexpr ParameterList addParameters{
    .functionName = "add", .className = "Clock", .positional = tName, .required = 1};
constexpr ParameterList addTimeParameters{
    .functionName = "addTime", .className = "Clock", .positional = tName, .required = 1};

PyObject* newEntry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return constructClock(newParameters, type, args, kwargs);
}

PyObject* resetEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return changeMethod(ClockClass::clock, resetParameters, self, args, nargs, kwnames, argToDouble,
                        0.0, [](ClockState& state, double newT) -> Fallible<OwnedRef> {
                            // The counter is read after the argument was converted.
                            if (!state.reset(newT)) {
                                return failWith(wallClockError());
                            }
                            return OwnedRef::steal(newNone());
                        });
}

PyObject* addEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
    return changeMethod(ClockClass::clock, addParameters, self, args, nargs, kwnames, argToDouble,
                        0.0, [](ClockState& state, double t) -> Fallible<OwnedRef> {
                            state.add(t);
                            return OwnedRef::steal(newNone());
                        });
}

PyObject* addTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return changeMethod(ClockClass::clock, addTimeParameters, self, args, nargs, kwnames,
                        argToDouble, 0.0, [](ClockState& state, double t) -> Fallible<OwnedRef> {
                            state.addTime(t);
                            return OwnedRef::steal(newNone());
                        });
}

PyMethodDef methods[] = {
    {"reset", asCFunction(resetEntry), METH_FASTCALL | METH_KEYWORDS,
     "reset($self, newT=0)\n--\n\n"},
    {"addTime", asCFunction(addTimeEntry), METH_FASTCALL | METH_KEYWORDS,
     "addTime($self, t)\n--\n\n"},
    {"add", asCFunction(addEntry), METH_FASTCALL | METH_KEYWORDS, "add($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const ClassDefinition clockDefinition{
    .name = "Clock",
    .specName = "builtins.Clock",
    .doc = "Clock()\n--\n\n",
    .construct = newEntry,
    .methods = methods,
};

}  // namespace tempoloom
