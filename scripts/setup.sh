#!/usr/bin/env bash
# Sets up everything tempoloom needs, idempotently: system packages, a free-threaded
# CPython 3.14 (built from source into a cache when none is at hand), the project's
# virtual environment, the module itself and the test dependencies.
#
# Sourced by the other scripts (they call tl_setup); run directly it just sets up.
# Knobs: TEMPOLOOM_PYTHON (an interpreter to use), TEMPOLOOM_CPYTHON_TARBALL and
# TEMPOLOOM_CPYTHON313_TARBALL, TEMPOLOOM_CPYTHON315_TARBALL (CPython 3.14, 3.13 and 3.15
# source tarballs to build from),
# TEMPOLOOM_CACHE (where interpreters are cached), TEMPOLOOM_VENV (the virtual environment).
set -euo pipefail

TL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TL_CACHE=${TEMPOLOOM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tempoloom}
TL_VENV=${TEMPOLOOM_VENV:-$TL_ROOT/.venv}

# Releases Debian serves as source tarballs (its version numbers), newest first in each
# series, with their sha256; and the variable that names a tarball of the series instead.
declare -A TL_CPYTHON_RELEASES=([3.13]="3.13.15" [3.14]="3.14.7 3.14.6" [3.15]="3.15.0~rc2")
declare -A TL_CPYTHON_SHA256=(
    [3.13.15]=1e66a7945a48390ee4c2a4268a0e4185884059a13c4aab6d148aa208deea4a76
    [3.14.7]=3b48dac8fb59f62eaa67ac83c1eb12bda1b7a08406dd286e252c11a66be27f81
    [3.14.6]=143b1dddefaec3bd2e21e3b839b34a2b7fb9842272883c576420d605e9f30c63
    [3.15.0~rc2]=8d93af5eaaaea5adfd41bd786a7ba3f03f2ad1ab57c6a65e0b963deab91d5ad7
)
declare -A TL_CPYTHON_TARBALL_KNOB=([3.13]=TEMPOLOOM_CPYTHON313_TARBALL
    [3.14]=TEMPOLOOM_CPYTHON_TARBALL [3.15]=TEMPOLOOM_CPYTHON315_TARBALL)

tl_say() { printf '[tempoloom] %s\n' "$*"; }
tl_die() {
    printf '[tempoloom] error: %s\n' "$*" >&2
    exit 1
}

# Runs a command with its output in a log; on failure names the stage and the log.
tl_logged() {
    local stage=$1 log=$2
    shift 2
    mkdir -p "$(dirname "$log")"
    if ! "$@" >>"$log" 2>&1; then
        tail -n 20 "$log" >&2 || true
        tl_die "stage '$stage' failed: $* (full log: $log)"
    fi
}

tl_missing_packages() {
    local pkg missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    printf '%s\n' "${missing[@]}"
}

tl_apt_install() {
    local missing
    mapfile -t missing < <(tl_missing_packages "$@" | grep -v '^$' || true)
    [ ${#missing[@]} -eq 0 ] && return 0
    command -v apt-get >/dev/null || tl_die "missing packages ${missing[*]} and no apt-get to install them"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    tl_say "system packages: installing ${missing[*]}"
    local log=$TL_CACHE/logs/apt.log
    DEBIAN_FRONTEND=noninteractive tl_logged "system packages" "$log" "${sudo[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive tl_logged "system packages" "$log" \
        "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

tl_system_packages() {
    # clang-19 and Wine's headers read the sources as MSVC does (scripts/toolchains.sh).
    local base=(ca-certificates curl xz-utils build-essential pkg-config binutils libgtest-dev
        clang-19 libwine-dev)
    if [ -z "$(tl_missing_packages "${base[@]}" | grep -v '^$' || true)" ]; then
        tl_say "system packages: present"
    fi
    tl_apt_install "${base[@]}"
}

# Whether the interpreter is a CPython of the series, its build free-threaded (and running
# without the GIL) for "free-threaded", with the GIL for "default".
tl_is_cpython() {
    "$1" -c 'import sys, sysconfig
series, kind = sys.argv[1:]
assert "%d.%d" % sys.version_info[:2] == series
free = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
assert free == (kind == "free-threaded")
assert not free or not sys._is_gil_enabled()' "$2" "$3" >/dev/null 2>&1
}

# Whether the interpreter is a free-threaded CPython of the series (default 3.14).
tl_is_free_threaded() { tl_is_cpython "$1" "${2:-3.14}" free-threaded; }

# The first URI of the machine's Debian archive, as its apt configuration names it.
tl_debian_mirror() {
    local uri=""
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
    fi
    if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
        uri=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; exit } }' \
            /etc/apt/sources.list)
    fi
    [ -n "$uri" ] || tl_die "no Debian mirror found in the apt configuration"
    printf '%s\n' "${uri%/}"
}

tl_sha256() { sha256sum "$1" | awk '{print $1}'; }

# Prints "VERSION PATH" of a verified source tarball of the series (3.13, 3.14 or 3.15), fetching
# one when none is given; VERSION is Debian's (3.15.0~rc2).
tl_cpython_source() {
    local series=$1 knob=${TL_CPYTHON_TARBALL_KNOB[$1]} tarball sum v releases
    read -ra releases <<<"${TL_CPYTHON_RELEASES[$series]}"
    tarball=${!knob:-}
    if [ -n "$tarball" ]; then
        [ -f "$tarball" ] || tl_die "$knob=$tarball does not exist"
        sum=$(tl_sha256 "$tarball")
        for v in "${releases[@]}"; do
            if [ "$sum" = "${TL_CPYTHON_SHA256[$v]}" ]; then
                printf '%s %s\n' "$v" "$(cd "$(dirname "$tarball")" && pwd)/$(basename "$tarball")"
                return 0
            fi
        done
        tl_die "sha256 of $tarball is $sum, which matches no known CPython $series release (${releases[*]})"
    fi
    local mirror dest
    mirror=$(tl_debian_mirror)
    mkdir -p "$TL_CACHE/downloads"
    for v in "${releases[@]}"; do
        dest=$TL_CACHE/downloads/python${series}_$v.orig.tar.xz
        if [ ! -f "$dest" ]; then
            curl -fsSL -o "$dest.part" "$mirror/pool/main/p/python$series/python${series}_$v.orig.tar.xz" ||
                { rm -f "$dest.part"; continue; }
            mv "$dest.part" "$dest"
        fi
        sum=$(tl_sha256 "$dest")
        if [ "$sum" != "${TL_CPYTHON_SHA256[$v]}" ]; then
            rm -f "$dest"
            tl_die "downloaded CPython $v has sha256 $sum, expected ${TL_CPYTHON_SHA256[$v]}"
        fi
        printf '%s %s\n' "$v" "$dest"
        return 0
    done
    tl_die "could not download CPython source (${releases[*]}) from the Debian mirror"
}

# Builds a CPython of the series from source into the cache; the suffix names the variant,
# which further configure flags select (they override the defaults). Prints the
# interpreter's path.
tl_build_cpython() {
    local series=$1 suffix=$2
    shift 2
    local src version release tarball prefix exe=python$series
    case " $* " in *" --disable-gil "*) exe+=t ;; esac
    # Checkouts share the cache: one builds an interpreter while the others wait for it.
    mkdir -p "$TL_CACHE"
    exec {TL_BUILD_LOCK}>"$TL_CACHE/cpython-$series$suffix.lock"
    flock "$TL_BUILD_LOCK"
    for release in ${TL_CPYTHON_RELEASES[$series]}; do
        prefix=$TL_CACHE/cpython-${release/\~/}$suffix
        if [ -f "$prefix/.complete" ]; then
            exec {TL_BUILD_LOCK}>&-
            printf '%s\n' "$prefix/bin/$exe"
            return 0
        fi
    done
    read -r release tarball < <(tl_cpython_source "$series") || exit 1
    version=${release/\~/}
    prefix=$TL_CACHE/cpython-$version$suffix
    tl_apt_install libssl-dev libffi-dev zlib1g-dev libbz2-dev liblzma-dev libsqlite3-dev \
        libreadline-dev uuid-dev >&2
    local log=$TL_CACHE/logs/cpython-$version$suffix.log
    : >"$log"
    tl_say "interpreter: building CPython $version$suffix from $tarball (a few minutes; log: $log)" >&2
    src=$TL_CACHE/build/cpython-$version$suffix
    rm -rf "$src" "$prefix"
    mkdir -p "$src"
    tl_logged "interpreter: unpack" "$log" tar -xJf "$tarball" -C "$src" --strip-components=1
    # Without CPython's own test suite: its extension modules are not built, and its
    # package, larger than the rest of the library, is neither installed nor byte-compiled.
    (
        cd "$src"
        tl_logged "interpreter: configure" "$log" ./configure --disable-test-modules \
            --with-ensurepip=install "$@" --prefix="$prefix"
        tl_logged "interpreter: make" "$log" make -j"$(nproc)"
        tl_logged "interpreter: make install" "$log" make install ${TL_CPYTHON_INSTALL_OPTS:+"$TL_CPYTHON_INSTALL_OPTS"}
    ) >&2
    rm -rf "$src"
    touch "$prefix/.complete"
    exec {TL_BUILD_LOCK}>&-
    printf '%s\n' "$prefix/bin/$exe"
}

# Sets TL_PYTHON to a free-threaded CPython 3.14.
tl_interpreter() {
    local candidate
    for candidate in "${TEMPOLOOM_PYTHON:-}" "$(command -v python3.14t || true)"; do
        [ -n "$candidate" ] || continue
        if tl_is_free_threaded "$candidate"; then
            TL_PYTHON=$candidate
            tl_say "interpreter: $TL_PYTHON"
            return 0
        fi
        [ "$candidate" = "${TEMPOLOOM_PYTHON:-}" ] &&
            tl_die "TEMPOLOOM_PYTHON=$candidate is not a free-threaded CPython 3.14"
    done
    TL_PYTHON=$(tl_build_cpython 3.14 t --disable-gil)
    tl_is_free_threaded "$TL_PYTHON" || tl_die "$TL_PYTHON is not a free-threaded CPython 3.14"
    tl_say "interpreter: $TL_PYTHON (built from source, kept in the cache)"
}

tl_venv() {
    local log=$TL_CACHE/logs/venv.log
    if [ -x "$TL_VENV/bin/python" ] && tl_is_free_threaded "$TL_VENV/bin/python" &&
        [ "$("$TL_VENV/bin/python" -c 'import sys; print(sys._base_executable)')" -ef "$TL_PYTHON" ]; then
        tl_say "virtual environment: $TL_VENV"
    else
        tl_say "virtual environment: creating $TL_VENV"
        rm -rf "$TL_VENV"
        tl_logged "virtual environment" "$log" "$TL_PYTHON" -m venv "$TL_VENV"
    fi
    TL_VPY=$TL_VENV/bin/python
}

# Configures and builds a preset of CMakePresets.json into build/PRESET, with the
# environment's CMake and ninja; further arguments are cache settings (-DNAME=VALUE).
tl_cmake_preset() {
    local preset=$1 log=$2
    shift 2
    : >"$log"
    tl_logged "$preset build" "$log" env PATH="$TL_VENV/bin:$PATH" \
        cmake -S "$TL_ROOT" --preset "$preset" "$@"
    tl_logged "$preset build" "$log" "$TL_VENV/bin/cmake" --build "$TL_ROOT/build/$preset"
}

# The lines of bench/sleep_overshoot.cpp ("t median p90 p99 max early", in ns; CRLF under
# wine) as one: each length's median/p90/p99 in µs, then the early returns.
tl_overshoot_summary() {
    awk '{ sub(/\r$/, "") }
        NF == 6 && $1 ~ /^[0-9.e-]+$/ {
            printf "%s%g ms %.1f/%.1f/%.1f", (n++ ? "; " : ""), $1 * 1e3, $2 / 1e3, $3 / 1e3, $4 / 1e3
            early += $6
        }
        END { printf "; %d early\n", early }' "$1"
}

tl_pip() { "$TL_VPY" -m pip --disable-pip-version-check "$@"; }

# A dependency group of pyproject.toml, named so that pip finds it from any directory;
# every CPython the tests use (3.13.15, 3.14, 3.15.0rc2) bundles pip 25.2 or newer, which
# reads groups (25.1 on).
tl_group() { printf '%s\n' "$TL_ROOT/pyproject.toml:$1"; }

tl_requirements() {
    local log=$TL_CACHE/logs/pip.log
    tl_say "dependencies: build and test requirements (dependency group dev)"
    tl_logged "dependencies" "$log" tl_pip install -q --group "$(tl_group dev)"
}

tl_install_module() {
    local log=$TL_CACHE/logs/module.log
    tl_say "module: building and installing tempoloom"
    tl_logged "module" "$log" tl_pip install -q --no-build-isolation "$TL_ROOT"
}

tl_setup() {
    # A script started by one that has set up already (test.sh runs sanitize.sh) reuses it.
    if [ "${TL_SETUP_DONE:-}" = "$TL_ROOT" ] && [ -n "${TL_PYTHON:-}" ]; then
        TL_VPY=$TL_VENV/bin/python
        return 0
    fi
    mkdir -p "$TL_CACHE/logs"
    tl_system_packages
    tl_interpreter
    tl_venv
    tl_requirements
    tl_install_module
    export TL_SETUP_DONE=$TL_ROOT TL_PYTHON
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    tl_setup
    tl_say "ready: $TL_VPY"
fi
