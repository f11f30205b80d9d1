// The method and attribute tables and docstrings of the clock classes.
#include "module/type_specs.hpp"

#include "clock/entries.hpp"
#include "module/c_function.hpp"

namespace tempoloom {
namespace {

PyMethodDef monotonicClockMethods[] = {
    {"getTime", asCFunction(getTimeEntry), METH_FASTCALL | METH_KEYWORDS,
     "getTime($self, applyZero=True)\n--\n\n"},
    {"getLastResetTime", asCFunction(getLastResetTimeEntry), METH_NOARGS,
     "getLastResetTime($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef monotonicClockAttributes[] = {
    {"_timeAtLastReset", timeAtLastResetGetter, nullptr, "", nullptr},
    {"_epochTimeAtLastReset", epochTimeAtLastResetGetter, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const ClassDefinition monotonicClock{
    "MonotonicClock",          "builtins.MonotonicClock", "MonotonicClock()\n--\n\n",
    monotonicClockNew,         monotonicClockMethods,     monotonicClockAttributes,
};

PyMethodDef clockMethods[] = {
    {"reset", asCFunction(resetEntry), METH_FASTCALL | METH_KEYWORDS,
     "reset($self, newT=0)\n--\n\n"},
    {"addTime", asCFunction(addTimeEntry), METH_FASTCALL | METH_KEYWORDS,
     "addTime($self, t)\n--\n\n"},
    {"add", asCFunction(addEntry), METH_FASTCALL | METH_KEYWORDS, "add($self, t)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

const ClassDefinition clock{
    "Clock", "builtins.Clock", "Clock()\n--\n\n", clockNew, clockMethods, nullptr,
};

}  // namespace

const ClassDefinition& classDefinition(ClockClass cls) noexcept {
    return cls == ClockClass::clock ? clock : monotonicClock;
}

}  // namespace tempoloom
