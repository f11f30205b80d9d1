"""Argument parsing, conversions and error wrapping as Python sees them."""

import numpy as np
import pytest

from tempoloom import MonotonicClock


def raises_exactly(exc_type, message, call, *args, **kwargs):
    with pytest.raises(exc_type) as info:
        call(*args, **kwargs)
    assert type(info.value) is exc_type
    assert str(info.value) == message
    return info.value


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((1,), {}, "MonotonicClock.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "MonotonicClock.__new__() takes 0 positional arguments but 2 were given"),
        ((), {"newT": 1}, "MonotonicClock.__new__() got an unexpected keyword argument 'newT'"),
    ],
)
def test_constructor_refuses_arguments(args, kwargs, message):
    raises_exactly(TypeError, message, MonotonicClock, *args, **kwargs)


def test_constructor_accepts_empty_keywords():
    assert isinstance(MonotonicClock(**{}), MonotonicClock)


def test_subclass_constructor_names_the_class_that_parses():
    class Sub(MonotonicClock):
        pass

    raises_exactly(
        TypeError, "MonotonicClock.__new__() takes 0 positional arguments but 1 was given", Sub, 1
    )


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((True, False), {}, "MonotonicClock.getTime() takes from 0 to 1 positional arguments but 2 were given"),
        ((True, 1), {"x": 3}, "MonotonicClock.getTime() takes from 0 to 1 positional arguments but 2 were given"),
        ((), {"applyzero": True}, "MonotonicClock.getTime() got an unexpected keyword argument 'applyzero'"),
        ((True,), {"applyZero": True}, "MonotonicClock.getTime() got multiple values for argument 'applyZero'"),
        ((), {"\udc80": True}, "MonotonicClock.getTime() got an unexpected keyword argument '\ufffd'"),
        ((), {"x": 1, "applyZero": 2}, "MonotonicClock.getTime() got an unexpected keyword argument 'x'"),
    ],
)
def test_get_time_parser_messages(args, kwargs, message):
    raises_exactly(TypeError, message, MonotonicClock().getTime, *args, **kwargs)


@pytest.mark.parametrize(
    ("value", "message"),
    [
        (1, "argument 'applyZero': 'int' object is not an instance of 'bool'"),
        (None, "argument 'applyZero': 'None' is not an instance of 'bool'"),
        ("yes", "argument 'applyZero': 'str' object is not an instance of 'bool'"),
        (np.int8(1), "argument 'applyZero': 'int8' object is not an instance of 'bool'"),
    ],
)
def test_apply_zero_must_be_a_bool(value, message):
    clock = MonotonicClock()
    error = raises_exactly(TypeError, message, clock.getTime, value)
    assert error.__cause__ is None
    assert error.__suppress_context__ is True
    error = raises_exactly(TypeError, message, clock.getTime, applyZero=value)


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


def test_self_check_runs_before_the_module():
    # The method descriptor refuses a foreign self before the module is reached.
    with pytest.raises(TypeError):
        MonotonicClock.getTime(object())
    with pytest.raises(TypeError):
        MonotonicClock.getLastResetTime(None)


def test_no_argument_methods_are_refused_by_the_interpreter():
    with pytest.raises(TypeError):
        MonotonicClock().getLastResetTime(1)
