"""Generated calls of every entry, checked against the model of the argument rules in
parser_model.py.
"""

import math
import struct
import sys
import time
import warnings

import numpy as np
import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import tempoloom
from parser_model import (EXCEPTION_KINDS, TARGETS, Behaving, Context, Kinds, PanicException,
                          Recipe, model_double, predict, raises, reference_double, wrap)
from tempoloom import Clock, MonotonicClock

pytestmark = pytest.mark.thread_unsafe(reason="swaps sys.unraisablehook")

NAN_SECONDS = "cannot convert float seconds to Duration: value is either too big or NaN"
SLEEP_LIMIT = 0.001  # generated sleeps wait at most this long


class SubClock(Clock):
    """Constructed through Clock's own new slot."""


def callable_for(target, clock):
    if target.name in ("sleep", "sleepers"):
        return getattr(tempoloom, target.name)
    if target.name in ("MonotonicClock", "Clock", "SubClock"):
        return {"MonotonicClock": MonotonicClock, "Clock": Clock, "SubClock": SubClock}[
            target.name
        ]
    return getattr(clock, target.name)


# --- strategies --------------------------------------------------------------------------

SPECIAL_FLOATS = [0.0, -0.0, -1.0, 1e-10, 1e-4, 2e-4, 3e-4, 5e-4, SLEEP_LIMIT,
                  float("nan"), -float("nan"), float("inf"), -float("inf"), 2.0**64, 1e20,
                  -1e300, 5e-324, 0.125, 3.5]

PLAIN_OBJECTS = SPECIAL_FLOATS + [
    0, 1, -1, -3, 2**53 + 1, 10**400, -10**400, 2**64, True, False, None, "x", "0.5", b"1",
    [], (), {}, 1j, object(), np.float64(5e-4), np.True_, np.False_, np.int8(0),
    np.array([True])[0],
]
RETURNED_BY_FLOAT = [
    lambda: 0.0, lambda: -1.0, lambda: 1e-4, lambda: float("nan"), lambda: float("inf"),
    lambda: 2.0**64, lambda: 0.125, lambda: 5, lambda: "s", lambda: None, lambda: True,
    lambda: Kinds.FloatSub(0.25),
]
RETURNED_BY_INDEX = [
    lambda: 0, lambda: -1, lambda: 3, lambda: 10**400, lambda: True, lambda: "s",
    lambda: 2.5, lambda: Kinds.IntSub(2),
]
RETURNED_TRUTH = [lambda: True, lambda: False, lambda: 1, lambda: None]
ACTIONS = [(which, op) for which in ("same", "other")
           for op in ("read", "attribute", "change", "sleep")]


def behaviours(returned, callback_values):
    """Every behaviour of one dunder, as three lists: returns, raises and callbacks."""
    return (
        [("return", factory) for factory in returned],
        [("raise", kind) for kind in EXCEPTION_KINDS],
        [("callback", action, value) for action in ACTIONS for value in callback_values],
    )


FLOAT_BEHAVIOURS = behaviours(RETURNED_BY_FLOAT, [0.0, -1.0, 1e-4, 2.5])
INDEX_BEHAVIOURS = behaviours(RETURNED_BY_INDEX, [0, -1, 7])
TRUTH_BEHAVIOURS = behaviours(RETURNED_TRUTH, [True, False])


def every_custom_recipe():
    """Each kind of custom argument once."""
    for behaviour in sum(FLOAT_BEHAVIOURS, []):
        yield ("floaty", behaviour)
        yield ("both", behaviour)
        yield ("int sub floaty", 2, behaviour)
    for behaviour in sum(INDEX_BEHAVIOURS, []):
        yield ("indexy", behaviour)
    for x in SPECIAL_FLOATS:
        yield ("float sub", x)
    for n in range(-2, 3):
        yield ("int sub", n)
    for name in ("bool_", "bool", "Bool", "bool8"):
        for module in ("numpy", "numpy.core", 5):
            for truth in [None, *sum(TRUTH_BEHAVIOURS, [])]:
                yield ("fake numpy", name, module, truth)


def behaviour_strategy(lists):
    return st.one_of(*(st.sampled_from(choices) for choices in lists))


float_behaviours = behaviour_strategy(FLOAT_BEHAVIOURS)
index_behaviours = behaviour_strategy(INDEX_BEHAVIOURS)
truth_behaviours = behaviour_strategy(TRUTH_BEHAVIOURS)


custom_recipes = st.one_of(
    st.tuples(st.sampled_from(["floaty", "both"]), float_behaviours),
    st.tuples(st.just("indexy"), index_behaviours),
    st.tuples(st.just("int sub floaty"), st.just(2), float_behaviours),
    st.sampled_from([("float sub", x) for x in SPECIAL_FLOATS]
                    + [("int sub", n) for n in range(-2, 3)]),
    st.tuples(st.just("fake numpy"), st.sampled_from(["bool_", "bool", "bool_", "Bool", "bool8"]),
              st.sampled_from(["numpy", "numpy", "numpy.core", 5]),
              st.one_of(st.none(), truth_behaviours)),
).map(lambda spec: Recipe(*spec))
recipes = st.one_of(
    st.sampled_from([("plain", obj) for obj in PLAIN_OBJECTS]).map(lambda spec: Recipe(*spec)),
    st.one_of(st.floats(), st.integers()).map(lambda x: Recipe("plain", x)),
    custom_recipes,
)


class KeyStr(str):
    """A keyword name of a str subclass."""


KEYWORD_NAMES = ["t", "newT", "applyZero", "T", "NewT", "newt", "applyzero", "ApplyZero",
                 "x", "", "self", "\udc80", "a\udcffz", "\u03c0", "\U0001d70b",
                 KeyStr("t"), KeyStr("newT"), KeyStr("applyZero"), KeyStr("q\udc80")]


def well_formed(spec):
    """The argument, if any, passed by position or by its name."""
    target, how, recipe = spec
    if not target.params or how == "none":
        return target, [], []
    if how == "positional":
        return target, [recipe], []
    return target, [], [(target.params[0], recipe)]


# Strategies are built once: made inside a draw, they cost more than the call itself.
targets = st.sampled_from(TARGETS)
calls = st.one_of(
    st.tuples(targets, st.sampled_from(["none", "positional", "keyword"]),
              recipes).map(well_formed),
    st.tuples(
        targets,
        st.lists(recipes, max_size=3),
        st.lists(st.tuples(st.sampled_from(KEYWORD_NAMES), recipes), max_size=3,
                 unique_by=lambda item: str.__str__(item[0])),
    ),
)
# Calls that reach the conversion, with mostly custom argument objects.
conversions = st.tuples(
    st.sampled_from([target for target in TARGETS if target.convert]),
    st.sampled_from(["positional", "keyword"]),
    st.one_of(custom_recipes, recipes),
).map(well_formed)


# --- running one call --------------------------------------------------------------------


def bits(value):
    return struct.pack("<d", value)


def state(clock):
    return bits(clock._timeAtLastReset), bits(clock._epochTimeAtLastReset)


def shifted(snapshot, amount, subtract=False):
    zero, epoch = (struct.unpack("<d", b)[0] for b in snapshot)
    if subtract:  # not an addition of -amount: that would flip a NaN's sign
        return bits(zero - amount), bits(epoch - amount)
    return bits(zero + amount), bits(epoch + amount)


def raised_by(recipe):
    """The exception that the recipe's object raised last."""
    made = recipe.made
    return made.raised if isinstance(made, Behaving) else made.behaving.raised


def after_callbacks(snapshot, changes):
    """The state after a callback's add(0.125) calls, if any succeeded."""
    return shifted(snapshot, 0.125 * changes) if changes else snapshot


GENERATED = {"calls": 0, "refused by the parser": 0, "refused later": 0, "accepted": 0}


def check_call(target, positional, keywords):
    clock = Clock()
    other = Clock()
    ctx = Context(clock, other)
    args = [recipe.make(ctx) for recipe in positional]
    kwargs = {name: recipe.make(ctx) for name, recipe in keywords}
    expected, slot = predict(target, positional, keywords)
    if target.convert == "double" and slot is not None and not expected.failed:
        value = expected.value
        if target.name in ("sleep", "sleepers"):
            # Keep every wait short; a NaN or too big a value faults without waiting.
            if SLEEP_LIMIT < value < 2.0**64:
                return "skipped"
    parameter = target.params[0] if target.params else None

    before = state(clock)
    raw_before = clock.getTime(False)
    reports = []
    previous_hook = sys.unraisablehook
    sys.unraisablehook = reports.append
    started = time.perf_counter_ns()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error", DeprecationWarning)
            result = callable_for(target, clock)(*args, **kwargs)
        error = None
    except BaseException as caught:  # noqa: BLE001 - compared with the model below
        error = caught
        result = None
    finally:
        sys.unraisablehook = previous_hook
    elapsed = time.perf_counter_ns() - started
    raw_after = clock.getTime(False)

    if expected.failed and slot is not None:
        raised = raised_by(slot) if expected.same_as == "raised" else None
        expected = wrap(expected, parameter, raised)
        if expected.same_as == "raised":
            expected.same_as = raised
    elif slot is not None and target.name in ("sleep", "sleepers"):
        value = expected.value
        if math.isnan(value) or value >= 2.0**64:
            expected = raises(PanicException, NAN_SECONDS, changes=expected.changes)

    GENERATED["calls"] += 1
    if not expected.failed:
        GENERATED["accepted"] += 1
    elif slot is None:
        GENERATED["refused by the parser"] += 1
    else:
        GENERATED["refused later"] += 1
    if expected.failed:
        assert error is not None, f"expected {expected}, got {result!r}"
        assert type(error) is expected.error, f"expected {expected}, got {error!r}"
        if expected.same_as is not None:
            assert error is expected.same_as
        else:
            assert str(error) == expected.message
        if expected.cause != "none":
            assert error.__cause__ is expected.cause
            assert error.__suppress_context__ is True
        assert len(reports) == expected.unraisable
        for report in reports:
            assert report.object is raised_by(slot)
        # A failed call changes nothing (a callback outside any hold may have).
        assert state(clock) == after_callbacks(before, expected.changes)
    else:
        assert error is None, f"expected {expected}, got {error!r}"
        assert reports == []
        check_result(target, expected, result, clock, before, raw_before, raw_after, elapsed)

    # No hold outlives the call.
    clock.getTime()
    clock.add(0.0)


def check_result(target, expected, result, clock, before, raw_before, raw_after, elapsed):
    value = expected.value
    moved = after_callbacks(before, expected.changes)
    if target.name in ("sleep", "sleepers"):
        assert result is None
        if value is not None and value > 0:
            assert elapsed >= value * 1e9
        assert state(clock) == moved
    elif target.name == "getTime":
        apply_zero = True if value is None else value
        zero = clock._timeAtLastReset
        assert type(result) is float
        if apply_zero:
            assert raw_before - zero <= result <= raw_after - zero
        else:
            assert raw_before <= result <= raw_after
        assert state(clock) == moved
    elif target.name in ("add", "addTime"):
        assert result is None
        assert state(clock) == shifted(before, value, subtract=target.name == "addTime")
    elif target.name == "reset":
        assert result is None
        new_t = 0.0 if value is None else value
        zero = clock._timeAtLastReset
        if math.isnan(new_t):
            assert math.isnan(zero)
        else:
            assert raw_before + new_t <= zero <= raw_after + new_t
        assert abs(clock._epochTimeAtLastReset - time.time()) < 60
    else:
        expected_type = {"MonotonicClock": MonotonicClock, "Clock": Clock,
                         "SubClock": SubClock}[target.name]
        assert type(result) is expected_type
        assert result._timeAtLastReset == 0.0


@pytest.fixture(scope="module", autouse=True)
def report_counts():
    yield
    print(f"\nbad input: {GENERATED}")


HYPOTHESIS = dict(deadline=None, database=None,
                  suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])


@settings(max_examples=300, **HYPOTHESIS)
@given(calls)
def test_generated_calls_match_the_model(call):
    assume(check_call(*call) != "skipped")


@settings(max_examples=150, **HYPOTHESIS)
@given(conversions)
def test_generated_conversions_match_the_model(call):
    assume(check_call(*call) != "skipped")


@pytest.mark.parametrize("target", [t for t in TARGETS if t.convert], ids=repr)
def test_every_custom_argument_matches_the_model(target):
    # Rare combinations (a numpy boolean whose __bool__ changes the clock it is read
    # under, say) are certain here, not left to chance.
    for number, spec in enumerate(every_custom_recipe()):
        if spec[0] == "fake numpy" and target.convert == "double" and spec[1:3] != (
            "bool_", "numpy"):
            continue  # all refused alike
        how = "positional" if number % 2 else "keyword"
        check_call(*well_formed((target, how, Recipe(*spec))))


# --- the model itself, against the interpreter's reference --------------------------------


def test_model_of_float_conversion_agrees_with_the_reference():
    ctx = Context(Clock(), Clock())
    checked = 0
    for spec in every_custom_recipe():
        recipe = Recipe(*spec)
        if recipe.calls_back:
            continue  # the reference holds no clock
        obj = recipe.make(ctx)
        expected = model_double(recipe, None)
        actual = reference_double(obj)
        assert actual.error is expected.error, recipe
        if expected.same_as != "raised":
            assert actual.message == expected.message, recipe
            if not expected.failed:
                assert bits(actual.value) == bits(expected.value), recipe
        checked += 1
    assert checked > 100


# --- text that does not travel through UTF-8 unchanged ----------------------------------


def test_unexpected_keyword_is_shown_as_str_renders_it():
    class Shown(str):
        def __str__(self):
            return "shown"

    for call in (tempoloom.sleep, Clock().add, Clock):
        with pytest.raises(TypeError) as info:
            call(**{Shown("x"): 1})
        assert str(info.value).endswith(" got an unexpected keyword argument 'shown'")


def test_wrapped_text_that_utf8_cannot_encode():
    class Surrogate:
        def __float__(self):
            raise TypeError("a\udc80b")

    reports = []
    previous_hook = sys.unraisablehook
    sys.unraisablehook = reports.append
    try:
        with pytest.raises(TypeError) as info:
            Clock().add(Surrogate())
    finally:
        sys.unraisablehook = previous_hook
    # str() of the error succeeded, so nothing is unraisable and the text is kept (its
    # unencodable character possibly replaced, as in keyword names).
    assert reports == []
    assert str(info.value) in ("argument 't': a\udc80b", "argument 't': a\ufffdb")
