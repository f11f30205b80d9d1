#!/usr/bin/env bash
# Sets up what is missing, then shows what tempoloom is for: a few seconds of sleeps side by
# side with time.sleep and naptime.sleep, as a table and as a plot (overshoot.svg).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
tl_setup
tl_say "benchmark dependencies"
tl_logged "benchmark dependencies" "$TL_CACHE/logs/pip.log" tl_pip install -q -r "$TL_ROOT/bench/requirements.txt"
tl_say "demo: sleep precision, side by side"
"$TL_VPY" "$TL_ROOT/bench/run.py" --quick --svg "${1:-$TL_ROOT/overshoot.svg}"
