// The module definition, its exported initialisation function and its execution step.
#include "boundary/conversions.hpp"
#include "boundary/entry_frame.hpp"
#include "module/c_function.hpp"
#include "module/type_cache.hpp"
#include "module/type_specs.hpp"
#include "sleep/entries.hpp"

namespace tempoloom {
namespace {

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

Fallible<void> execModule(PyObject* module) {
    if (module == nullptr) {
        return failFromInterpreter();
    }
    if (!PyModule_Check(module)) {
        return failWith(PendingError::typeMismatch(module, &PyModule_Type));
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

PyModuleDef_Slot moduleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execEntry)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    // The type objects are process-wide and belong to the interpreter that made them: a
    // subinterpreter that used them would crash when it ends.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef moduleDefinition = {
    PyModuleDef_HEAD_INIT,
    "tempoloom",
    "Precise timing for free-threaded Python: monotonic clocks and a sleep that spins "
    "only for its last 200 microseconds.",
    0,
    nullptr,
    moduleSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tempoloom

PyMODINIT_FUNC PyInit_tempoloom() { return PyModuleDef_Init(&tempoloom::moduleDefinition); }
