// References to the interpreter's objects whose ownership shows in their type.
//
// Rules:
// 1. OwnedRef owns one strong reference and releases it when destroyed; it is made only by
//    OwnedRef::steal (takes over a new reference) or OwnedRef::share (adds one).
// 2. Handing the reference to the interpreter is explicit: release().
// 3. BorrowedRef is a view with no destructor; it never outlives its owner.
// 4. A release while the thread is detached goes to the deferred release list.
// 5. Neither converts silently to PyObject*; get() says it.
#pragma once

#include "python/interpreter.hpp"

#include <optional>
#include <source_location>
#include <string>
#include <utility>

namespace tempoloom {

// Drops one reference now, or at the next attach if this thread is detached.
void releaseReference(PyObject* object) noexcept;

class BorrowedRef {
public:
    BorrowedRef() noexcept = default;
    explicit BorrowedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    PyObject* object_ = nullptr;
};

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        OwnedRef(std::move(other)).swap(*this);
        return *this;
    }
    ~OwnedRef() {
        if (object_ != nullptr) {
            releaseReference(object_);
        }
    }

    // Takes over a new reference (may be null).
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Adds a reference to a borrowed one (may be null).
    static OwnedRef share(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference to the caller (usually the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void swap(OwnedRef& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// Takes over an object the interpreter was asked to create. When it could not, the
// interpreter's exception goes to the unraisable hook and this is an internal fault.
OwnedRef requireObject(PyObject* fresh,
                       std::source_location where = std::source_location::current());

// What strText does with lone surrogates, which UTF-8 cannot encode.
enum class Surrogates { keep, refuse };

// The text of an object: str() of it as UTF-8, lone surrogates kept (for decoding with
// "surrogatepass") or refused. Nothing, with the interpreter's exception left set, when
// str() or the encoding fails.
std::optional<std::string> strText(PyObject* object, Surrogates surrogates = Surrogates::keep);

// Whether the object is a str equal to the ASCII text. Raises nothing.
bool strEquals(PyObject* object, const char* ascii) noexcept;

// The type's __module__, which PyType_GetModuleName (3.13) returns; null with the
// interpreter's exception set when it cannot be read.
OwnedRef typeModule(PyTypeObject* type);

}  // namespace tempoloom
