#!/usr/bin/env bash
# Runs every check: sets up what is missing, then the C++ unit tests (ctest) and the
# Python tests (pytest) against the installed module.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
tl_setup

tl_say "unit tests: building (C++)"
build=$TL_ROOT/build/unit
log=$TL_CACHE/logs/unit.log
: >"$log"
tl_logged "unit tests" "$log" "$TL_VENV/bin/cmake" -S "$TL_ROOT" -B "$build" -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$TL_VENV/bin/ninja" -DTEMPOLOOM_EXTENSION=OFF -DTEMPOLOOM_UNIT_TESTS=ON
tl_logged "unit tests" "$log" "$TL_VENV/bin/cmake" --build "$build"
tl_say "unit tests: running (ctest)"
(cd "$build" && "$TL_VENV/bin/ctest" --output-on-failure)

tl_say "python tests: running (pytest)"
# From outside the source tree, so the installed module is what gets imported.
cd "$TL_ROOT/tests/python"
"$TL_VPY" -m pytest -p no:cacheprovider "$@"
