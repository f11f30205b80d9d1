"""Many threads on shared clocks at once, without the GIL.

The only failures allowed are the two refused holds. Clocks that only ever see add and
addTime get amounts in multiples of 1/8, whose sums are exact in doubles (also on the
wall-clock record near 1.8e9, whose spacing is 2^-22), so a lost or torn update shows as
a final value that differs from the start plus the sum of the successful calls.
"""

import collections
import random
import sys
import time

import tempoloom
from conftest import run_threads
from tempoloom import Clock, MonotonicClock

THREADS = 8
RUN_SECONDS = 2.0
BORROW_ERRORS = {"Already mutably borrowed", "Already borrowed"}


class Eighths:
    """A number by __float__, passed many times over."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Index:
    """A number by __index__ only."""

    def __index__(self):
        return 1


class Refused:
    """A conversion that fails with an exception other than TypeError."""

    def __float__(self):
        raise ValueError("refused")


class SubClock(Clock):
    pass


def test_shared_clocks_under_contention():
    # Counted clocks see reads, add and addTime; mixed clocks also see reset.
    counted = [Clock(), SubClock()]
    mixed = [Clock(), Clock(), MonotonicClock()]
    start_state = [(c._timeAtLastReset, c._epochTimeAtLastReset) for c in counted]

    # Argument objects whose reference counts must come out unchanged.
    amount = float("0.125") * 3  # a heap float, not a constant of the code
    by_float = Eighths(0.25)
    by_index = Index()
    refused = Refused()
    text = "not a number".upper()
    shared_args = [amount, by_float, by_index, refused, text]
    refcounts_before = [sys.getrefcount(arg) for arg in shared_args]

    deadline = time.monotonic() + RUN_SECONDS

    def worker(index):
        rng = random.Random(index)
        mine = [0.0] * len(counted)  # added to each counted clock by this thread
        tally = collections.Counter()
        while time.monotonic() < deadline:
            for _ in range(200):
                choice = rng.randrange(16)
                which = rng.randrange(len(counted))
                clock = counted[which]
                try:
                    if choice == 0:
                        step = rng.randrange(-16, 17) / 8
                        clock.add(step)
                        mine[which] += step
                    elif choice == 1:
                        step = rng.randrange(-16, 17) / 8
                        clock.addTime(t=step)
                        mine[which] -= step
                    elif choice == 2:
                        clock.add(amount)
                        mine[which] += amount
                    elif choice == 3:
                        clock.addTime(by_float)
                        mine[which] -= 0.25
                    elif choice == 4:
                        clock.add(by_index)
                        mine[which] += 1.0
                    elif choice == 5:
                        clock.getTime()
                        clock.getTime(False)
                        clock.getLastResetTime()
                    elif choice == 6:
                        clock._timeAtLastReset
                        clock._epochTimeAtLastReset
                    elif choice == 7:
                        target = mixed[rng.randrange(2)]
                        target.reset(newT=rng.random())
                    elif choice == 8:
                        mixed[rng.randrange(2)].reset()
                    elif choice == 9:
                        target = mixed[rng.randrange(2)]
                        target.add(amount)
                        target.addTime(by_float)
                    elif choice == 10:
                        target = mixed[rng.randrange(3)]
                        target.getTime(applyZero=rng.random() < 0.5)
                        target.getLastResetTime()
                        target._timeAtLastReset
                        target._epochTimeAtLastReset
                    elif choice == 11:
                        # Refused conversions under the exclusive hold.
                        try:
                            clock.add(refused)
                        except ValueError:
                            tally["refused"] += 1
                        try:
                            mixed[0].reset(text)
                        except TypeError:
                            tally["refused"] += 1
                    elif choice == 12:
                        fresh = (Clock() if rng.random() < 0.5 else SubClock())
                        fresh.add(amount)
                        fresh.reset()
                        fresh.getTime()
                        del fresh
                    elif choice == 13:
                        MonotonicClock().getTime()
                    elif choice == 14:
                        Clock.add(mixed[1], amount)
                        mixed[1].addTime(amount)
                    else:
                        tempoloom.sleep(0)
                    tally["ok"] += 1
                except RuntimeError as error:
                    if str(error) not in BORROW_ERRORS or type(error) is not RuntimeError:
                        raise
                    tally[str(error)] += 1
                tally["ops"] += 1
        return mine, tally

    sums, tallies = zip(*run_threads(worker, THREADS))

    # No update was lost or torn.
    for which, clock in enumerate(counted):
        added = sum(thread_sums[which] for thread_sums in sums)
        zero, epoch = start_state[which]
        assert clock._timeAtLastReset == zero + added
        assert clock._epochTimeAtLastReset == epoch + added
    # Every hold was released.
    for clock in counted + mixed[:2]:
        clock.add(0)
    mixed[2].getTime()
    assert [sys.getrefcount(arg) for arg in shared_args] == refcounts_before

    total = sum(tallies, collections.Counter())
    assert total["ops"] == total["ok"] + total["Already mutably borrowed"] + total[
        "Already borrowed"
    ]
    print(f"\nstress: {THREADS} threads, {dict(total)}")


def test_reads_of_a_clock_that_one_thread_keeps_changing():
    # One writer moves the zero point by a large X and back, without pause; readers take
    # no hold, so the writer is never refused, and every value read is one of its two
    # states. X and the wall-clock record are exact in doubles, so values compare exactly.
    x = 2.0**20
    clock = Clock()
    zero, epoch = clock._timeAtLastReset, clock._epochTimeAtLastReset
    deadline = time.monotonic() + RUN_SECONDS / 2

    # Each thread works at least once, however late a busy machine starts it.
    def writer():
        changes = 0
        while time.monotonic() < deadline or not changes:
            clock.add(x)
            clock.addTime(t=x)
            changes += 2
        return changes

    def reader(index):
        tally = collections.Counter()
        while time.monotonic() < deadline or not tally["ok"]:
            try:
                before = clock.getTime(False)
                reading = clock.getTime() if index % 2 else clock.getTime(applyZero=True)
                after = clock.getTime(False)
                # The elapsed time of the reading lies between the two raw ones.
                assert any(before - 1e-6 <= reading + offset <= after + 1e-6
                           for offset in (zero, zero + x))
                assert before <= after
                assert clock.getLastResetTime() in (zero, zero + x)
                assert clock._timeAtLastReset in (zero, zero + x)
                assert clock._epochTimeAtLastReset in (epoch, epoch + x)
                tally["ok"] += 1
            except RuntimeError as error:
                if str(error) != "Already mutably borrowed" or type(error) is not RuntimeError:
                    raise
                tally["refused"] += 1
        return tally

    changes, *tallies = run_threads(lambda i: reader(i) if i else writer(), 4)
    total = sum(tallies, collections.Counter())
    assert (clock._timeAtLastReset, clock._epochTimeAtLastReset) == (zero, epoch)
    print(f"\nshared reads: {changes} changes, {dict(total)}")


def test_reads_of_a_clock_that_one_thread_keeps_resetting():
    # Each reset puts the zero point at the counter's reading of that moment, plus newT; a
    # read that paired its own earlier counter reading with that later zero point would
    # come out below -newT, which no order of the two calls gives.
    clock = Clock()
    deadline = time.monotonic() + RUN_SECONDS / 2

    def writer():
        resets = 0
        while time.monotonic() < deadline or not resets:
            clock.reset()
            resets += 1
        return resets

    def reader(index):
        lowest, tally = float("inf"), collections.Counter()
        while time.monotonic() < deadline or not tally["ok"]:
            try:
                lowest = min(lowest, clock.getTime() if index % 2 else clock.getTime(True))
                tally["ok"] += 1
            except RuntimeError as error:
                if str(error) != "Already mutably borrowed" or type(error) is not RuntimeError:
                    raise
                tally["refused"] += 1
        return lowest, tally

    resets, *results = run_threads(lambda i: reader(i) if i else writer(), 3)
    lowest = min(low for low, _ in results)
    total = sum((tally for _, tally in results), collections.Counter())
    assert lowest >= 0.0, f"a read after reset() returned {lowest}"
    print(f"\nreads beside resets: {resets} resets, {dict(total)}, lowest {lowest:.3g} s")


def test_many_threads_sleep_with_good_and_bad_arguments():
    threads = 24
    panic_message = "cannot convert float seconds to Duration: value is either too big or NaN"

    def sleeper(index):
        function = tempoloom.sleep if index % 2 else tempoloom.sleepers
        name = function.__name__
        cases = [  # arguments, keyword arguments, expected exception and message
            ((0.0005 * (index % 3 + 1),), {}, None, None),
            ((), {"t": 0.0003}, None, None),
            ((0.0,), {}, None, None),
            ((-1,), {}, None, None),
            ((float("nan"),), {}, "PanicException", panic_message),
            ((float("inf"),), {}, "PanicException", panic_message),
            (("soon",), {}, "TypeError", "argument 't': must be real number, not str"),
            ((), {}, "TypeError", f"{name}() missing 1 required positional argument: 't'"),
            ((0.001, 2), {}, "TypeError",
             f"{name}() takes 1 positional arguments but 2 were given"),
        ]
        counts = collections.Counter()
        for _ in range(3):
            for args, kwargs, expected_type, message in cases:
                started = time.perf_counter_ns()
                try:
                    result = function(*args, **kwargs)
                except BaseException as error:  # noqa: BLE001 - classified below
                    if (type(error).__name__, str(error)) != (expected_type, message):
                        raise
                    if expected_type == "PanicException":
                        assert not isinstance(error, Exception)
                    counts[expected_type] += 1
                    continue
                assert expected_type is None and result is None
                seconds = args[0] if args else kwargs["t"]
                assert time.perf_counter_ns() - started >= seconds * 1e9
                counts["slept"] += 1
        return counts

    counts = sum(run_threads(sleeper, threads), collections.Counter())
    assert counts == {"slept": threads * 3 * 4, "PanicException": threads * 3 * 2,
                      "TypeError": threads * 3 * 3}
    print(f"\nsleepers: {threads} threads, {dict(counts)}")
