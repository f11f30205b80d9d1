// Linked into the module when it carries the C++ runtime (libstdc++.a) inside it. That
// archive, when built against glibc 2.32 or newer, reads glibc's __libc_single_threaded to
// skip atomic operations; importing it from glibc would make the module refuse to load on
// an older glibc than the build machine's. This private copy stays 0: the runtime inside
// the module always takes the atomic path, which is right whatever the process does.
#include <cstdlib>

#if defined(__GLIBC__)
extern "C" {
[[gnu::visibility("hidden")]] char __libc_single_threaded = 0;
}
#endif
