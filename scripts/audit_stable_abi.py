"""cibuildwheel's audit of the abi3 wheel: abi3audit, strict, with one line of what it found.

abi3audit (0.0.26) knows no abi3t and finds nothing to audit in the abi3t wheel, which
cibuildwheel does not hand it (it audits abi3-tagged wheels only). A wheel in which it
audited no module fails here rather than pass unaudited.

    python scripts/audit_stable_abi.py WHEEL
"""

import json
import subprocess
import sys

wheel = sys.argv[1]
run = subprocess.run([sys.executable, "-m", "abi3audit", "--report", wheel],
                     capture_output=True, text=True)
sys.stderr.write(run.stderr)
# It exits 1 on any finding: its report decides, and says what it found.
try:
    report = json.loads(run.stdout)
except json.JSONDecodeError:
    sys.exit(f"audit: abi3audit failed ({run.returncode}) on {wheel} without a report")
problems, audited = [], 0
for spec in report["specs"].values():
    for extension in spec.get("wheel", []):
        result = extension["result"]
        audited += 1
        unexpected = sorted(result["non_abi3_symbols"])
        if unexpected:
            problems.append(f"{extension['name']}: outside the stable ABI: {' '.join(unexpected)}")
        if result["future_abi3_objects"] or not result["is_abi3_baseline_compatible"]:
            problems.append(f"{extension['name']}: needs a newer stable ABI than "
                            f"{result['baseline']}: {result['future_abi3_objects']}")
        outside = " ".join(result["non_abi3_symbols"]) or "nothing"
        print(f"audit: {extension['name']}: stable ABI {result['computed']} (wheel: "
              f"{result['baseline']}); outside it: {outside}")
if not audited:
    problems.append(f"no module of {wheel} could be audited")
if problems:
    sys.exit("audit: " + "; ".join(problems))
