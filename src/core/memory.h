// Allocation that never returns null, and the pool of interned strings.
#pragma once
#include <cstddef>

// On failure: closes audio and the window, shows "Error" / "Out of virtual memory", exits 1.
void* xmalloc(size_t size);
void* xcalloc(size_t count, size_t size);
void* xrealloc(void* block, size_t size);
char* xstrdup(const char* text);
[[noreturn]] void out_of_memory();

// Called by out_of_memory before the message box; the front end closes audio and the window.
using ShutdownDevicesFn = void (*)();
void set_out_of_memory_hook(ShutdownDevicesFn fn);

// Equal texts give the same pointer; pooled strings live until exit. Null gives null.
const char* intern_string(const char* text);
