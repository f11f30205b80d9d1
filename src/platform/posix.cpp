// POSIX implementation of the platform seam: the monotonic clock in nanoseconds as the
// counter, CLOCK_REALTIME rebased to 1601 so the epoch arithmetic matches Windows.
#include "platform/platform.hpp"

#include <unistd.h>
#include <cerrno>
#include <ctime>
#include <limits>

#if defined(__linux__)
#include <sys/syscall.h>
#elif defined(__APPLE__)
#include <pthread.h>
#endif

// musl has no backtrace(): there the unwinder walks the stack and dladdr names the frames.
#if __has_include(<execinfo.h>)
#include <execinfo.h>
#define TEMPOLOOM_EXECINFO 1
#else
#include <dlfcn.h>
#include <unwind.h>
#endif

namespace tempoloom::platform {
namespace {

// macOS's CLOCK_MONOTONIC counts whole microseconds; CLOCK_UPTIME_RAW is its nanosecond
// counter, the one time.perf_counter() reads there.
#if defined(__APPLE__)
constexpr clockid_t monotonicClock = CLOCK_UPTIME_RAW;
#else
constexpr clockid_t monotonicClock = CLOCK_MONOTONIC;
#endif

// Sleeps until the monotonic clock reaches the deadline, through signals.
void sleepUntil(const timespec& deadline) noexcept {
#if defined(__APPLE__)
    // macOS has no clock_nanosleep: relative sleeps, each measured again from the clock.
    for (;;) {
        timespec now{};
        if (clock_gettime(monotonicClock, &now) != 0 || now.tv_sec > deadline.tv_sec ||
            (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec)) {
            return;
        }
        timespec span{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (span.tv_nsec < 0) {
            span.tv_nsec += static_cast<long>(nanosPerSecond);
            --span.tv_sec;
        }
        nanosleep(&span, nullptr);
    }
#else
    while (clock_nanosleep(monotonicClock, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
#endif
}

}  // namespace

std::optional<std::uint64_t> counterTicks() noexcept {
    timespec now{};
    if (clock_gettime(monotonicClock, &now) != 0 || now.tv_sec < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(now.tv_sec) * nanosPerSecond +
           static_cast<std::uint64_t>(now.tv_nsec);
}

std::optional<std::uint64_t> counterFrequency() noexcept { return nanosPerSecond; }

std::int64_t wallClockFileTime() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    // Floor to 100-ns units, also for instants before 1970 (negative tv_sec); a clock
    // beyond what the count can hold saturates instead of overflowing.
    constexpr auto unitsPerSecond = static_cast<std::int64_t>(fileTimeUnitsPerSecond);
    constexpr std::int64_t maxSeconds =
        (std::numeric_limits<std::int64_t>::max() - unixEpochAsFileTime) / unitsPerSecond - 1;
    constexpr std::int64_t minSeconds =
        (std::numeric_limits<std::int64_t>::min() + unixEpochAsFileTime) / unitsPerSecond + 1;
    if (now.tv_sec > maxSeconds) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (now.tv_sec < minSeconds) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return unixEpochAsFileTime + static_cast<std::int64_t>(now.tv_sec) * unitsPerSecond +
           now.tv_nsec / 100;
}

void threadSleep(std::uint64_t seconds, std::uint32_t nanoseconds) noexcept {
    timespec deadline{};
    if (clock_gettime(monotonicClock, &deadline) != 0) {
        return;
    }
    // An absolute deadline survives restarts after signals without drifting. A span
    // beyond time_t's reach is cut to the largest deadline; such a sleep outlives us.
    constexpr auto maxSeconds = static_cast<std::uint64_t>(std::numeric_limits<time_t>::max());
    std::uint64_t sec = static_cast<std::uint64_t>(deadline.tv_sec);
    long nsec = deadline.tv_nsec + static_cast<long>(nanoseconds);
    if (nsec >= static_cast<long>(nanosPerSecond)) {
        nsec -= static_cast<long>(nanosPerSecond);
        ++sec;
    }
    if (seconds > maxSeconds - sec) {
        sec = maxSeconds;
        nsec = static_cast<long>(nanosPerSecond) - 1;
    } else {
        sec += seconds;
    }
    deadline.tv_sec = static_cast<time_t>(sec);
    deadline.tv_nsec = nsec;
    sleepUntil(deadline);
}

std::uint64_t threadSleepWakeLatencyNanos() noexcept { return 0; }

std::uint64_t currentThreadId() noexcept {
#if defined(__linux__)
    return static_cast<std::uint64_t>(syscall(SYS_gettid));
#elif defined(__APPLE__)
    std::uint64_t id = 0;
    pthread_threadid_np(nullptr, &id);
    return id;
#else
    return static_cast<std::uint64_t>(getpid());
#endif
}

void writeStackTrace(std::FILE* stream) noexcept {
#if defined(TEMPOLOOM_EXECINFO)
    void* frames[64];
    const int count = backtrace(frames, 64);
    std::fflush(stream);
    backtrace_symbols_fd(frames, count, fileno(stream));
#else
    struct Walk {
        std::FILE* stream;
        int frames;
    } walk{stream, 0};
    const auto writeFrame = [](_Unwind_Context* context, void* state) -> _Unwind_Reason_Code {
        Walk& progress = *static_cast<Walk*>(state);
        void* const address = reinterpret_cast<void*>(_Unwind_GetIP(context));
        if (address == nullptr) {
            return _URC_END_OF_STACK;
        }
        Dl_info info{};
        if (dladdr(address, &info) != 0 && info.dli_fname != nullptr) {
            const char* symbol = info.dli_sname != nullptr ? info.dli_sname : "";
            void* const base = info.dli_sname != nullptr ? info.dli_saddr : info.dli_fbase;
            std::fprintf(progress.stream, "%s(%s+0x%tx) [%p]\n", info.dli_fname, symbol,
                         static_cast<char*>(address) - static_cast<char*>(base), address);
        } else {
            std::fprintf(progress.stream, "[%p]\n", address);
        }
        return ++progress.frames < 64 ? _URC_NO_REASON : _URC_END_OF_STACK;
    };
    _Unwind_Backtrace(writeFrame, &walk);
#endif
}

}  // namespace tempoloom::platform
