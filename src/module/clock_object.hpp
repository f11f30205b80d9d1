// ClockObject: the instance record of both clock classes and their Python subclasses.
#pragma once

#include "core/borrow_flag.hpp"
#include "boundary/python.hpp"
#include "core/clock_state.hpp"

namespace tempoloom {

struct ClockObject {
    PyObject header;
    ClockState state;
    BorrowFlag borrow;  // guards state
};

// The caller has checked that object is a ClockObject.
inline ClockObject& asClock(PyObject* object) noexcept {
    return *reinterpret_cast<ClockObject*>(object);
}

// Releases an instance of either class or a subclass.
void deallocClockObject(PyObject* object) noexcept;

}  // namespace tempoloom
