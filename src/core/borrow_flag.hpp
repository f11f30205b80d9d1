// BorrowFlag: the per-object access guard. Many readers or one writer; never waits.
#pragma once

#include <atomic>
#include <cstdint>

namespace tempoloom {

class BorrowFlag {
public:
    static constexpr std::int64_t free = 0;
    static constexpr std::int64_t exclusive = -1;

    // Takes one more shared hold unless a writer holds the object.
    bool tryShared() noexcept {
        std::int64_t seen = word_.load(std::memory_order_relaxed);
        do {
            if (seen == exclusive) {
                return false;
            }
        } while (!word_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                              std::memory_order_relaxed));
        return true;
    }

    void releaseShared() noexcept { word_.fetch_sub(1, std::memory_order_release); }

    // Takes the exclusive hold only when nobody holds the object.
    bool tryExclusive() noexcept {
        std::int64_t expected = free;
        return word_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire,
                                             std::memory_order_relaxed);
    }

    void releaseExclusive() noexcept { word_.store(free, std::memory_order_release); }

    // For readers that take no hold: true while a writer holds the object. Writes nothing,
    // so threads that read one object never contend for its line. The acquire pairs with
    // releaseExclusive: a reader that sees a change ended sees every store it made.
    bool heldExclusively() const noexcept {
        return word_.load(std::memory_order_acquire) == exclusive;
    }

    std::int64_t state() const noexcept { return word_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> word_{free};
};

}  // namespace tempoloom
