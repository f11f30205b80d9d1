#!/usr/bin/env bash
# Runs every check, setting up whatever is missing first:
#   pyproject.toml and the wheel workflow against their schemas, and cibuildwheel's list of
#   wheels; C++ unit tests (ctest); the sdist built, a wheel built from it and repaired to a
#   manylinux tag, installed into a fresh environment and the Python tests run against it
#   (pytest), then again with each test on four threads at once; stubtest and mypy
#   --strict; the Python tests again on the default (GIL) interpreter and on a free-threaded
#   CPython 3.15, each from a wheel made the same way; a user's build from the sdist, which
#   a warning must not stop; the sources compiled as MSVC and macOS read them; the Windows
#   x64 cross-build with its unit tests under wine; the suite under AddressSanitizer/UBSan
#   and the threaded tests under ThreadSanitizer.
# TEMPOLOOM_QUICK=1 stops after the typing checks. Arguments go to the first pytest run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TL_ROOT/scripts/checks.sh"
tl_setup
tl_packaging_checks
tl_unit_tests
tl_python_tests "$@"
tl_parallel_tests
tl_typing
if [ "${TEMPOLOOM_QUICK:-0}" = 1 ]; then
    tl_say "quick mode: GIL interpreter, Windows and sanitizers skipped"
    exit 0
fi
tl_gil_tests
tl_free_threaded_315_tests
tl_user_build
"$TL_ROOT/scripts/toolchains.sh"
"$TL_ROOT/scripts/windows.sh"
"$TL_ROOT/scripts/sanitize.sh" asan tsan
tl_say "all checks passed"
