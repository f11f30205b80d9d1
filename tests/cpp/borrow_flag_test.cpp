// The access guard's state machine, alone and under contention.
#include "core/borrow_flag.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tempoloom {
namespace {

TEST(BorrowFlag, SharedHoldsCountAndBlockTheWriter) {
    BorrowFlag flag;
    EXPECT_EQ(flag.state(), 0);
    EXPECT_TRUE(flag.tryShared());
    EXPECT_TRUE(flag.tryShared());
    EXPECT_EQ(flag.state(), 2);
    EXPECT_FALSE(flag.heldExclusively());
    EXPECT_FALSE(flag.tryExclusive());
    EXPECT_EQ(flag.state(), 2);
    flag.releaseShared();
    EXPECT_FALSE(flag.tryExclusive());
    flag.releaseShared();
    EXPECT_EQ(flag.state(), 0);
    EXPECT_TRUE(flag.tryExclusive());
}

TEST(BorrowFlag, ExclusiveHoldRefusesEveryone) {
    BorrowFlag flag;
    EXPECT_FALSE(flag.heldExclusively());
    ASSERT_TRUE(flag.tryExclusive());
    EXPECT_EQ(flag.state(), -1);
    EXPECT_TRUE(flag.heldExclusively());
    EXPECT_FALSE(flag.tryShared());
    EXPECT_FALSE(flag.tryExclusive());
    EXPECT_EQ(flag.state(), -1);
    flag.releaseExclusive();
    EXPECT_EQ(flag.state(), 0);
    EXPECT_FALSE(flag.heldExclusively());
    EXPECT_TRUE(flag.tryShared());
}

// Writers that got in never overlap anyone; every hold is returned.
TEST(BorrowFlag, ContendedHoldsNeverOverlapAWriter) {
    BorrowFlag flag;
    std::atomic<int> readers{0};
    std::atomic<int> writers{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20'000; ++i) {
                if ((i + t) % 3 == 0) {
                    if (flag.tryExclusive()) {
                        if (writers.fetch_add(1) != 0 || readers.load() != 0) overlap = true;
                        writers.fetch_sub(1);
                        flag.releaseExclusive();
                    }
                } else if (flag.tryShared()) {
                    readers.fetch_add(1);
                    if (writers.load() != 0) overlap = true;
                    readers.fetch_sub(1);
                    flag.releaseShared();
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(flag.state(), 0);
}

}  // namespace
}  // namespace tempoloom
