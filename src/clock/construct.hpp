// Construction shared by both clock classes, and the error of a wall clock before 1970.
#pragma once

#include "boundary/pending_error.hpp"
#include "core/parameter_list.hpp"

namespace tempoloom {

// The RuntimeError for a wall clock that reads before 1970.
PendingError wallClockError();

// Parses (no arguments allowed), reads both clocks, then allocates an instance of type.
PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept;

}  // namespace tempoloom
