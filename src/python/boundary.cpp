// Refusing to attach where the interpreter forbids it.
#include "python/interpreter.hpp"

#include "python/boundary.hpp"

namespace tempoloom {

void EntryScope::refuseAttach(std::int64_t depth) {
    raiseFault(depth == -1
                   ? "Attaching a thread to the interpreter is prohibited while a __traverse__ "
                     "implementation is running."
                   : "Attaching a thread to the interpreter is currently prohibited.");
}

}  // namespace tempoloom
