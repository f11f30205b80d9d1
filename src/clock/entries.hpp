// The interpreter-facing entries of the clock classes.
#pragma once

#include "boundary/python.hpp"

namespace tempoloom {

PyObject* monotonicClockNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
PyObject* getTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept;
PyObject* getLastResetTimeEntry(PyObject* self, PyObject* unused) noexcept;
PyObject* timeAtLastResetGetter(PyObject* self, void* closure) noexcept;
PyObject* epochTimeAtLastResetGetter(PyObject* self, void* closure) noexcept;

}  // namespace tempoloom
