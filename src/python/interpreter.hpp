// The one place that includes the interpreter's API. Every file of this folder includes it
// before anything else: the interpreter's configuration defines feature macros
// (_POSIX_C_SOURCE, _XOPEN_SOURCE) that the standard headers read.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tempoloom {

// The stable ABI (abi3, and abi3t, which defines Py_LIMITED_API too) has functions where a
// version-specific build reads the objects' fields through the interpreter's macros. The
// callers of the tuple accessors have checked the object's type.
#ifdef Py_LIMITED_API
inline Py_ssize_t tupleSize(PyObject* tuple) noexcept { return PyTuple_Size(tuple); }
inline PyObject* tupleItem(PyObject* tuple, Py_ssize_t i) noexcept {
    return PyTuple_GetItem(tuple, i);
}
// Nothing to read inline: PyFloat_AsDouble checks the type itself, one call for any object.
inline bool readExactFloat(PyObject*, double&) noexcept { return false; }
#else
inline Py_ssize_t tupleSize(PyObject* tuple) noexcept { return PyTuple_GET_SIZE(tuple); }
inline PyObject* tupleItem(PyObject* tuple, Py_ssize_t i) noexcept {
    return PyTuple_GET_ITEM(tuple, i);
}
// An exact float's value, read without a call.
inline bool readExactFloat(PyObject* object, double& value) noexcept {
    if (!PyFloat_CheckExact(object)) {
        return false;
    }
    value = PyFloat_AS_DOUBLE(object);
    return true;
}
#endif

// A new reference to None. From the stable ABI of 3.13 on, Py_None and each reference count
// change are calls, and Py_GetConstant is one call for both; before it, and in a build for
// one interpreter, both are inline.
#if defined(Py_LIMITED_API) && Py_LIMITED_API + 0 >= 0x030D0000
inline PyObject* newNone() noexcept { return Py_GetConstant(Py_CONSTANT_NONE); }
#else
inline PyObject* newNone() noexcept { return Py_NewRef(Py_None); }
#endif

}  // namespace tempoloom
