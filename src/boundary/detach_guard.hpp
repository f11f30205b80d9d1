// DetachGuard: detaches the calling thread from the interpreter for a blocking stretch and
// attaches it again on every way out, internal faults included.
#pragma once

#include "boundary/python.hpp"

#include <cstdint>

namespace tempoloom {

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
