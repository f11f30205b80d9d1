// Float and boolean conversions of arguments, and wrapping of their refusals.
#include "boundary/conversions.hpp"

#include <string>

namespace tempoloom {
namespace {

bool nameEquals(PyObject* name, std::string_view text) {
    return PyUnicode_Check(name) &&
           PyUnicode_EqualToUTF8AndSize(name, text.data(), static_cast<Py_ssize_t>(text.size()));
}

// numpy is never imported: its booleans are known by module and type name. Failures to
// read the names mean "not a numpy boolean".
bool isNumpyBool(PyTypeObject* type) {
    OwnedRef module = OwnedRef::steal(PyType_GetModuleName(type));
    if (!module || !nameEquals(module.get(), "numpy")) {
        PyErr_Clear();
        return false;
    }
    OwnedRef name = OwnedRef::steal(PyType_GetName(type));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return nameEquals(name.get(), "bool_") || nameEquals(name.get(), "bool");
}

std::string strOrUnprintable(PyObject* instance) {
    if (auto text = strText(instance)) {
        return std::move(*text);
    }
    PyErr_WriteUnraisable(instance);
    OwnedRef typeName = OwnedRef::steal(PyType_GetName(Py_TYPE(instance)));
    const char* name = typeName ? PyUnicode_AsUTF8(typeName.get()) : nullptr;
    if (name == nullptr) {
        PyErr_Clear();
        return "<unprintable object>";
    }
    return std::string("<unprintable ") + name + " object>";
}

}  // namespace

Fallible<double> argToDouble(BorrowedRef argument) {
    PyObject* object = argument.get();
    if (Py_IS_TYPE(object, &PyFloat_Type)) {
        return PyFloat_AS_DOUBLE(object);
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
        const char* utf8 = PyUnicode_AsUTF8(typeText.get());
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
