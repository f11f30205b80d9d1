// The argument parser. Allocates nothing unless it builds an error.
#include "boundary/parser.hpp"

#include "core/parameter_list.hpp"

#include <string>
#include <vector>

namespace tempoloom {
namespace {

PendingError argumentError(std::string message) {
    return PendingError::withMessage(PyExc_TypeError, std::move(message));
}

// A keyword as str() renders it, unencodable characters as U+FFFD.
std::string renderKeyword(PyObject* keyword) {
    auto text = strText(keyword);
    if (!text) {
        PyErr_Clear();
        return "<unprintable keyword>";
    }
    return messages::lossyUtf8(*text);
}

class SlotFiller {
public:
    SlotFiller(const ParameterList& list, std::span<BorrowedRef> slots)
        : list_(list), slots_(slots) {}

    Fallible<void> positional(PyObject* const* args, std::size_t count) {
        const std::size_t max = list_.positional.size();
        for (std::size_t i = 0; i < count && i < max; ++i) {
            slots_[i] = BorrowedRef(args[i]);
        }
        if (count > max) {
            return failWith(argumentError(messages::tooManyPositional(list_, count)));
        }
        return {};
    }

    Fallible<void> keyword(PyObject* name, PyObject* value) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
        if (utf8 == nullptr) {
            PyErr_Clear();
            return failWith(argumentError(messages::unexpectedKeyword(list_, renderKeyword(name))));
        }
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        const std::size_t p = list_.positional.size();
        for (std::size_t j = 0; j < list_.keywordOnly.size(); ++j) {
            if (list_.keywordOnly[j].name == text) {
                return fill(p + j, text, value);
            }
        }
        for (std::size_t i = 0; i < p; ++i) {
            if (list_.positional[i] == text) {
                if (i < list_.positionalOnly) {
                    positionalOnlyKeywords_.push_back(text);
                    return {};
                }
                return fill(i, text, value);
            }
        }
        return failWith(argumentError(messages::unexpectedKeyword(list_, renderKeyword(name))));
    }

    Fallible<void> finish(std::size_t given) {
        if (!positionalOnlyKeywords_.empty()) {
            return failWith(
                argumentError(messages::positionalOnlyAsKeyword(list_, positionalOnlyKeywords_)));
        }
        if (given < list_.required && hasEmpty(given, list_.required)) {
            std::vector<std::string_view> missing;
            for (std::size_t i = 0; i < list_.required; ++i) {
                if (!slots_[i]) {
                    missing.push_back(list_.positional[i]);
                }
            }
            return failWith(argumentError(messages::missingRequired(list_, "positional", missing)));
        }
        std::vector<std::string_view> missing;
        const std::size_t p = list_.positional.size();
        for (std::size_t j = 0; j < list_.keywordOnly.size(); ++j) {
            if (list_.keywordOnly[j].required && !slots_[p + j]) {
                missing.push_back(list_.keywordOnly[j].name);
            }
        }
        if (!missing.empty()) {
            return failWith(argumentError(messages::missingRequired(list_, "keyword", missing)));
        }
        return {};
    }

private:
    Fallible<void> fill(std::size_t slot, std::string_view name, PyObject* value) {
        if (slots_[slot]) {
            return failWith(argumentError(messages::multipleValues(list_, name)));
        }
        slots_[slot] = BorrowedRef(value);
        return {};
    }

    bool hasEmpty(std::size_t from, std::size_t to) const {
        for (std::size_t i = from; i < to; ++i) {
            if (!slots_[i]) {
                return true;
            }
        }
        return false;
    }

    const ParameterList& list_;
    std::span<BorrowedRef> slots_;
    std::vector<std::string_view> positionalOnlyKeywords_;
};

}  // namespace

Fallible<void> parseVectorSlow(const ParameterList& list, PyObject* const* args,
                               Py_ssize_t nargs, PyObject* kwnames,
                               std::span<BorrowedRef> slots) {
    const auto given = static_cast<std::size_t>(nargs);
    SlotFiller filler(list, slots);
    if (auto ok = filler.positional(args, given); !ok) {
        return ok;
    }
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (auto ok = filler.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i]); !ok) {
                return ok;
            }
        }
    }
    return filler.finish(given);
}

Fallible<void> parseTupleDict(const ParameterList& list, PyObject* args, PyObject* kwargs,
                              std::span<BorrowedRef> slots) {
    SlotFiller filler(list, slots);
    const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    if (auto ok = filler.positional(&PyTuple_GET_ITEM(args, 0), given); !ok) {
        return ok;
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            if (auto ok = filler.keyword(name, value); !ok) {
                return ok;
            }
        }
    }
    return filler.finish(given);
}

}  // namespace tempoloom
