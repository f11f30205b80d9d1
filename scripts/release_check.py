"""The gate before an upload: a folder holds exactly the release's files.

That is one sdist and, for each build identifier in .github/wheels.txt, the wheel that pip
installs on its interpreter out of the wheels the matrix makes (the list's "wheels" line):
its own version-specific wheel, else the stable-ABI wheel of the newest version that covers
it; all of the version in pyproject.toml, and nothing else; the sdist holds exactly the
files git tracks in this checkout, plus PKG-INFO, which the build writes; CHANGELOG.md has
an entry for the version. With --tag, the tag names that version and the entry is dated.
With --runner PLATFORM ARCH only that line of the list is expected (a single machine's
build), and with --expect only the identifiers named, each of which must be on that line
(the interpreters one machine built for). Exits non-zero, saying why, on any difference.

    python scripts/release_check.py DIST [--tag vX.Y.Z] [--runner PLATFORM ARCH
                                          [--expect IDENTIFIER ...]]
"""

import argparse
import re
import subprocess
import sys
import tarfile
import tomllib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# What the sdist's build adds to the tracked files.
GENERATED = {"PKG-INFO"}


def read_matrix(runner):
    """The wheels' interpreter and ABI tags, and the build identifiers of the runner (all
    runners when None)."""
    wheels, identifiers = [], []
    for line in (ROOT / ".github" / "wheels.txt").read_text(encoding="utf-8").splitlines():
        fields = line.split("#", 1)[0].split()
        if fields and fields[0] == "wheels":
            wheels += fields[1:]
        elif fields and (runner is None or fields[:2] == runner):
            identifiers += fields[2:]
    return wheels, identifiers


def minor(python_tag):
    return int(python_tag.removeprefix("cp").removesuffix("t")[1:])


def installs(tags, identifier):
    """Whether pip installs a wheel of these interpreter and ABI tags (cp313-abi3) on the
    identifier's interpreter (cp314t-...)."""
    interpreter = identifier.split("-", 1)[0]
    python, abis = tags.split("-")
    if abis == interpreter:
        return python == interpreter.removesuffix("t")
    stable = "abi3t" if interpreter.endswith("t") else "abi3"
    return stable in abis.split(".") and minor(python) <= minor(interpreter)


def chosen(wheels, identifier):
    """The wheel pip picks: the interpreter's own, else the newest stable-ABI one."""
    candidates = [tags for tags in wheels if installs(tags, identifier)]
    own = [tags for tags in candidates if tags.split("-")[1] == identifier.split("-")[0]]
    if own:
        return own[0]
    return max(candidates, key=lambda tags: minor(tags.split("-")[0]), default=None)


def platform_matches(platform, platforms):
    """Whether a wheel's platform tags hold the identifier's platform."""
    family, _, arch = platform.partition("_")
    if family in ("manylinux", "musllinux", "macosx"):
        # The versioned tag the repair or the deployment target gives, e.g. manylinux_2_28.
        pattern = re.compile(rf"{family}_\d+_\d+_{re.escape(arch)}")
    else:
        pattern = re.compile(re.escape(platform))
    return any(pattern.fullmatch(tag) for tag in platforms.split("."))


def tracked_files():
    try:
        listing = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z"], check=True,
                                 capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        detail = getattr(error, "stderr", None) or error
        raise SystemExit(f"release check: no git checkout at {ROOT} to compare the sdist"
                         f" with: {str(detail).strip()}")
    return {name for name in listing.split("\0") if name}


def sdist_problems(path, version):
    """The uploaded sdist against the checkout: every file git tracks and the generated
    ones, under one top folder, and nothing else."""
    top = f"tempoloom-{version}/"
    problems, files = [], set()
    try:
        with tarfile.open(path) as archive:
            members = archive.getmembers()
    except (OSError, tarfile.TarError) as error:
        return [f"{path.name}: cannot read it: {error}"]
    for member in members:
        if member.isdir() and member.name == top.rstrip("/"):
            continue
        if not member.name.startswith(top):
            problems.append(f"{path.name}: {member.name} is outside {top}")
        elif not member.isdir():
            files.add(member.name.removeprefix(top))
    expected = tracked_files() | GENERATED
    extra = sorted(files - expected)
    missing = sorted(expected - files)
    if extra:
        problems.append(f"{path.name}: files git does not track: {' '.join(extra)}")
    if missing:
        problems.append(f"{path.name}: files missing: {' '.join(missing)}")
    return problems


def check(dist, version, wheels, identifiers):
    problems = []
    files = sorted(path.name for path in dist.iterdir())
    sdist = f"tempoloom-{version}.tar.gz"
    if sdist not in files:
        problems.append(f"no sdist {sdist}")
    else:
        problems += sdist_problems(dist / sdist, version)
    found_wheels = [name for name in files if name.endswith(".whl")]
    others = [name for name in files if name != sdist and name not in found_wheels]
    if others:
        problems.append(f"not part of a release: {' '.join(others)}")
    # One file for each wheel and platform, serving the identifiers that install it.
    expected = {}
    for identifier in identifiers:
        tags = chosen(wheels, identifier)
        if tags is None:
            problems.append(f"{identifier}: none of the wheels {' '.join(wheels)} installs there")
            continue
        expected.setdefault((tags, identifier.split("-", 1)[1]), []).append(identifier)
    matched = {key: [] for key in expected}
    for wheel in found_wheels:
        parts = wheel.removesuffix(".whl").split("-")
        if len(parts) != 5 or parts[:2] != ["tempoloom", version]:
            problems.append(f"{wheel}: not a tempoloom {version} wheel")
            continue
        tags = f"{parts[2]}-{parts[3]}"
        owners = [key for key in expected if key[0] == tags and platform_matches(key[1], parts[4])]
        if not owners:
            problems.append(f"{wheel}: not one of the expected wheels")
        elif len(owners) > 1:
            problems.append(f"{wheel}: matches {len(owners)} expected wheels, not one")
        for key in owners:
            matched[key].append(wheel)
    for (tags, platform), found in matched.items():
        if len(found) != 1:
            problems.append(f"{tags}-{platform} (for {' '.join(expected[tags, platform])}): "
                            f"{len(found)} wheels ({' '.join(found) or 'none'})")
    return problems, expected


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dist", type=Path)
    parser.add_argument("--tag", help="the release's git tag, vX.Y.Z")
    parser.add_argument("--runner", nargs=2, metavar=("PLATFORM", "ARCH"))
    parser.add_argument("--expect", nargs="+", metavar="IDENTIFIER")
    args = parser.parse_args()
    with open(ROOT / "pyproject.toml", "rb") as file:
        version = tomllib.load(file)["project"]["version"]
    problems = []
    if args.tag is not None and args.tag != f"v{version}":
        problems.append(f"tag {args.tag} does not name version {version} (expected v{version})")
    changelog = (ROOT / "CHANGELOG.md").read_text(encoding="utf-8")
    heading = re.search(rf"^## \[{re.escape(version)}\] - (.+)$", changelog, flags=re.M)
    if heading is None:
        problems.append(f"CHANGELOG.md has no entry '## [{version}] - ...'")
    elif args.tag is not None and not re.fullmatch(r"\d{4}-\d{2}-\d{2}", heading[1].strip()):
        problems.append(f"CHANGELOG.md: {version} is dated '{heading[1]}', not YYYY-MM-DD")
    wheels, identifiers = read_matrix(args.runner)
    if args.expect:
        unlisted = [i for i in args.expect if i not in identifiers]
        if unlisted:
            problems.append(f"not in .github/wheels.txt for this runner: {' '.join(unlisted)}")
        identifiers = args.expect
    else:
        _, everywhere = read_matrix(None)
        unused = [tags for tags in wheels if all(chosen(wheels, i) != tags for i in everywhere)]
        if unused:
            problems.append(f"no interpreter of .github/wheels.txt installs {' '.join(unused)}")
    if not identifiers:
        problems.append("no build identifiers expected: check .github/wheels.txt and --runner")
    found, expected = check(args.dist, version, wheels, identifiers)
    problems += found
    if problems:
        for problem in problems:
            print(f"release check: {problem}", file=sys.stderr)
        return 1
    print(f"release check: tempoloom {version}"
          + (f", tag {args.tag}" if args.tag else "")
          + f": the sdist, with the {len(tracked_files())} files git tracks and"
          + f" {' '.join(sorted(GENERATED))}, and {len(expected)} wheels: "
          + "; ".join(f"{tags}-{platform} for {' '.join(owners)}"
                      for (tags, platform), owners in expected.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
