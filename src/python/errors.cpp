// Making, setting and materializing pending errors; creating the PanicException type.
#include "python/interpreter.hpp"

#include "python/errors.hpp"

#include "core/internal_fault.hpp"

#include <atomic>
#include <cstdio>
#include <utility>

namespace tempoloom {
namespace {

constexpr const char* panicDoc =
    "The exception raised when tempoloom's native code fails internally while called\n"
    "from Python.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way up the stack and makes the Python interpreter\n"
    "exit instead of being swallowed by a broad `except Exception`.";

std::atomic<PyObject*> panicType{nullptr};

// PyErr_GetRaisedException and PyErr_SetRaisedException (3.12) in the calls of 3.11's
// stable ABI: the raised exception, normalized and carrying its traceback (none if nothing
// was raised), and back. Only failures come here.
OwnedRef takeRaisedException() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    OwnedRef exception = OwnedRef::steal(value);
    OwnedRef ownedType = OwnedRef::steal(type);
    OwnedRef ownedTraceback = OwnedRef::steal(traceback);
    if (exception && ownedTraceback) {
        PyException_SetTraceback(exception.get(), ownedTraceback.get());
    }
    return exception;
}

void setRaisedException(OwnedRef exception) {
    OwnedRef type = OwnedRef::share(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception.get()));
    PyErr_Restore(type.release(), exception.release(), traceback.release());
}

// A str's UTF-8 (of a null one, too), or nothing with the error cleared.
std::optional<std::string> utf8Text(PyObject* text) {
    auto utf8 = text ? strText(text, Surrogates::refuse) : std::nullopt;
    if (!utf8) {
        PyErr_Clear();
    }
    return utf8;
}

std::optional<std::string> qualName(PyTypeObject* type) {
    return utf8Text(OwnedRef::steal(PyType_GetQualName(type)).get());
}

std::string qualifiedName(PyTypeObject* type) {
    return qualName(type).value_or("<failed to extract type name>");
}

// "module.qualname", the module left out when it is builtins or __main__, or not a str.
std::optional<std::string> fullyQualifiedName(PyTypeObject* type) {
    auto name = qualName(type);
    OwnedRef module = typeModule(type);
    if (!name || !module) {
        PyErr_Clear();
        return name;
    }
    if (!PyUnicode_Check(module.get()) || strEquals(module.get(), "builtins") ||
        strEquals(module.get(), "__main__")) {
        return name;
    }
    auto prefix = utf8Text(module.get());
    return prefix ? *prefix + "." + *name : name;
}

std::string describePendingException() {
    OwnedRef raised = takeRaisedException();
    if (!raised) {
        return "no exception was set";
    }
    std::string text =
        fullyQualifiedName(Py_TYPE(raised.get())).value_or("<unnamed exception type>");
    if (auto str = strText(raised.get(), Surrogates::refuse)) {
        text += ": ";
        text += *str;
    }
    PyErr_Clear();
    return text;
}

std::string mismatchText(PyObject* object, PyTypeObject* expected) {
    std::string text = "'";
    if (object == Py_None) {
        text += "None' is not";
    } else {
        text += qualifiedName(Py_TYPE(object));
        text += "' object is not";
    }
    text += " an instance of '";
    text += qualifiedName(expected);
    text += '\'';
    return text;
}

// Message texts are UTF-8 that may carry lone surrogates taken from Python strings.
OwnedRef strFromText(const std::string& text) {
    return requireObject(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass"));
}

}  // namespace

PendingError PendingError::withMessage(PyObject* type, std::string message) {
    return PendingError(Message{OwnedRef::share(type), std::move(message), false});
}

PendingError PendingError::panic(std::string message) {
    return PendingError(Message{OwnedRef::share(panicExceptionType()), std::move(message), true});
}

PendingError PendingError::typeMismatch(PyObject* object, PyTypeObject* expected) {
    return PendingError(
        Mismatch{OwnedRef::share(object), OwnedRef::share(reinterpret_cast<PyObject*>(expected))});
}

PendingError PendingError::materialized(OwnedRef instance) {
    return PendingError(State(std::in_place_index<2>, std::move(instance)));
}

std::optional<PendingError> PendingError::fetchOrResumeFault() {
    OwnedRef raised = takeRaisedException();
    if (!raised) {
        return std::nullopt;
    }
    if (Py_TYPE(raised.get()) == reinterpret_cast<PyTypeObject*>(panicExceptionType())) {
        // A fault of ours that went through Python code: resume it, traceback shown.
        auto text = strText(raised.get());
        if (!text) {
            PyErr_Clear();
        }
        std::string message = text.value_or("Unwrapped panic from Python code");
        std::fputs(
            "tempoloom: a PanicException came back from Python code; resuming the internal "
            "fault\nPython stack trace below:\n",
            stderr);
        std::fflush(stderr);
        setRaisedException(std::move(raised));
        PyErr_PrintEx(0);
        resumeFault(std::move(message));
    }
    return materialized(std::move(raised));
}

PendingError PendingError::fetchOrSystemError() {
    if (auto error = fetchOrResumeFault()) {
        return std::move(*error);
    }
    return withMessage(PyExc_SystemError, "attempted to fetch exception but none was set");
}

void PendingError::restore() && {
    if (auto* instance = std::get_if<OwnedRef>(state_.get())) {
        setRaisedException(std::move(*instance));
        return;
    }
    OwnedRef type;
    OwnedRef value;
    if (auto* message = std::get_if<Message>(state_.get())) {
        type = std::move(message->type);
        value = strFromText(message->text);
        if (message->asTuple) {
            value = requireObject(PyTuple_Pack(1, value.get()));
        }
    } else {
        auto& mismatch = std::get<Mismatch>(*state_);
        type = OwnedRef::share(PyExc_TypeError);
        value = strFromText(mismatchText(mismatch.object.get(),
                                         reinterpret_cast<PyTypeObject*>(mismatch.expected.get())));
    }
    if (PyExceptionClass_Check(type.get())) {
        PyErr_SetObject(type.get(), value.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

PyObject* PendingError::materialize() {
    if (auto* instance = std::get_if<OwnedRef>(state_.get())) {
        return instance->get();
    }
    std::move(*this).restore();
    OwnedRef instance = takeRaisedException();
    if (!instance) {
        raiseFault("exception missing after writing to the interpreter");
    }
    state_->emplace<OwnedRef>(std::move(instance));
    return std::get<OwnedRef>(*state_).get();
}

PyObject* panicExceptionType() {
    if (PyObject* type = panicType.load(std::memory_order_acquire)) {
        return type;
    }
    // The module and name are fixed, odd as they look here: callers catch the exception
    // and log readers match on them by exactly this name.
    OwnedRef made = OwnedRef::steal(PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException", panicDoc, PyExc_BaseException, nullptr));
    if (!made) {
        raiseFault("Failed to initialize new exception type. " + describePendingException());
    }
    // Racing creators: the first store wins, the others drop theirs. No lock: a thread
    // parked at finalization, or absent in a fork's child, would keep it locked for good.
    PyObject* stored = nullptr;
    if (panicType.compare_exchange_strong(stored, made.get(), std::memory_order_acq_rel,
                                          std::memory_order_acquire)) {
        return made.release();  // kept until the interpreter finalizes
    }
    return stored;
}

void forgetPanicExceptionType() noexcept { panicType.store(nullptr, std::memory_order_release); }

}  // namespace tempoloom
