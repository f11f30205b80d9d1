// The sequence count: what a read returns around changes.
#include "core/sequence_count.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tempoloom {
namespace {

TEST(SequenceCount, ReadsAgainAfterAChangeAndIsRefusedDuringOne) {
    SequenceCount count;
    int calls = 0;
    // A change that begins and ends inside the read: the first result is thrown away.
    auto value = count.read([&] {
        if (++calls == 1) {
            const SequenceCount::Change change(count);
        }
        return calls;
    });
    EXPECT_EQ(value, 2);
    // Changes on every attempt: refused after the last, never looping on.
    calls = 0;
    EXPECT_FALSE(count.read([&] {
        const SequenceCount::Change change(count);
        return ++calls;
    }));
    EXPECT_EQ(calls, SequenceCount::readAttempts);
    // A change in progress: refused at once, without a read.
    calls = 0;
    {
        const SequenceCount::Change change(count);
        EXPECT_FALSE(count.read([&] { return ++calls; }));
    }
    EXPECT_EQ(calls, 0);
    // A change left by an exception still ends.
    try {
        const SequenceCount::Change change(count);
        throw std::runtime_error("fault");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(count.read([] { return 7; }), 7);
}

}  // namespace
}  // namespace tempoloom
