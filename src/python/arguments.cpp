// The argument parser, which allocates nothing unless it builds an error; the float and
// boolean conversions, and the wrapping of their refusals.
#include "python/interpreter.hpp"

#include "python/arguments.hpp"

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

    // item(i) is the i-th of count positional arguments.
    template <class Item>
    Fallible<void> positional(std::size_t count, Item item) {
        const std::size_t max = list_.positional.size();
        for (std::size_t i = 0; i < count && i < max; ++i) {
            slots_[i] = BorrowedRef(item(i));
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

// numpy is never imported: its booleans are known by module and type name. Failures to
// read the names mean "not a numpy boolean".
bool isNumpyBool(PyTypeObject* type) {
    OwnedRef module = typeModule(type);
    if (!module || !strEquals(module.get(), "numpy")) {
        PyErr_Clear();
        return false;
    }
    OwnedRef name = OwnedRef::steal(PyType_GetName(type));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return strEquals(name.get(), "bool_") || strEquals(name.get(), "bool");
}

std::string strOrUnprintable(PyObject* instance) {
    if (auto text = strText(instance)) {
        return std::move(*text);
    }
    PyErr_WriteUnraisable(instance);
    OwnedRef typeName = OwnedRef::steal(PyType_GetName(Py_TYPE(instance)));
    const char* name = typeName ? PyUnicode_AsUTF8AndSize(typeName.get(), nullptr) : nullptr;
    if (name == nullptr) {
        PyErr_Clear();
        return "<unprintable object>";
    }
    return std::string("<unprintable ") + name + " object>";
}

}  // namespace

Fallible<void> parseVectorSlow(const ParameterList& list, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, std::span<BorrowedRef> slots) {
    const auto given = static_cast<std::size_t>(nargs);
    SlotFiller filler(list, slots);
    if (auto ok = filler.positional(given, [args](std::size_t i) { return args[i]; }); !ok) {
        return ok;
    }
    if (kwnames != nullptr) {
        const Py_ssize_t count = tupleSize(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (auto ok = filler.keyword(tupleItem(kwnames, i), args[nargs + i]); !ok) {
                return ok;
            }
        }
    }
    return filler.finish(given);
}

Fallible<void> parseTupleDict(const ParameterList& list, PyObject* args, PyObject* kwargs,
                              std::span<BorrowedRef> slots) {
    SlotFiller filler(list, slots);
    const auto given = static_cast<std::size_t>(tupleSize(args));
    const auto item = [args](std::size_t i) { return tupleItem(args, static_cast<Py_ssize_t>(i)); };
    if (auto ok = filler.positional(given, item); !ok) {
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

Fallible<double> argToDouble(BorrowedRef argument) {
    PyObject* object = argument.get();
    if (double exact = 0.0; readExactFloat(object, exact)) {
        return exact;
    }
    const double value = PyFloat_AsDouble(object);
    if (value != -1.0) {
        return value;
    }
    if (auto error = PendingError::fetchOrResumeFault()) {
        return failWith(std::move(*error));
    }
    return value;
}

Fallible<bool> argToBool(BorrowedRef argument) {
    PyObject* object = argument.get();
    if (Py_IS_TYPE(object, &PyBool_Type)) {
        return object == Py_True;
    }
    PyTypeObject* type = Py_TYPE(object);
    if (!isNumpyBool(type)) {
        return failWith(PendingError::typeMismatch(object, &PyBool_Type));
    }
    auto* truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
    if (truth == nullptr) {
        OwnedRef typeText = requireObject(PyObject_Str(reinterpret_cast<PyObject*>(type)));
        const char* utf8 = PyUnicode_AsUTF8AndSize(typeText.get(), nullptr);
        if (utf8 == nullptr) {
            return failFromInterpreter();
        }
        return failWith(PendingError::withMessage(
            PyExc_TypeError,
            std::string("object of type '") + utf8 + "' does not define a '__bool__' conversion"));
    }
    switch (truth(object)) {
        case 0:
            return false;
        case 1:
            return true;
        default:
            return failFromInterpreter();
    }
}

PendingError wrapArgumentError(std::string_view parameter, PendingError error) {
    PyObject* instance = error.materialize();
    if (!Py_IS_TYPE(instance, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        return error;
    }
    std::string text = "argument '";
    text += parameter;
    text += "': ";
    text += strOrUnprintable(instance);
    PendingError wrapped = PendingError::withMessage(PyExc_TypeError, std::move(text));
    OwnedRef cause = OwnedRef::steal(PyException_GetCause(instance));
    PyException_SetCause(wrapped.materialize(), cause.release());
    return wrapped;
}

}  // namespace tempoloom
