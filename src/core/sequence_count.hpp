// SequenceCount: lets reads that take no hold tell whether a change came between their
// loads, as a sequence lock does. Writers are kept one at a time by the object's exclusive
// hold; the count only tells readers what happened while they read.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace tempoloom {

class SequenceCount {
public:
    // How often a read starts again after a change ended during it before it is refused.
    // A change's stores take tens of nanoseconds, so a second try almost always passes.
    static constexpr int readAttempts = 3;

    // One change's stores, scoped: the count is odd from construction to destruction, and
    // has grown by two once it ends, on every way out. The change stores each field with
    // release: a reader that loads one of those stores (acquire) then finds the odd count,
    // which came before it, or a later one. So no fence is needed (ThreadSanitizer follows
    // none).
    class Change {
    public:
        explicit Change(SequenceCount& count) noexcept
            : count_(count), began_(count.value_.load(std::memory_order_relaxed)) {
            count_.value_.store(began_ + 1, std::memory_order_relaxed);
        }
        Change(const Change&) = delete;
        Change& operator=(const Change&) = delete;
        // A reader that loads this count sees every store of the change.
        ~Change() { count_.value_.store(began_ + 2, std::memory_order_release); }

    private:
        SequenceCount& count_;
        std::uint64_t began_;
    };

    // What read() returns, unless a change was writing when the read began, or changes
    // came between its loads on every attempt. read must load what a change stores with
    // acquire and write nothing: it may run on half-changed values, which are thrown away.
    template <class Read>
    std::optional<std::invoke_result_t<Read&>> read(Read read) const {
        for (int attempt = 0; attempt < readAttempts; ++attempt) {
            // Acquire: read() runs after it and sees every store of the change that made
            // this count.
            const std::uint64_t began = value_.load(std::memory_order_acquire);
            if (began % 2 != 0) {
                return std::nullopt;  // a change is writing: refused, not waited for
            }
            auto value = read();
            // read()'s acquire loads keep this load after them: if one of them saw a
            // change's store, this one sees that change's odd count or a later one.
            if (value_.load(std::memory_order_relaxed) == began) {
                return value;
            }
        }
        return std::nullopt;
    }

private:
    std::atomic<std::uint64_t> value_{0};
};

}  // namespace tempoloom
