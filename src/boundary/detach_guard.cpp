// Detaching and re-attaching the calling thread.
#include "boundary/detach_guard.hpp"

#include "boundary/attach.hpp"

namespace tempoloom {

DetachGuard::DetachGuard() noexcept : savedDepth_(attachDepth()) {
    attachDepth() = 0;
    threadState_ = PyEval_SaveThread();
}

DetachGuard::~DetachGuard() {
    attachDepth() = savedDepth_;
    PyEval_RestoreThread(threadState_);
    drainDeferredReleases();
}

}  // namespace tempoloom
