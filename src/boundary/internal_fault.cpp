// Raising internal faults and writing their diagnostics.
#include "boundary/internal_fault.hpp"

#include "platform/platform.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tempoloom {
namespace {

std::atomic<bool> hintWritten{false};

bool backtraceRequested() noexcept {
    const char* value = std::getenv("TEMPOLOOM_BACKTRACE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

void writeFaultDiagnostic(std::string_view message, const std::source_location& where) noexcept {
    try {
        // The module starts no threads of its own, so no thread it runs on has a name.
        std::string text = "\nthread '<unnamed>' (";
        text += std::to_string(platform::currentThreadId());
        text += ") panicked at ";
        text += where.file_name();
        text += ':';
        text += std::to_string(where.line());
        text += ':';
        text += std::to_string(where.column());
        text += ":\n";
        text += message;
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
    } catch (...) {
        std::fputs("\nthread '<unnamed>' panicked\n", stderr);
    }
    if (backtraceRequested()) {
        std::fputs("stack backtrace:\n", stderr);
        platform::writeStackTrace(stderr);
    } else if (!hintWritten.exchange(true)) {
        std::fputs(
            "note: run with `TEMPOLOOM_BACKTRACE=1` environment variable to display a "
            "backtrace\n",
            stderr);
    }
    std::fflush(stderr);
}

void raiseFault(std::string message, std::source_location where) {
    writeFaultDiagnostic(message, where);
    throw InternalFault(std::move(message));
}

void resumeFault(std::string message) { throw InternalFault(std::move(message)); }

void abortAtBoundary(std::source_location where) noexcept {
    writeFaultDiagnostic("uncaught panic at ffi boundary", where);
    std::abort();
}

}  // namespace tempoloom
