#!/usr/bin/env bash
# The checks the test command runs, as functions; sourced after setup.sh.

# C++ unit tests of everything that runs without the interpreter.
tl_unit_tests() {
    local build=$TL_ROOT/build/unit log=$TL_CACHE/logs/unit.log
    tl_say "unit tests: building (C++)"
    : >"$log"
    tl_logged "unit tests" "$log" "$TL_VENV/bin/cmake" -S "$TL_ROOT" -B "$build" -G Ninja \
        -DCMAKE_MAKE_PROGRAM="$TL_VENV/bin/ninja" -DTEMPOLOOM_EXTENSION=OFF \
        -DTEMPOLOOM_UNIT_TESTS=ON
    tl_logged "unit tests" "$log" "$TL_VENV/bin/cmake" --build "$build"
    tl_say "unit tests: running (ctest)"
    (cd "$build" && "$TL_VENV/bin/ctest" --output-on-failure -Q)
}

# Builds the wheel with the given environment's interpreter; prints its path.
tl_build_wheel() {
    local python=$1 dist=$TL_ROOT/build/dist/$2 log=$TL_CACHE/logs/wheel-$2.log
    rm -rf "$dist"
    : >"$log"
    tl_logged "wheel" "$log" "$python" -m pip --disable-pip-version-check wheel \
        --no-build-isolation --no-deps -w "$dist" "$TL_ROOT"
    ls "$dist"/tempoloom-*.whl
}

# A new environment with the wheel and the test dependencies installed: the tests then
# see what a user installs, so a file missing from the wheel fails them.
tl_fresh_test_venv() {
    local python=$1 venv=$2 wheel=$3 log=$TL_CACHE/logs/test-venv.log
    : >"$log"
    tl_logged "test environment" "$log" "$python" -m venv --clear "$venv"
    tl_logged "test environment" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q "$wheel" -r "$TL_ROOT/requirements-test.txt"
}

tl_python_tests() {
    local venv=$TL_ROOT/build/test-venv wheel
    tl_say "wheel: building"
    wheel=$(tl_build_wheel "$TL_VPY" free-threaded)
    tl_say "python tests: installing $(basename "$wheel") into a fresh environment"
    tl_fresh_test_venv "$TL_PYTHON" "$venv" "$wheel"
    tl_say "python tests: running (pytest, free-threaded interpreter)"
    (cd "$TL_ROOT/tests/python" && "$venv/bin/python" -m pytest -p no:cacheprovider "$@")
    TL_TEST_VENV=$venv
}

# Every test on four threads at once (those marked thread_unsafe on one); a deadlock
# fails at the timeout instead of hanging the run.
tl_parallel_tests() {
    tl_say "python tests: each test on 4 threads at once (pytest-run-parallel)"
    (cd "$TL_ROOT/tests/python" && "$TL_TEST_VENV/bin/python" -m pytest -p no:cacheprovider -q \
        --parallel-threads=4 --timeout=120)
}

# The stubs against the installed module, and a strict type check of code using them.
tl_typing() {
    local venv=$TL_TEST_VENV log=$TL_CACHE/logs/typing.log
    tl_say "typing: stubtest and mypy --strict"
    : >"$log"
    tl_logged "typing" "$log" "$venv/bin/python" -m pip --disable-pip-version-check install -q mypy
    (cd "$TL_ROOT/tests/typing" &&
        "$venv/bin/python" -m mypy.stubtest tempoloom &&
        "$venv/bin/python" -m mypy --strict uses_every_name.py)
}

# The same Python tests on the default interpreter, with the GIL.
tl_gil_tests() {
    local prefix python venv=$TL_ROOT/build/gil-venv wheel log=$TL_CACHE/logs/gil.log
    prefix=$(tl_build_cpython "")
    python=$prefix/bin/python3.14
    tl_say "GIL interpreter: $python"
    : >"$log"
    if [ ! -x "$venv/bin/python" ]; then
        tl_logged "GIL interpreter" "$log" "$python" -m venv "$venv"
    fi
    tl_logged "GIL interpreter" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q -r "$TL_ROOT/requirements-build.txt"
    tl_say "GIL interpreter: building the wheel"
    wheel=$(tl_build_wheel "$venv/bin/python" gil)
    tl_fresh_test_venv "$python" "$TL_ROOT/build/gil-test-venv" "$wheel"
    tl_say "GIL interpreter: running the python tests"
    (cd "$TL_ROOT/tests/python" &&
        "$TL_ROOT/build/gil-test-venv/bin/python" -m pytest -p no:cacheprovider -q "$@")
}
