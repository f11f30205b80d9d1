// A call's arguments: matched to a ParameterList's slots, converted, and named in a
// refusal; and the check of self.
#pragma once

#include "python/interpreter.hpp"

#include "core/parameter_list.hpp"
#include "python/errors.hpp"

#include <span>
#include <string_view>

namespace tempoloom {

// The general case of parseVector: keywords, or a count out of range.
Fallible<void> parseVectorSlow(const ParameterList& list, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, std::span<BorrowedRef> slots);

// Vector calls: args holds the positional arguments, then the keyword values in the order
// of kwnames (a tuple or null). Slots receive borrowed references or stay null.
inline Fallible<void> parseVector(const ParameterList& list, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames,
                                  std::span<BorrowedRef> slots) {
    const auto given = static_cast<std::size_t>(nargs);
    // The common call: positional arguments only, as many as allowed and required.
    if (kwnames == nullptr && given <= list.positional.size() && given >= list.required &&
        list.keywordOnly.empty()) {
        for (std::size_t i = 0; i < given; ++i) {
            slots[i] = BorrowedRef(args[i]);
        }
        return {};
    }
    return parseVectorSlow(list, args, nargs, kwnames, slots);
}

// Tuple-and-dict calls (constructors). kwargs may be null.
Fallible<void> parseTupleDict(const ParameterList& list, PyObject* args, PyObject* kwargs,
                              std::span<BorrowedRef> slots);

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
