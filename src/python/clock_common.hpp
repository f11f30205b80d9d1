// What the two clock classes share: the instance record and its holds, the type objects
// built from each class's definition, construction, and the path of their methods.
#pragma once

#include "python/interpreter.hpp"

#include "core/borrow_flag.hpp"
#include "core/clock_state.hpp"
#include "core/sequence_count.hpp"
#include "platform/platform.hpp"
#include "python/arguments.hpp"
#include "python/boundary.hpp"

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>
#include <utility>

namespace tempoloom {

// What every instance of both clock classes and their Python subclasses holds after the
// interpreter's object header. Calls may write the header's reference counts, and changes
// the borrow flag and the count, so these come first, beside them.
struct ClockData {
    BorrowFlag borrow;      // guards state
    SequenceCount changes;  // shows reads that take no hold a change between their loads
    ClockState state;
};

// Rounded up so that the bytes in use of two clocks lie at least a cache line apart,
// wherever the allocator puts them: threads on their own clocks then never write to a line
// that another clock's calls read or write (such false sharing halved their speed).
inline constexpr std::size_t paddedSize(std::size_t inUse) noexcept {
    return (inUse + platform::cacheLineBytes - 1 + alignof(std::max_align_t) - 1) /
           alignof(std::max_align_t) * alignof(std::max_align_t);
}

#ifdef Py_TARGET_ABI3T
// The header is opaque under abi3t, and its size differs between the builds that load the
// module: MonotonicClock asks for its data after the header (a negative basicsize) and
// finds it through PyObject_GetTypeData.
inline constexpr int clockBasicSize = -static_cast<int>(paddedSize(sizeof(ClockData)));
#else
// The instance record: the header, then the data.
struct ClockObject {
    PyObject header;
    ClockData data;
};
static_assert(std::is_standard_layout_v<ClockObject>);
inline constexpr int clockBasicSize = static_cast<int>(paddedSize(sizeof(ClockObject)));
#endif

// The RuntimeErrors of a refused read and of a refused change; fixed, since callers match
// on them.
inline PendingError readRefused() {
    return PendingError::withMessage(PyExc_RuntimeError, "Already mutably borrowed");
}
inline PendingError changeRefused() {
    return PendingError::withMessage(PyExc_RuntimeError, "Already borrowed");
}

// Scoped holds on a BorrowFlag: taken at once or refused with a RuntimeError, released on
// every way out.
template <bool Exclusive>
class Hold {
public:
    static Fallible<Hold> take(BorrowFlag& flag) {
        if (Exclusive ? flag.tryExclusive() : flag.tryShared()) {
            return Hold(flag);
        }
        return failWith(Exclusive ? changeRefused() : readRefused());
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

// A read that runs no Python code takes no hold: it is refused while a change holds the
// object, then reads through the count, refused too when changes keep coming between its
// loads. It writes nothing to the object, so threads reading one clock do not pass its
// cache line back and forth, and a change is never refused because of it. A read that may
// run Python code takes the shared hold, so that code cannot change the clock under it.
template <class Read>
Fallible<double> readWithoutHold(const ClockData& clock, Read read) {
    if (!clock.borrow.heldExclusively()) {
        if (auto value = clock.changes.read([&] { return read(clock.state); })) {
            return *value;
        }
    }
    return failWith(readRefused());
}

enum class ClockClass { monotonicClock, clock };

// What a clock class is made of: names, docstring, constructor, tables.
struct ClassDefinition {
    const char* name;      // "MonotonicClock"
    const char* specName;  // "builtins.MonotonicClock": the classes name no module of their own
    const char* doc;       // a bare text signature
    newfunc construct;
    PyMethodDef* methods = nullptr;  // null when the class adds none
    PyGetSetDef* getset = nullptr;   // null when the class adds none
};

// Each in its class's file.
extern const ClassDefinition monotonicClockDefinition;
extern const ClassDefinition clockDefinition;

const ClassDefinition& classDefinition(ClockClass cls) noexcept;

// Each class's type object, built on first need and kept while the interpreter lives,
// whatever module objects come and go.
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

    // The type object once built, else null.
    PyTypeObject* built() const noexcept { return type_.load(std::memory_order_acquire); }

    // Drops the type object unreleased, once the interpreter that owned it has finalized;
    // the next get builds a new one.
    void forget() noexcept { type_.store(nullptr, std::memory_order_release); }

    explicit constexpr TypeObjectCache(ClockClass cls) noexcept : class_(cls) {}

private:
    PyTypeObject* requireSlow();
    Fallible<PyTypeObject*> build();

    ClockClass class_;
    std::atomic<PyTypeObject*> type_{nullptr};  // non-null once ready
};

#ifdef Py_TARGET_ABI3T
// How far MonotonicClock's data lies past the start of the object: the same in every
// instance of it and of its subclasses, since it follows the header of this process's
// interpreter. 0 until the first clock is asked about.
inline constinit std::atomic<std::ptrdiff_t> clockDataOffset{0};
#endif

// The data of an object that the caller has checked to be a clock, which MonotonicClock's
// type has been built to make.
inline ClockData& asClock(PyObject* object) noexcept {
#ifdef Py_TARGET_ABI3T
    // PyObject_GetTypeData once: a call on every read cost the shortest calls a few percent.
    auto* start = reinterpret_cast<char*>(object);
    std::ptrdiff_t offset = clockDataOffset.load(std::memory_order_relaxed);
    if (offset == 0) {
        // MonotonicClock defined the data; a subclass's type would name memory past it.
        PyTypeObject* definer = TypeObjectCache::of(ClockClass::monotonicClock).built();
        offset = static_cast<char*>(PyObject_GetTypeData(object, definer)) - start;
        clockDataOffset.store(offset, std::memory_order_relaxed);
    }
    return *reinterpret_cast<ClockData*>(start + offset);
#else
    return reinterpret_cast<ClockObject*>(object)->data;
#endif
}

// The RuntimeError for a wall clock that reads before 1970.
PendingError wallClockError();

// Parses (no arguments allowed), reads both clocks, then allocates an instance of type.
PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept;

// self as a clock, once checked to be an instance of cls or of a subclass.
inline Fallible<ClockData*> checkedClock(ClockClass cls, PyObject* self) {
    if (auto checked = checkInstance(self, TypeObjectCache::of(cls).require()); !checked) {
        return propagate(checked);
    }
    return &asClock(self);
}

// A float from one field of the state, read without a hold (readWithoutHold).
Fallible<OwnedRef> readField(const ClockData& clock, double ClockState::* field);

// A change of one positional parameter: parses, checks self, takes the exclusive hold and
// converts the argument (absent: `absent`), then runs body on the state with the hold still
// taken, its stores inside a window of the count.
template <class T, class Body>
PyObject* changeMethod(ClockClass cls, const ParameterList& parameters, PyObject* self,
                       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                       Fallible<T> (*convert)(BorrowedRef), T absent, Body body) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(parameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        auto clock = checkedClock(cls, self);
        if (!clock) {
            return propagate(clock);
        }
        auto hold = ExclusiveHold::take((*clock)->borrow);
        if (!hold) {
            return propagate(hold);
        }
        T value = absent;
        if (slots[0]) {
            auto converted = convertArgument(parameters.positional[0], slots[0], convert);
            if (!converted) {
                return propagate(converted);
            }
            value = *converted;
        }
        const SequenceCount::Change change((*clock)->changes);
        return body((*clock)->state, value);
    });
}

}  // namespace tempoloom
