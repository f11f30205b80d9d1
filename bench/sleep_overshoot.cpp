// The precise sleep's overshoot measured inside the wait: the counter read right after the
// wait returns, before any interpreter is involved. Prints one line per length:
// "t median_ns p90_ns p99_ns max_ns early", or with "samples" after the count,
// "t overshoot_ns..." with every call's figure, for bench/inside_wait.py to pool.
#include "core/sleep.hpp"
#include "core/time.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(std::atoi(argv[1]), 1) : 100;
    const bool samples = argc > 2 && std::string_view(argv[2]) == "samples";
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
        if (samples) {
            std::printf("%g", seconds);
            for (double value : over) {
                std::printf(" %.0f", value);
            }
            std::printf("\n");
            continue;
        }
        std::sort(over.begin(), over.end());
        std::printf("%g %.0f %.0f %.0f %.0f %d\n", seconds, over[over.size() / 2],
                    over[over.size() * 90 / 100], over[over.size() * 99 / 100], over.back(), early);
    }
}
