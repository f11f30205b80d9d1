"""Internal faults: PanicException, the diagnostic on standard error, resumed faults."""

import re

import pytest

import tempoloom
from conftest import run_threads

MESSAGE = "cannot convert float seconds to Duration: value is either too big or NaN"


def panic_of(call, *args):
    with pytest.raises(BaseException) as info:
        call(*args)
    return info.value


@pytest.mark.parametrize("function", [tempoloom.sleep, tempoloom.sleepers])
@pytest.mark.parametrize(
    "seconds", [float("nan"), -float("nan"), float("inf"), 2.0**64, 1e20, 1e308]
)
def test_unconvertible_seconds_raise_panic_exception(function, seconds):
    error = panic_of(function, seconds)
    panic = type(error)
    assert panic.__module__ == "pyo3_runtime"
    assert panic.__name__ == "PanicException"
    assert panic.__bases__ == (BaseException,)
    assert not isinstance(error, Exception)
    assert str(error) == MESSAGE
    assert error.args == (MESSAGE,)
    assert panic.__doc__
    # The thread is attached again and the module works on.
    tempoloom.sleep(0.0001)
    assert tempoloom.MonotonicClock().getTime() >= 0.0


def test_one_type_for_every_fault_and_thread():
    types = {type(panic_of(tempoloom.sleep, float("nan"))) for _ in range(3)}
    types.update(run_threads(lambda index: type(panic_of(tempoloom.sleep, 1e20)), 2))
    assert len(types) == 1


DIAGNOSTIC = re.compile(
    r"\nthread '<unnamed>' \((\d+)\) panicked at (src/[\w/]+\.cpp):(\d+):(\d+):\n"
    + re.escape(MESSAGE)
    + r"\n"
)
HINT = "note: run with `TEMPOLOOM_BACKTRACE=1` environment variable to display a backtrace\n"

FAULT_TWICE = """
import threading, tempoloom
print(threading.get_native_id())
for _ in range(2):
    try:
        tempoloom.sleep(float("nan"))
    except BaseException as error:
        print(type(error).__name__)
"""


@pytest.mark.thread_unsafe(reason="starts a process")
def test_diagnostic_on_standard_error(run_python):
    import os

    env = {k: v for k, v in os.environ.items() if k != "TEMPOLOOM_BACKTRACE"}
    result = run_python(FAULT_TWICE, env=env)
    assert result.returncode == 0, result.stderr
    thread_id, *names = result.stdout.split()
    assert names == ["PanicException", "PanicException"]
    diagnostics = list(DIAGNOSTIC.finditer(result.stderr))
    assert len(diagnostics) == 2
    # Both name the calling thread and the same place in the source tree.
    assert {diagnostic.group(1) for diagnostic in diagnostics} == {thread_id}
    assert len({diagnostic.group(2, 3, 4) for diagnostic in diagnostics}) == 1
    # The hint follows the first diagnostic only.
    assert result.stderr.count(HINT) == 1
    assert result.stderr.index(HINT) == diagnostics[0].end()


@pytest.mark.thread_unsafe(reason="starts a process")
def test_backtrace_switch(run_python):
    import os

    result = run_python(FAULT_TWICE, env={**os.environ, "TEMPOLOOM_BACKTRACE": "1"})
    assert result.returncode == 0, result.stderr
    assert len(DIAGNOSTIC.findall(result.stderr)) == 2
    assert HINT not in result.stderr
    assert result.stderr.count("stack backtrace:\n") == 2


@pytest.mark.thread_unsafe(reason="starts a process")
def test_panic_raised_by_python_code_is_resumed(run_python):
    code = """
import tempoloom
try:
    tempoloom.sleep(float("nan"))
except BaseException as error:
    Panic = type(error)
raised = Panic("raised in __float__")

class Seconds:
    def __float__(self):
        raise raised

clock = tempoloom.Clock()
for call in (tempoloom.sleep, clock.add):
    try:
        call(Seconds())
    except BaseException as error:
        print(type(error) is Panic, error is not raised, error.args)
clock.add(1.0)
print(clock._timeAtLastReset)
"""
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:2] == ["True True ('raised in __float__',)"] * 2
    assert lines[2] == "1.0"
    stderr = result.stderr
    assert stderr.count("Python stack trace below:\n") == 2
    assert stderr.count("Traceback (most recent call last):") == 2
    assert stderr.count("PanicException: raised in __float__") == 2
    assert "in __float__" in stderr
    # A resumed fault writes no new diagnostic of its own.
    assert stderr.count("panicked at") == 1
