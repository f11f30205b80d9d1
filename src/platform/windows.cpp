// Windows implementation of the platform seam: QueryPerformanceCounter, the precise
// system file time, and a high-resolution waitable timer with a millisecond fallback.
#include "platform/platform.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <limits>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tempoloom::platform {
namespace {

constexpr std::uint64_t maxDue = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
// The largest finite Sleep; all ones would mean "forever".
constexpr std::uint64_t maxSleepMs = 0xFFFF'FFFEull;

// Due time in 100-ns units, or nothing when it does not fit the timer.
std::optional<std::uint64_t> dueTime(std::uint64_t seconds, std::uint32_t nanoseconds) {
    constexpr std::uint64_t unitsPerSecond = 10'000'000;
    if (seconds > std::numeric_limits<std::uint64_t>::max() / unitsPerSecond) {
        return std::nullopt;
    }
    const std::uint64_t whole = seconds * unitsPerSecond;
    const std::uint64_t part = nanoseconds / 100;
    if (part > std::numeric_limits<std::uint64_t>::max() - whole || whole + part > maxDue) {
        return std::nullopt;
    }
    return whole + part;
}

bool sleepOnTimer(std::uint64_t seconds, std::uint32_t nanoseconds) {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        return false;
    }
    const auto due = dueTime(seconds, nanoseconds);
    bool slept = false;
    if (due) {
        LARGE_INTEGER relative;
        relative.QuadPart = -static_cast<LONGLONG>(*due);
        if (SetWaitableTimer(timer, &relative, 0, nullptr, nullptr, FALSE) != 0) {
            slept = WaitForSingleObject(timer, INFINITE) != WAIT_FAILED;
        }
    }
    CloseHandle(timer);
    return slept;
}

void sleepMilliseconds(std::uint64_t seconds, std::uint32_t nanoseconds) {
    // Every started millisecond counts as a whole one; saturate rather than wrap.
    std::uint64_t ms = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 != 0 ? 1 : 0);
    ms = seconds > (std::numeric_limits<std::uint64_t>::max() - ms) / 1000
             ? std::numeric_limits<std::uint64_t>::max()
             : seconds * 1000 + ms;
    while (ms > 0) {
        const std::uint64_t step = ms < maxSleepMs ? ms : maxSleepMs;
        Sleep(static_cast<DWORD>(step));
        ms -= step;
    }
}

}  // namespace

std::optional<std::uint64_t> counterTicks() noexcept {
    LARGE_INTEGER ticks;
    if (QueryPerformanceCounter(&ticks) == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(ticks.QuadPart);
}

std::optional<std::uint64_t> counterFrequency() noexcept {
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(frequency.QuadPart);
}

std::int64_t wallClockFileTime() noexcept {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
}

void threadSleep(std::uint64_t seconds, std::uint32_t nanoseconds) noexcept {
    if (!sleepOnTimer(seconds, nanoseconds)) {
        sleepMilliseconds(seconds, nanoseconds);
    }
}

std::uint64_t currentThreadId() noexcept { return GetCurrentThreadId(); }

void writeStackTrace(std::FILE* stream) noexcept {
    void* frames[64];
    const USHORT count = CaptureStackBackTrace(0, 64, frames, nullptr);
    for (USHORT i = 0; i < count; ++i) {
        std::fprintf(stream, "  %2u: %p\n", static_cast<unsigned>(i), frames[i]);
    }
}

}  // namespace tempoloom::platform
