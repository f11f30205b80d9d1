#!/usr/bin/env bash
# Runs every check, setting up whatever is missing first. CONTRIBUTING.md, "What the test
# command checks", has a row for each stage below: what it proves, and what a failure does.
# TEMPOLOOM_QUICK=1 stops after the typing checks. Arguments go to the first pytest run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TL_ROOT/scripts/checks.sh"
tl_setup
[ "${TEMPOLOOM_QUICK:-0}" = 1 ] || tl_prebuild_interpreters
tl_packaging_checks
tl_unit_tests
tl_python_tests "$@"
tl_parallel_tests
tl_embed_test free-threaded "$TL_TEST_VENV/bin/python" "" ""
tl_typing
if [ "${TEMPOLOOM_QUICK:-0}" = 1 ]; then
    tl_say "quick mode: the other interpreters, Windows and sanitizers skipped"
    exit 0
fi
# The interpreters are built in the background in this order: the GIL 3.14, the
# free-threaded 3.15, the default 3.15, the default 3.13, then ThreadSanitizer's. A stage
# that needs one comes late enough that its build is usually done.
tl_gil_311_tests
tl_gil_312_tests
tl_gil_tests
tl_free_threaded_315_tests
tl_release_checks
tl_runtime_configurations
tl_user_build
tl_gil_315_tests
"$TL_ROOT/scripts/toolchains.sh"
"$TL_ROOT/scripts/windows.sh"
tl_gil_313_tests
"$TL_ROOT/scripts/sanitize.sh" asan tsan
tl_say "all checks passed"
