"""What `import tempoloom` costs a fresh interpreter, with and without the C++ runtime
already loaded into the process.

    python bench/import_time.py [--runs N]

The figure is the self time of the import in `python -X importtime`, the median over fresh
interpreters that take turns, so both cases see the same machine. Where the module
carries its C++ runtime inside, the two cases should agree.
"""

import argparse
import os
import statistics
import subprocess
import sys


def libstdcxx():
    """The system's shared C++ runtime, or None where there is none to preload."""
    if not sys.platform.startswith("linux"):
        return None
    try:
        found = subprocess.run(["/sbin/ldconfig", "-p"], capture_output=True, text=True).stdout
    except OSError:
        return None
    for line in found.splitlines():
        if line.strip().startswith("libstdc++.so.6 ") and "=>" in line:
            return line.split("=>", 1)[1].strip()
    return None


def import_self_us(preload):
    env = dict(os.environ)
    if preload:
        env["LD_PRELOAD"] = preload
    out = subprocess.run([sys.executable, "-X", "importtime", "-c", "import tempoloom"],
                         capture_output=True, text=True, env=env, check=True).stderr
    for line in out.splitlines():
        # "import time: self [us] | cumulative | imported package"
        fields = [field.strip() for field in line.removeprefix("import time:").split("|")]
        if len(fields) == 3 and fields[2] == "tempoloom":
            return int(fields[0])
    raise RuntimeError("no import time for tempoloom in:\n" + out)


def import_time(runs=21):
    preload = libstdcxx()
    cases = {"plain": None} | ({"libstdc++ preloaded": preload} if preload else {})
    samples = {name: [] for name in cases}
    for _ in range(runs):
        for name, lib in cases.items():
            samples[name].append(import_self_us(lib))
    return {name: {"median_us": statistics.median(values), "runs": len(values)}
            for name, values in samples.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=21)
    for name, figures in import_time(parser.parse_args().runs).items():
        print(f"import tempoloom, {name}: {figures['median_us']:.0f} µs "
              f"(median of {figures['runs']} fresh interpreters)")


if __name__ == "__main__":
    main()
