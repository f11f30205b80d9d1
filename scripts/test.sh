#!/usr/bin/env bash
# Runs every check, setting up whatever is missing first:
#   pyproject.toml, the wheel workflow and Dependabot's file against their schemas, the
#   workflow audited by zizmor, its cibuildwheel pin, and cibuildwheel's list of wheels; C++
#   unit tests (ctest) and the sleep's loop on a modelled Windows timer; the sdist built, a
#   wheel built from it and repaired to a manylinux tag, its linkage checked, installed into
#   a fresh environment and the Python tests run against it (pytest), then again with each
#   test on four threads at once; an application that embeds the interpreter and starts it
#   five times, the module in use each time or imported while it finalizes; stubtest and
#   mypy --strict; the abi3 wheel built by the default CPython 3.11 and the Python tests and
#   the embedding application on it, the Python tests on the default 3.12 (both found on
#   this machine, not built: a stage says what it skipped without them); the same file on
#   the default (GIL) 3.14 with the embedding application, and the Python tests on a
#   free-threaded CPython 3.15, from a wheel made the same way; the checks the publish job
#   makes before an upload, each stable-ABI wheel audited against CPython's manifest among
#   them; the resumed-fault test against each C++ runtime configuration; a user's build
#   from the sdist, which a warning must not stop; the Python tests on the default CPython
#   3.15 against the abi3 wheel and the abi3t one of the free-threaded 3.15; the sources
#   compiled as MSVC and macOS (arm64 and x86_64) read them, and the module linked for musl;
#   the Windows x64 cross-build with its unit tests under wine; the Python tests and the
#   embedding application on the default CPython 3.13 against the abi3 wheel; the suite and
#   the embedding application under AddressSanitizer/UBSan and the threaded tests under
#   ThreadSanitizer.
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
