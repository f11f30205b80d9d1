"""Argument parsing, conversions and error wrapping as Python sees them."""

import time

import numpy as np
import pytest

from tempoloom import Clock, MonotonicClock, sleep, sleepers


def raises_exactly(exc_type, message, call, *args, **kwargs):
    with pytest.raises(exc_type) as info:
        call(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


class SubClock(MonotonicClock):
    pass


NOT_BOOL = "argument 'applyZero': {} is not an instance of 'bool'"
GET_TIME_TAKES = "MonotonicClock.getTime() takes from 0 to 1 positional arguments but 2 were given"
SLEEP_TAKES = "{}() takes 1 positional arguments but 2 were given"

# Every argument error of every entry: (what is called, args, kwargs, message). A name in
# braces is filled with the function called, for sleep and sleepers alike.
ARGUMENT_ERRORS = [
    ("MonotonicClock", (1,), {}, "MonotonicClock.__new__() takes 0 positional arguments but 1 was given"),
    ("MonotonicClock", (1, 2), {}, "MonotonicClock.__new__() takes 0 positional arguments but 2 were given"),
    ("MonotonicClock", (), {"newT": 1}, "MonotonicClock.__new__() got an unexpected keyword argument 'newT'"),
    # A subclass is parsed by the class that defines the constructor.
    ("SubClock", (1,), {}, "MonotonicClock.__new__() takes 0 positional arguments but 1 was given"),
    ("Clock", (), {"newT": 0}, "Clock.__new__() got an unexpected keyword argument 'newT'"),
    ("getTime", (True, False), {}, GET_TIME_TAKES),
    ("getTime", (True, 1), {"x": 3}, GET_TIME_TAKES),
    ("getTime", (), {"applyzero": True}, "MonotonicClock.getTime() got an unexpected keyword argument 'applyzero'"),
    ("getTime", (True,), {"applyZero": True}, "MonotonicClock.getTime() got multiple values for argument 'applyZero'"),
    ("getTime", (), {"\udc80": True}, "MonotonicClock.getTime() got an unexpected keyword argument '\ufffd'"),
    ("getTime", (), {"x": 1, "applyZero": 2}, "MonotonicClock.getTime() got an unexpected keyword argument 'x'"),
    ("getTime", (1,), {}, NOT_BOOL.format("'int' object")),
    ("getTime", (), {"applyZero": None}, NOT_BOOL.format("'None'")),
    ("getTime", ("yes",), {}, NOT_BOOL.format("'str' object")),
    ("getTime", (np.int8(1),), {}, NOT_BOOL.format("'int8' object")),
    ("add", (), {}, "Clock.add() missing 1 required positional argument: 't'"),
    ("addTime", (), {}, "Clock.addTime() missing 1 required positional argument: 't'"),
    ("add", (), {"t": 1.0, "x": 2}, "Clock.add() got an unexpected keyword argument 'x'"),
    ("add", (1, 2), {}, "Clock.add() takes 1 positional arguments but 2 were given"),
    ("reset", (0,), {"newT": 1}, "Clock.reset() got multiple values for argument 'newT'"),
    ("reset", (0, 1), {}, "Clock.reset() takes from 0 to 1 positional arguments but 2 were given"),
    ("add", ("x",), {}, "argument 't': must be real number, not str"),
    ("reset", (None,), {}, "argument 'newT': must be real number, not NoneType"),
    ("sleep", (), {}, "{}() missing 1 required positional argument: 't'"),
    ("sleep", (0.5, 1), {}, SLEEP_TAKES),
    ("sleep", (1, 2), {"x": 3}, SLEEP_TAKES),
    ("sleep", (), {"T": 1}, "{}() got an unexpected keyword argument 'T'"),
    ("sleep", (1,), {"t": 1}, "{}() got multiple values for argument 't'"),
    ("sleep", ("x",), {}, "argument 't': must be real number, not str"),
    ("sleep", (None,), {}, "argument 't': must be real number, not NoneType"),
]


@pytest.mark.parametrize(("name", "args", "kwargs", "message"), ARGUMENT_ERRORS)
def test_argument_errors(name, args, kwargs, message):
    clock = Clock()
    clock.add(1.5)
    before = (clock._timeAtLastReset, clock._epochTimeAtLastReset)
    calls = {"MonotonicClock": [MonotonicClock], "SubClock": [SubClock], "Clock": [Clock],
             "sleep": [sleep, sleepers]}
    for call in calls[name] if name in calls else [getattr(clock, name)]:
        start = time.perf_counter_ns()
        error = raises_exactly(TypeError, message.format(getattr(call, "__name__", "")), call,
                               *args, **kwargs)
        assert time.perf_counter_ns() - start < 0.4e9  # nothing was waited for
        # A refused call changed nothing, and a wrapped conversion error hides its context.
        assert (clock._timeAtLastReset, clock._epochTimeAtLastReset) == before
        assert error.__cause__ is None
        assert error.__suppress_context__ is message.startswith("argument '")


def test_constructor_accepts_empty_keywords():
    assert isinstance(MonotonicClock(**{}), MonotonicClock)


def test_numpy_booleans_are_taken_by_truth_value():
    clock = MonotonicClock()
    for value in (np.True_, np.False_, np.bool_(True), np.array([False])[0]):
        assert type(value).__module__ == "numpy"
        result = clock.getTime(value)
        assert isinstance(result, float)
    assert clock.getTime(applyZero=np.False_) >= 0.0


def test_bool_subclass_lookalikes_are_refused():
    class NotNumpy:
        pass

    NotNumpy.__module__ = "numpy"
    NotNumpy.__name__ = NotNumpy.__qualname__ = "bool_"
    # Recognised by name, yet it defines no __bool__ slot.
    raises_exactly(
        TypeError,
        "argument 'applyZero': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion",
        MonotonicClock().getTime,
        NotNumpy(),
    )

    class Truthy(NotNumpy):
        def __bool__(self):
            raise ValueError("no truth here")

    Truthy.__module__ = "numpy"
    Truthy.__name__ = "bool"

    with pytest.raises(ValueError, match="no truth here"):
        MonotonicClock().getTime(Truthy())


def test_no_argument_methods_are_refused_by_the_interpreter():
    with pytest.raises(TypeError):
        MonotonicClock().getLastResetTime(1)
