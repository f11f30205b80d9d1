// The PanicException type, by which internal faults reach Python.
#pragma once

#include "boundary/python.hpp"

namespace tempoloom {

// The process-wide PanicException type (borrowed), created on first need. A failure to
// create it is an internal fault.
PyObject* panicExceptionType();

}  // namespace tempoloom
