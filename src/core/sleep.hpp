// The precise sleep.
#pragma once

namespace tempoloom {

// Waits `seconds` on the monotonic counter, blocking the calling thread: thread-sleeps by
// halves while more than 200 µs remain, never closer to the deadline than the system's
// timer may wake late, then spins. NaN, +inf and values of 2^64 and above are internal
// faults.
void preciseSleep(double seconds);

}  // namespace tempoloom
