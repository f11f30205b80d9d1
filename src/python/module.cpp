// The module: its functions sleep and sleepers, its definition, its exported
// initialisation function and its execution step.
#include "python/interpreter.hpp"

#include "core/sleep.hpp"
#include "python/clock_common.hpp"

#include <atomic>
#include <cstdint>

namespace tempoloom {
namespace {

constexpr std::array<std::string_view, 1> tName{"t"};
constexpr ParameterList sleepParameters{
    .functionName = "sleep", .positional = tName, .required = 1};
constexpr ParameterList sleepersParameters{
    .functionName = "sleepers", .positional = tName, .required = 1};

// sleep and sleepers: one operation under two names, differing only in their messages.
PyObject* sleepCall(const ParameterList& parameters, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
    return objectEntry([&]() -> Fallible<OwnedRef> {
        std::array<BorrowedRef, 1> slots{};
        if (auto parsed = parseVector(parameters, args, nargs, kwnames, slots); !parsed) {
            return propagate(parsed);
        }
        auto seconds = convertArgument("t", slots[0], argToDouble);
        if (!seconds) {
            return propagate(seconds);
        }
        {
            // Detached for the whole wait, even one of no length.
            DetachGuard detached;
            preciseSleep(*seconds);
        }
        return OwnedRef::steal(newNone());
    });
}

PyObject* sleepEntry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return sleepCall(sleepParameters, args, nargs, kwnames);
}

PyObject* sleepersEntry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
    return sleepCall(sleepersParameters, args, nargs, kwnames);
}

Fallible<void> addToModule(PyObject* module, PyObject* name, PyObject* value) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        auto error = PendingError::fetchOrSystemError();
        if (!PyErr_GivenExceptionMatches(error.materialize(), PyExc_AttributeError)) {
            return failWith(std::move(error));
        }
        all = requireObject(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) {
            return failFromInterpreter();
        }
    } else if (!PyList_Check(all.get())) {
        return failWith(PendingError::typeMismatch(all.get(), &PyList_Type));
    }
    if (PyList_Append(all.get(), name) != 0) {
        raiseFault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name, value) != 0) {
        return failFromInterpreter();
    }
    return {};
}

// Consumes function; the module keeps its own reference through the attribute.
Fallible<void> addFunction(PyObject* module, OwnedRef function) {
    OwnedRef name = OwnedRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        return failFromInterpreter();
    }
    if (!PyUnicode_Check(name.get())) {
        return failWith(PendingError::typeMismatch(name.get(), &PyUnicode_Type));
    }
    return addToModule(module, name.get(), function.get());
}

// The module's functions. METH_STATIC: the interpreter passes no self and shows
// __self__ as None.
PyMethodDef sleepersDefinition{"sleepers", asCFunction(sleepersEntry),
                               METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "sleepers(t)\n--\n\n"};
PyMethodDef sleepDefinition{"sleep", asCFunction(sleepEntry),
                            METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "sleep(t)\n--\n\n"};

Fallible<void> addClass(PyObject* module, ClockClass cls) {
    auto type = TypeObjectCache::of(cls).get();
    if (!type) {
        return propagate(type);
    }
    OwnedRef name = requireObject(PyUnicode_FromString(classDefinition(cls).name));
    return addToModule(module, name.get(), reinterpret_cast<PyObject*>(*type));
}

// The type objects, the PanicException type and the deferred releases outlive every module
// object, but not the interpreter: an application that embeds it may finalize it and start
// it again, and they would then point into the freed one. They are dropped when it
// finalizes and made again by the next import.
std::atomic<bool> forgetRegistered{false};

// Runs after the interpreter has finalized, when no API may be called: it only drops
// pointers, and arms the next import to register it again.
void forgetInterpreterObjects() noexcept {
    TypeObjectCache::of(ClockClass::clock).forget();
    TypeObjectCache::of(ClockClass::monotonicClock).forget();
    forgetPanicExceptionType();
    forgetDeferredReleases();
    forgetRegistered.store(false, std::memory_order_release);
}

// Once per interpreter life, not per import: the interpreter has room for 32 such
// callbacks. Without one the import fails rather than leave the pointers to dangle.
// No lock: a thread parked at finalization, or absent in a fork's child, would keep it
// locked for good. Racing first imports may both register; the callback runs twice then,
// which is harmless.
Fallible<void> forgetAtFinalization() {
    if (forgetRegistered.load(std::memory_order_acquire)) {
        return {};
    }
    // A racing first import may have taken the last place with the same callback; then the
    // failure is none. (Caught between its registration and its flag, this one still fails:
    // all 32 places taken and a race at once, and a retry succeeds.)
    if (Py_AtExit(forgetInterpreterObjects) != 0 &&
        !forgetRegistered.load(std::memory_order_acquire)) {
        return failWith(PendingError::withMessage(
            PyExc_RuntimeError,
            "tempoloom cannot register its clean-up for interpreter finalization: the "
            "interpreter's 32 places for such callbacks are taken"));
    }
    forgetRegistered.store(true, std::memory_order_release);
    return {};
}

// The type objects and the PanicException type are made by the first import and shared by
// every module object after it: a subinterpreter must neither make them nor use them. The
// free-threaded build refuses it through the slot below already; a legacy subinterpreter of
// the default build skips that check and comes here.
Fallible<void> refuseSubinterpreters() {
    // The main interpreter's ID is 0; PyInterpreterState_Main is not in the stable ABI.
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id < 0) {
        return failFromInterpreter();
    }
    if (id != 0) {
        return failWith(PendingError::withMessage(
            PyExc_ImportError,
            "module tempoloom does not support loading in subinterpreters; import it in the "
            "main interpreter"));
    }
    return {};
}

Fallible<void> execModule(PyObject* module) {
    if (module == nullptr) {
        return failFromInterpreter();
    }
    if (!PyModule_Check(module)) {
        return failWith(PendingError::typeMismatch(module, &PyModule_Type));
    }
    if (auto refused = refuseSubinterpreters(); !refused) {
        return refused;
    }
    if (auto registered = forgetAtFinalization(); !registered) {
        return registered;
    }
    for (PyMethodDef* definition : {&sleepersDefinition, &sleepDefinition}) {
        OwnedRef moduleName = OwnedRef::steal(PyModule_GetNameObject(module));
        if (!moduleName) {
            return failFromInterpreter();
        }
        OwnedRef function =
            OwnedRef::steal(PyCMethod_New(definition, module, moduleName.get(), nullptr));
        if (!function) {
            return failFromInterpreter();
        }
        // A failure to bind a function is dropped: the import goes on without it.
        static_cast<void>(addFunction(module, std::move(function)));
    }
    for (ClockClass cls : {ClockClass::monotonicClock, ClockClass::clock}) {
        if (auto added = addClass(module, cls); !added) {
            return added;
        }
    }
    return {};
}

int execEntry(PyObject* module) noexcept {
    return intEntry([module] { return execModule(module); });
}

constexpr const char* moduleDoc =
    "Precise timing for free-threaded Python: monotonic clocks and a sleep that thread-sleeps "
    "for most of the wait and spins only at its end: for at most 200 microseconds on Linux and "
    "macOS, about a millisecond on Windows, and up to about 18 ms (a system tick and 2 ms) on a "
    "Windows without the high-resolution timer.";

#ifdef Py_TARGET_ABI3T
// abi3t has no PyModuleDef: the interpreter reads the module from this array, which it
// may keep without a copy (all static). The abi slot lets it refuse a build it cannot load.
PyABIInfo_VAR(abiInfo);
PySlot moduleSlots[] = {
    PySlot_PTR_STATIC(Py_mod_abi, &abiInfo),
    PySlot_PTR_STATIC(Py_mod_name, "tempoloom"),
    PySlot_PTR_STATIC(Py_mod_doc, moduleDoc),
    PySlot_PTR(Py_mod_exec, execEntry),
    PySlot_PTR(Py_mod_gil, Py_MOD_GIL_NOT_USED),
    // As below.
    PySlot_PTR(Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED),
    {},  // the end
};
#else
// The stable ABI of 3.11 has neither of the later slots, and a 3.11 interpreter refuses a
// module naming a slot it does not know. Their values tell: the headers define them only
// from the version that added the slot, in the limited API too, where 3.15's define the
// slots' numbers always. Without the second slot, a subinterpreter with a GIL of its own
// still refuses the module, which does not declare that it supports one, and execModule
// refuses the others.
PyModuleDef_Slot moduleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execEntry)},
#ifdef Py_MOD_GIL_NOT_USED
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
#ifdef Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED
    // The type objects are shared by every module object and belong to the main
    // interpreter: a subinterpreter that used them would crash when it ends. The default
    // build lets legacy subinterpreters past this; execModule refuses them too.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef moduleDefinition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "tempoloom",
    .m_doc = moduleDoc,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = moduleSlots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};
#endif

}  // namespace
}  // namespace tempoloom

#ifdef Py_TARGET_ABI3T
PyMODEXPORT_FUNC PyModExport_tempoloom() { return tempoloom::moduleSlots; }
#else
PyMODINIT_FUNC PyInit_tempoloom() { return PyModuleDef_Init(&tempoloom::moduleDefinition); }
#endif
