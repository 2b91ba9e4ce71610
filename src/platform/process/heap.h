// The C library's heap, where a long-running process can tune it. Both calls
// are hints: where the library offers no such control they do nothing.
#pragma once

// Caps the number of malloc arenas; threads made later share them.
void heap_limit_arenas(int arenas);
// Hands the heap's free pages back to the system.
void heap_release_free();
