// Windows implementation of the platform seam: QueryPerformanceCounter, the precise
// system file time, and a high-resolution waitable timer with a millisecond fallback, each
// with the wake latency the precise sleep allows for it.
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

// Whether the system gives high-resolution timers. Before Windows 10 1803 it refuses the
// flag, and that holds for the life of the process, so the answer is kept: every sleep then
// plans for the fallback from its first thread sleep on (a sleep that found out only by
// failing would wake up to a tick late) and no thread sleep pays for a call bound to fail.
// Only that refusal is kept; a failure for want of handles or memory may pass, and the
// question is asked again.
enum class TimerSupport { unknown, present, absent };
std::atomic<TimerSupport> timerSupport{TimerSupport::unknown};
// The calling thread's last thread sleep took the fallback: its next one plans for it too.
thread_local bool lastSleepFellBack = false;

HANDLE createTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, highResolutionTimer, TIMER_ALL_ACCESS);
    if (timer == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        timerSupport.store(TimerSupport::absent, std::memory_order_relaxed);
    }
    return timer;
}

bool highResolutionTimers() {
    const TimerSupport known = timerSupport.load(std::memory_order_relaxed);
    if (known != TimerSupport::unknown) {
        return known == TimerSupport::present;
    }
    HANDLE timer = createTimer();
    if (timer == nullptr) {
        return false;
    }
    CloseHandle(timer);
    timerSupport.store(TimerSupport::present, std::memory_order_relaxed);
    return true;
}

bool sleepOnTimer(std::uint64_t seconds, std::uint32_t nanoseconds) {
    const auto due = windows::timerDueTime(seconds, nanoseconds);
    if (!due || millisecondSleepsForced ||
        timerSupport.load(std::memory_order_relaxed) == TimerSupport::absent) {
        return false;
    }
    HANDLE timer = createTimer();
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

// Asked each time, not kept: beside a sleep of milliseconds the call costs nothing, and
// the system's tick is not this process's to fix.
std::uint64_t fallbackWakeLatency() {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL adjustmentDisabled = FALSE;
    if (GetSystemTimeAdjustment(&adjustment, &increment, &adjustmentDisabled) == 0) {
        increment = 0;
    }
    return windows::fallbackWakeLatencyNanos(increment);
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
    lastSleepFellBack = !sleepOnTimer(seconds, nanoseconds);
    if (lastSleepFellBack) {
        sleepMilliseconds(seconds, nanoseconds);
    }
}

std::uint64_t threadSleepWakeLatencyNanos() noexcept {
    if (millisecondSleepsForced || lastSleepFellBack || !highResolutionTimers()) {
        return fallbackWakeLatency();
    }
    return windows::timerWakeLatencyNanos;
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
