// The method and attribute tables and docstrings of the clock classes.
#include "module/type_specs.hpp"

#include "clock/entries.hpp"

namespace tempoloom {
namespace {

template <class Function>
PyCFunction asCFunction(Function function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

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

}  // namespace

const ClassDefinition& classDefinition(ClockClass) noexcept { return monotonicClock; }

}  // namespace tempoloom
