// Matching a call's positional and keyword arguments to a ParameterList's slots.
#pragma once

#include "boundary/parameter_list.hpp"
#include "boundary/pending_error.hpp"

#include <span>

namespace tempoloom {

// Vector calls: args holds the positional arguments, then the keyword values in the order
// of kwnames (a tuple or null). Slots receive borrowed references or stay null.
Fallible<void> parseVector(const ParameterList& list, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, std::span<PyObject*> slots);

// Tuple-and-dict calls (constructors). kwargs may be null.
Fallible<void> parseTupleDict(const ParameterList& list, PyObject* args, PyObject* kwargs,
                              std::span<PyObject*> slots);

}  // namespace tempoloom
