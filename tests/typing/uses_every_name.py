"""Every public name, used as a program would; checked with mypy --strict."""

from fractions import Fraction

import tempoloom
from tempoloom import Clock, MonotonicClock, sleep, sleepers


class Stopwatch(Clock):
    def lap(self) -> float:
        elapsed = self.getTime()
        self.reset()
        return elapsed


def main() -> None:
    names: list[str] = tempoloom.__all__
    clock: MonotonicClock = MonotonicClock()
    elapsed: float = clock.getTime()
    raw: float = clock.getTime(applyZero=False)
    zero: float = clock.getLastResetTime() + clock._timeAtLastReset
    started: float = clock._epochTimeAtLastReset
    watch = Stopwatch()
    watch.reset(newT=2.0)
    watch.reset(1)
    watch.add(0.5)
    watch.addTime(t=0.25)
    lap: float = watch.lap()
    watch.add(Fraction(1, 8))
    sleep(0.0001)
    sleep(Fraction(1, 1000))
    sleepers(t=0)
    print(names, elapsed, raw, zero, started, lap)


if __name__ == "__main__":
    main()
