// Raising internal faults and writing their diagnostics.
#include "core/internal_fault.hpp"

#include "platform/platform.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tempoloom {
namespace {

std::atomic<bool> hintWritten{false};

// Read once, at the first diagnostic: another thread may be writing the environment
// meanwhile, and getenv is not safe against that.
bool backtraceRequested() noexcept {
    static const bool requested = [] {
        const char* value = std::getenv("TEMPOLOOM_BACKTRACE");
        return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
    }();
    return requested;
}

// The part of a compiled-in file name that leads to the source tree: empty where the
// compiler was told to drop it, an absolute folder where it could not be (MSVC).
std::string_view sourceTreePrefix() noexcept {
    const std::string_view own = std::source_location::current().file_name();
    std::size_t tail = 0;
    for (const std::string_view folder : {"src/", "src\\"}) {
        if (const auto at = own.rfind(folder); at != std::string_view::npos && at > tail) {
            tail = at;
        }
    }
    return own.substr(0, tail);
}

// A file name relative to the source tree, with forward slashes on every system.
std::string relativeSourceName(std::string_view file) {
    const std::string_view prefix = sourceTreePrefix();
    if (file.starts_with(prefix)) {
        file.remove_prefix(prefix.size());
    }
    std::string name(file);
    std::ranges::replace(name, '\\', '/');
    return name;
}

}  // namespace

// The wording, the thread line and the hint are fixed: log readers and tools that collect
// crash reports match on them as they stand.
void writeFaultDiagnostic(std::string_view message, const std::source_location& where) noexcept {
    try {
        // The module starts no threads of its own, so no thread it runs on has a name.
        std::string text = "\nthread '<unnamed>' (";
        text += std::to_string(platform::currentThreadId());
        text += ") panicked at ";
        text += relativeSourceName(where.file_name());
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
