"""What a call costs in a stable-ABI build against a version-specific build of the same sources.

    python bench/stable_abi.py NAME=MODULE_FILE NAME=MODULE_FILE ... [--rounds N] [--json FILE]

Every build is loaded into this one interpreter (each file as its own module object), and the
builds take turns round by round, the order swapped every round, so that all of them see the
same machine. A round's figure for a call is the best of a few short batches, which a busy
machine interrupts least. The first build named is the reference: each other one is
reported as its per-call time over the reference's, the median of the ratios of the same
rounds.
"""

import argparse
import importlib.util
import json
import os
import platform
import statistics
import sys
import sysconfig
import timeit

# Each call as a user makes it; timeit's loop is included, as it is in every build.
CALLS = {
    "getTime()": ("f()", lambda m: m.MonotonicClock().getTime),
    "Clock()": ("f()", lambda m: m.Clock),
    "sleep(0)": ("f(0)", lambda m: m.sleep),
    "reset()": ("f()", lambda m: m.Clock().reset),
}


def load(path):
    """The module in path, as a module object of its own: each file is loaded once."""
    spec = importlib.util.spec_from_file_location("tempoloom", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def calibrate(stmt, function, target_s=0.003):
    timer = timeit.Timer(stmt, globals={"f": function})
    number, _ = timer.autorange()
    return max(1, int(number * target_s / 0.2))


def interpreter():
    kind = "free-threaded" if sysconfig.get_config_var("Py_GIL_DISABLED") else "default"
    return f"CPython {platform.python_version()} {kind}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("builds", nargs="+", metavar="NAME=MODULE_FILE")
    parser.add_argument("--rounds", type=int, default=31)
    parser.add_argument("--batches", type=int, default=5, help="per round, the best counts")
    parser.add_argument("--json", metavar="FILE")
    args = parser.parse_args()
    builds = dict(build.split("=", 1) for build in args.builds)
    modules = {name: load(path) for name, path in builds.items()}
    names = list(builds)
    functions = {
        (name, call): make(module) for name, module in modules.items()
        for call, (_, make) in CALLS.items()
    }
    numbers = {call: calibrate(stmt, functions[names[0], call])
               for call, (stmt, _) in CALLS.items()}
    load_before = os.getloadavg()
    per_call = {key: [] for key in functions}
    for round_ in range(args.rounds):
        order = names if round_ % 2 == 0 else names[::-1]
        for call, (stmt, _) in CALLS.items():
            for name in order:
                timer = timeit.Timer(stmt, globals={"f": functions[name, call]})
                best = min(timer.repeat(args.batches, numbers[call]))
                per_call[name, call].append(best / numbers[call] * 1e9)
    load_after = os.getloadavg()

    reference = names[0]
    print(f"{interpreter()}; {args.rounds} rounds, interleaved, best of {args.batches} batches "
          "each; ns per call: median (min-max) over the rounds")
    print(f"load average before {load_before[0]:.2f}, after {load_after[0]:.2f}"
          f" ({os.cpu_count()} cores)")
    ratios_header = [f"{name} / {reference}" for name in names[1:]]
    print("| call | " + " | ".join(names + ratios_header) + " |")
    print("|---" * (1 + 2 * len(names) - 1) + "|")
    results = {}
    for call in CALLS:
        cells = []
        for name in names:
            samples = per_call[name, call]
            cells.append(f"{statistics.median(samples):.1f}"
                         f" ({min(samples):.1f}-{max(samples):.1f})")
        ratios = {}
        for name in names[1:]:
            paired = [b / a for a, b in zip(per_call[reference, call], per_call[name, call])]
            ratios[name] = paired
            cells.append(f"{statistics.median(paired):.3f} ({min(paired):.3f}-{max(paired):.3f})")
        print(f"| `{call}` | " + " | ".join(cells) + " |")
        results[call] = {
            "ns_per_call": {name: per_call[name, call] for name in names},
            "ratio_to_" + reference: ratios,
        }
    for name, path in builds.items():
        print(f"{name}: {os.path.basename(path)}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as file:
            json.dump({"interpreter": interpreter(), "rounds": args.rounds,
                       "load": [load_before, load_after], "builds": builds,
                       "results": results}, file, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
