import subprocess
import sys
import threading
import time

import pytest


@pytest.fixture
def run_python():
    """Runs code in a fresh interpreter of the same environment; returns the result."""

    def run(code, *, env=None, flags=(), args=()):
        return subprocess.run(
            [sys.executable, *flags, "-c", code, *args],
            capture_output=True,
            text=True,
            timeout=120,
            env=env,
        )

    return run


def run_threads(target, count, timeout=60.0):
    """Runs target(index) on count new threads, released together; returns their
    results by index, or raises what they raised (a group when several did)."""
    barrier = threading.Barrier(count)
    results = [None] * count
    errors = []

    def run(index):
        try:
            barrier.wait()
            results[index] = target(index)
        except BaseException as error:  # noqa: BLE001 - raised again on the calling thread
            errors.append(error)

    threads = [threading.Thread(target=run, args=(index,)) for index in range(count)]
    for thread in threads:
        thread.start()
    deadline = time.monotonic() + timeout
    for thread in threads:
        thread.join(max(0.0, deadline - time.monotonic()))
    assert not any(thread.is_alive() for thread in threads), "a thread hung"
    if len(errors) == 1:
        raise errors[0]
    if errors:
        raise BaseExceptionGroup(f"{len(errors)} of {count} threads failed", errors)
    return results
