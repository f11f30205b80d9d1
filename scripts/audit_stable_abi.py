"""cibuildwheel's audit of a stable-ABI wheel: abi3audit, allowing what it cannot know.

abi3audit (0.0.26) knows no abi3t. It audits the cp315-abi3t wheel as plain abi3 for
3.15, which abi3t is a subset of, and takes PyModExport_tempoloom, the export hook through
which an abi3t module is found, for a symbol outside the stable ABI. That one finding is
expected in that wheel's module; any other fails the audit, as abi3audit --strict would.

    python scripts/audit_stable_abi.py WHEEL
"""

import json
import os
import subprocess
import sys

wheel = sys.argv[1]
abis = os.path.basename(wheel).split("-")[3].split(".")
allowed = {"PyModExport_tempoloom"} if "abi3t" in abis else set()
run = subprocess.run([sys.executable, "-m", "abi3audit", "--report", wheel],
                     capture_output=True, text=True)
sys.stderr.write(run.stderr)
# It exits 1 on any finding, the expected one too: its report decides.
try:
    report = json.loads(run.stdout)
except json.JSONDecodeError:
    sys.exit(f"audit: abi3audit failed ({run.returncode}) on {wheel} without a report")
problems = []
for spec in report["specs"].values():
    for extension in spec.get("wheel", []):
        result = extension["result"]
        unexpected = sorted(set(result["non_abi3_symbols"]) - allowed)
        if unexpected:
            problems.append(f"{extension['name']}: outside the stable ABI: {' '.join(unexpected)}")
        if result["future_abi3_objects"] or not result["is_abi3_baseline_compatible"]:
            problems.append(f"{extension['name']}: needs a newer stable ABI than "
                            f"{result['baseline']}: {result['future_abi3_objects']}")
        outside = " ".join(result["non_abi3_symbols"]) or "nothing"
        print(f"audit: {extension['name']}: stable ABI {result['computed']} (wheel: "
              f"{result['baseline']}); outside it: {outside}")
if problems:
    sys.exit("audit: " + "; ".join(problems))
