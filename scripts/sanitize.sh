#!/usr/bin/env bash
# Runs the checks under sanitizers:
# - AddressSanitizer and UndefinedBehaviorSanitizer: the C++ unit tests and the extension
#   built instrumented, the whole pytest suite and the embedding application
#   (tests/embed/embed.c) run with the runtime preloaded;
# - ThreadSanitizer: a free-threaded CPython built with --with-thread-sanitizer (cached like
#   the first), the extension built with -fsanitize=thread, the threaded tests run under it.
# Any report from the module's code fails the run. Arguments: "asan", "tsan" or both (default).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TL_ROOT/scripts/checks.sh"

# The preset of the same name, built against the given interpreter's headers.
tl_sanitized_build() {
    tl_cmake_preset "$1" "$TL_CACHE/logs/$1.log" -DPython_EXECUTABLE="$2"
}

tl_asan() {
    tl_say "sanitizers: building with AddressSanitizer and UndefinedBehaviorSanitizer"
    tl_sanitized_build asan "$TL_VPY"
    # libstdc++ is preloaded too: the interpreter does not link it, and the runtime can
    # only intercept C++ exceptions from a libstdc++ present at start-up.
    local runtime
    runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
    # The interpreter keeps its objects until the process ends by design; leaks at exit
    # are its own, so leak detection is off. Nothing else is suppressed.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    tl_say "sanitizers: unit tests under ASan/UBSan"
    (cd "$TL_ROOT" && "$TL_VENV/bin/ctest" --preset asan -Q)
    tl_say "sanitizers: python tests under ASan/UBSan"
    (cd "$TL_ROOT/tests/python" &&
        TEMPOLOOM_UNDER_SANITIZER=asan LD_PRELOAD="$runtime" PYTHONPATH="$TL_ROOT/build/asan" \
            "$TL_VPY" -m pytest -p no:cacheprovider -q -x \
            -W "ignore::pytest.PytestUnraisableExceptionWarning")
    tl_embed_test asan "$TL_VPY" "$TL_ROOT/build/asan" \
        "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
        env LD_PRELOAD="$runtime" TEMPOLOOM_UNDER_SANITIZER=asan
    unset ASAN_OPTIONS UBSAN_OPTIONS
}

tl_tsan() {
    local python venv=$TL_ROOT/build/tsan-venv site
    # The interpreter and its environment have no pip: the project environment's pip puts
    # pytest (pure Python) into that environment.
    python=$(tl_tsan_interpreter)
    tl_say "sanitizers: ThreadSanitizer interpreter $python"
    if [ ! -x "$venv/bin/python" ]; then
        tl_logged "tsan venv" "$TL_CACHE/logs/tsan-venv.log" "$python" -m venv --without-pip "$venv"
    fi
    site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
    tl_logged "tsan venv" "$TL_CACHE/logs/tsan-pip.log" \
        tl_pip install -q --upgrade --target "$site" pytest
    tl_say "sanitizers: building with ThreadSanitizer"
    tl_sanitized_build tsan "$venv/bin/python"
    # The interpreter's own known races, as its sources list them; none of the module's.
    local suppressions=$TL_CACHE/tsan-suppressions.txt
    tar -xJOf "$(tl_cpython_source 3.14 | cut -d' ' -f2-)" --wildcards \
        '*/Tools/tsan/suppressions_free_threading.txt' >"$suppressions"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$suppressions"
    tl_say "sanitizers: unit tests under TSan"
    (cd "$TL_ROOT" && "$TL_VENV/bin/ctest" --preset tsan -Q)
    tl_say "sanitizers: threaded python tests under TSan"
    (cd "$TL_ROOT/tests/python" &&
        TEMPOLOOM_UNDER_SANITIZER=tsan PYTHONPATH="$TL_ROOT/build/tsan" \
            "$venv/bin/python" -m pytest -p no:cacheprovider -q -x \
            test_stress.py test_monotonic_clock.py test_clock.py test_sleep.py)
    unset TSAN_OPTIONS
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    tl_setup
    for what in "${@:-asan tsan}"; do
        for one in $what; do "tl_$one"; done
    done
fi
