// The precise sleep: thread-sleep by halves while more than 200 µs remain, then spin.
#pragma once

namespace tempoloom {

// Waits `seconds` on the monotonic counter, blocking the calling thread. NaN, +inf and
// values of 2^64 and above are internal faults.
void preciseSleep(double seconds);

}  // namespace tempoloom
