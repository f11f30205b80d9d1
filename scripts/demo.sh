#!/usr/bin/env bash
# Shows what tempoloom is for: the short form of the benchmark, a few seconds of sleeps side
# by side with time.sleep and naptime.sleep, as a table and as a plot of the overshoots
# beside each function's CPU per call (overshoot.svg).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exec "$here/bench.sh" --quick --svg "${1:-$here/../overshoot.svg}"
