"""Faults of the operating system's clocks and sleep, injected under the real code paths.

Each scenario runs in a fresh interpreter with tests/faultinject/faultinject.c preloaded.
The library fakes clock_gettime and clock_nanosleep results only for calls made from the
module's own code, and only while a scenario has armed it (through ctypes), so the
interpreter's own clocks stay true and measure what the module does.
"""

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

pytestmark = pytest.mark.thread_unsafe(reason="starts processes with faults preloaded")

SOURCE = pathlib.Path(__file__).resolve().parents[1] / "faultinject" / "faultinject.c"
WALL_CLOCK = "Uh oh. The system clock took a shit."
COUNTER = "the monotonic counter could not be read"
NAN_SECONDS = "cannot convert float seconds to Duration: value is either too big or NaN"


@pytest.fixture(scope="session")
def fault_library(tmp_path_factory):
    if not sys.platform.startswith("linux"):
        pytest.skip("LD_PRELOAD fault injection needs Linux")
    if os.environ.get("TEMPOLOOM_UNDER_SANITIZER") == "asan":
        # The sanitizer runtime interposes clock_gettime itself, so calls no longer come
        # from the module's own code as far as the library can tell.
        pytest.skip("the sanitizer runtime stands between the module and the clock calls")
    compiler = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the fault injection library")
    library = tmp_path_factory.mktemp("faultinject") / "libfaultinject.so"
    subprocess.run(
        [compiler, "-shared", "-fPIC", "-O2", "-o", str(library), str(SOURCE), "-ldl"],
        check=True,
        capture_output=True,
        timeout=120,
    )
    return library


PREAMBLE = """
import ctypes, json, os, sys, time
import tempoloom
from tempoloom import Clock, MonotonicClock, sleep, sleepers

fi = ctypes.CDLL(os.environ["FAULTINJECT_LIB"])
fi.fi_module.argtypes = [ctypes.c_char_p]
fi.fi_virtual_now.restype = fi.fi_span.restype = ctypes.c_long
fi.fi_span.argtypes = [ctypes.c_long]
assert fi.fi_module(os.fsencode(tempoloom.__file__)), tempoloom.__file__
REALTIME, MONOTONIC, NANOSLEEP = 0, 1, 2
FAIL, FIXED, RECEDE, EARLY, VIRTUAL = 1, 2, 3, 4, 5
UNLIMITED = -1
NEVER = 1 << 40  # a skip that lets every call through, only counting it

def arm(kind, mode, skip=0, count=UNLIMITED, a=0, b=0):
    fi.fi_set(kind, mode, ctypes.c_long(skip), ctypes.c_long(count), ctypes.c_long(a),
              ctypes.c_long(b))

def off():
    for kind in (REALTIME, MONOTONIC, NANOSLEEP):
        fi.fi_off(kind)

def outcome(call, *args, **kwargs):
    try:
        result = call(*args, **kwargs)
    except BaseException as error:
        return [type(error).__name__, str(error)]
    return ["ok", result]

def state(clock):
    return [clock._timeAtLastReset, clock._epochTimeAtLastReset]

def holds_free(clock):
    # A read needs no exclusive hold left behind; a change needs no hold at all.
    clock.getTime()
    if isinstance(clock, Clock):
        clock.add(0.0)
    return True

deleted = []

class DelMonotonic(MonotonicClock):
    def __del__(self):
        deleted.append("MonotonicClock")

class DelClock(Clock):
    def __del__(self):
        deleted.append("Clock")

def report(**values):
    print(json.dumps(values))
"""


@pytest.fixture
def scenario(fault_library):
    def run(code, python=sys.executable):
        env = {k: v for k, v in os.environ.items() if k != "TEMPOLOOM_BACKTRACE"}
        # After whatever is preloaded already: a sanitizer runtime must stay first.
        env["LD_PRELOAD"] = " ".join(filter(None, [env.get("LD_PRELOAD"), str(fault_library)]))
        env["FAULTINJECT_LIB"] = str(fault_library)
        result = subprocess.run(
            [python, "-c", PREAMBLE + code],
            capture_output=True,
            text=True,
            timeout=60,
            env=env,
        )
        assert result.returncode == 0, result.stderr
        return json.loads(result.stdout.splitlines()[-1]), result.stderr

    return run


def test_wall_clock_before_1970_refuses_construction(scenario):
    values, _ = scenario("""
results = {}
# One 100-ns interval before the epoch.
arm(REALTIME, FIXED, a=-1, b=999_999_900)
for cls in (MonotonicClock, Clock, DelMonotonic, DelClock):
    results[cls.__name__] = outcome(lambda: cls() and "made")
refused_hits = fi.fi_hits(REALTIME)
deleted_after_refusal = list(deleted)
# Exactly at the epoch.
arm(REALTIME, FIXED, a=0, b=0)
at_epoch = [cls()._epochTimeAtLastReset for cls in (MonotonicClock, Clock, DelClock)]
# Nanoseconds are cut to whole 100-ns units; at a current time too, and they stay exact.
cut = []
for seconds, nanoseconds in ((1, 199), (1_770_539_755, 908_227_200)):
    arm(REALTIME, FIXED, a=seconds, b=nanoseconds)
    cut.append(Clock()._epochTimeAtLastReset)
off()
report(results=results, refused_hits=refused_hits,
       deleted_after_refusal=deleted_after_refusal, deleted_at_end=deleted,
       at_epoch=at_epoch, cut=cut)
""")
    for name in ("MonotonicClock", "Clock", "DelMonotonic", "DelClock"):
        assert values["results"][name] == ["RuntimeError", WALL_CLOCK], name
    assert values["refused_hits"] == 4
    # Nothing was allocated for a refused construction; the made one was freed.
    assert values["deleted_after_refusal"] == []
    assert values["deleted_at_end"] == ["Clock"]
    assert values["at_epoch"] == [0.0, 0.0, 0.0]
    # The nearest doubles: one division of all the nanoseconds would give 1770539755.908227.
    assert values["cut"] == [1 + 1e-7, 1770539755.9082272]


def test_wall_clock_before_1970_during_reset(scenario):
    values, _ = scenario("""
clock = Clock()
clock.add(0.5)
epoch = clock._epochTimeAtLastReset
time.sleep(0.01)
before = clock.getTime(False)
arm(REALTIME, FIXED, a=-1, b=999_999_900)
refused = outcome(clock.reset, newT=1.5)
# Readings that need no wall clock still work meanwhile.
reads = [clock.getLastResetTime(), clock._epochTimeAtLastReset]
changes = [outcome(clock.add, 0.25), outcome(clock.addTime, 0.25)]
off()
after = clock.getTime(False)
report(refused=refused, epoch=epoch, zero=clock._timeAtLastReset,
       epoch_after=clock._epochTimeAtLastReset, reads=reads, changes=changes,
       before=before, after=after, free=holds_free(clock))
""")
    assert values["refused"] == ["RuntimeError", WALL_CLOCK]
    # The new zero point stays, the wall-clock record keeps its former value.
    assert values["before"] + 1.5 <= values["zero"] <= values["after"] + 1.5
    assert values["epoch_after"] == values["epoch"]
    assert values["reads"] == [values["zero"], values["epoch"]]
    assert values["changes"] == [["ok", None], ["ok", None]]
    assert values["free"]


def test_failing_counter_raises_panic_and_releases_everything(scenario):
    values, stderr = scenario("""
clock = Clock()
clock.add(0.5)
original = state(clock)
results = {}

def attempt(name, call, *args, **kwargs):
    arm(MONOTONIC, FAIL)
    arm(REALTIME, FAIL, skip=NEVER)  # counts wall-clock reads
    results[name] = outcome(call, *args, **kwargs) + [fi.fi_hits(MONOTONIC) > 0,
                                                     fi.fi_calls(REALTIME)]
    off()
    results[name].append(holds_free(clock) and state(clock) == original)

attempt("getTime", clock.getTime)
attempt("getTime(False)", clock.getTime, False)
attempt("reset", clock.reset)
attempt("reset(newT)", clock.reset, newT=2.0)
attempt("MonotonicClock()", MonotonicClock)
attempt("Clock()", DelClock)
attempt("sleep", sleep, 0.001)
attempt("sleepers", sleepers, 0.001)
# The start is read before the conversion, so the counter's fault comes first.
attempt("sleep(nan)", sleep, float("nan"))
# Faults in the middle of the wait: after the start and a few readings, while thread
# sleeping and while spinning.
for skip in (1, 2, 3):
    arm(MONOTONIC, FAIL, skip=skip)
    results[f"sleep after {skip} reads"] = outcome(sleep, 0.02) + [fi.fi_hits(MONOTONIC) > 0]
    off()
arm(MONOTONIC, FAIL, skip=20)
results["sleep while spinning"] = outcome(sleep, 0.0001) + [fi.fi_hits(MONOTONIC) > 0]
off()

# The thread is attached again and everything works with the counter back.
start = time.perf_counter_ns()
sleep(0.002)
slept = time.perf_counter_ns() - start
fresh = Clock()
fresh.reset()
report(results=results, slept=slept, fresh=fresh.getTime(), deleted=deleted,
       free=holds_free(clock))
""")
    results = values["results"]
    panic = ["PanicException", COUNTER, True]
    for name in ("getTime", "getTime(False)", "reset", "reset(newT)", "MonotonicClock()",
                 "Clock()", "sleep", "sleepers", "sleep(nan)"):
        # Nothing changed, no hold is left, and the wall clock was never read after the
        # counter failed (constructors read the counter first).
        assert results[name] == panic + [0, True], name
    for name in ("sleep after 1 reads", "sleep after 2 reads", "sleep after 3 reads",
                 "sleep while spinning"):
        assert results[name] == panic, name
    assert values["slept"] >= 2_000_000
    assert values["fresh"] >= 0.0
    assert values["deleted"] == []  # the refused DelClock() allocated nothing
    assert values["free"]
    # Each fault wrote its diagnostic, naming one place in the source tree: where the
    # counter is read.
    places = re.findall(r"panicked at (src/[\w/]+\.cpp:\d+:\d+):\n" + COUNTER + "\n", stderr)
    assert len(places) == 13
    assert len(set(places)) == 1


def test_calls_that_need_no_counter_do_not_read_it(scenario):
    values, _ = scenario("""
clock = Clock()
arm(MONOTONIC, FAIL)
results = [
    outcome(sleep, 0), outcome(sleep, -1.0), outcome(sleepers, float("-inf")),
    outcome(clock.add, 0.25), outcome(clock.addTime, 0.125), outcome(clock.getLastResetTime),
    outcome(lambda: clock._timeAtLastReset), outcome(lambda: clock._epochTimeAtLastReset),
]
calls_before_refusals = fi.fi_calls(MONOTONIC)
# Refused arguments are found before the counter would be read.
class Refusing:
    def __float__(self):
        raise ValueError("refused")
refusals = [
    outcome(clock.reset, "x"), outcome(clock.reset, newT=Refusing()), outcome(clock.getTime, 1),
    outcome(sleep, "x"), outcome(sleep, Refusing()), outcome(Clock, 1),
]
calls = fi.fi_calls(MONOTONIC)
off()
report(results=results, calls_before_refusals=calls_before_refusals, refusals=refusals,
       calls=calls)
""")
    assert values["results"][:5] == [["ok", None]] * 5
    assert values["results"][5:7] == [["ok", 0.125], ["ok", 0.125]]
    assert values["results"][7][0] == "ok"
    assert values["calls_before_refusals"] == 0
    assert values["refusals"] == [
        ["TypeError", "argument 'newT': must be real number, not str"],
        ["ValueError", "refused"],
        ["TypeError", "argument 'applyZero': 'int' object is not an instance of 'bool'"],
        ["TypeError", "argument 't': must be real number, not str"],
        ["ValueError", "refused"],
        ["TypeError", "Clock.__new__() takes 0 positional arguments but 1 was given"],
    ]
    assert values["calls"] == 0


@pytest.fixture(params=["installed", "behind a tempoloom path"])
def interpreter(request, tmp_path):
    """The interpreter as installed, and the same one reached through a folder named like
    the project, as in a clone called tempoloom: only the module's own calls are faulted."""
    if request.param == "installed":
        return sys.executable
    prefix = pathlib.Path(sys.prefix)
    link = tmp_path / "tempoloom"
    link.symlink_to(prefix, target_is_directory=True)
    return str(link / pathlib.Path(sys.executable).relative_to(prefix))


def test_counter_running_backwards_never_gives_negative_elapsed_time(scenario, interpreter):
    values, _ = scenario(python=interpreter, code="""
clock = Clock()
clock.add(0.25)
# Every faulted reading is one second earlier than the one before it.
arm(MONOTONIC, RECEDE, a=1_000_000_000)
raw = [clock.getTime(False) for _ in range(5)]
applied = clock.getTime()
clock.reset(newT=0.5)
zero = clock._timeAtLastReset
fresh = MonotonicClock()
fresh_raw = [fresh.getTime(False) for _ in range(3)]
hits = fi.fi_hits(MONOTONIC)
off()

# A wait whose readings after the start go backwards for a while: elapsed stays 0 then,
# so the wait goes on and still ends on time.
arm(MONOTONIC, RECEDE, skip=1, count=6, a=1_000_000_000)
start = time.perf_counter_ns()
sleep(0.01)
slept = time.perf_counter_ns() - start
sleep_hits = fi.fi_hits(MONOTONIC)
off()
report(raw=raw, applied=applied, zero=zero, fresh_raw=fresh_raw, hits=hits, slept=slept,
       sleep_hits=sleep_hits)
""")
    assert values["raw"] == [0.0] * 5
    assert values["applied"] == -0.25
    assert values["zero"] == 0.5  # elapsed 0.0 plus newT
    assert values["fresh_raw"] == [0.0] * 3
    assert values["hits"] == 11
    assert values["sleep_hits"] == 6
    assert 10_000_000 <= values["slept"] < 5_000_000_000


def test_interrupted_or_early_thread_sleeps_do_not_shorten_the_wait(scenario):
    values, _ = scenario("""
results = {}
def timed(name, seconds, kind, mode, count):
    arm(kind, mode, count=count)
    start = time.perf_counter_ns()
    sleep(seconds)
    results[name] = [time.perf_counter_ns() - start, fi.fi_hits(kind)]
    off()

# Interrupted by signals a few and many times in a row; restarted each time.
timed("eintr 5", 0.02, NANOSLEEP, FAIL, 5)
timed("eintr 1000", 0.02, NANOSLEEP, FAIL, 1000)
# Every thread sleep returns at once, having slept nothing.
timed("early", 0.02, NANOSLEEP, EARLY, UNLIMITED)
timed("early short", 0.0005, NANOSLEEP, EARLY, UNLIMITED)
# The thread sleep cannot read the counter for its deadline (the third reading: start,
# elapsed, deadline) and returns without sleeping; the wait measures again.
arm(MONOTONIC, FAIL, skip=2, count=1)
start = time.perf_counter_ns()
sleep(0.01)
results["lost deadline"] = [time.perf_counter_ns() - start, fi.fi_hits(MONOTONIC)]
off()
report(**results)
""")
    for name, seconds in (("eintr 5", 0.02), ("eintr 1000", 0.02), ("early", 0.02),
                          ("early short", 0.0005), ("lost deadline", 0.01)):
        elapsed, hits = values[name]
        assert seconds * 1e9 <= elapsed < seconds * 1e9 + 2e9, name
        assert hits >= 1, name
    assert values["eintr 5"][1] == 5
    assert values["eintr 1000"][1] == 1000
    assert values["early"][1] > 1  # the loop measured again and slept again


def test_sleep_thread_sleeps_half_of_what_remains_then_spins(scenario):
    # On a virtual counter that each reading advances by 1 ns, starting just before a whole
    # second, and with thread sleeps that only move it to their deadline.
    start = 41_999_999_000
    values, _ = scenario(f"""
arm(MONOTONIC, VIRTUAL, a=1, b={start})
arm(NANOSLEEP, VIRTUAL)
sleep(0.01)
spans = [fi.fi_span(i) for i in range(fi.fi_hits(NANOSLEEP))]
end = fi.fi_virtual_now()
off()
report(spans=spans, end=end)
""")
    # While more than 200 µs remain, each thread sleep asks for half of what remains, in
    # whole nanoseconds rounded down; the readings take 1 ns each of the 10 ms.
    assert values["spans"] == [4_999_999, 2_499_999, 1_249_998, 624_998, 312_498, 156_248]
    # Then it spins up to the first reading 10 ms after its start, the reading at start + 1.
    assert values["end"] - (start + 1) == 10_000_000
