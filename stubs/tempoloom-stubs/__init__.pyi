"""Precise timing for free-threaded Python: monotonic clocks and a sleep that thread-sleeps
for most of the wait and spins only at its end: for at most 200 microseconds on Linux and
macOS, about a millisecond on Windows, and up to about 18 ms (a system tick and 2 ms) on a
Windows without the high-resolution timer."""

from typing import Self, SupportsFloat, SupportsIndex

from typing_extensions import disjoint_base

__all__ = ["sleepers", "sleep", "MonotonicClock", "Clock"]

def sleepers(t: SupportsFloat | SupportsIndex) -> None:
    """Sleep for `t` seconds, never returning early: `sleep` under another name.

    Thread-sleeps with the interpreter released, then spins: see `sleep`."""

def sleep(t: SupportsFloat | SupportsIndex) -> None:
    """Sleep for `t` seconds, never returning early; `t <= 0` returns at once.

    Thread-sleeps with the interpreter released, then spins: up to about 200 µs of CPU a call
    on Linux and macOS, about 1 ms on Windows (up to about 18 ms without its
    high-resolution timer)."""

# Instances carry native state: no class can derive from it and another such base.
@disjoint_base
class MonotonicClock:
    """A clock counting seconds from its construction on the monotonic counter.

    Reads cost about what `time.perf_counter()` costs; many threads may read at once."""

    def __new__(cls) -> Self:
        """Start the clock now; reads the counter and the wall clock once."""

    def getTime(self, applyZero: bool = True) -> float:
        """Seconds since construction minus the zero point (`applyZero=False`: without it).

        One counter read, about the cost of `time.perf_counter()`."""

    def getLastResetTime(self) -> float:
        """The zero point, in seconds on the clock's own scale; reads no clock."""

    @property
    def _timeAtLastReset(self) -> float:
        """The zero point, in seconds on the clock's own scale (read-only); reads no clock."""

    @property
    def _epochTimeAtLastReset(self) -> float:
        """Unix time at construction or the last `reset` (read-only); reads no clock.

        After `reset(newT)` it is the time of the reset, not of the zero point `newT` later;
        `add` and `addTime` move it with the zero point. The wall clock is read in 100-ns
        units, but a float near today's dates holds it only to about 0.24 µs."""

class Clock(MonotonicClock):
    """A `MonotonicClock` whose zero point can be reset and shifted.

    A change raises `RuntimeError` at once, never waits, if another thread uses the clock."""

    def __new__(cls) -> Self:
        """Start the clock now; reads the counter and the wall clock once."""

    def reset(self, newT: SupportsFloat | SupportsIndex = 0) -> None:
        """Set the zero point to now plus `newT`, so `getTime()` reads about `-newT`.

        `_epochTimeAtLastReset` becomes the Unix time now, the reset's and not the zero
        point's. Reads the counter and the wall clock once."""

    def addTime(self, t: SupportsFloat | SupportsIndex) -> None:
        """Move the zero point back by `t` seconds: `getTime()` reads `t` more. Reads no clock."""

    def add(self, t: SupportsFloat | SupportsIndex) -> None:
        """Move the zero point forward by `t` seconds: `getTime()` reads `t` less. Reads no clock."""
