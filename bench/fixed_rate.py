"""The fixed-rate loop people write around a precise sleep, timed for each sleep function:
how late each tick lands behind its schedule and what share of a core the loop takes, on
an idle machine and with busy Python threads on every core."""

import os
import statistics
import threading
import time

LOOP_RATES_HZ = (1000, 100)


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def lateness_stats(late_ns):
    return {
        "median_us": statistics.median(late_ns) / 1e3,
        "p90_us": percentile(late_ns, 0.90) / 1e3,
        "p99_us": percentile(late_ns, 0.99) / 1e3,
        "max_us": max(late_ns) / 1e3,
        "early": sum(1 for v in late_ns if v < 0),
    }


def _loop(sleep, period_ns, ticks):
    """One loop as users write it; returns each tick's lateness, thread CPU and wall time (ns)."""
    clock = time.perf_counter_ns
    late = [0] * ticks
    cpu0 = time.thread_time_ns()
    wall0 = clock()
    deadline = wall0 + period_ns
    for i in range(ticks):
        # time.sleep refuses a negative length; a tick already behind schedule waits for nothing
        sleep(max(0.0, (deadline - clock()) / 1e9))
        late[i] = clock() - deadline
        deadline += period_ns
    return late, time.thread_time_ns() - cpu0, clock() - wall0


def _round(functions, r, period_ns, ticks, late, cpu, wall):
    """Runs each function's loop in turn, adding to its tallies; a different function starts
    each round, so none always runs right after the same one."""
    names = list(functions)
    for name in names[r % len(names):] + names[:r % len(names)]:
        ticks_late, cpu_ns, wall_ns = _loop(functions[name], period_ns, ticks)
        late[name] += ticks_late
        cpu[name] += cpu_ns
        wall[name] += wall_ns


def _summary(late_ns, cpu_ns, wall_ns):
    return {"ticks": len(late_ns), **lateness_stats(late_ns), "cpu_share": cpu_ns / wall_ns}


def fixed_rate_loops(functions, ticks_at_1khz, rounds, progress):
    """Every round runs each function's loop in turn, so all see the same machine. Ticks
    scale with the rate: every loop lasts as long."""
    names = list(functions)
    results = {}
    for rate in LOOP_RATES_HZ:
        period_ns = 1_000_000_000 // rate
        ticks = max(20, ticks_at_1khz * rate // 1000)
        late = {name: [] for name in names}
        cpu = dict.fromkeys(names, 0)
        wall = dict.fromkeys(names, 0)
        for r in range(rounds):
            _round(functions, r, period_ns, ticks, late, cpu, wall)
            progress(f"fixed-rate loop at {rate} Hz: round {r + 1}/{rounds} done")
        results[rate] = {name: _summary(late[name], cpu[name], wall[name]) for name in names}
    return results


def _spin(stop):
    n = 0
    while not stop.is_set():
        n += 1


def loop_under_load(functions, ticks, rounds, progress, rate=1000):
    """The loop idle and beside one busy pure-Python thread per core, idle and loaded
    stretches alternating. Each function runs a stretch of its own: taking turns call by
    call would lend a spinning sleep the scheduler's credit that the others earn sleeping."""
    names = list(functions)
    period_ns = 1_000_000_000 // rate
    states = {"idle": 0, "loaded": os.cpu_count() or 1}
    late = {state: {name: [] for name in names} for state in states}
    cpu = {state: dict.fromkeys(names, 0) for state in states}
    wall = {state: dict.fromkeys(names, 0) for state in states}
    used = {state: [0, 0] for state in states}  # the whole process's CPU and wall time
    for r in range(rounds):
        for state, spinners in states.items():
            stop = threading.Event()
            pool = [threading.Thread(target=_spin, args=(stop,)) for _ in range(spinners)]
            for thread in pool:
                thread.start()
            try:
                if pool:
                    time.sleep(0.05)  # let every spinner get going
                cpu0, wall0 = time.process_time_ns(), time.perf_counter_ns()
                _round(functions, r, period_ns, ticks, late[state], cpu[state], wall[state])
                used[state][0] += time.process_time_ns() - cpu0
                used[state][1] += time.perf_counter_ns() - wall0
            finally:
                stop.set()
                for thread in pool:
                    thread.join()
        progress(f"fixed-rate loop under load: round {r + 1}/{rounds} done")
    return {"rate_hz": rate, "busy_threads": states["loaded"],
            "process_cores_used": {state: c / w for state, (c, w) in used.items()},
            **{state: {name: _summary(late[state][name], cpu[state][name], wall[state][name])
                       for name in names} for state in states}}


def _rate_label(rate):
    return f"{rate // 1000} kHz" if rate % 1000 == 0 else f"{rate} Hz"


def _print_table(label, rows):
    """Rows of (label, function, summary) under one header."""
    print(f"{label:>8}  {'function':16} {'ticks':>5} {'median':>9} {'p90':>9} {'p99':>9}"
          f" {'max':>9} {'early':>5} {'CPU':>7}")
    for key, name, r in rows:
        print(f"{key:>8}  {name:16} {r['ticks']:>5} {r['median_us']:>9.2f}"
              f" {r['p90_us']:>9.1f} {r['p99_us']:>9.1f} {r['max_us']:>9.1f}"
              f" {r['early']:>5} {r['cpu_share']:>7.1%}")


def print_loops(results):
    print("\nFixed-rate loop: lateness of each tick behind its schedule (µs) and CPU share of one core")
    _print_table("rate", [(_rate_label(rate), name, r) for rate, by_function in results.items()
                          for name, r in by_function.items()])


def print_under_load(results):
    print(f"\nFixed-rate loop at {_rate_label(results['rate_hz'])}, idle and beside"
          f" {results['busy_threads']} busy Python threads (one per core): lateness (µs), CPU share")
    _print_table("machine", [(state, name, r) for state in ("idle", "loaded")
                             for name, r in results[state].items()])
    used = results["process_cores_used"]
    print(f"  process CPU meanwhile: idle {used['idle']:.2f} cores, loaded {used['loaded']:.2f} cores")
