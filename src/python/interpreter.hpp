// The one place that includes the interpreter's API. Every file of this folder includes it
// before anything else: the interpreter's configuration defines feature macros
// (_POSIX_C_SOURCE, _XOPEN_SOURCE) that the standard headers read.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tempoloom {

// The stable ABI (abi3, and abi3t, which defines Py_LIMITED_API too) has functions where a
// version-specific build reads the objects' fields through the interpreter's macros. The
// callers have checked the object's type.
#ifdef Py_LIMITED_API
inline Py_ssize_t tupleSize(PyObject* tuple) noexcept { return PyTuple_Size(tuple); }
inline PyObject* tupleItem(PyObject* tuple, Py_ssize_t i) noexcept {
    return PyTuple_GetItem(tuple, i);
}
inline double floatValue(PyObject* exactFloat) noexcept { return PyFloat_AsDouble(exactFloat); }
// A new reference to None in one call: the stable ABI's Py_None is a call of its own.
inline PyObject* newNone() noexcept { return Py_GetConstant(Py_CONSTANT_NONE); }
#else
inline Py_ssize_t tupleSize(PyObject* tuple) noexcept { return PyTuple_GET_SIZE(tuple); }
inline PyObject* tupleItem(PyObject* tuple, Py_ssize_t i) noexcept {
    return PyTuple_GET_ITEM(tuple, i);
}
inline double floatValue(PyObject* exactFloat) noexcept { return PyFloat_AS_DOUBLE(exactFloat); }
inline PyObject* newNone() noexcept { return Py_NewRef(Py_None); }
#endif

}  // namespace tempoloom
