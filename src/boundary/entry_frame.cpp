// The one out-of-line piece of the entry frame.
#include "boundary/entry_frame.hpp"

namespace tempoloom {

void EntryScope::refuseAttach(std::int64_t depth) {
    raiseFault(depth == -1
                   ? "Attaching a thread to the interpreter is prohibited while a __traverse__ "
                     "implementation is running."
                   : "Attaching a thread to the interpreter is currently prohibited.");
}

}  // namespace tempoloom
