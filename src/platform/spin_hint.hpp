// The processor's spin-wait hint, executed once per pass of a busy-wait.
#pragma once

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#include <immintrin.h>
#elif defined(_MSC_VER) && defined(_M_ARM64)
#include <intrin.h>
#endif

namespace tempoloom::platform {

inline void spinHint() noexcept {
#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
    _mm_pause();
#elif defined(_MSC_VER) && defined(_M_ARM64)
    // MSVC has no inline assembly on ARM64; its intrinsic emits the same instruction.
    __yield();
#elif defined(__aarch64__) || defined(__arm__)
    asm volatile("yield" ::: "memory");
#endif
}

}  // namespace tempoloom::platform
