// Deallocation of clock objects: they own nothing but their memory.
#include "module/clock_object.hpp"

#include "boundary/entry_frame.hpp"

namespace tempoloom {

void deallocClockObject(PyObject* object) noexcept {
    deallocEntry([object]() -> Fallible<void> {
        OwnedRef type = OwnedRef::share(reinterpret_cast<PyObject*>(Py_TYPE(object)));
        auto* free = reinterpret_cast<freefunc>(
            PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type.get()), Py_tp_free));
        if (free == nullptr) {
            raiseFault("PyBaseObject_Type should have tp_free");
        }
        free(object);
        // Every instance of a heap type owns a reference to it.
        Py_DECREF(type.get());
        return {};
    });
}

}  // namespace tempoloom
