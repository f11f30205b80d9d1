// The operating-system seam: monotonic counter, wall clock, thread sleep, spin hint and
// thread identity. One implementation file per operating system; nothing else in the
// module includes system time headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace tempoloom::platform {

// The span of one cache line, within which two cores writing contend: 128 bytes on Apple's
// arm64 cores, 64 on the others we build for.
#if defined(__APPLE__) && defined(__aarch64__)
inline constexpr std::size_t cacheLineBytes = 128;
#else
inline constexpr std::size_t cacheLineBytes = 64;
#endif

// The units the seam reads in. A nanosecond counter ticks nanosPerSecond times a second;
// the wall clock, like the Windows timer, counts 100-ns units ("file time").
inline constexpr std::uint64_t nanosPerSecond = 1'000'000'000;
inline constexpr std::uint64_t fileTimeUnitsPerSecond = 10'000'000;
// 100-ns units from 1601-01-01 to 1970-01-01 00:00:00 UTC.
inline constexpr std::int64_t unixEpochAsFileTime = 116'444'736'000'000'000;

// Current value of the monotonic counter in ticks, or nothing when it cannot be read.
std::optional<std::uint64_t> counterTicks() noexcept;

// The counter's fixed frequency in ticks per second, or nothing when it cannot be read.
std::optional<std::uint64_t> counterFrequency() noexcept;

// Wall-clock time as 100-nanosecond intervals since 1601-01-01 00:00:00 UTC.
std::int64_t wallClockFileTime() noexcept;

// Suspends the calling thread for at least the given span. Never fails.
void threadSleep(std::uint64_t seconds, std::uint32_t nanoseconds) noexcept;

// How far past its request the calling thread's next thread sleep may wake, as far as the
// precise sleep must allow for it. The POSIX sleeps wake within tens of microseconds, which
// the final spin covers: 0. On Windows it follows the path the thread sleep takes, the
// high-resolution timer or the millisecond fallback (windows_wait.hpp), so it may change
// after a thread sleep.
std::uint64_t threadSleepWakeLatencyNanos() noexcept;

// The operating system's id of the calling thread.
std::uint64_t currentThreadId() noexcept;

// Writes the calling thread's native stack to the stream, as far as the platform can.
void writeStackTrace(std::FILE* stream) noexcept;

}  // namespace tempoloom::platform
