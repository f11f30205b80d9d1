// The call boundary. Every call from the interpreter into the module runs inside an entry
// frame, which counts the thread as attached, contains internal faults, and turns the
// outcome into the interpreter's convention; nothing unwinds into the interpreter.
#pragma once

#include "python/interpreter.hpp"

#include "core/internal_fault.hpp"
#include "python/errors.hpp"
#include "python/thread_attach.hpp"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>

namespace tempoloom {

// Counts one active frame on this thread for its lifetime.
class EntryScope {
public:
    EntryScope() {
        std::int64_t& depth = attachDepth();
        if (depth < 0) {
            refuseAttach(depth);
        }
        ++depth;
        drainDeferredReleases();
    }
    ~EntryScope() { --attachDepth(); }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;

private:
    [[noreturn]] static void refuseAttach(std::int64_t depth);
};

// Runs the body, turning an internal fault into a PanicException error. The panic error is
// built outside the catch: a failure to build it is not contained.
template <class T, class Body>
Fallible<T> runContained(Body& body) {
    std::optional<std::string> faultMessage;
    try {
        return body();
    } catch (InternalFault& fault) {
        faultMessage = fault.message();
    }
    return failWith(PendingError::panic(std::move(*faultMessage)));
}

// Functions, methods, constructors and getters: a new reference, or null with an error set.
template <class Body>
requires std::same_as<std::invoke_result_t<Body&>, Fallible<OwnedRef>> PyObject* objectEntry(
    Body&& body) noexcept {
    try {
        EntryScope scope;
        Fallible<OwnedRef> outcome = runContained<OwnedRef>(body);
        if (outcome) {
            return outcome->release();
        }
        std::move(outcome.error()).restore();
        return nullptr;
    } catch (...) {
        abortAtBoundary();
    }
}

// Slots returning an int: 0, or -1 with an error set.
template <class Body>
requires std::same_as<std::invoke_result_t<Body&>, Fallible<void>>
int intEntry(Body&& body) noexcept {
    try {
        EntryScope scope;
        Fallible<void> outcome = runContained<void>(body);
        if (outcome) {
            return 0;
        }
        std::move(outcome.error()).restore();
        return -1;
    } catch (...) {
        abortAtBoundary();
    }
}

// Deallocation cannot report: a failure goes to the unraisable hook.
template <class Body>
requires std::same_as<std::invoke_result_t<Body&>, Fallible<void>>
void deallocEntry(Body&& body) noexcept {
    try {
        EntryScope scope;
        Fallible<void> outcome = runContained<void>(body);
        if (!outcome) {
            std::move(outcome.error()).restore();
            PyErr_WriteUnraisable(nullptr);
        }
    } catch (...) {
        abortAtBoundary();
    }
}

// An entry of any calling convention, as a method table stores it.
template <class Function>
PyCFunction asCFunction(Function function) noexcept {
    // Through a plain function pointer type, which converts to any other without warning.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace tempoloom
