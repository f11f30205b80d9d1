// The precise sleep on the real counter: never early, and faults for what it cannot wait.
#include "core/sleep.hpp"

#include "core/internal_fault.hpp"
#include "core/time.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace tempoloom {
namespace {

TEST(PreciseSleep, NeverReturnsEarly) {
    for (double seconds : {0.0001, 0.0002, 0.0003, 0.001, 0.01}) {
        for (int i = 0; i < 5; ++i) {
            const Instant start = Instant::now();
            preciseSleep(seconds);
            const Duration elapsed = start.elapsed();
            EXPECT_GE(elapsed.toSeconds(), seconds);
            EXPECT_LT(elapsed.toSeconds(), seconds + 0.5);
        }
    }
}

TEST(PreciseSleep, ReturnsAtOnceForNothingToWait) {
    const Instant start = Instant::now();
    for (double seconds : {0.0, -0.0, -1.0, -std::numeric_limits<double>::infinity(), 1e-10}) {
        preciseSleep(seconds);
    }
    EXPECT_LT(start.elapsed().toSeconds(), 0.1);
}

TEST(PreciseSleep, UnconvertibleSecondsAreFaults) {
    for (double seconds : {std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity(), 18446744073709551616.0}) {
        try {
            preciseSleep(seconds);
            ADD_FAILURE() << seconds;
        } catch (const InternalFault& fault) {
            EXPECT_EQ(fault.message(),
                      "cannot convert float seconds to Duration: value is either too big or NaN");
        }
    }
}

}  // namespace
}  // namespace tempoloom
