// The one place that includes the interpreter's API. Every file of this folder includes it
// before anything else: the interpreter's configuration defines feature macros
// (_POSIX_C_SOURCE, _XOPEN_SOURCE) that the standard headers read.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
