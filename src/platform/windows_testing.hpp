// Test seams of the Windows platform layer (defined in windows.cpp): they let tests see
// what the layer asked of the system and steer the thread sleep onto its fallback.
#pragma once

#include <cstdint>

namespace tempoloom::platform::testing {

// How often this process has asked the system for the counter's frequency.
std::uint64_t counterFrequencyQueries() noexcept;

// While on, thread sleeps on the calling thread skip the high-resolution timer and take
// the millisecond fallback.
void forceMillisecondSleeps(bool on) noexcept;

// Milliseconds the calling thread has asked of the fallback sleep so far.
std::uint64_t fallbackMillisecondsSlept() noexcept;

}  // namespace tempoloom::platform::testing
