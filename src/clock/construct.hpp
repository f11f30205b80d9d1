// Construction shared by both clock classes.
#pragma once

#include "core/parameter_list.hpp"
#include "boundary/python.hpp"

namespace tempoloom {

// Parses (no arguments allowed), reads both clocks, then allocates an instance of type.
PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept;

}  // namespace tempoloom
