"""A model of the module's argument rules, written from the rules, not from the module.

It says how positional and keyword arguments fill the parameters and which message a wrong
call gets, how float and bool arguments are converted, which conversion failures are
wrapped to name the parameter, and what a conversion that calls back into a held clock
meets. Conversions of ready-made interpreter objects are predicted by a reference that
uses the same C-API float conversion (math.ldexp's double argument); the model's own
predictions for the custom objects are checked against that reference too.
"""

import math
import warnings

import tempoloom


def _panic_type():
    try:
        tempoloom.sleep(float("nan"))
    except BaseException as error:  # noqa: BLE001 - the type is what we came for
        return type(error)
    raise AssertionError("sleep(nan) did not fault")


PanicException = _panic_type()


# --- the targets -------------------------------------------------------------------------


class Target:
    def __init__(self, name, display, params, required, convert, hold):
        self.name = name
        self.display = display
        self.params = params
        self.required = required
        self.convert = convert  # "double", "bool" or None
        self.hold = hold  # the hold taken before converting: "exclusive", "shared", None

    def __repr__(self):
        return self.name


TARGETS = [
    Target("sleep", "sleep()", ("t",), 1, "double", None),
    Target("sleepers", "sleepers()", ("t",), 1, "double", None),
    Target("getTime", "MonotonicClock.getTime()", ("applyZero",), 0, "bool", "shared"),
    Target("reset", "Clock.reset()", ("newT",), 0, "double", "exclusive"),
    Target("add", "Clock.add()", ("t",), 1, "double", "exclusive"),
    Target("addTime", "Clock.addTime()", ("t",), 1, "double", "exclusive"),
    Target("MonotonicClock", "MonotonicClock.__new__()", (), 0, None, None),
    Target("Clock", "Clock.__new__()", (), 0, None, None),
    Target("SubClock", "Clock.__new__()", (), 0, None, None),
]


# --- argument objects and what they do ---------------------------------------------------


class Unprintable:
    def __str__(self):
        raise ValueError("no text for you")


class TypeErrorSub(TypeError):
    pass


class CustomBase(BaseException):
    pass


def make_exception(kind):
    if kind == "value":
        return ValueError("bad value")
    if kind == "type":
        return TypeError("bad type")
    if kind == "type caused":
        error = TypeError("outer")
        error.__cause__ = KeyError("inner")
        return error
    if kind == "type sub":
        return TypeErrorSub("sub type")
    if kind == "type args":
        return TypeError("two", 2)
    if kind == "type unprintable":
        return TypeError(Unprintable())
    if kind == "overflow":
        return OverflowError("too big")
    if kind == "base":
        return CustomBase("base")
    if kind == "panic":
        return PanicException("raised by Python code")
    raise AssertionError(kind)


EXCEPTION_KINDS = [
    "value", "type", "type caused", "type sub", "type args", "type unprintable", "overflow",
    "base", "panic",
]


class Context:
    """The clock under test and another one, for conversions that call back."""

    def __init__(self, clock, other):
        self.clock = clock
        self.other = other


def run_action(ctx, action):
    which, op = action
    clock = ctx.clock if which == "same" else ctx.other
    if op == "read":
        clock.getTime()
    elif op == "attribute":
        clock._epochTimeAtLastReset
    elif op == "change":
        clock.add(0.125)
    elif op == "sleep":
        tempoloom.sleep(0)
    else:
        raise AssertionError(op)


class Behaving:
    """Base of the custom argument types: a dunder that does what `behaviour` says.

    ("return", factory) returns a fresh factory(); ("raise", kind) raises a new exception
    of that kind; ("callback", action, value) runs the action on a clock, then returns.
    """

    def __init__(self, behaviour, ctx):
        self.behaviour = behaviour
        self.ctx = ctx
        self.raised = None

    def perform(self):
        kind = self.behaviour[0]
        if kind == "return":
            return self.behaviour[1]()
        if kind == "raise":
            self.raised = make_exception(self.behaviour[1])
            raise self.raised
        run_action(self.ctx, self.behaviour[1])
        return self.behaviour[2]

    def __repr__(self):
        return f"{type(self).__qualname__}{self.behaviour!r}"


class Kinds:
    """Nested so that each type's qualified name differs from its name."""

    class Floaty(Behaving):
        def __float__(self):
            return self.perform()

    class Indexy(Behaving):
        def __index__(self):
            return self.perform()

    class Both(Behaving):
        def __float__(self):
            return self.perform()

        def __index__(self):
            raise AssertionError("__index__ used although __float__ exists")

    class FloatSub(float):
        def __float__(self):
            raise AssertionError("a float's stored value is used, not its __float__")

    class IntSub(int):
        pass

    class IntSubFloaty(int):
        def __new__(cls, value, behaviour, ctx):
            self = super().__new__(cls, value)
            self.behaving = Behaving(behaviour, ctx)
            return self

        def __float__(self):
            return self.behaving.perform()


def fake_numpy_bool(name, module, truth):
    """A type that calls itself numpy's boolean; truth is a behaviour or None."""
    namespace = {"__module__": module}
    if truth is None:
        namespace["__len__"] = lambda self: 1  # a length is no __bool__
    else:
        namespace["__bool__"] = lambda self: self.behaving.perform()
    return type(name, (), namespace)


FAKE_NUMPY_TYPES = {}


def make_fake_numpy(name, module, truth, ctx):
    key = (name, module, truth is None)
    if key not in FAKE_NUMPY_TYPES:
        FAKE_NUMPY_TYPES[key] = fake_numpy_bool(name, module, truth)
    instance = FAKE_NUMPY_TYPES[key]()
    instance.behaving = Behaving(truth, ctx) if truth is not None else None
    return instance


class Recipe:
    """How to make one argument object for a context, and what the model knows of it."""

    def __init__(self, kind, *fields):
        self.kind = kind
        self.fields = fields
        self.made = None

    def make(self, ctx):
        kind, fields = self.kind, self.fields
        if kind == "plain":
            self.made = fields[0]
        elif kind in ("floaty", "indexy", "both"):
            cls = {"floaty": Kinds.Floaty, "indexy": Kinds.Indexy, "both": Kinds.Both}[kind]
            self.made = cls(fields[0], ctx)
        elif kind == "float sub":
            self.made = Kinds.FloatSub(fields[0])
        elif kind == "int sub":
            self.made = Kinds.IntSub(fields[0])
        elif kind == "int sub floaty":
            self.made = Kinds.IntSubFloaty(fields[0], fields[1], ctx)
        elif kind == "fake numpy":
            self.made = make_fake_numpy(*fields, ctx)
        else:
            raise AssertionError(kind)
        return self.made

    @property
    def calls_back(self):
        behaviour = self.behaviour
        return behaviour is not None and behaviour[0] == "callback"

    @property
    def behaviour(self):
        if self.kind in ("floaty", "indexy", "both"):
            return self.fields[0]
        if self.kind == "int sub floaty":
            return self.fields[1]
        if self.kind == "fake numpy":
            return self.fields[2]
        return None

    def __repr__(self):
        return f"Recipe({self.kind}, {', '.join(map(repr, self.fields))})"


# --- how the interpreter words a dunder's result of the wrong type ----------------------


def qualified_type_name(cls):
    """A type named by module and qualified name, without builtins and __main__."""
    module = cls.__module__
    if isinstance(module, str) and module not in ("builtins", "__main__"):
        return f"{module}.{cls.__qualname__}"
    return cls.__qualname__


CONVERSIONS = {"float": ("__float__", "a float"), "index": ("__index__", "an int"),
               "bool": ("__bool__", "a bool")}


def by_name(kind, obj, result):
    """CPython 3.13 and 3.14: plain type names, and each dunder worded its own way."""
    got = type(result).__name__
    if kind == "float":
        return f"{type(obj).__name__}.__float__ returned non-float (type {got})"
    if kind == "index":
        return f"__index__ returned non-int (type {got})"
    return f"__bool__ should return bool, returned {got}"


def by_qualified_name(kind, obj, result):
    """CPython 3.15: one sentence for every dunder, types qualified."""
    dunder, expected = CONVERSIONS[kind]
    return (f"{qualified_type_name(type(obj))}.{dunder}() must return {expected}, "
            f"not {qualified_type_name(type(result))}")


class Wording:
    """The wording of each conversion, as the running interpreter shows it.

    The interpreter itself (no module involved) converts one object of each kind, and the
    wording that reproduces its message is taken; a message that none reproduces fails
    loudly, so a new interpreter's rewording is met here and not as a mismatch everywhere.
    """

    STYLES = (by_name, by_qualified_name)
    SUBCLASS_DEPRECATED = {
        "float": "  The ability to return an instance of a strict subclass of float is "
                 "deprecated, and may be removed in a future version of Python.",
        "index": "  The ability to return an instance of a strict subclass of int is "
                 "deprecated, and may be removed in a future version of Python.",
    }

    def __init__(self):
        # Nested types returning a nested type: each wording names these differently.
        int_sub, float_sub = Kinds.IntSub(1), Kinds.FloatSub(1.0)
        probes = [
            ("float", Kinds.Floaty(("return", lambda: int_sub), None), int_sub, reference_double),
            ("index", Kinds.Indexy(("return", lambda: float_sub), None), float_sub,
             reference_double),
            ("bool", make_fake_numpy("bool_", "numpy", ("return", lambda: int_sub), None),
             int_sub, reference_bool),
        ]
        self.styles = {}
        for kind, obj, result, convert in probes:
            outcome = convert(obj)
            styles = [style for style in self.STYLES
                      if outcome.error is TypeError
                      and outcome.message == style(kind, obj, result)]
            if not styles:
                raise AssertionError(f"the interpreter's {kind} conversion of a "
                                     f"{type(obj).__qualname__} returning a "
                                     f"{type(result).__qualname__} {outcome}, worded in no "
                                     "way the model knows")
            self.styles[kind] = styles[0]

    def refused(self, kind, obj, result):
        return self.styles[kind](kind, obj, result)

    def deprecated(self, kind, obj, result):
        return self.refused(kind, obj, result) + "." + self.SUBCLASS_DEPRECATED[kind]


# --- the model ---------------------------------------------------------------------------


class Outcome:
    """A value, or an exception: its exact type and text, and how to recognise it."""

    def __init__(self, value=None, error=None, message=None, same_as=None, cause="none",
                 unraisable=0, changes=0):
        self.value = value
        self.error = error
        self.message = message
        self.same_as = same_as  # the very exception instance that must come out
        self.cause = cause  # for wrapped errors: the cause carried over
        self.unraisable = unraisable  # reports expected on the unraisable hook
        self.changes = changes  # add(0.125) calls that a callback made on the clock

    @property
    def failed(self):
        return self.error is not None

    def __repr__(self):
        if self.failed:
            return f"raises {self.error.__name__}({self.message!r})"
        return f"gives {self.value!r}"


def raises(error, message, **extra):
    return Outcome(error=error, message=message, **extra)


def lossy(text):
    return "".join("\ufffd" if 0xD800 <= ord(c) <= 0xDFFF else c for c in text)


def name_list(names):
    quoted = [f"'{name}'" for name in names]
    if len(quoted) == 2:
        return " and ".join(quoted)
    if len(quoted) > 2:
        return ", ".join(quoted[:-1]) + ", and " + quoted[-1]
    return quoted[0]


def model_parse(target, positional, keywords):
    """Returns the parser's error, or which argument fills the one slot (or None)."""
    display, params, given = target.display, target.params, len(positional)
    if given > len(params):
        verb = "was" if given == 1 else "were"
        if target.required == len(params):
            counts = f"{len(params)}"
        else:
            counts = f"from {target.required} to {len(params)}"
        return raises(TypeError, f"{display} takes {counts} positional arguments but "
                                 f"{given} {verb} given"), None
    slots = list(positional) + [None] * (len(params) - given)
    for key, value in keywords:
        content = str.__str__(key)  # the characters themselves, whatever the type
        try:
            content.encode("utf-8")
        except UnicodeEncodeError:
            return raises(TypeError, f"{display} got an unexpected keyword argument "
                                     f"'{lossy(str(key))}'"), None
        if content not in params:
            return raises(TypeError,
                          f"{display} got an unexpected keyword argument '{content}'"), None
        index = params.index(content)
        if slots[index] is not None:
            return raises(TypeError, f"{display} got multiple values for argument "
                                     f"'{content}'"), None
        slots[index] = value
    missing = [params[i] for i in range(target.required) if slots[i] is None]
    if given < target.required and missing:
        noun = "argument" if len(missing) == 1 else "arguments"
        return raises(TypeError, f"{display} missing {len(missing)} required positional "
                                 f"{noun}: {name_list(missing)}"), None
    return None, (slots[0] if slots else None)


def callback_outcome(action, hold):
    """What a callback's action meets while the clock is held (None: it succeeds)."""
    which, op = action
    if which != "same":
        return None
    if op in ("read", "attribute") and hold == "exclusive":
        return raises(RuntimeError, "Already mutably borrowed")
    if op == "change" and hold is not None:
        return raises(RuntimeError, "Already borrowed")
    return None


def exception_outcome(recipe):
    """A conversion that ends in the exception the recipe's behaviour raised."""
    kind = recipe.behaviour[1]
    if kind == "panic":
        # A fault that went through Python code is resumed as a new PanicException.
        return raises(PanicException, "raised by Python code")
    return raises(type(make_exception(kind)), None, same_as="raised")


def behaviour_outcome(recipe, hold, convert_result):
    """Runs the model of a behaviour: an exception, a callback, or a returned object."""
    behaviour = recipe.behaviour
    if behaviour[0] == "raise":
        return exception_outcome(recipe)
    if behaviour[0] == "callback":
        met = callback_outcome(behaviour[1], hold)
        if met is not None:
            return met
        outcome = convert_result(behaviour[2])
        if not outcome.failed and behaviour[1] == ("same", "change"):
            outcome.changes = 1
        return outcome
    return convert_result(behaviour[1]())


def int_to_double(value):
    try:
        return Outcome(value=float(int.__index__(value)))
    except OverflowError:
        return raises(OverflowError, "int too large to convert to float")


def model_double(recipe, hold):
    """The float conversion, as the interpreter's PyFloat_AsDouble does it."""
    kind, obj = recipe.kind, recipe.made
    if kind == "plain":
        return reference_double(obj)
    if kind == "float sub":
        return Outcome(value=float.__float__(obj))
    if kind == "int sub":
        return int_to_double(obj)
    if kind == "fake numpy":
        return raises(TypeError, f"must be real number, not {type(obj).__name__}")

    def from_float(result):
        if type(result) is float:
            return Outcome(value=result)
        if isinstance(result, float):
            return raises(DeprecationWarning, WORDING.deprecated("float", obj, result))
        return raises(TypeError, WORDING.refused("float", obj, result))

    def from_index(result):
        if type(result) is int:
            return int_to_double(result)
        if isinstance(result, int):
            return raises(DeprecationWarning, WORDING.deprecated("index", obj, result))
        return raises(TypeError, WORDING.refused("index", obj, result))

    if kind == "indexy":
        return behaviour_outcome(recipe, hold, from_index)
    return behaviour_outcome(recipe, hold, from_float)


def model_bool(recipe, hold):
    """The boolean conversion: a bool, or numpy's boolean recognised by its type's name."""
    obj = recipe.made
    cls = type(obj)
    if cls is bool:
        return Outcome(value=obj)
    module = cls.__dict__.get("__module__", None) if recipe.kind == "fake numpy" else (
        cls.__module__)
    if isinstance(module, str) and module == "numpy" and cls.__name__ in ("bool_", "bool"):
        if recipe.kind != "fake numpy":
            return Outcome(value=bool(obj))
        if recipe.behaviour is None:
            return raises(TypeError, f"object of type '{cls!s}' does not define a '__bool__' "
                                     "conversion")

        def from_truth(result):
            if type(result) is bool:
                return Outcome(value=result)
            return raises(TypeError, WORDING.refused("bool", obj, result))

        return behaviour_outcome(recipe, hold, from_truth)
    if obj is None:
        return raises(TypeError, "'None' is not an instance of 'bool'")
    return raises(TypeError, f"'{cls.__qualname__}' object is not an instance of 'bool'")


def wrap(outcome, parameter, raised):
    """A refused conversion's exact TypeError is renamed after the parameter."""
    if outcome.error is not TypeError:
        return outcome
    if outcome.same_as == "raised":
        try:
            text = str(raised)
            unraisable = 0
        except Exception:  # noqa: BLE001 - an unprintable error
            text = f"<unprintable {type(raised).__name__} object>"
            unraisable = 1
        return raises(TypeError, f"argument '{parameter}': {text}", cause=raised.__cause__,
                      unraisable=unraisable, changes=outcome.changes)
    return raises(TypeError, f"argument '{parameter}': {outcome.message}", cause=None,
                  changes=outcome.changes)


def reference_double(obj):
    """The interpreter's own float conversion of an argument (no module involved)."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error", DeprecationWarning)
            return Outcome(value=math.ldexp(obj, 0))
    except BaseException as error:  # noqa: BLE001 - any refusal is an outcome
        try:
            return raises(type(error), str(error))
        except Exception:  # noqa: BLE001 - an unprintable refusal
            return raises(type(error), None)


def reference_bool(obj):
    """The interpreter's own truth test of an object."""
    try:
        return Outcome(value=bool(obj))
    except Exception as error:  # noqa: BLE001 - any refusal is an outcome
        return raises(type(error), str(error))


def predict(target, positional, keywords):
    """The model's outcome for a call whose argument objects have been made."""
    error, slot = model_parse(target, positional, keywords)
    if error is not None:
        return error, None
    if slot is None or target.convert is None:
        return Outcome(value=None), None
    model = model_double if target.convert == "double" else model_bool
    outcome = model(slot, target.hold)
    return outcome, slot


WORDING = Wording()
