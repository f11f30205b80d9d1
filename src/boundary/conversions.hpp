// Converting argument objects, checking self, and naming the parameter in a refusal.
#pragma once

#include "boundary/pending_error.hpp"

#include <string_view>

namespace tempoloom {

// Anything the interpreter's float conversion accepts; no range check.
Fallible<double> argToDouble(BorrowedRef object);

// A bool, or a numpy boolean recognised by its type's name. No truth-value test.
Fallible<bool> argToBool(BorrowedRef object);

// A refused conversion's exact TypeError becomes "argument 'name': ..."; others pass.
PendingError wrapArgumentError(std::string_view parameter, PendingError error);

// Converts a slot with `convert`, wrapping a refusal with the parameter's name.
template <class Convert>
auto convertArgument(std::string_view parameter, BorrowedRef object, Convert convert)
    -> decltype(convert(object)) {
    auto value = convert(object);
    if (!value) {
        return failWith(wrapArgumentError(parameter, std::move(value.error())));
    }
    return value;
}

// self must be an instance of expected or of a subclass.
inline Fallible<void> checkInstance(PyObject* self, PyTypeObject* expected) {
    PyTypeObject* type = Py_TYPE(self);
    if (type == expected || PyType_IsSubtype(type, expected)) {
        return {};
    }
    return failWith(PendingError::typeMismatch(self, expected));
}

}  // namespace tempoloom
