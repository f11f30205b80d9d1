// Storing an entry of any calling convention in a method table.
#pragma once

#include "boundary/python.hpp"

namespace tempoloom {

template <class Function>
PyCFunction asCFunction(Function function) noexcept {
    // Through a plain function pointer type, which converts to any other without warning.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace tempoloom
