// The Windows process heap shares one low-fragmentation heap between threads
// and decommits free pages by itself: there is nothing to tune.
#include "platform/process/heap.h"

void heap_limit_arenas(int) {}

void heap_release_free() {}
