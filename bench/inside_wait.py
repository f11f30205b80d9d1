"""The precise sleep's overshoot inside the wait and seen from Python, in alternating rounds.

    python bench/inside_wait.py build/unit-tests/sleep_overshoot [--rounds 25] [--calls 40]

Inside the wait is bench/sleep_overshoot.cpp (the same C++ sleep, the counter read right
after it returns, no interpreter in the process); seen from Python is
`perf_counter_ns()` around `tempoloom.sleep(t)`, as bench/run.py measures it. Each round
runs the one, then the other, so both see the same machine; the figures pool all rounds.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

import tempoloom

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fixed_rate import percentile  # noqa: E402

LENGTHS = [0.0001, 0.0005, 0.001, 0.005, 0.01, 0.05]


def native_round(binary, calls):
    """Every call's overshoot in ns, by length, as the binary measured it."""
    out = subprocess.run([binary, str(calls), "samples"], check=True, capture_output=True,
                         text=True).stdout
    samples = {}
    for line in out.splitlines():
        t, *values = line.split()
        samples[float(t)] = [float(v) for v in values]
    return samples


def python_round(calls):
    """The same calls from Python: as many of each length as the binary makes."""
    samples = {}
    for t in LENGTHS:
        n = max(calls // 4, 10) if t >= 0.05 else calls
        over = []
        for _ in range(n):
            start = time.perf_counter_ns()
            tempoloom.sleep(t)
            over.append(time.perf_counter_ns() - start - t * 1e9)
        samples[t] = over
    return samples


def stats(values_ns):
    return (statistics.median(values_ns) / 1e3, percentile(values_ns, 0.90) / 1e3,
            percentile(values_ns, 0.99) / 1e3)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", help="bench/sleep_overshoot.cpp built (build/unit-tests/)")
    parser.add_argument("--rounds", type=int, default=25)
    parser.add_argument("--calls", type=int, default=40, help="calls of each length a round")
    args = parser.parse_args()
    inside = {t: [] for t in LENGTHS}
    seen = {t: [] for t in LENGTHS}
    load = [os.getloadavg()[0]]
    for r in range(args.rounds):
        # Which goes first alternates too, so neither always follows the other's wake-ups.
        turns = [(inside, lambda: native_round(args.binary, args.calls)),
                 (seen, lambda: python_round(args.calls))]
        for pooled, measure in turns if r % 2 == 0 else reversed(turns):
            for t, values in measure().items():
                pooled[t] += values
        load.append(os.getloadavg()[0])
        print(f"[bench] round {r + 1}/{args.rounds} done", file=sys.stderr, flush=True)
    print(f"\nOvershoot in µs, median / p90 / p99 over {args.rounds} rounds"
          f" ({args.calls} calls of each length a round, a quarter of that at 50 ms);"
          f" load average {min(load):.2f} to {max(load):.2f}, {os.cpu_count()} cores")
    print("| t | sleeps | inside the wait | seen from Python |")
    print("|---|---:|---:|---:|")
    for t in LENGTHS:
        a = "{:.1f} / {:.1f} / {:.1f}".format(*stats(inside[t]))
        b = "{:.1f} / {:.1f} / {:.1f}".format(*stats(seen[t]))
        early = sum(1 for v in inside[t] + seen[t] if v < 0)
        print(f"| {t * 1e3:g} ms | {len(seen[t])} | {a} | {b} |"
              + (f" {early} EARLY" if early else ""))
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info
                       if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    print(f"\n{cpu}, Python {sys.version.split()[0]}"
          f" (GIL {'on' if sys._is_gil_enabled() else 'off'})")


if __name__ == "__main__":
    main()
