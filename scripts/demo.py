"""A short look at tempoloom next to the standard library's clock and sleep."""

import statistics
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

seconds = 0.001
overshoot = {"tempoloom.sleep": [], "time.sleep": []}
for _ in range(100):
    for name, sleep in (("tempoloom.sleep", tempoloom.sleep), ("time.sleep", time.sleep)):
        start = time.perf_counter_ns()
        sleep(seconds)
        overshoot[name].append(time.perf_counter_ns() - start - seconds * 1e9)
print(f"overshoot of a {seconds * 1e3:g} ms sleep, 100 calls each, alternating:")
for name, values in overshoot.items():
    print(
        f"  {name:16} median {statistics.median(values) / 1e3:8.1f} µs"
        f"   worst {max(values) / 1e3:8.1f} µs"
    )
