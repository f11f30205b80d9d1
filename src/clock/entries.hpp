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

PyObject* clockNew(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
PyObject* resetEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept;
PyObject* addEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) noexcept;
PyObject* addTimeEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept;

}  // namespace tempoloom
