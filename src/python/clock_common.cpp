// Building the clock classes' type objects once per interpreter life; making and releasing
// clock objects.
#include "python/interpreter.hpp"

#include "python/clock_common.hpp"

#include <memory>
#include <string>
#include <vector>

namespace tempoloom {
namespace {

// The RuntimeError text for a wall clock that reads before 1970; fixed, since callers
// match on it.
constexpr const char* wallClockBefore1970 = "Uh oh. The system clock took a shit.";

// Constant-initialised: reading a cache costs no guard check.
constinit TypeObjectCache monotonicClockCache(ClockClass::monotonicClock);
constinit TypeObjectCache clockCache(ClockClass::clock);

// Clock objects own nothing but their memory.
void deallocClockObject(PyObject* object) noexcept {
    deallocEntry([object]() -> Fallible<void> {
        auto* free = reinterpret_cast<freefunc>(PyType_GetSlot(Py_TYPE(object), Py_tp_free));
        if (free == nullptr) {
            raiseFault("PyBaseObject_Type should have tp_free");
        }
        // Every instance of a heap type owns a reference to it: released after the memory.
        OwnedRef type = OwnedRef::steal(reinterpret_cast<PyObject*>(Py_TYPE(object)));
        free(object);
        return {};
    });
}

}  // namespace

const ClassDefinition& classDefinition(ClockClass cls) noexcept {
    return cls == ClockClass::clock ? clockDefinition : monotonicClockDefinition;
}

TypeObjectCache& TypeObjectCache::of(ClockClass cls) noexcept {
    return cls == ClockClass::clock ? clockCache : monotonicClockCache;
}

Fallible<PyTypeObject*> TypeObjectCache::get() {
    if (PyTypeObject* type = type_.load(std::memory_order_acquire)) {
        return type;
    }
    auto built = build();
    if (built) {
        return built;
    }
    PendingError error = PendingError::withMessage(
        PyExc_RuntimeError,
        std::string("An error occurred while initializing class ") + classDefinition(class_).name);
    OwnedRef cause = OwnedRef::share(built.error().materialize());
    PyException_SetCause(error.materialize(), cause.release());
    return failWith(std::move(error));
}

Fallible<PyTypeObject*> TypeObjectCache::build() {
    const ClassDefinition& definition = classDefinition(class_);
    PyTypeObject* base =
        class_ == ClockClass::clock ? of(ClockClass::monotonicClock).require() : &PyBaseObject_Type;
    std::vector<PyType_Slot> slots;
    if (definition.doc != nullptr && definition.doc[0] != '\0') {
        slots.push_back({Py_tp_doc, const_cast<char*>(definition.doc)});
    }
    slots.push_back({Py_tp_new, reinterpret_cast<void*>(definition.construct)});
    if (definition.methods != nullptr) {
        slots.push_back({Py_tp_methods, definition.methods});
    }
    if (definition.getset != nullptr) {
        slots.push_back({Py_tp_getset, definition.getset});
    }
    slots.push_back({Py_tp_base, base});
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(deallocClockObject)});
    slots.push_back({0, nullptr});

    // Clock inherits MonotonicClock's size, and under abi3t its data.
    PyType_Spec spec{.name = definition.specName,
                     .basicsize = class_ == ClockClass::clock ? 0 : clockBasicSize,
                     .itemsize = 0,
                     .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
                     .slots = slots.data()};
    OwnedRef made = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!made) {
        return failFromInterpreter();
    }
    // Racing builders: the first store wins, the others drop theirs.
    PyTypeObject* stored = nullptr;
    auto* candidate = reinterpret_cast<PyTypeObject*>(made.get());
    if (type_.compare_exchange_strong(stored, candidate, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
        static_cast<void>(made.release());  // kept until the interpreter finalizes
        return candidate;
    }
    return stored;
}

PyTypeObject* TypeObjectCache::requireSlow() {
    auto type = get();
    if (type) {
        return *type;
    }
    std::move(type.error()).restore();
    PyErr_WriteUnraisable(nullptr);
    raiseFault(std::string("failed to create type object for `") + classDefinition(class_).name +
               "`");
}

Fallible<OwnedRef> readField(const ClockData& clock, double ClockState::* field) {
    auto value = readWithoutHold(
        clock, [field](const ClockState& state) { return ClockState::load(state.*field); });
    if (!value) {
        return propagate(value);
    }
    return requireObject(PyFloat_FromDouble(*value));
}

PendingError wallClockError() {
    return PendingError::withMessage(PyExc_RuntimeError, wallClockBefore1970);
}

PyObject* constructClock(const ParameterList& parameters, PyTypeObject* type, PyObject* args,
                         PyObject* kwargs) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        if (auto parsed = parseTupleDict(parameters, args, kwargs, {}); !parsed) {
            return propagate(parsed);
        }
        // Both readings are taken before anything is allocated.
        const auto state = ClockState::start();
        if (!state) {
            return failWith(wallClockError());
        }
        // object.__new__, read through PyType_GetSlot: the stable ABI hides the type's fields.
        // args is empty: the parser refused every argument.
        auto* objectNew = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
        OwnedRef object = OwnedRef::steal(objectNew(type, args, nullptr));
        if (!object) {
            return failFromInterpreter();
        }
        ClockData& clock = asClock(object.get());
        clock.state = *state;
        std::construct_at(&clock.borrow);
        std::construct_at(&clock.changes);
        return object;
    });
}

}  // namespace tempoloom
