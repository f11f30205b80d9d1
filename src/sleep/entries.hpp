// The interpreter-facing entries of the module's sleep functions.
#pragma once

#include "boundary/python.hpp"

namespace tempoloom {

PyObject* sleepEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept;
PyObject* sleepersEntry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept;

}  // namespace tempoloom
