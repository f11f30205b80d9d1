// TypeObjectCache: each class's type object, built on first need and kept for the life of
// the process, whatever module objects come and go.
#pragma once

#include "boundary/pending_error.hpp"

#include <atomic>

namespace tempoloom {

enum class ClockClass { monotonicClock, clock };

class TypeObjectCache {
public:
    static TypeObjectCache& of(ClockClass cls) noexcept;

    // The type object (borrowed; the cache owns it), building it when needed.
    Fallible<PyTypeObject*> get();

    // As get, with a failure reported to the unraisable hook and raised as a fault.
    PyTypeObject* require() {
        if (PyTypeObject* type = type_.load(std::memory_order_acquire)) {
            return type;
        }
        return requireSlow();
    }

    explicit constexpr TypeObjectCache(ClockClass cls) noexcept : class_(cls) {}

private:
    PyTypeObject* requireSlow();
    Fallible<PyTypeObject*> build();

    ClockClass class_;
    std::atomic<PyTypeObject*> type_{nullptr};  // non-null once ready
};

}  // namespace tempoloom
