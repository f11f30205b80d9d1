// Deallocation of clock objects: they own nothing but their memory.
#include "module/clock_object.hpp"

#include "boundary/entry_frame.hpp"

namespace tempoloom {

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

}  // namespace tempoloom
