"""What the interpreter sees of the module and its classes before any call."""

import importlib
import importlib.util
import os
import shutil
import subprocess
import sys
import sysconfig
import weakref

import pytest

import tempoloom
from tempoloom import Clock, MonotonicClock


@pytest.mark.skipif(
    not sys.platform.startswith("linux"), reason="nm -D reads ELF dynamic symbols: Linux only"
)
@pytest.mark.thread_unsafe(reason="starts a process")
def test_exports_exactly_the_init_function():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(
        [nm, "-D", "--defined-only", tempoloom.__file__], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    # A module for abi3t is found through its export hook, which older interpreters ignore.
    abi3t = tempoloom.__file__.endswith(".abi3t.so")
    assert symbols == ["PyModExport_tempoloom" if abi3t else "PyInit_tempoloom"]


@pytest.mark.skipif(
    not sysconfig.get_config_var("Py_GIL_DISABLED"),
    reason="only a free-threaded interpreter can run without the GIL",
)
@pytest.mark.thread_unsafe(reason="starts a process")
def test_gil_stays_off_after_import(run_python):
    result = run_python(
        "import sys, tempoloom; print(sys._is_gil_enabled())", flags=("-X", "gil=0", "-W", "error")
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"
    assert result.stderr == ""


def test_names_and_all():
    assert tempoloom.__all__ == ["sleepers", "sleep", "MonotonicClock", "Clock"]
    for name in tempoloom.__all__:
        assert hasattr(tempoloom, name)
    assert tempoloom.__doc__


def test_class_identity_and_docstrings():
    assert MonotonicClock.__module__ == "builtins"
    assert MonotonicClock.__name__ == MonotonicClock.__qualname__ == "MonotonicClock"
    assert repr(MonotonicClock) == "<class 'builtins.MonotonicClock'>"
    assert MonotonicClock.__base__ is object
    assert MonotonicClock.__text_signature__ == "()"
    assert MonotonicClock.getTime.__text_signature__ == "($self, applyZero=True)"
    assert MonotonicClock.getLastResetTime.__text_signature__ == "($self)"
    assert MonotonicClock.__doc__ == ""
    for name in ("_timeAtLastReset", "_epochTimeAtLastReset"):
        assert MonotonicClock.__dict__[name].__doc__ == ""


@pytest.mark.parametrize("cls", ["MonotonicClock", "Clock"])
def test_instances_have_no_dict_and_refuse_weak_references(cls):
    clock = getattr(tempoloom, cls)()
    with pytest.raises(AttributeError):
        clock.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(clock)
    for name in ("_timeAtLastReset", "_epochTimeAtLastReset"):
        before = getattr(clock, name)
        with pytest.raises(AttributeError):
            setattr(clock, name, 1.0)
        with pytest.raises(AttributeError):
            delattr(clock, name)
        assert getattr(clock, name) == before


@pytest.mark.thread_unsafe(reason="changes the shared type objects")
def test_types_are_mutable_and_subclassable():
    MonotonicClock.tempoloomTestAttribute = 1
    try:
        assert MonotonicClock.tempoloomTestAttribute == 1
    finally:
        del MonotonicClock.tempoloomTestAttribute

    for base in (MonotonicClock, Clock):

        class Derived(base):
            pass

        derived = Derived()
        derived.note = "subclasses get a dict"
        assert isinstance(derived, base)
        assert derived.getTime() >= 0.0
        del derived  # deallocation through the Python subclass
    Clock.tempoloomTestAttribute = 2
    del Clock.tempoloomTestAttribute


@pytest.mark.thread_unsafe(reason="swaps the module in sys.modules")
def test_reimport_reuses_type_objects():
    first = sys.modules["tempoloom"]
    clocks = [MonotonicClock(), Clock()]
    try:
        # More imports than the interpreter has room for finalization callbacks (32): the
        # module registers its own once per interpreter, not once per import.
        for _ in range(40):
            del sys.modules["tempoloom"]
            second = importlib.import_module("tempoloom")
            assert second is not first
            assert second.MonotonicClock is first.MonotonicClock
            assert second.Clock is first.Clock
            assert second.sleep is not first.sleep
            assert second.sleepers is not first.sleepers
            assert second.__all__ == first.__all__
            assert second.__all__ is not first.__all__
            clocks.append(second.Clock())
        # Instances from before and between the imports are the new module's, and its
        # methods take them.
        for clock in clocks:
            assert isinstance(clock, second.MonotonicClock)
            assert second.MonotonicClock.getTime(clock) >= 0.0
        assert all(isinstance(clock, second.Clock) for clock in clocks[1:])
        second.Clock.reset(clocks[1], 1.0)
        assert clocks[1].getTime() < 0.0
    finally:
        sys.modules["tempoloom"] = first


@pytest.mark.thread_unsafe(reason="starts a process")
def test_subinterpreters_are_refused_and_the_main_interpreter_goes_on(run_python):
    # Both kinds: one with the main interpreter's legacy settings, one isolated, each before
    # the process's first import, which must then be the main interpreter's. Through
    # _interpreters from 3.13 on (concurrent.interpreters came with 3.14), before it
    # _xxsubinterpreters.
    if all(importlib.util.find_spec(name) is None
           for name in ("_interpreters", "_xxsubinterpreters")):
        pytest.skip("this interpreter has neither _interpreters nor _xxsubinterpreters")
    result = run_python("""
try:
    import _interpreters

    def run_in(kind, code):
        interpreter = _interpreters.create(kind)
        assert _interpreters.exec(interpreter, code) is None
        _interpreters.destroy(interpreter)
except ImportError:
    import _xxsubinterpreters

    def run_in(kind, code):
        interpreter = _xxsubinterpreters.create(isolated=kind == "isolated")
        assert _xxsubinterpreters.run_string(interpreter, code) is None
        _xxsubinterpreters.destroy(interpreter)

probe = '''
try:
    import tempoloom
except ImportError as error:
    print(type(error).__name__, error)
else:
    print("imported")
'''
for kind in ("legacy", "isolated"):
    run_in(kind, probe)
import tempoloom
clock = tempoloom.Clock()
clock.add(1.0)
print("main", clock.getTime() < 0.0)
try:
    tempoloom.sleep(float("nan"))
except BaseException as error:
    print("panic", type(error) in BaseException.__subclasses__())
""")
    assert result.returncode == 0, result.stderr
    refused = "ImportError module tempoloom does not support loading in subinterpreters"
    # The default build lets a legacy subinterpreter past the module's declaration, and so
    # does 3.11 an isolated one, which has no GIL of its own there; the module refuses them
    # itself, and says what to do instead.
    itself = refused + "; import it in the main interpreter"
    free_threaded = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
    legacy = refused if free_threaded else itself
    isolated = refused if sys.version_info >= (3, 12) else itself
    assert result.stdout.splitlines() == [legacy, isolated, "main True", "panic True"]


# A first import on a thread while the main thread forks, the fork timed for each moment the
# import used to take a native lock and re-attach with it held: the finalization hook's
# registration, and the PanicException type's creation (the import fetches an error on its
# way, since __all__ does not exist yet). The child then loads the module and uses it.
FORK_DURING_FIRST_IMPORT = """
import importlib.util, os, sys, threading, time

moment = sys.argv[1]
sys.setswitchinterval(1e-6)
reached = [False]

def before_exec(frame, event, arg):
    if event == "c_call" and getattr(arg, "__name__", "") == "exec_dynamic":
        sys.setprofile(None)
        arrived()

def before_all(name):
    error = AttributeError(name)
    arrived()
    raise error

def arrived():
    # No call from here until the native code detaches, so that the other thread cannot
    # take over before; the long operation makes it ask to.
    reached[0] = True
    b"\\0" * 20_000_000

def first_import():
    spec = importlib.util.find_spec("tempoloom")
    module = importlib.util.module_from_spec(spec)  # not in sys.modules: the child imports it
    if moment == "registration":
        sys.setprofile(before_exec)
    else:
        module.__getattr__ = before_all
    spec.loader.exec_module(module)

thread = threading.Thread(target=first_import)
thread.start()
while not reached[0] and thread.is_alive():
    pass
if not reached[0]:
    sys.exit("the import ended before the module's code ran")
if getattr(sys, "_is_gil_enabled", lambda: True)():  # always, before 3.13
    # Keep the GIL, with no call, while the importer detaches and waits to attach again.
    b"\\0" * 200_000_000
pid = os.fork()
if pid == 0:
    import tempoloom
    tempoloom.sleep(0.001)
    assert tempoloom.Clock().getTime() >= 0.0
    try:
        tempoloom.sleep(float("nan"))
    except BaseException as error:
        assert type(error).__name__ == "PanicException"
    os._exit(0)
thread.join()
deadline = time.monotonic() + 30
while not (ended := os.waitpid(pid, os.WNOHANG))[0] and time.monotonic() < deadline:
    time.sleep(0.01)
if not ended[0]:
    os.kill(pid, 9)
    sys.exit("the child hung")
sys.exit(os.waitstatus_to_exitcode(ended[1]))
"""

# With the GIL the hand-over is forced, so the fork meets the importer waiting to attach
# every time. Without it the importer attaches again unhindered within a microsecond, and
# the fork seldom meets it; the GIL of the free-threaded build is forced on for one run.
GIL_MODES = ["gil=1", "gil=0"] if sysconfig.get_config_var("Py_GIL_DISABLED") else ["default"]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
@pytest.mark.parametrize("gil", GIL_MODES)
@pytest.mark.parametrize("moment", ["registration", "panic type"])
@pytest.mark.thread_unsafe(reason="starts a process")
def test_fork_during_first_import_leaves_the_child_a_working_module(run_python, moment, gil):
    flags = ("-W", "ignore::DeprecationWarning")  # fork() of a process with threads
    if gil != "default":
        flags += ("-X", gil)
    result = run_python(FORK_DURING_FIRST_IMPORT, flags=flags, args=(moment,))
    assert result.returncode == 0, result.stderr
