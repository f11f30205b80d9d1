"""Clock: the resettable zero point and its wall-clock record."""

import math
import time

import pytest

from tempoloom import Clock, MonotonicClock


def state(clock):
    return clock._timeAtLastReset, clock._epochTimeAtLastReset


def test_clock_is_a_monotonic_clock():
    assert Clock.__mro__ == (Clock, MonotonicClock, object)
    assert Clock.__base__ is MonotonicClock
    assert repr(Clock) == "<class 'builtins.Clock'>"
    assert Clock.__text_signature__ == "()"
    assert Clock.reset.__text_signature__ == "($self, newT=0)"
    assert Clock.add.__text_signature__ == "($self, t)"
    assert Clock.addTime.__text_signature__ == "($self, t)"
    clock = Clock()
    assert isinstance(clock, MonotonicClock)
    assert clock.getLastResetTime() == 0.0 == clock._timeAtLastReset
    assert 0.0 <= clock.getTime() <= clock.getTime(False)


def test_worked_example_arithmetic():
    def reads(offset):
        # offset plus the time since the reset, which began after `since`; bounded by
        # what perf_counter saw, not by a fixed tolerance, so a slow machine cannot fail it.
        reading = clock.getTime()
        assert offset - 1e-6 <= reading <= offset + (time.perf_counter() - since) + 1e-6

    clock = Clock()
    p = clock._epochTimeAtLastReset
    time.sleep(0.02)
    since = time.perf_counter()
    clock.reset()
    zero, epoch = state(clock)
    assert zero >= 0.02
    assert epoch - p == pytest.approx(zero, abs=0.005)
    reads(0.0)
    clock.addTime(5)
    assert state(clock) == (zero - 5.0, epoch - 5.0)
    reads(5.0)
    clock.add(2)
    assert state(clock) == (zero - 5.0 + 2.0, epoch - 5.0 + 2.0)
    reads(3.0)
    since = time.perf_counter()
    clock.reset(newT=2.0)
    reads(-2.0)
    since = time.perf_counter()
    clock.reset(2)
    reads(-2.0)
    assert clock.getLastResetTime() == clock._timeAtLastReset


def test_reset_keeps_the_clock_scale():
    clock = Clock()
    time.sleep(0.01)
    before = clock.getTime(False)
    clock.reset()
    after = clock.getTime(False)
    # The zero point moved; the scale since construction did not restart.
    assert before <= clock.getLastResetTime() <= after
    assert after >= 0.01
    assert clock.getTime() <= after


def test_add_and_add_time_move_both_values_together():
    clock = Clock()
    original = state(clock)
    clock.add(0.0)
    clock.addTime(0.0)
    assert state(clock) == original
    clock.add(0.375)
    assert state(clock) == (original[0] + 0.375, original[1] + 0.375)
    clock.addTime(0.375)
    assert state(clock) == original
    clock.add(t=1.0)
    clock.addTime(t=1)
    assert state(clock) == original


def test_nan_and_infinities_are_taken_as_given():
    clock = Clock()
    clock.add(float("nan"))
    assert all(math.isnan(value) for value in state(clock))
    assert math.isnan(clock.getTime())
    clock.reset()
    assert not any(math.isnan(value) for value in state(clock))
    clock.add(float("inf"))
    assert clock.getTime() == -math.inf
    clock.addTime(float("inf"))
    assert math.isnan(clock._timeAtLastReset)
    clock.reset(newT=float("-inf"))
    assert clock.getTime() == math.inf


class Reading:
    """A number whose conversion uses the clock it is given to."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        self.action()
        return 1.0


@pytest.mark.parametrize("change", ["add", "addTime", "reset"])
@pytest.mark.parametrize(
    ("use", "message"),
    [
        (lambda c: c.getTime(), "Already mutably borrowed"),
        (lambda c: c.getLastResetTime(), "Already mutably borrowed"),
        (lambda c: c._timeAtLastReset, "Already mutably borrowed"),
        (lambda c: c._epochTimeAtLastReset, "Already mutably borrowed"),
        (lambda c: c.add(1.0), "Already borrowed"),
        (lambda c: c.reset(), "Already borrowed"),
    ],
)
def test_conversion_meets_the_exclusive_hold(change, use, message):
    clock = Clock()
    before = state(clock)
    with pytest.raises(RuntimeError) as info:
        getattr(clock, change)(Reading(lambda: use(clock)))
    assert type(info.value) is RuntimeError
    assert str(info.value) == message
    assert state(clock) == before
    # The hold was released.
    clock.add(0.0)
    clock.getTime()


class NumpyBool:
    """Taken for numpy's boolean by its type's name (numpy is not in every environment
    that runs these tests); its __bool__ runs the action it is given."""

    def __init__(self, action=lambda: None):
        self.action = action

    def __bool__(self):
        self.action()
        return True


NumpyBool.__module__ = "numpy"
NumpyBool.__name__ = NumpyBool.__qualname__ = "bool_"


def test_held_clocks_refuse_after_parsing_and_before_converting():
    # Under a change's exclusive hold: parsing errors first, then the hold, then the
    # conversion; a bool or none runs no conversion but meets the hold all the same.
    clock = Clock()
    seen = []

    def attempt(call):
        try:
            call()
        except (TypeError, RuntimeError) as error:
            seen.append((type(error), str(error)))

    def inside_add():
        for call in (lambda: clock.getTime(True, 1), lambda: clock.add(),
                     lambda: clock.getTime(False), lambda: clock.getTime(applyZero=True),
                     lambda: clock.getTime("yes"), lambda: clock.getTime(NumpyBool()),
                     lambda: clock.add("x")):
            attempt(call)

    clock.add(Reading(inside_add))
    mutably, borrowed = "Already mutably borrowed", "Already borrowed"
    assert seen == [
        (TypeError, "MonotonicClock.getTime() takes from 0 to 1 positional arguments but 2 were"
                    " given"),
        (TypeError, "Clock.add() missing 1 required positional argument: 't'"),
        (RuntimeError, mutably), (RuntimeError, mutably), (RuntimeError, mutably),
        (RuntimeError, mutably), (RuntimeError, borrowed),
    ]

    # A read whose argument runs Python code (a numpy boolean's __bool__) holds the clock
    # while it converts: other reads go on, a change is refused.
    def inside_get_time():
        clock.getTime()
        clock.getLastResetTime()
        for change in (clock.reset, lambda: clock.add(1.0), lambda: clock.addTime(1.0)):
            attempt(change)

    seen.clear()
    before = state(clock)
    clock.getTime(applyZero=NumpyBool(inside_get_time))
    assert seen == [(RuntimeError, borrowed)] * 3
    assert state(clock) == before
    clock.reset()


def test_conversions_of_other_objects():
    class Minus:
        def __float__(self):
            return -1.0

    class Index:
        def __index__(self):
            return 3

    class Failing:
        def __float__(self):
            raise ValueError("not today")

    class SubTypeError(TypeError):
        pass

    class Odd:
        def __float__(self):
            raise SubTypeError("odd")

    clock = Clock()
    zero, epoch = state(clock)
    clock.add(Minus())
    clock.add(Index())
    clock.add(True)
    assert state(clock) == (zero + 3.0, epoch + 3.0)
    with pytest.raises(ValueError, match="^not today$"):
        clock.add(Failing())
    with pytest.raises(SubTypeError, match="^odd$"):
        clock.add(Odd())
    with pytest.raises(OverflowError):
        clock.add(10**400)
    assert state(clock) == (zero + 3.0, epoch + 3.0)


def test_wrapped_type_error_keeps_the_cause():
    class Caused:
        def __float__(self):
            try:
                raise KeyError("inner")
            except KeyError as inner:
                raise TypeError("outer") from inner

    with pytest.raises(TypeError) as info:
        Clock().add(Caused())
    assert str(info.value) == "argument 't': outer"
    assert isinstance(info.value.__cause__, KeyError)
    assert info.value.__suppress_context__ is True
