// InternalFault: a condition outside ordinary error handling. Raising one writes the
// fault diagnostic to standard error; only entry frames catch it.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

namespace tempoloom {

class InternalFault {
public:
    explicit InternalFault(std::string message) : message_(std::move(message)) {}

    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the diagnostic for a fault raised at `where`, then throws it.
[[noreturn]] void raiseFault(std::string message,
                             std::source_location where = std::source_location::current());

// Throws without a diagnostic: for a fault that already had one, resumed from Python.
[[noreturn]] void resumeFault(std::string message);

// The diagnostic alone: a blank line, the thread and place, the message, and either a
// stack trace (TEMPOLOOM_BACKTRACE=1) or, after the first diagnostic only, a hint.
void writeFaultDiagnostic(std::string_view message, const std::source_location& where) noexcept;

// Reports a fault that escaped containment and ends the process.
[[noreturn]] void abortAtBoundary(
    std::source_location where = std::source_location::current()) noexcept;

}  // namespace tempoloom
