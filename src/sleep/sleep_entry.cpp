// sleep and sleepers: one operation under two names, differing only in their messages.
#include "boundary/conversions.hpp"
#include "boundary/detach_guard.hpp"
#include "boundary/entry_frame.hpp"
#include "boundary/parser.hpp"
#include "sleep/entries.hpp"
#include "core/sleep.hpp"

#include <array>

namespace tempoloom {
namespace {

constexpr std::array<std::string_view, 1> tName{"t"};
constexpr ParameterList sleepParameters{
    .functionName = "sleep", .positional = tName, .required = 1};
constexpr ParameterList sleepersParameters{
    .functionName = "sleepers", .positional = tName, .required = 1};

PyObject* sleepCall(const ParameterList& parameters, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(parameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        auto seconds = convertArgument("t", slots[0], argToDouble);
        if (!seconds) {
            return propagate(seconds);
        }
        {
            // Detached for the whole wait, even one of no length.
            DetachGuard detached;
            preciseSleep(*seconds);
        }
        return OwnedRef::share(Py_None);
    });
}

}  // namespace

PyObject* sleepEntry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return sleepCall(sleepParameters, args, nargs, kwnames);
}

PyObject* sleepersEntry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
    return sleepCall(sleepersParameters, args, nargs, kwnames);
}

}  // namespace tempoloom
