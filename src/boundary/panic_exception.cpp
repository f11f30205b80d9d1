// Creating the PanicException type once per process.
#include "boundary/panic_exception.hpp"

#include "boundary/detach_guard.hpp"
#include "boundary/py_ref.hpp"
#include "core/internal_fault.hpp"

#include <atomic>
#include <mutex>
#include <string>

namespace tempoloom {
namespace {

constexpr const char* panicDoc =
    "The exception raised when tempoloom's native code fails internally while called\n"
    "from Python.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that it\n"
    "typically propagates all the way up the stack and makes the Python interpreter\n"
    "exit instead of being swallowed by a broad `except Exception`.";

std::atomic<PyObject*> cell{nullptr};
std::mutex onceLock;

std::string describePendingException() {
    OwnedRef raised = OwnedRef::steal(PyErr_GetRaisedException());
    if (!raised) {
        return "no exception was set";
    }
    std::string text = Py_TYPE(raised.get())->tp_name;
    if (auto str = strText(raised.get(), Surrogates::refuse)) {
        text += ": ";
        text += *str;
    }
    PyErr_Clear();
    return text;
}

}  // namespace

PyObject* panicExceptionType() {
    if (PyObject* type = cell.load(std::memory_order_acquire)) {
        return type;
    }
    std::unique_lock<std::mutex> lock;
    {
        // Wait for a creation in progress detached, so it never stalls the interpreter.
        DetachGuard detached;
        lock = std::unique_lock(onceLock);
    }
    if (PyObject* type = cell.load(std::memory_order_acquire)) {
        return type;
    }
    OwnedRef made = OwnedRef::steal(PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException", panicDoc, PyExc_BaseException, nullptr));
    if (!made) {
        raiseFault("Failed to initialize new exception type. " + describePendingException());
    }
    PyObject* type = made.release();  // kept for the life of the process
    cell.store(type, std::memory_order_release);
    return type;
}

}  // namespace tempoloom
