// Whether this thread is attached to the interpreter: the attach depth, references whose
// release waits for an attach, and detaching for a blocking stretch.
#pragma once

#include "python/interpreter.hpp"

#include <cstdint>

namespace tempoloom {

// Entry frames active on this thread while it is attached; 0 while detached. Negative
// marks a thread that may not attach at all.
std::int64_t& attachDepth() noexcept;

// Queues a reference for release at the next attach of any thread.
void deferRelease(PyObject* object) noexcept;

// Releases every queued reference; the caller is attached.
void drainDeferredReleases() noexcept;

// Drops every queued reference unreleased, once the interpreter has finalized.
void forgetDeferredReleases() noexcept;

// Detaches the calling thread from the interpreter for a blocking stretch and attaches it
// again on every way out, internal faults included.
class DetachGuard {
public:
    DetachGuard() noexcept;
    // Re-attaching may never return during interpreter finalization; nothing after it
    // may fail.
    ~DetachGuard();
    DetachGuard(const DetachGuard&) = delete;
    DetachGuard& operator=(const DetachGuard&) = delete;

private:
    std::int64_t savedDepth_;
    PyThreadState* threadState_;
};

}  // namespace tempoloom
