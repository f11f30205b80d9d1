// The precise sleep's own loop run against a virtual clock and a model of Windows'
// high-resolution waitable timer, since no Windows machine is at hand: how late sleeps and
// fixed-rate loops land, and the CPU they take, under the plain halving rule and under the
// rule that keeps thread sleeps a wake latency away from the deadline. Also the same loop
// on the millisecond fallback of systems without that timer, allowing for the timer's
// latency and for the fallback's.
//
// The timer model follows published measurements (docs/windows.md): requests below 1 ms
// wake at the next 0.5 ms step after arming, 1 ms and more wake up to 1 ms late; each wake
// comes a little after its step, and rarely a wake comes milliseconds late. The fallback
// rounds a request up to whole milliseconds and wakes on the first 15.625 ms tick at or
// after that, a little after the tick. Prints Markdown tables; exits 1 if any modelled
// sleep returned early.
#include "core/sleep_loop.hpp"
#include "core/time.hpp"
#include "platform/platform.hpp"
#include "platform/windows_wait.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

using tempoloom::Duration;

struct Profile {
    const char* name;
    double wakeDelayMinUs;   // every wake comes at least this long after its step
    double wakeDelayMeanUs;  // plus an exponential delay of this mean
    double outlierChance;    // a wake that comes 1 to 3 ms later still
    std::uint64_t tickNs;    // 0 for the timer, else the tick of the millisecond fallback
};

constexpr Profile desktop{"desktop", 15.0, 8.0, 0.001, 0};
constexpr Profile hostedRunner{"hosted runner", 25.0, 30.0, 0.01, 0};
constexpr Profile fallback{"fallback", 15.0, 8.0, 0.001, 15'625'000};

// What one pass of the loop costs: a counter read, and a pause in the spin.
constexpr std::uint64_t counterReadNs = 25;
constexpr std::uint64_t spinPassNs = 40;
// Creating, arming, waiting on and closing one timer, on the CPU.
constexpr std::uint64_t timerCallsNs = 4'000;
constexpr std::uint64_t gridNs = 500'000;

struct Rule {
    const char* name;
    Duration wakeLatency;
};

namespace windows = tempoloom::platform::windows;
const Rule halving{"halving", Duration{}};
const Rule timerAware{"latency-aware", Duration::fromNanos(windows::timerWakeLatencyNanos)};
const Rule tickAware{
    "tick-aware",
    Duration::fromNanos(windows::fallbackWakeLatencyNanos(windows::defaultTimeIncrement))};

// The rule before and the rule after for each timer.
struct Comparison {
    const Profile* profile;
    const Rule* before;
    const Rule* after;
};
const Comparison comparisons[] = {{&desktop, &halving, &timerAware},
                                  {&hostedRunner, &halving, &timerAware},
                                  {&fallback, &timerAware, &tickAware}};

class ModelTimebase {
public:
    ModelTimebase(const Profile& profile, const Rule& rule, std::mt19937_64& random)
        : profile_(profile), rule_(rule), random_(random) {}

    void begin() { start_ = now_; }
    std::uint64_t now() const { return now_; }
    std::uint64_t cpu() const { return cpu_; }
    void work(std::uint64_t ns) {
        now_ += ns;
        cpu_ += ns;
    }
    void idle(std::uint64_t ns) { now_ += ns; }

    Duration elapsed() {
        now_ += counterReadNs;
        cpu_ += counterReadNs;
        return Duration::fromNanos(now_ - start_);
    }
    void threadSleep(const Duration& span) {
        cpu_ += timerCallsNs;
        now_ += wakeAfter(span);
    }
    Duration wakeLatency() const { return rule_.wakeLatency; }
    void spin() {
        now_ += spinPassNs;
        cpu_ += spinPassNs;
    }

private:
    std::uint64_t wakeAfter(const Duration& span) {
        const std::uint64_t request = span.seconds * tempoloom::nanosPerSecond + span.nanoseconds;
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::exponential_distribution<double> delay(1.0 / profile_.wakeDelayMeanUs);
        double ns = 0;
        if (profile_.tickNs != 0) {
            const std::uint64_t tick = profile_.tickNs;
            const std::uint64_t due =
                now_ + windows::fallbackMilliseconds(span.seconds, span.nanoseconds) * 1'000'000;
            ns = static_cast<double>((due + tick - 1) / tick * tick - now_);
        } else if (request < 1'000'000) {
            ns = static_cast<double>((request + gridNs - 1) / gridNs * gridNs);
        } else {
            ns = static_cast<double>(request) + unit(random_) * 1e6;
        }
        ns += (profile_.wakeDelayMinUs + delay(random_)) * 1e3;
        if (unit(random_) < profile_.outlierChance) {
            ns += (1.0 + 2.0 * unit(random_)) * 1e6;
        }
        return static_cast<std::uint64_t>(ns);
    }

    const Profile& profile_;
    const Rule& rule_;
    std::mt19937_64& random_;
    std::uint64_t now_ = 0;
    std::uint64_t start_ = 0;
    std::uint64_t cpu_ = 0;
};

struct Summary {
    double medianUs, p90Us, p99Us, maxUs;
    double cpu;  // µs per sleep, or the share of a core for a loop
    int early;
};

double percentile(std::vector<double>& v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

Summary summarise(std::vector<double> lateUs, double cpu, int early) {
    return {percentile(lateUs, 0.5),
            percentile(lateUs, 0.9),
            percentile(lateUs, 0.99),
            percentile(lateUs, 1.0),
            cpu,
            early};
}

// Single sleeps of `seconds`, each from a random point on the clock.
Summary sleeps(const Profile& profile, const Rule& rule, double seconds, int count) {
    std::mt19937_64 random(20261209);
    ModelTimebase timebase(profile, rule, random);
    const auto target = Duration::fromNanos(static_cast<std::uint64_t>(seconds * 1e9));
    std::vector<double> late;
    int early = 0;
    std::uniform_int_distribution<std::uint64_t> pause(0, std::max(gridNs, profile.tickNs));
    for (int i = 0; i < count; ++i) {
        timebase.idle(pause(random));
        timebase.begin();
        const std::uint64_t start = timebase.now();
        tempoloom::sleepUntilElapsed(target, timebase);
        const double overshoot = static_cast<double>(timebase.now() - start) - seconds * 1e9;
        early += overshoot < 0 ? 1 : 0;
        late.push_back(overshoot / 1e3);
    }
    const double cpuUs = static_cast<double>(timebase.cpu()) / 1e3 / count;
    return summarise(late, cpuUs, early);
}

// `next += period; sleep(next - now)`, with `bodyNs` of work in each tick.
Summary loop(const Profile& profile, const Rule& rule, std::uint64_t periodNs, int ticks) {
    constexpr std::uint64_t bodyNs = 20'000;
    std::mt19937_64 random(20261210);
    ModelTimebase timebase(profile, rule, random);
    std::uint64_t next = timebase.now();
    std::vector<double> late;
    int early = 0;
    for (int i = 0; i < ticks; ++i) {
        timebase.work(bodyNs);
        next += periodNs;
        if (timebase.now() < next) {
            timebase.begin();
            tempoloom::sleepUntilElapsed(Duration::fromNanos(next - timebase.now()), timebase);
        }
        early += timebase.now() < next ? 1 : 0;
        late.push_back(static_cast<double>(timebase.now() - next) / 1e3);
    }
    const double share = static_cast<double>(timebase.cpu()) / static_cast<double>(timebase.now());
    return summarise(late, share, early);
}

struct LoopRate {
    const char* name;
    std::uint64_t periodNs;
    int ticks;
};

constexpr LoopRate loopRates[] = {{"1 kHz", 1'000'000, 5000}, {"100 Hz", 10'000'000, 1000}};

}  // namespace

int main() {
    int early = 0;
    std::printf("| timer | t | rule | median | p90 | p99 | max | CPU per sleep |\n");
    std::printf("|---|---|---|---:|---:|---:|---:|---:|\n");
    for (const Comparison& c : comparisons) {
        for (double ms : {0.1, 0.5, 1.0, 5.0, 10.0, 50.0}) {
            for (const Rule* rule : {c.before, c.after}) {
                const Summary s = sleeps(*c.profile, *rule, ms / 1e3, ms >= 50 ? 400 : 2000);
                early += s.early;
                std::printf("| %s | %g ms | %s | %.1f | %.1f | %.1f | %.1f | %.0f |\n",
                            c.profile->name, ms, rule->name, s.medianUs, s.p90Us, s.p99Us, s.maxUs,
                            s.cpu);
            }
        }
    }
    std::printf("\n| timer | rate | rule | median | p90 | p99 | max | CPU share of a core |\n");
    std::printf("|---|---|---|---:|---:|---:|---:|---:|\n");
    for (const Comparison& c : comparisons) {
        for (const LoopRate& rate : loopRates) {
            for (const Rule* rule : {c.before, c.after}) {
                const Summary s = loop(*c.profile, *rule, rate.periodNs, rate.ticks);
                early += s.early;
                std::printf("| %s | %s | %s | %.1f | %.1f | %.1f | %.1f | %.1f%% |\n",
                            c.profile->name, rate.name, rule->name, s.medianUs, s.p90Us, s.p99Us,
                            s.maxUs, s.cpu * 100.0);
            }
        }
    }
    if (early != 0) {
        std::printf("\n%d modelled sleeps returned early\n", early);
        return 1;
    }
}
