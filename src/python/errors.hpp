// PendingError: an ordinary failure on its way to the interpreter. Only entry frames set
// it there. It stays lazy (a type and what makes its value) until it is set or inspected.
// Internal faults reach Python as a PanicException.
#pragma once

#include "python/interpreter.hpp"

#include "python/references.hpp"

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace tempoloom {

class PendingError {
public:
    PendingError(PendingError&&) noexcept = default;
    PendingError& operator=(PendingError&&) noexcept = default;

    // A lazy error whose value is the message as a str.
    static PendingError withMessage(PyObject* type, std::string message);
    // A lazy PanicException whose value is a 1-tuple holding the message.
    static PendingError panic(std::string message);
    // A lazy TypeError "'X' object is not an instance of 'Y'", composed when set.
    static PendingError typeMismatch(PyObject* object, PyTypeObject* expected);
    // An exception instance.
    static PendingError materialized(OwnedRef instance);

    // Takes the interpreter's pending exception, if any. A PanicException coming back
    // out of Python code is not taken: its traceback is printed and its internal fault
    // resumed.
    static std::optional<PendingError> fetchOrResumeFault();
    // As fetchOrResumeFault, for callers that know an error must be pending.
    static PendingError fetchOrSystemError();

    // Sets the error in the interpreter, consuming it.
    void restore() &&;
    // The exception instance (borrowed from the error, which keeps it).
    PyObject* materialize();

private:
    struct Message {
        OwnedRef type;
        std::string text;
        bool asTuple;
    };
    struct Mismatch {
        OwnedRef object;
        OwnedRef expected;
    };
    using State = std::variant<Message, Mismatch, OwnedRef>;

    explicit PendingError(State state) : state_(std::make_unique<State>(std::move(state))) {}

    // Boxed: a failure is rare, and a one-word error keeps every Fallible result small.
    std::unique_ptr<State> state_;
};

template <class T>
using Fallible = std::expected<T, PendingError>;

inline std::unexpected<PendingError> failWith(PendingError error) {
    return std::unexpected<PendingError>(std::move(error));
}

// Passes on the error of a failed step.
template <class T>
std::unexpected<PendingError> propagate(Fallible<T>& failed) {
    return failWith(std::move(failed.error()));
}

// The interpreter's failure, for an API call that reported one.
inline std::unexpected<PendingError> failFromInterpreter() {
    return failWith(PendingError::fetchOrSystemError());
}

// The PanicException type (borrowed), created on first need and shared by every module
// object until the interpreter finalizes. A failure to create it is an internal fault.
PyObject* panicExceptionType();

// Drops the PanicException type unreleased, once the interpreter has finalized.
void forgetPanicExceptionType() noexcept;

}  // namespace tempoloom
