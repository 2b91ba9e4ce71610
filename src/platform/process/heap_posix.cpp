// glibc keeps an arena per thread that allocated while others held theirs,
// and keeps freed pages in it; other C libraries manage this themselves.
#include "platform/process/heap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void heap_limit_arenas([[maybe_unused]] int arenas) {
#if defined(__GLIBC__)
    (void)mallopt(M_ARENA_MAX, arenas);
#endif
}

void heap_release_free() {
#if defined(__GLIBC__)
    (void)malloc_trim(0);
#endif
}
