// Native memory exhaustion ends the process with a message instead of unwinding. These
// replacements stay inside the module's library: it exports nothing but its init function.
#include "python/interpreter.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void allocationFailed(std::size_t size) noexcept {
    std::fprintf(stderr, "memory allocation of %zu bytes failed\n", size);
    std::fflush(stderr);
    std::abort();
}

void* allocate(std::size_t size) noexcept {
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr) {
        allocationFailed(size);
    }
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
