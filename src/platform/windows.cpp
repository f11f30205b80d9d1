// Windows implementation of the platform seam: QueryPerformanceCounter, the precise
// system file time, and a high-resolution waitable timer with a millisecond fallback.
#include "platform/platform.hpp"
#include "platform/windows_testing.hpp"
#include "platform/windows_wait.hpp"

// Without these, <windows.h> defines min and max as macros and drags in most of the SDK.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>

namespace tempoloom::platform {
namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which MinGW-w64's headers do not name.
constexpr DWORD highResolutionTimer = 0x00000002;
// The largest finite Sleep; all ones would mean "forever".
constexpr std::uint64_t maxSleepMs = 0xFFFF'FFFEull;

// State behind the test seams in windows_testing.hpp.
std::atomic<std::uint64_t> frequencyQueries{0};
thread_local bool millisecondSleepsForced = false;
thread_local std::uint64_t fallbackMillisecondsTotal = 0;

bool sleepOnTimer(std::uint64_t seconds, std::uint32_t nanoseconds) {
    const auto due = windows::timerDueTime(seconds, nanoseconds);
    if (!due || millisecondSleepsForced) {
        return false;
    }
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, highResolutionTimer, TIMER_ALL_ACCESS);
    if (timer == nullptr) {
        return false;
    }
    LARGE_INTEGER relative;
    relative.QuadPart = -static_cast<LONGLONG>(*due);
    bool slept = false;
    if (SetWaitableTimer(timer, &relative, 0, nullptr, nullptr, FALSE) != 0) {
        slept = WaitForSingleObject(timer, INFINITE) != WAIT_FAILED;
    }
    CloseHandle(timer);
    return slept;
}

void sleepMilliseconds(std::uint64_t seconds, std::uint32_t nanoseconds) {
    std::uint64_t ms = windows::fallbackMilliseconds(seconds, nanoseconds);
    fallbackMillisecondsTotal += ms;
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
    frequencyQueries.fetch_add(1, std::memory_order_relaxed);
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

namespace testing {

std::uint64_t counterFrequencyQueries() noexcept {
    return frequencyQueries.load(std::memory_order_relaxed);
}

void forceMillisecondSleeps(bool on) noexcept { millisecondSleepsForced = on; }

std::uint64_t fallbackMillisecondsSlept() noexcept { return fallbackMillisecondsTotal; }

}  // namespace testing
}  // namespace tempoloom::platform
