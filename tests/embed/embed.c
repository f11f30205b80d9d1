// An application that embeds the interpreter and starts it five times over. Rounds 2, 4 and
// 5 initialise it, import tempoloom, use all of it and finalize it again: whatever the
// module keeps beyond one interpreter's life must not point into an earlier one. Rounds 1
// and 3 finalize it while a thread makes the first import, which is parked for good when
// it attaches again; the next round must import regardless. Round 1 forces the GIL on, so
// that the thread is waiting to attach whenever it has detached (a free-threaded
// interpreter otherwise lets it attach again within a microsecond).
// PYTHONPATH names where the module is. Exit status 0 when every round passed; a round
// that hangs ends the process after five minutes.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

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

// The thread is let go from the last exit function to run, and finalization goes on once
// the import has reached the module's own code (where it used to detach holding a lock):
// with the GIL, after holding it long enough for the thread to be waiting to attach.
static const char finalizeDuringImportScript[] =
    "import atexit, os, sys, threading\n"
    "sys.setswitchinterval(1e-6)\n"
    "reached = [False]\n"
    "go = threading.Event()\n"
    "def before_exec(frame, event, arg):\n"
    "    if event == 'c_call' and getattr(arg, '__name__', '') == 'exec_dynamic':\n"
    "        sys.setprofile(None)\n"
    // No call from here until the module's code: the main thread must not take over before.
    "        reached[0] = True\n"
    "        b'\\0' * 20_000_000\n"
    "def first_import():\n"
    "    go.wait()\n"
    "    sys.setprofile(before_exec)\n"
    "    import tempoloom\n"
    "importer = threading.Thread(target=first_import, daemon=True)\n"
    "def finalize_during_import():\n"
    "    go.set()\n"
    "    while not reached[0] and importer.is_alive():\n"
    "        pass\n"
    "    if not reached[0]:\n"
    "        print('embed: the import ended before the module code ran', file=sys.stderr)\n"
    "        os._exit(1)\n"
    // Before 3.13 there is always a GIL, and no sys._is_gil_enabled.
    "    if getattr(sys, '_is_gil_enabled', lambda: True)():\n"
    "        b'\\0' * 200_000_000\n"
    "importer.start()\n"
    "atexit.register(finalize_during_import)\n";

static volatile sig_atomic_t currentRound = 0;

static void timedOut(int signal) {
    (void)signal;
    static const char text[] = "embed: timed out in round ?\n";
    char line[sizeof text];
    for (size_t i = 0; i < sizeof text; ++i) {
        line[i] = text[i] == '?' ? (char)('0' + currentRound) : text[i];
    }
    (void)!write(2, line, sizeof line - 1);
    _exit(1);
}

int main(void) {
    signal(SIGALRM, timedOut);
    alarm(300);
    for (int round = 1; round <= 5; ++round) {
        currentRound = round;
        int finalizeDuringImport = round == 1 || round == 3;
        if (round == 1) {
            setenv("PYTHON_GIL", "1", 1);
        }
        Py_Initialize();
        if (round == 1) {
            unsetenv("PYTHON_GIL");
        }
        const char* script = finalizeDuringImport ? finalizeDuringImportScript : roundScript;
        int failed = PyRun_SimpleString(script) != 0;
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
