// An application that embeds the interpreter and starts it three times over: each round
// initialises it, imports tempoloom, uses all of it and finalizes it again. Whatever the
// module keeps beyond one interpreter's life must not point into an earlier one.
// PYTHONPATH names where the module is. Exit status 0 when every round passed.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <stdio.h>

static const char roundScript[] =
    "import gc\n"
    "import tempoloom\n"
    "from tempoloom import Clock, MonotonicClock\n"
    "monotonic = MonotonicClock()\n"
    "clock = Clock()\n"
    "assert isinstance(clock, MonotonicClock) and type(clock).__mro__[1] is MonotonicClock\n"
    "start = monotonic.getTime()\n"
    "tempoloom.sleep(0.002)\n"
    "assert monotonic.getTime() - start >= 0.002\n"
    "clock.reset(1.0)\n"
    "assert -1.1 < clock.getTime() < -0.9\n"
    "clock.add(0.5)\n"
    "clock.addTime(1.5)\n"
    "assert -0.1 < clock.getTime() < 0.1\n"
    "try:\n"
    "    tempoloom.sleep(float('nan'))\n"
    "except BaseException as error:\n"
    "    panic = type(error)\n"
    "assert panic.__name__ == 'PanicException' and not issubclass(panic, Exception)\n"
    "clocks = [Clock() if i % 2 else MonotonicClock() for i in range(1000)]\n"
    "assert all(each.getTime() >= 0.0 for each in clocks)\n"
    "del clocks\n"
    "gc.collect()\n"
    // monotonic and clock stay alive: they go while the interpreter finalizes.
    ;

int main(void) {
    for (int round = 1; round <= 3; ++round) {
        Py_Initialize();
        int failed = PyRun_SimpleString(roundScript) != 0;
        if (Py_FinalizeEx() != 0) {
            failed = 1;
        }
        if (failed) {
            fprintf(stderr, "embed: round %d failed\n", round);
            return 1;
        }
        printf("embed: round %d passed\n", round);
        fflush(stdout);
    }
    return 0;
}
