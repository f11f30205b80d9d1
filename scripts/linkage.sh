#!/usr/bin/env bash
# The dynamic linkage of the extension module in a Linux wheel, or of a module file: prints
# the libraries it needs and what it exports, and fails unless it exports PyInit_tempoloom
# alone (a .abi3t.so module: PyModExport_tempoloom) and needs none of the libraries named by
# --forbid (a name prefix, e.g. libstdc++). A wheel must hold one module, whose name has the
# suffix its ABI tag promises.
# Needs readelf (binutils) and python3. Used by the test command and the wheel workflow.
#   scripts/linkage.sh [--forbid PREFIX]... WHEEL_OR_MODULE...
set -euo pipefail

forbidden=()
while [ $# -gt 0 ]; do
    case $1 in
    --forbid) forbidden+=("$2"); shift 2 ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--forbid PREFIX]... WHEEL_OR_MODULE..." >&2; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for path in "$@"; do
    module=$path
    if [[ $path == *.whl ]]; then
        # One module, named as the wheel's ABI tag promises: tempoloom.abi3.so for abi3,
        # tempoloom.abi3t.so for abi3t (with abi3 or alone), else tempoloom.cpython-314t-*.so.
        module=$(python3 - "$path" "$scratch" <<'EOF'
import re, sys, zipfile
abi = sys.argv[1].rsplit("/", 1)[-1].split("-")[3]
suffix = {"abi3": r"\.abi3", "abi3t": r"\.abi3t", "abi3.abi3t": r"\.abi3t"}.get(
    abi, rf"\.cpython-{re.escape(abi[2:])}-[^.]+")
with zipfile.ZipFile(sys.argv[1]) as wheel:
    names = [n for n in wheel.namelist() if n.startswith("tempoloom.") and n.endswith(".so")]
    if len(names) != 1:
        sys.exit(f"{sys.argv[1]}: expected one module, found {names}")
    if not re.fullmatch(rf"tempoloom{suffix}\.so", names[0]):
        sys.exit(f"{sys.argv[1]}: the module {names[0]} is not named for the ABI tag {abi}")
    print(wheel.extract(names[0], sys.argv[2]))
EOF
        )
    fi
    needed=$(readelf -dW "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
    # Defined symbols of the dynamic table that another object can bind to.
    exports=$(readelf --dyn-syms -W "$module" |
        awk '$7 != "UND" && ($5 == "GLOBAL" || $5 == "WEAK" || $5 == "UNIQUE") &&
            $6 != "HIDDEN" && $6 != "INTERNAL" {print $8}' | sort -u | paste -sd ' ')
    echo "linkage: $(basename "$path"): needs ${needed:-nothing}; exports ${exports:-nothing}"
    # A module for abi3t is found through its export hook instead.
    init=PyInit_tempoloom
    [[ $module != *.abi3t.so ]] || init=PyModExport_tempoloom
    if [ "$exports" != "$init" ]; then
        echo "linkage: $(basename "$path") must export $init alone" >&2
        status=1
    fi
    for prefix in "${forbidden[@]}"; do
        for library in $needed; do
            if [[ $library == "$prefix"* ]]; then
                echo "linkage: $(basename "$path") needs $library; it must carry it inside" >&2
                status=1
            fi
        done
    done
done
exit $status
