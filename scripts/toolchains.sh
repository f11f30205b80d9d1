#!/usr/bin/env bash
# Compiles the sources as the other targets' own toolchains read them, warnings as errors,
# without linking or running anything:
# - MSVC mode, x64 and arm64: clang-19 in MSVC mode with MSVC's C++ standard library and
#   CPython's Windows headers, every file but the POSIX layer, and the Python layer again
#   for the abi3 wheel, with the warnings that stand for /W4. The library's headers are not in this repository: they are looked for in
#   $TEMPOLOOM_MSVC_STL, else ../shared/msvc-stl beside the clone; without them the stage
#   says so and is skipped.
# - macOS arm64 and x86_64: zig's clang with macOS's libc headers and libc++, the plain C++
#   layer and the POSIX layer (the interpreter's macOS headers are not at hand).
# - musl x86_64: the module configured by CMake and compiled and linked by zig's clang for
#   x86_64-linux-musl against the free-threaded CPython headers, then checked for what
#   musl's loader refuses in a library opened after start-up: static TLS.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/windows.sh"

# What MSVC's /W4 reports, as clang names it: hiding a name (C4456-C4459), narrowing
# (C4244, C4267), signedness (C4245, C4389).
TL_MSVC_WARNINGS=(-Wall -Wextra -Wshadow-all -Wconversion -Wsign-conversion
    -Wshorten-64-to-32 -Werror)
# What CMakeLists.txt defines for MSVC.
TL_MSVC_DEFINES=(-D_DISABLE_CONSTEXPR_MUTEX_CONSTRUCTOR -D_CRT_SECURE_NO_WARNINGS)

tl_msvc_mode() {
    local stl=${TEMPOLOOM_MSVC_STL:-$TL_ROOT/../shared/msvc-stl} arch file files=()
    if [ ! -x "$stl/msvc-mode" ]; then
        tl_say "MSVC mode: skipped: no MSVC standard library headers at $stl (set TEMPOLOOM_MSVC_STL)"
        return 0
    fi
    stl=$(cd "$stl" && pwd)
    tl_apt_install clang-19 libwine-dev
    tl_win_python_headers
    mapfile -t files < <(cd "$TL_ROOT" && find src -name '*.cpp' ! -name posix.cpp | sort)
    for arch in x64 arm64; do
        tl_say "MSVC mode ($arch): ${#files[@]} files with $stl"
        tl_msvc_compile "$stl" "$arch" -DPy_GIL_DISABLED=1 "${files[@]}"
        # The abi3 wheel's build: the Python layer for the stable ABI of 3.11, as on a
        # default interpreter.
        tl_say "MSVC mode ($arch): src/python for the stable ABI of 3.11"
        tl_msvc_compile "$stl" "$arch" -DPy_LIMITED_API=0x030B0000 "$TL_ROOT"/src/python/*.cpp
    done
    tl_say "MSVC mode: x64 and arm64 clean"
}

# Each file as MSVC reads it. Arguments: the library's folder, the architecture, one
# definition, the files.
tl_msvc_compile() {
    local stl=$1 arch=$2 define=$3 file
    shift 3
    for file in "$@"; do
        (cd "$TL_ROOT" && "$stl/msvc-mode" --arch "$arch" -std=c++23 "${TL_MSVC_WARNINGS[@]}" \
            "${TL_MSVC_DEFINES[@]}" "$define" -Isrc -I"$TL_WIN_PYTHON/Include" \
            -I"$TL_WIN_PYTHON/PC" "$file") ||
            tl_die "stage 'MSVC mode ($arch)' failed on $file ($define)"
    done
}

# Apple silicon and Intel Macs.
tl_macos() {
    local scratch file files=() zig=("$TL_VPY" -m ziglang) arch target
    "${zig[@]}" version >/dev/null 2>&1 || tl_die "no ziglang in $TL_VENV (run ./scripts/setup.sh)"
    scratch=$(mktemp -d)
    mapfile -t files < <(cd "$TL_ROOT" && ls src/core/*.cpp src/platform/posix.cpp)
    for target in aarch64-macos x86_64-macos; do
        arch=${target%%-*}
        arch=${arch/aarch64/arm64}
        tl_say "macOS $arch: ${#files[@]} files with zig $("${zig[@]}" version) c++ -target $target"
        for file in "${files[@]}"; do
            # An object file, not -fsyntax-only, which zig's cache cannot take.
            (cd "$TL_ROOT" && "${zig[@]}" c++ -target "$target" -std=c++23 -Wall -Wextra \
                -Wpedantic -Wshadow-all -Wconversion -Wsign-conversion -Werror -Isrc -c \
                -o "$scratch/out.o" "$file") || {
                rm -rf "$scratch"
                tl_die "stage 'macOS $arch' failed on $file"
            }
        done
        tl_say "macOS $arch: clean"
    done
    rm -rf "$scratch"
}

# CMake drives zig here, so the module gets the flags CMake chooses for musl, from the same
# configure checks a musllinux build runs.
tl_musl() {
    local build=$TL_ROOT/build/musl-x86_64 log=$TL_CACHE/logs/musl.log tool module flags tls
    "$TL_VPY" -m ziglang version >/dev/null 2>&1 || tl_die "no ziglang in $TL_VENV (run ./scripts/setup.sh)"
    mkdir -p "$build/zig"
    printf '#!/bin/sh\nexec "%s" -m ziglang c++ -target x86_64-linux-musl "$@"\n' "$TL_VPY" \
        >"$build/zig/c++"
    for tool in ar ranlib; do
        printf '#!/bin/sh\nexec "%s" -m ziglang %s "$@"\n' "$TL_VPY" "$tool" >"$build/zig/$tool"
    done
    chmod +x "$build"/zig/*
    tl_say "musl x86_64: the module with zig $("$TL_VPY" -m ziglang version) c++ -target x86_64-linux-musl (log: $log)"
    : >"$log"
    tl_logged "musl x86_64" "$log" env PATH="$TL_VENV/bin:$PATH" cmake -S "$TL_ROOT" -B "$build" \
        -G Ninja -DCMAKE_CXX_COMPILER="$build/zig/c++" -DCMAKE_AR="$build/zig/ar" \
        -DCMAKE_RANLIB="$build/zig/ranlib" -DPython_EXECUTABLE="$TL_VPY" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
    tl_logged "musl x86_64" "$log" "$TL_VENV/bin/cmake" --build "$build" --target tempoloom
    module=$(ls "$build"/tempoloom.*.so)
    flags=$(readelf -dW "$module" | sed -n 's/.*(FLAGS) *//p')
    case " $flags " in
    *" STATIC_TLS "*) tl_die "musl x86_64: the module is marked STATIC_TLS (FLAGS: $flags); musl cannot import it" ;;
    esac
    # The attach depth stays thread-local, reached through __tls_get_addr.
    tls=$(readelf -rW "$module" | awk '$3 ~ /^R_X86_64_(DTPMOD64|DTPOFF64|TPOFF64)$/ {print $3}' |
        sort -u | paste -sd ' ')
    tl_say "musl x86_64: linked; FLAGS: ${flags:-none}, no STATIC_TLS; TLS relocations: ${tls:-none}"
    "$TL_ROOT/scripts/linkage.sh" "$module"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    tl_setup
    mkdir -p "$TL_WIN"
    tl_msvc_mode
    tl_macos
    tl_musl
fi
