// Building the clock classes' type objects, once per process.
#include "module/type_cache.hpp"

#include "core/internal_fault.hpp"
#include "module/clock_object.hpp"
#include "module/type_specs.hpp"

#include <string>
#include <vector>

namespace tempoloom {

namespace {

// Constant-initialised: reading a cache costs no guard check.
constinit TypeObjectCache monotonicClockCache(ClockClass::monotonicClock);
constinit TypeObjectCache clockCache(ClockClass::clock);

}  // namespace

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
        PyExc_RuntimeError, std::string("An error occurred while initializing class ") +
                                classDefinition(class_).name);
    OwnedRef cause = OwnedRef::share(built.error().materialize());
    PyException_SetCause(error.materialize(), cause.release());
    return failWith(std::move(error));
}

Fallible<PyTypeObject*> TypeObjectCache::build() {
    const ClassDefinition& definition = classDefinition(class_);
    PyTypeObject* base = class_ == ClockClass::clock ? of(ClockClass::monotonicClock).require()
                                                     : &PyBaseObject_Type;
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

    PyType_Spec spec{definition.specName, static_cast<int>(sizeof(ClockObject)), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots.data()};
    OwnedRef made = OwnedRef::steal(PyType_FromSpec(&spec));
    if (!made) {
        return failFromInterpreter();
    }
    // Racing builders: the first store wins, the others drop theirs.
    PyTypeObject* stored = nullptr;
    auto* candidate = reinterpret_cast<PyTypeObject*>(made.get());
    if (type_.compare_exchange_strong(stored, candidate, std::memory_order_acq_rel,
                                      std::memory_order_acquire)) {
        static_cast<void>(made.release());  // kept for the life of the process
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

}  // namespace tempoloom
