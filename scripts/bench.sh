#!/usr/bin/env bash
# Runs the whole benchmark suite (about a minute and a half once set up, a minute and a quarter
# of it the benchmark itself): precision and CPU of sleeps and of fixed-rate loops, sleeps
# beside busy threads, clock reads, threads, size. Arguments go to bench/run.py (--json FILE,
# --svg FILE, --quick).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
tl_setup
tl_say "benchmark dependencies"
tl_logged "benchmark dependencies" "$TL_CACHE/logs/pip.log" tl_pip install -q -r "$TL_ROOT/bench/requirements.txt"
tl_say "benchmark: running"
"$TL_VPY" "$TL_ROOT/bench/run.py" "$@"
