"""The precise sleep."""

import gc
import sys
import threading
import time

import pytest

import tempoloom
from conftest import run_threads
from tempoloom import sleep, sleepers


@pytest.mark.parametrize("function", [sleep, sleepers])
@pytest.mark.parametrize("seconds", [1e-10, 0.0001, 0.0002, 0.0003, 0.001, 0.0055, 0.02])
def test_never_returns_early(function, seconds):
    for _ in range(3):
        start = time.perf_counter_ns()
        assert function(seconds) is None
        elapsed = time.perf_counter_ns() - start
        assert elapsed >= seconds * 1e9
        assert elapsed < seconds * 1e9 + 0.5e9


def test_keyword_and_other_number_types():
    start = time.perf_counter_ns()
    sleep(t=0.002)
    sleepers(t=0.001)
    sleep(False)
    sleep(1)  # int seconds
    assert time.perf_counter_ns() - start >= 1.003e9


@pytest.mark.parametrize("seconds", [0, 0.0, -0.0, -1, -1e300, float("-inf")])
def test_nothing_to_wait_for(seconds):
    start = time.perf_counter_ns()
    assert sleep(seconds) is None
    assert sleepers(seconds) is None
    assert time.perf_counter_ns() - start < 0.1e9


def test_functions_are_bound_to_no_object():
    for function, name in ((sleep, "sleep"), (sleepers, "sleepers")):
        assert function.__name__ == name
        assert function.__self__ is None
        assert function.__module__ == tempoloom.__name__
        assert function.__text_signature__ == "(t)"


def test_other_threads_run_meanwhile():
    progress = 0
    stop = threading.Event()

    def run(index):
        nonlocal progress
        if index == 0:  # counts until the other thread has slept
            while not stop.is_set():
                progress += 1
            return None
        try:
            time.sleep(0.01)
            before = progress
            sleep(0.2)
            return progress - before
        finally:
            stop.set()

    assert run_threads(run, 2)[1] > 1000


def test_a_sleeping_thread_does_not_stall_the_collector():
    # A stop-the-world pause waits for attached threads; a sleeper must be detached, or
    # the collection would last until the sleep ends.
    start = time.perf_counter()
    gc.collect()
    baseline = time.perf_counter() - start

    def run(index):
        if index == 0:
            sleep(2.0)
            return None
        time.sleep(0.05)  # the other thread is asleep by now
        start = time.perf_counter()
        gc.collect()
        return time.perf_counter() - start

    assert run_threads(run, 2)[1] < baseline + 1.0


@pytest.mark.skipif(sys.platform == "win32", reason="SIGALRM and setitimer are POSIX only")
@pytest.mark.thread_unsafe(reason="starts a process")
def test_signals_do_not_shorten_the_wait(run_python):
    code = """
import signal, time, tempoloom
hits = 0
def handler(signum, frame):
    global hits
    hits += 1
signal.signal(signal.SIGALRM, handler)
signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
start = time.perf_counter_ns()
tempoloom.sleep(0.1)
elapsed = time.perf_counter_ns() - start
signal.setitimer(signal.ITIMER_REAL, 0)
print(elapsed, hits)
"""
    result = run_python(code)
    assert result.returncode == 0, result.stderr
    elapsed, hits = map(int, result.stdout.split())
    assert elapsed >= 100_000_000
    assert hits >= 1
