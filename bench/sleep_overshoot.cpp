// The precise sleep's overshoot measured inside the wait: the counter read right after the
// wait returns, before any interpreter is involved. Prints one line per length:
// "t median_ns p99_ns max_ns early".
#include "core/sleep.hpp"
#include "core/time.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 100;
    for (double seconds : {0.0001, 0.0005, 0.001, 0.005, 0.01, 0.05}) {
        const int n = seconds >= 0.05 ? std::max(calls / 4, 10) : calls;
        std::vector<double> over;
        int early = 0;
        for (int i = 0; i < n; ++i) {
            const auto start = tempoloom::Instant::now();
            tempoloom::preciseSleep(seconds);
            const double elapsed = start.elapsed().toSeconds();
            over.push_back((elapsed - seconds) * 1e9);
            early += elapsed < seconds ? 1 : 0;
        }
        std::sort(over.begin(), over.end());
        std::printf("%g %.0f %.0f %.0f %d\n", seconds, over[over.size() / 2],
                    over[over.size() * 99 / 100], over.back(), early);
    }
}
