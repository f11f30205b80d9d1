// Scoped holds on a BorrowFlag: taken at once or refused with a RuntimeError, released on
// every way out.
#pragma once

#include "core/borrow_flag.hpp"
#include "boundary/pending_error.hpp"

#include <utility>

namespace tempoloom {

template <bool Exclusive>
class Hold {
public:
    static Fallible<Hold> take(BorrowFlag& flag) {
        if (Exclusive ? flag.tryExclusive() : flag.tryShared()) {
            return Hold(flag);
        }
        return failWith(PendingError::withMessage(
            PyExc_RuntimeError, Exclusive ? "Already borrowed" : "Already mutably borrowed"));
    }

    Hold(Hold&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    Hold& operator=(Hold&&) = delete;
    ~Hold() {
        if (flag_ != nullptr) {
            Exclusive ? flag_->releaseExclusive() : flag_->releaseShared();
        }
    }

private:
    explicit Hold(BorrowFlag& flag) noexcept : flag_(&flag) {}
    BorrowFlag* flag_;
};

using SharedHold = Hold<false>;
using ExclusiveHold = Hold<true>;

}  // namespace tempoloom
