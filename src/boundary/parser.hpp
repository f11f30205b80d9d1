// Matching a call's positional and keyword arguments to a ParameterList's slots.
#pragma once

#include "core/parameter_list.hpp"
#include "boundary/pending_error.hpp"

#include <span>

namespace tempoloom {

// The general case of parseVector: keywords, or a count out of range.
Fallible<void> parseVectorSlow(const ParameterList& list, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwnames,
                               std::span<BorrowedRef> slots);

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

}  // namespace tempoloom
