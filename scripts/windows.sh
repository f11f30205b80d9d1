#!/usr/bin/env bash
# The Windows x64 side, from Debian: cross-compiles the native code, its unit tests and the
# extension with MinGW-w64, runs the unit tests under wine, and checks that the linked
# extension exports its init function alone and needs no MinGW runtime DLL. Idempotent:
# installs what is missing and reuses everything under build/windows/, and the wine prefix
# in the cache.
#
# Knobs: those of setup.sh; TEMPOLOOM_CPYTHON_TARBALL names the CPython source whose
# Windows headers the extension is built against (default: the set-up's download).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

TL_WIN=$TL_ROOT/build/windows
TL_WIN_BUILD=$TL_ROOT/build/windows-cross
TL_WIN_TRIPLET=x86_64-w64-mingw32

tl_win_log() {
    local log=$TL_CACHE/logs/windows-$1.log
    mkdir -p "$(dirname "$log")"
    : >"$log"
    printf '%s\n' "$log"
}

tl_win_packages() {
    local packages=(ca-certificates curl xz-utils g++-mingw-w64-x86-64-posix wine wine64 googletest)
    if [ -z "$(tl_missing_packages "${packages[@]}" | grep -v '^$' || true)" ]; then
        tl_say "windows: system packages: present"
    fi
    tl_apt_install "${packages[@]}"
}

# CMake 3.26 or newer and ninja, from the project's virtual environment (Debian 12's
# CMake is older); sets them up as setup.sh does when they are not there yet.
tl_win_build_tools() {
    if [ ! -x "$TL_VENV/bin/cmake" ] || [ ! -x "$TL_VENV/bin/ninja" ]; then
        tl_interpreter
        tl_venv
        tl_requirements
    fi
    TL_CMAKE=$TL_VENV/bin/cmake
    TL_CTEST=$TL_VENV/bin/ctest
    TL_NINJA=$TL_VENV/bin/ninja
    tl_say "windows: build tools: $("$TL_CMAKE" --version | head -n 1), $("$TL_WIN_TRIPLET-g++-posix" --version | head -n 1)"
}

# Include/ and PC/pyconfig.h of the CPython source; sets TL_WIN_PYTHON to their directory.
tl_win_python_headers() {
    local version tarball
    read -r version tarball < <(tl_cpython_source 3.14) || exit 1
    TL_WIN_PYTHON=$TL_WIN/cpython-$version
    if [ -f "$TL_WIN_PYTHON/.complete" ] && [ "$(cat "$TL_WIN_PYTHON/.complete")" = "$tarball" ]; then
        tl_say "windows: CPython $version headers: $TL_WIN_PYTHON"
        return 0
    fi
    tl_say "windows: CPython $version headers: unpacking Include/ and PC/pyconfig.h of $tarball"
    local log
    log=$(tl_win_log python-headers)
    rm -rf "$TL_WIN_PYTHON"
    mkdir -p "$TL_WIN_PYTHON"
    tl_logged "windows: CPython headers" "$log" tar -xJf "$tarball" -C "$TL_WIN_PYTHON" \
        --strip-components=1 --wildcards '*/Include/*' '*/PC/pyconfig.h'
    [ -f "$TL_WIN_PYTHON/PC/pyconfig.h" ] || tl_die "no PC/pyconfig.h in $tarball"
    printf '%s\n' "$tarball" >"$TL_WIN_PYTHON/.complete"
}

# GoogleTest from Debian's source package, cross-built and installed into the build tree.
tl_win_googletest() {
    local prefix=$TL_WIN/googletest
    TL_WIN_GTEST_DIR=$prefix/lib/cmake/GTest
    if [ -f "$TL_WIN_GTEST_DIR/GTestConfig.cmake" ]; then
        tl_say "windows: GoogleTest: $prefix"
        return 0
    fi
    tl_say "windows: GoogleTest: cross-building /usr/src/googletest"
    local log
    log=$(tl_win_log googletest)
    rm -rf "$TL_WIN/googletest-build" "$prefix"
    tl_logged "windows: GoogleTest" "$log" "$TL_CMAKE" -S /usr/src/googletest \
        -B "$TL_WIN/googletest-build" -G Ninja -DCMAKE_MAKE_PROGRAM="$TL_NINJA" \
        -DCMAKE_TOOLCHAIN_FILE="$TL_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_POLICY_VERSION_MINIMUM=3.10 \
        -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$prefix"
    tl_logged "windows: GoogleTest" "$log" "$TL_CMAKE" --build "$TL_WIN/googletest-build"
    tl_logged "windows: GoogleTest" "$log" "$TL_CMAKE" --install "$TL_WIN/googletest-build"
    rm -rf "$TL_WIN/googletest-build"
}

# A 64-bit wine prefix in the cache, outside the work tree: its drive links lead to / and
# would send every walk of the tree (an sdist build's) through the whole file system.
tl_win_wine_prefix() {
    export WINEPREFIX=$TL_CACHE/wine64 WINEARCH=win64 WINEDEBUG=-all
    # No Mono or Gecko: console programs need neither, and nothing may be downloaded.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # Earlier runs kept it in the tree.
    rm -rf "$TL_WIN/wineprefix"
    # Other checkouts share the cache: one of them makes the prefix, the others wait.
    (
        flock 9
        if [ -f "$WINEPREFIX/system.reg" ]; then
            tl_say "windows: wine prefix: $WINEPREFIX"
            exit 0
        fi
        tl_say "windows: wine prefix: creating $WINEPREFIX"
        log=$(tl_win_log wineprefix)
        rm -rf "$WINEPREFIX"
        tl_logged "windows: wine prefix" "$log" wineboot --init
        tl_logged "windows: wine prefix" "$log" wineserver --wait
        [ -f "$WINEPREFIX/system.reg" ] || tl_die "wine made no prefix in $WINEPREFIX (log: $log)"
    ) 9>"$TL_CACHE/wine64.lock"
}

# One wine server, with wine's own service processes started, for all the tests: started
# per test they would cost seconds each, and would hold ctest's output pipe open until
# they exit. It ends by itself a few seconds after its last program.
tl_win_wine_server() {
    local log
    log=$(tl_win_log wineserver)
    # One lingering from an earlier run is waited out: a second server would not start.
    wineserver --wait
    tl_logged "windows: wine server" "$log" wineserver --persistent=5
    tl_logged "windows: wine server" "$log" wine cmd /c exit
}

tl_win_build() {
    tl_say "windows: building core, unit tests and extension (MinGW-w64, x86_64)"
    local log
    log=$(tl_win_log build)
    tl_cmake_preset windows-cross "$log" -DTEMPOLOOM_WINDOWS_PYTHON_SOURCE="$TL_WIN_PYTHON" \
        -DGTest_DIR="$TL_WIN_GTEST_DIR"
    if grep -q 'warning:' "$log"; then
        grep 'warning:' "$log" >&2
        tl_die "stage 'windows: build' has compiler warnings (full log: $log)"
    fi
}

# The unit tests under wine, then the precise sleep's overshoot there, measured inside the
# wait (bench/sleep_overshoot.cpp): a report, not a test.
tl_win_unit_tests() {
    tl_say "windows: unit tests: running under wine (ctest)"
    tl_win_wine_server
    (cd "$TL_ROOT" && "$TL_CTEST" --preset windows-cross) ||
        tl_die "stage 'windows: unit tests' failed (tests run under wine in $TL_WIN_BUILD)"
    local log
    log=$(tl_win_log overshoot)
    tl_logged "windows: overshoot" "$log" wine "$TL_WIN_BUILD/sleep_overshoot.exe" 50
    tl_say "windows: under wine, the precise sleep's overshoot inside the wait, median/p90/p99 µs:" \
        "$(tl_overshoot_summary "$log")"
}

tl_win_extension_check() {
    local pyd=$TL_WIN_BUILD/tempoloom.cp314t-win_amd64.pyd log exports imports
    [ -f "$pyd" ] || tl_die "stage 'windows: extension' made no $pyd"
    log=$(tl_win_log objdump)
    tl_logged "windows: extension" "$log" "$TL_WIN_TRIPLET-objdump" -p "$pyd"
    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
        table && /^\t\[/ { print $NF; next }
        table { exit }' "$log" | paste -sd ' ')
    imports=$(awk '/DLL Name:/ { print $3 }' "$log" | paste -sd ' ')
    [ "$exports" = "PyInit_tempoloom" ] ||
        tl_die "$pyd exports '$exports' instead of PyInit_tempoloom alone (log: $log)"
    case " ${imports,,} " in
        *" python314t.dll "*) ;;
        *) tl_die "$pyd does not import python314t.dll but '$imports' (log: $log)" ;;
    esac
    case " ${imports,,} " in
        *" lib"*) tl_die "$pyd needs a MinGW runtime DLL: imports '$imports' (log: $log)" ;;
    esac
    tl_say "windows: extension $(basename "$pyd"): exports $exports; imports $imports"
}

tl_windows() {
    mkdir -p "$TL_CACHE/logs" "$TL_WIN"
    tl_win_packages
    tl_win_build_tools
    tl_win_python_headers
    tl_win_googletest
    tl_win_wine_prefix
    tl_win_build
    tl_win_unit_tests
    tl_win_extension_check
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    tl_windows
fi
