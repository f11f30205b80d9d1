"""How reads of one clock scale with threads, side by side in one run.

    python bench/shared_reads.py [--rounds N] [--seconds S]

Each round measures every case in turn for S seconds, so all of them see the same
machine: one thread reading a clock; two threads reading one shared clock; two threads
each reading a clock of their own; and, as the ceiling of the machine and interpreter,
one and two threads calling a builtin method of one shared object. A two-thread figure is
divided by the one-thread figure of its own round. The threads' CPU time per call is
shown too: on a machine busy with other work the threads do not always run at once, which
caps their throughput but not this cost, and contention for one cache line shows in it.
Then, in one thread, the cost of getTime() against time.perf_counter(): best of
interleaved timeit repeats, and the CPU time per call of the rounds.

Every reader holds its clock in a local variable and calls it as users write it,
clock.getTime(), so nothing but the call itself touches the shared object.
"""

import argparse
import os
import statistics
import sys
import threading
import time
import timeit

import tempoloom

BATCH = 1000


def _clock_reads(clock):
    for _ in range(BATCH):
        clock.getTime()


def _counter_reads(module):
    for _ in range(BATCH):
        module.perf_counter()


def _length_reads(shared):
    for _ in range(BATCH):
        shared.__len__()


def _throughput(batch, targets, seconds):
    """Calls per second of len(targets) threads, thread i running batch(targets[i]), and
    their CPU time per call in ns."""
    counts = [0] * len(targets)
    cpu = [0] * len(targets)
    barrier = threading.Barrier(len(targets) + 1)
    stop = threading.Event()

    def worker(i):
        target = targets[i]
        n = 0
        barrier.wait()
        started = time.thread_time_ns()
        while not stop.is_set():
            batch(target)
            n += BATCH
        cpu[i] = time.thread_time_ns() - started
        counts[i] = n

    pool = [threading.Thread(target=worker, args=(i,)) for i in range(len(targets))]
    for thread in pool:
        thread.start()
    barrier.wait()
    time.sleep(seconds)
    stop.set()
    for thread in pool:
        thread.join()
    return sum(counts) / seconds, sum(cpu) / sum(counts)


CASES = {  # name: (batch, which objects the threads read)
    "one thread": (_clock_reads, "one"),
    "two threads, one shared clock": (_clock_reads, "shared"),
    "two threads, a clock each": (_clock_reads, "own"),
    "time.perf_counter(), one thread": (_counter_reads, "one"),
    "builtin, one thread": (_length_reads, "one"),
    "builtin, two threads, one shared object": (_length_reads, "shared"),
}
RATIOS = {  # a two-thread case: its one-thread case
    "two threads, one shared clock": "one thread",
    "two threads, a clock each": "one thread",
    "builtin, two threads, one shared object": "builtin, one thread",
}


def scaling(rounds, seconds, progress=lambda text: None):
    """Per round: calls per second and CPU ns per call of each case, and the two-thread
    ratios of throughput."""
    shared = tempoloom.MonotonicClock()
    own = [tempoloom.MonotonicClock() for _ in range(2)]
    array = bytearray(16)
    targets = {
        _clock_reads: {"one": [shared], "shared": [shared, shared], "own": own},
        _counter_reads: {"one": [time]},
        _length_reads: {"one": [array], "shared": [array, array]},
    }
    calls = {name: [] for name in CASES}
    cpu = {name: [] for name in CASES}
    for r in range(rounds):
        for name, (batch, which) in CASES.items():
            per_second, cpu_ns = _throughput(batch, targets[batch][which], seconds)
            calls[name].append(per_second)
            cpu[name].append(cpu_ns)
        progress(f"round {r + 1}/{rounds}")
    ratios = {two: [a / b for a, b in zip(calls[two], calls[one])] for two, one in RATIOS.items()}
    return {"calls_per_s": calls, "cpu_ns_per_call": cpu, "ratio_to_one_thread": ratios}


def read_cost(repeat=7, number=200_000):
    """ns per call in one thread, best of interleaved repeats."""
    env = {"clock": tempoloom.MonotonicClock(), "time": time}
    statements = {"clock.getTime()": "clock.getTime()",
                  "time.perf_counter()": "time.perf_counter()"}
    best = {name: float("inf") for name in statements}
    for _ in range(repeat):
        for name, statement in statements.items():
            seconds = timeit.timeit(statement, number=number, globals=env)
            best[name] = min(best[name], seconds / number * 1e9)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--seconds", type=float, default=0.5, help="per case and round")
    args = parser.parse_args()

    def progress(text):
        print(f"[shared reads] {text}", file=sys.stderr, flush=True)

    load_before = os.getloadavg() if hasattr(os, "getloadavg") else None
    result = scaling(args.rounds, args.seconds, progress)
    cost = read_cost()
    load_after = os.getloadavg() if hasattr(os, "getloadavg") else None

    print(f"\nThroughput, {args.rounds} rounds of {args.seconds:g} s per case (median of rounds)")
    for name, values in result["calls_per_s"].items():
        cpu = statistics.median(result["cpu_ns_per_call"][name])
        print(f"  {name:42} {statistics.median(values) / 1e6:6.2f} M calls/s"
              f"  {cpu:6.1f} ns CPU per call")
    print("\nTwo threads against one thread of the same round (min, median, max; every round)")
    for name, values in result["ratio_to_one_thread"].items():
        print(f"  {name:42} {min(values):.2f}  {statistics.median(values):.2f}"
              f"  {max(values):.2f}   ({' '.join(f'{v:.2f}' for v in values)})")
    ratio = cost["clock.getTime()"] / cost["time.perf_counter()"]
    print("\nOne thread, ns per call (best of 7 interleaved timeit repeats):"
          f" clock.getTime() {cost['clock.getTime()']:.1f},"
          f" time.perf_counter() {cost['time.perf_counter()']:.1f} ({ratio:.2f} ×)")
    cpu = {name: statistics.median(result["cpu_ns_per_call"][name])
           for name in ("one thread", "time.perf_counter(), one thread")}
    print("One thread, CPU ns per call (median of rounds): clock.getTime()"
          f" {cpu['one thread']:.1f}, time.perf_counter()"
          f" {cpu['time.perf_counter(), one thread']:.1f}"
          f" ({cpu['one thread'] / cpu['time.perf_counter(), one thread']:.2f} ×)")
    gil = "on" if not hasattr(sys, "_is_gil_enabled") or sys._is_gil_enabled() else "off"
    print(f"\nPython {sys.version.split()[0]} (GIL {gil}), {os.cpu_count()} cores; load average"
          f" {load_before and ' '.join(f'{x:.2f}' for x in load_before)} before,"
          f" {load_after and ' '.join(f'{x:.2f}' for x in load_after)} after")


if __name__ == "__main__":
    main()
