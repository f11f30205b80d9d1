"""A short look at a tempoloom clock next to the standard library's."""

import time

import tempoloom

clock = tempoloom.MonotonicClock()
print(f"clock created at Unix time {clock._epochTimeAtLastReset:.6f}")

reads = 200_000
start = time.perf_counter_ns()
for _ in range(reads):
    clock.getTime()
per_read = (time.perf_counter_ns() - start) / reads
start = time.perf_counter_ns()
for _ in range(reads):
    time.perf_counter()
per_counter = (time.perf_counter_ns() - start) / reads
print(f"getTime(): {per_read:.0f} ns per read; time.perf_counter(): {per_counter:.0f} ns")

before = clock.getTime()
time.sleep(0.01)
print(f"time.sleep(0.01) as the clock saw it: {(clock.getTime() - before) * 1e3:.3f} ms")
