// The attach depth, the deferred release list and detaching.
#include "python/interpreter.hpp"

#include "python/thread_attach.hpp"

#include <atomic>
#include <mutex>
#include <vector>

namespace tempoloom {
namespace {

thread_local std::int64_t threadAttachDepth = 0;

struct DeferredList {
    std::mutex lock;
    std::vector<PyObject*> objects;
};

// Counts queued references, so that an attach finding none takes no lock.
std::atomic<std::size_t> deferredCount{0};

DeferredList& deferredList() {
    static DeferredList list;
    return list;
}

}  // namespace

std::int64_t& attachDepth() noexcept { return threadAttachDepth; }

void deferRelease(PyObject* object) noexcept {
    DeferredList& list = deferredList();
    std::lock_guard guard(list.lock);
    list.objects.push_back(object);
    deferredCount.fetch_add(1, std::memory_order_release);
}

void drainDeferredReleases() noexcept {
    if (deferredCount.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::vector<PyObject*> taken;
    {
        DeferredList& list = deferredList();
        std::lock_guard guard(list.lock);
        taken.swap(list.objects);
        deferredCount.fetch_sub(taken.size(), std::memory_order_relaxed);
    }
    // Released after the lock is dropped: a destructor may run Python code.
    for (PyObject* object : taken) {
        _Py_DecRef(object);
    }
}

void forgetDeferredReleases() noexcept {
    DeferredList& list = deferredList();
    std::lock_guard guard(list.lock);
    list.objects.clear();
    deferredCount.store(0, std::memory_order_release);
}

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
