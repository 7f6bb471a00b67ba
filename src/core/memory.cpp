// xmalloc and friends, which end the program cleanly when memory runs out, and interned strings.
#include "core/memory.h"

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "platform/log.h"

namespace {
ShutdownDevicesFn shutdown_devices = nullptr;
}

void set_out_of_memory_hook(ShutdownDevicesFn fn) { shutdown_devices = fn; }

void out_of_memory() {
  // Close audio and the window first so the message box is not hidden behind a full-screen mode.
  ShutdownDevicesFn fn = shutdown_devices;
  shutdown_devices = nullptr;
  if (fn) fn();
  velk_message_box("Error", "Out of virtual memory");
  exit(1);
}

void* xmalloc(size_t size) {
  void* p = malloc(size ? size : 1);
  if (!p) out_of_memory();
  return p;
}

void* xcalloc(size_t count, size_t size) {
  void* p = calloc(count ? count : 1, size ? size : 1);
  if (!p) out_of_memory();
  return p;
}

void* xrealloc(void* block, size_t size) {
  void* p = realloc(block, size ? size : 1);
  if (!p) out_of_memory();
  return p;
}

char* xstrdup(const char* text) {
  size_t n = strlen(text) + 1;
  char* p = static_cast<char*>(xmalloc(n));
  memcpy(p, text, n);
  return p;
}

const char* intern_string(const char* text) {
  if (!text) return nullptr;
  // The pool owns copies that live until exit; the set's keys view those copies.
  static std::unordered_set<std::string_view>* pool = new std::unordered_set<std::string_view>();
  auto it = pool->find(std::string_view(text));
  if (it != pool->end()) return it->data();
  char* copy = xstrdup(text);
  pool->insert(std::string_view(copy));
  return copy;
}
