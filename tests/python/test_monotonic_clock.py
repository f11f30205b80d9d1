"""MonotonicClock's readings."""

import time

from tempoloom import MonotonicClock


def test_new_clock_reads_from_zero():
    before = time.time()
    clock = MonotonicClock()
    after = time.time()
    assert clock._timeAtLastReset == 0.0
    assert clock.getLastResetTime() == 0.0
    assert before - 0.001 <= clock._epochTimeAtLastReset <= after + 0.001
    first = clock.getTime()
    raw = clock.getTime(False)
    assert 0.0 <= first <= raw < 5.0
    assert isinstance(first, float)


def test_readings_never_decrease_and_track_perf_counter():
    clock = MonotonicClock()
    start = time.perf_counter()
    readings = [clock.getTime() for _ in range(10_000)]
    assert readings == sorted(readings)
    time.sleep(0.05)
    elapsed = time.perf_counter() - start
    reading = clock.getTime(applyZero=True)
    assert 0.05 <= reading
    assert abs(reading - elapsed) < 0.05

