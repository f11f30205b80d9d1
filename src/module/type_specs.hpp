// What each clock class is made of: names, docstring, constructor, tables.
#pragma once

#include "boundary/python.hpp"
#include "module/type_cache.hpp"

namespace tempoloom {

struct ClassDefinition {
    const char* name;      // "MonotonicClock"
    const char* specName;  // "builtins.MonotonicClock": the classes name no module of their own
    const char* doc;       // a bare text signature
    newfunc construct;
    PyMethodDef* methods;  // null when the class adds none
    PyGetSetDef* getset;   // null when the class adds none
};

const ClassDefinition& classDefinition(ClockClass cls) noexcept;

}  // namespace tempoloom
