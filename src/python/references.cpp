// Releasing references with respect for detached threads; checked object creation; the
// text of an object.
#include "python/interpreter.hpp"

#include "python/references.hpp"

#include "core/internal_fault.hpp"
#include "python/thread_attach.hpp"

namespace tempoloom {

void releaseReference(PyObject* object) noexcept {
    if (attachDepth() > 0) {
        Py_DECREF(object);
    } else {
        deferRelease(object);
    }
}

OwnedRef requireObject(PyObject* fresh, std::source_location where) {
    if (fresh == nullptr) {
        PyErr_WriteUnraisable(nullptr);
        raiseFault("PyObject pointer is null", where);
    }
    return OwnedRef::steal(fresh);
}

std::optional<std::string> strText(PyObject* object, Surrogates surrogates) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(object));
    const char* errors = surrogates == Surrogates::keep ? "surrogatepass" : "strict";
    OwnedRef bytes =
        OwnedRef::steal(text ? PyUnicode_AsEncodedString(text.get(), "utf-8", errors) : nullptr);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) {
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

bool strEquals(PyObject* object, const char* ascii) noexcept {
    return PyUnicode_Check(object) && PyUnicode_CompareWithASCIIString(object, ascii) == 0;
}

OwnedRef typeModule(PyTypeObject* type) {
    return OwnedRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
}

}  // namespace tempoloom
