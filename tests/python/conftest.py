import subprocess
import sys

import pytest


def pytest_configure(config):
    # Known without pytest-run-parallel too (the ThreadSanitizer run has only pytest).
    config.addinivalue_line("markers", "thread_unsafe(reason): runs on one thread only")


@pytest.fixture
def run_python():
    """Runs code in a fresh interpreter of the same environment; returns the result."""

    def run(code, *, env=None, flags=()):
        return subprocess.run(
            [sys.executable, *flags, "-c", code],
            capture_output=True,
            text=True,
            timeout=120,
            env=env,
        )

    return run
