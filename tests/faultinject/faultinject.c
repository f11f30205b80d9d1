/*
 * Fault injection for the module's time calls, loaded with LD_PRELOAD.
 *
 * Wraps clock_gettime and clock_nanosleep. Only calls made from code in the extension
 * module's own file, named by fi_module(), are ever faulted, so the interpreter's own
 * clock reads stay true and can measure what the module does, wherever either lives.
 * Tests steer it through ctypes with fi_set(), which arms one fault for one kind of call.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdatomic.h>
#include <string.h>
#include <time.h>

enum kind { FI_REALTIME, FI_MONOTONIC, FI_NANOSLEEP, FI_KINDS };

enum mode {
    FI_OFF = 0,
    FI_FAIL = 1,    /* clock_gettime: -1 with EINVAL; clock_nanosleep: EINTR at once */
    FI_FIXED = 2,   /* clock_gettime: reads (sec, nsec) */
    FI_RECEDE = 3,  /* clock_gettime: the n-th faulted read is the true one minus n * step */
    FI_EARLY = 4,   /* clock_nanosleep: returns 0 at once, having slept nothing */
    FI_VIRTUAL = 5, /* clock_gettime: the virtual time, advanced by a ns at each read and
                       starting from b; clock_nanosleep: records the span asked for and moves
                       the virtual time to its end instead of sleeping */
};

struct plan {
    atomic_int mode;
    atomic_long skip;  /* matching calls left to pass untouched first */
    atomic_long left;  /* faulted calls left after those; negative: no limit */
    atomic_long a, b;
    atomic_long calls; /* matching calls seen while armed */
    atomic_long hits;  /* calls faulted */
};

static struct plan plans[FI_KINDS];

/* The virtual monotonic time in nanoseconds, and the spans of the virtual sleeps. */
#define FI_SPANS 256
static atomic_long virtual_now;
static atomic_long spans[FI_SPANS];

typedef int (*gettime_fn)(clockid_t, struct timespec *);
typedef int (*nanosleep_fn)(clockid_t, int, const struct timespec *, struct timespec *);

static gettime_fn real_gettime(void) {
    static _Atomic(gettime_fn) real;
    gettime_fn fn = atomic_load(&real);
    if (fn == NULL) {
        fn = (gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
        atomic_store(&real, fn);
    }
    return fn;
}

static nanosleep_fn real_nanosleep(void) {
    static _Atomic(nanosleep_fn) real;
    nanosleep_fn fn = atomic_load(&real);
    if (fn == NULL) {
        fn = (nanosleep_fn)dlsym(RTLD_NEXT, "clock_nanosleep");
        atomic_store(&real, fn);
    }
    return fn;
}

/* The load address of the module's file: set by fi_module(), read by every call. */
static _Atomic(void *) module_base;

/* Names the module by its file; returns 0 when that file is not loaded. */
int fi_module(const char *path) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == NULL) {
        return 0;
    }
    /* Its init function (abi3t: its export hook) lies in its file, whatever path the file
       was loaded by. */
    void *init = dlsym(handle, "PyInit_tempoloom");
    if (init == NULL) {
        init = dlsym(handle, "PyModExport_tempoloom");
    }
    Dl_info info;
    int found = init != NULL && dladdr(init, &info) != 0;
    if (found) {
        atomic_store(&module_base, info.dli_fbase);
    }
    dlclose(handle);
    return found;
}

static int from_module(const void *caller) {
    Dl_info info;
    void *base = atomic_load(&module_base);
    return base != NULL && dladdr(caller, &info) != 0 && info.dli_fbase == base;
}

/* Decides whether this call is faulted; returns its 1-based number among faulted calls. */
static long take(struct plan *plan, const void *caller) {
    if (atomic_load(&plan->mode) == FI_OFF || !from_module(caller)) {
        return 0;
    }
    atomic_fetch_add(&plan->calls, 1);
    if (atomic_fetch_sub(&plan->skip, 1) > 0) {
        return 0;
    }
    atomic_store(&plan->skip, 0);
    long left = atomic_load(&plan->left);
    if (left == 0) {
        return 0;
    }
    if (left > 0 && atomic_fetch_sub(&plan->left, 1) <= 0) {
        atomic_store(&plan->left, 0);
        return 0;
    }
    return atomic_fetch_add(&plan->hits, 1) + 1;
}

int clock_gettime(clockid_t id, struct timespec *ts) {
    struct plan *plan = id == CLOCK_REALTIME ? &plans[FI_REALTIME]
                        : id == CLOCK_MONOTONIC ? &plans[FI_MONOTONIC]
                                                : NULL;
    long n = plan ? take(plan, __builtin_return_address(0)) : 0;
    if (n == 0) {
        return real_gettime()(id, ts);
    }
    switch (atomic_load(&plan->mode)) {
        case FI_FIXED:
            ts->tv_sec = atomic_load(&plan->a);
            ts->tv_nsec = atomic_load(&plan->b);
            return 0;
        case FI_RECEDE: {
            int rc = real_gettime()(id, ts);
            long long ns = (long long)ts->tv_sec * 1000000000LL + ts->tv_nsec -
                           (long long)n * atomic_load(&plan->a);
            ts->tv_sec = ns / 1000000000LL;
            ts->tv_nsec = ns % 1000000000LL;
            return rc;
        }
        case FI_VIRTUAL: {
            long a = atomic_load(&plan->a);
            long ns = atomic_fetch_add(&virtual_now, a) + a;
            ts->tv_sec = ns / 1000000000L;
            ts->tv_nsec = ns % 1000000000L;
            return 0;
        }
        default:
            errno = EINVAL;
            return -1;
    }
}

int clock_nanosleep(clockid_t id, int flags, const struct timespec *request,
                    struct timespec *remain) {
    struct plan *plan = &plans[FI_NANOSLEEP];
    long n = take(plan, __builtin_return_address(0));
    if (n == 0) {
        return real_nanosleep()(id, flags, request, remain);
    }
    switch (atomic_load(&plan->mode)) {
        case FI_EARLY:
            return 0;
        case FI_VIRTUAL: {
            long now = atomic_load(&virtual_now);
            long end = request->tv_sec * 1000000000L + request->tv_nsec;
            if ((flags & TIMER_ABSTIME) == 0) {
                end += now;
            }
            if (n <= FI_SPANS) {
                atomic_store(&spans[n - 1], end - now);
            }
            if (end > now) {
                atomic_store(&virtual_now, end);
            }
            return 0;
        }
        default:
            return EINTR;
    }
}

/* Arms one fault: `skip` matching calls pass, then `count` are faulted (negative: all). */
void fi_set(int kind, int mode, long skip, long count, long a, long b) {
    struct plan *plan = &plans[kind];
    atomic_store(&plan->mode, FI_OFF);
    atomic_store(&plan->skip, skip);
    atomic_store(&plan->left, count);
    atomic_store(&plan->a, a);
    atomic_store(&plan->b, b);
    atomic_store(&plan->calls, 0);
    atomic_store(&plan->hits, 0);
    if (kind == FI_MONOTONIC && mode == FI_VIRTUAL) {
        atomic_store(&virtual_now, b);
    }
    atomic_store(&plan->mode, mode);
}

void fi_off(int kind) { atomic_store(&plans[kind].mode, FI_OFF); }

long fi_calls(int kind) { return atomic_load(&plans[kind].calls); }

long fi_hits(int kind) { return atomic_load(&plans[kind].hits); }

long fi_virtual_now(void) { return atomic_load(&virtual_now); }

/* The span of the i-th virtual sleep (0-based) since FI_VIRTUAL was armed for sleeps. */
long fi_span(long i) { return i >= 0 && i < FI_SPANS ? atomic_load(&spans[i]) : -1; }
