// Per-thread attach depth and the process-wide deferred release list.
#pragma once

#include "boundary/python.hpp"

#include <cstdint>

namespace tempoloom {

// Entry frames active on this thread while it is attached; 0 while detached.
std::int64_t& attachDepth() noexcept;

// Queues a reference for release at the next attach of any thread.
void deferRelease(PyObject* object) noexcept;

// Releases every queued reference; the caller is attached.
void drainDeferredReleases() noexcept;

}  // namespace tempoloom
