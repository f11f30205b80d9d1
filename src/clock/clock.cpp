// Clock: construction, reset, add and addTime. Every change runs under the exclusive hold,
// taken before the argument is converted and kept until the last field is written.
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

constexpr std::array<std::string_view, 1> newTName{"newT"};
constexpr std::array<std::string_view, 1> tName{"t"};

constexpr ParameterList newParameters{.functionName = "__new__", .className = "Clock"};
constexpr ParameterList resetParameters{
    .functionName = "reset", .className = "Clock", .positional = newTName};
constexpr ParameterList addParameters{
    .functionName = "add", .className = "Clock", .positional = tName, .required = 1};
constexpr ParameterList addTimeParameters{
    .functionName = "addTime", .className = "Clock", .positional = tName, .required = 1};

// Parses, checks self, takes the exclusive hold and converts the one argument (absent:
// 0.0), then runs change on the state with the hold still taken.
template <class Change>
PyObject* changeEntry(const ParameterList& parameters, PyObject* self, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, Change change) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(parameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        if (auto checked = checkInstance(self, TypeObjectCache::of(ClockClass::clock).require());
            !checked) {
            return propagate(checked);
        }
        ClockObject& clock = asClock(self);
        auto hold = ExclusiveHold::take(clock.borrow);
        if (!hold) {
            return propagate(hold);
        }
        double amount = 0.0;
        if (slots[0]) {
            auto converted = convertArgument(parameters.positional[0], slots[0], argToDouble);
            if (!converted) {
                return propagate(converted);
            }
            amount = *converted;
        }
        if (auto changed = change(clock.state, amount); !changed) {
            return propagate(changed);
        }
        return OwnedRef::share(Py_None);
    });
}

}  // namespace

PyObject* clockNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return constructClock(newParameters, type, args, kwargs);
}

PyObject* resetEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return changeEntry(resetParameters, self, args, nargs, kwnames,
                       [](ClockState& state, double newT) -> Fallible<void> {
                           // The counter is read after the argument was converted.
                           if (!state.reset(newT)) {
                               return failWith(wallClockError());
                           }
                           return {};
                       });
}

PyObject* addEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept {
    return changeEntry(addParameters, self, args, nargs, kwnames,
                       [](ClockState& state, double t) -> Fallible<void> {
                           state.add(t);
                           return {};
                       });
}

PyObject* addTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return changeEntry(addTimeParameters, self, args, nargs, kwnames,
                       [](ClockState& state, double t) -> Fallible<void> {
                           state.addTime(t);
                           return {};
                       });
}

}  // namespace tempoloom
