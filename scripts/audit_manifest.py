"""Each stable-ABI wheel's module against CPython's own manifest of the stable ABI.

Every symbol the module imports from the interpreter must be a function or data item of
Misc/stable_abi.toml, added no later than the wheel's floor: the version of its tag
(cp311-abi3: 3.11; cp315-abi3t: 3.15), or --floor. abi3audit knows no abi3t and keeps a
manifest of its own; this reads the one of record. Fails listing each symbol outside, and
on a wheel that holds no module. The symbols come from nm (ELF: nm -D; Mach-O: nm -u, which
GNU nm cannot read, llvm-nm can) or objdump -p (a Windows module's imports); $NM and
$OBJDUMP name others.

    python scripts/audit_manifest.py MANIFEST [--floor X.Y] WHEEL...
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import tomllib
import zipfile
from pathlib import Path

MODULE = re.compile(r"tempoloom\.[^/]*(so|pyd)")
INTERPRETER = re.compile(r"_?Py[A-Za-z0-9_]*")


def version(text):
    return tuple(int(part) for part in text.split("."))


def read_manifest(path):
    """The functions and data items of the stable ABI, each with the version it came in."""
    with open(path, "rb") as file:
        manifest = tomllib.load(file)
    return {name: version(item["added"])
            for kind in ("function", "data") for name, item in manifest[kind].items()}


def run(tool, *args):
    try:
        return subprocess.run([tool, *args], check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        detail = (getattr(error, "stderr", None) or str(error)).strip()
        raise SystemExit(f"audit: {tool} {' '.join(args)} failed: {detail}")


def imported_symbols(path):
    """The interpreter's symbols the module imports, by its file format."""
    with open(path, "rb") as file:
        magic = file.read(4)
    if magic == b"\x7fELF":
        names = [line.split()[-1] for line in
                 run(os.environ.get("NM", "nm"), "-D", "--undefined-only", path).splitlines()]
    elif magic[:2] == b"MZ":
        # objdump -p lists each DLL's imports under "DLL Name: ...", one "hint name" a line.
        names, dll = [], None
        for line in run(os.environ.get("OBJDUMP", "objdump"), "-p", path).splitlines():
            if match := re.match(r"\s*DLL Name: (\S+)", line):
                dll = match[1].lower()
            elif not line.strip():
                dll = None
            elif dll and dll.startswith("python") and (fields := line.split()) and \
                    fields[0].isalnum() and len(fields) >= 2:
                names.append(fields[-1])
    elif magic in (b"\xcf\xfa\xed\xfe", b"\xfe\xed\xfa\xcf"):
        # Mach-O names C symbols with a leading underscore.
        names = [line.split()[-1].removeprefix("_") for line in
                 run(os.environ.get("NM", "nm"), "-u", path).splitlines() if line.strip()]
    else:
        raise SystemExit(f"audit: {path}: neither ELF, PE nor Mach-O")
    # A version (malloc@GLIBC_2.2.5) marks a symbol of another library.
    return sorted({name for name in names if INTERPRETER.fullmatch(name)})


def wheel_floor(wheel):
    """The stable ABI a wheel's tag promises, and the version it starts at."""
    parts = wheel.name.removesuffix(".whl").split("-")
    if len(parts) != 5 or not wheel.name.endswith(".whl"):
        raise SystemExit(f"audit: {wheel} is not a wheel")
    python, abi = parts[2:4]
    stable = [tag for tag in abi.split(".") if tag in ("abi3", "abi3t")]
    if not stable:
        raise SystemExit(f"audit: {wheel.name} is not a stable-ABI wheel")
    digits = python.removeprefix("cp").removesuffix("t")
    return "+".join(stable), (int(digits[0]), int(digits[1:]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest", type=Path)
    parser.add_argument("wheels", nargs="+", type=Path)
    parser.add_argument("--floor", type=version, help="instead of the wheels' tags")
    args = parser.parse_args()
    manifest = read_manifest(args.manifest)
    problems = []
    for wheel in args.wheels:
        abi, floor = wheel_floor(wheel)
        floor = args.floor or floor
        floor_text = ".".join(map(str, floor))
        with zipfile.ZipFile(wheel) as archive, tempfile.TemporaryDirectory() as scratch:
            modules = [name for name in archive.namelist() if MODULE.fullmatch(name)]
            if not modules:
                problems.append(f"{wheel.name}: no module to audit")
            for name in modules:
                symbols = imported_symbols(archive.extract(name, scratch))
                outside = [f"{symbol} ({'.'.join(map(str, manifest[symbol]))})"
                           if symbol in manifest else f"{symbol} (not in the manifest)"
                           for symbol in symbols
                           if symbol not in manifest or manifest[symbol] > floor]
                if not symbols:
                    problems.append(f"{wheel.name}: {name} imports nothing of the interpreter")
                elif outside:
                    problems.append(f"{wheel.name}: {name}: outside the stable ABI of "
                                    f"{floor_text}: {' '.join(outside)}")
                else:
                    newest = max(manifest[symbol] for symbol in symbols)
                    print(f"audit: {wheel.name}: {name}: {len(symbols)} interpreter symbols, "
                          f"all in the stable ABI of {floor_text} ({abi}; the newest from "
                          f"{'.'.join(map(str, newest))}; manifest {args.manifest})")
    if problems:
        for problem in problems:
            print(f"audit: {problem}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
