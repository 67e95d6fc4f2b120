/* LD_PRELOAD shim for sanitizer runs: clears RTLD_DEEPBIND from dlopen flags.
 *
 * AddressSanitizer aborts the process when a library is opened with RTLD_DEEPBIND (a library
 * that binds to its own symbols first would bypass the sanitizer's malloc and friends). CasADi
 * opens its solver plug-ins that way, so without this shim the first Ipopt solve ends the run.
 * Dropping the flag only changes symbol lookup order inside the plug-in, which the sanitizer
 * needs anyway. Load it before the sanitizer runtime (see tools/build_no_deepbind.sh).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>

typedef void *(*dlopen_fn)(const char *, int);
typedef void *(*dlmopen_fn)(Lmid_t, const char *, int);

void *dlopen(const char *filename, int flags) {
    static dlopen_fn next = NULL;
    if (next == NULL) next = (dlopen_fn)dlsym(RTLD_NEXT, "dlopen");
    return next(filename, flags & ~RTLD_DEEPBIND);
}

void *dlmopen(Lmid_t lmid, const char *filename, int flags) {
    static dlmopen_fn next = NULL;
    if (next == NULL) next = (dlmopen_fn)dlsym(RTLD_NEXT, "dlmopen");
    return next(lmid, filename, flags & ~RTLD_DEEPBIND);
}
