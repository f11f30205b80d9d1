#!/usr/bin/env bash
# What the stable ABI costs a call: builds the module for abi3 at 3.11 (with the default 3.11,
# as the wheel is built) and at 3.13 (with the default 3.13), for abi3t (with the
# free-threaded 3.15) and for each interpreter alone, then times getTime(), Clock(),
# sleep(0) and reset() in each pair on one interpreter, the builds taking turns
# (bench/stable_abi.py): the wheel each interpreter installs against its own build, and on
# the default 3.14 abi3 at 3.11 against abi3 at 3.13, what the lower floor costs. The
# default 3.11 and 3.12 are the machine's (pyenv's, else the system's): without one its
# builds and timings are skipped, saying so. Builds the other interpreters it lacks into
# the cache first. About eight minutes once they are there, two of it the timing.
# Arguments go to bench/stable_abi.py (--rounds N, --batches N).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
source "$TL_ROOT/scripts/checks.sh"
tl_setup

declare -A module
# Builds the module with the interpreter, for the stable ABI of the version given (empty:
# for the interpreter alone), into build/bench-abi/NAME; sets module[NAME] to its file.
build() {
    local name=$1 python=$2 abi=$3 dir=$TL_ROOT/build/bench-abi/$1 log=$TL_CACHE/logs/bench-abi.log
    tl_say "stable ABI benchmark: building $name with $python${abi:+ for the stable ABI of $abi}"
    tl_logged "stable ABI benchmark" "$log" env PATH="$TL_VENV/bin:$PATH" cmake -S "$TL_ROOT" \
        -B "$dir" -G Ninja -DPython_EXECUTABLE="$python" -DTEMPOLOOM_STABLE_ABI="$abi" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    tl_logged "stable ABI benchmark" "$log" "$TL_VENV/bin/cmake" --build "$dir" --target tempoloom
    module[$name]=$(ls "$dir"/tempoloom.*.so)
}

mkdir -p "$TL_CACHE/logs"
: >"$TL_CACHE/logs/bench-abi.log"
gil311=$(tl_found_cpython 3.11)
gil312=$(tl_found_cpython 3.12)
gil313=$(tl_gil_313_interpreter)
gil314=$(tl_gil_interpreter)
gil315=$(tl_gil_315_interpreter)
ft315=$(tl_free_threaded_315_interpreter)
# The abi3 build comes from the oldest default interpreter it serves, as the wheel does.
build abi3 "${gil311:-$gil313}" 3.11
build abi3-3.13 "$gil313" 3.13
build abi3t "$ft315" 3.15
build cp313 "$gil313" ""
build cp314 "$gil314" ""
build cp315 "$gil315" ""
build cp315t "$ft315" ""
for series in 3.11 3.12; do
    python=gil${series/./}
    if [ -n "${!python}" ]; then
        build "cp${series/./}" "${!python}" ""
    else
        tl_lacks_cpython "$series" "no build or timing for it"
    fi
done

bench() {
    local python=$1
    shift
    tl_say "stable ABI benchmark: $python"
    "$python" "$TL_ROOT/bench/stable_abi.py" "$@"
}
bench "$ft315" cp315t="${module[cp315t]}" abi3t="${module[abi3t]}" "$@"
bench "$gil315" cp315="${module[cp315]}" abi3t="${module[abi3t]}" abi3="${module[abi3]}" "$@"
bench "$gil314" cp314="${module[cp314]}" abi3="${module[abi3]}" "$@"
# What the floor of 3.11 costs an interpreter that a floor of 3.13 would serve too.
bench "$gil314" abi3-3.13="${module[abi3-3.13]}" abi3="${module[abi3]}" "$@"
bench "$gil313" cp313="${module[cp313]}" abi3="${module[abi3]}" "$@"
[ -z "$gil312" ] || bench "$gil312" cp312="${module[cp312]}" abi3="${module[abi3]}" "$@"
[ -z "$gil311" ] || bench "$gil311" cp311="${module[cp311]}" abi3="${module[abi3]}" "$@"
