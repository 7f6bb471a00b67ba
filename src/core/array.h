// Growable array: room for 16 entries at first, doubling. A pointer into it is valid only until
// the next append; keep indices across ticks.
#pragma once
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include "core/memory.h"

template <typename T>
struct Array {
  static_assert(std::is_trivially_copyable_v<T>, "Array holds plain records");
  T* items = nullptr;
  int count = 0;
  int capacity = 0;
};

template <typename T>
void array_reserve(Array<T>* a, int wanted) {
  if (wanted <= a->capacity) return;
  int cap = a->capacity ? a->capacity : 16;
  while (cap < wanted) cap *= 2;
  a->items = static_cast<T*>(xrealloc(a->items, sizeof(T) * static_cast<size_t>(cap)));
  a->capacity = cap;
}

template <typename T>
T* array_push(Array<T>* a, const T& value) {
  array_reserve(a, a->count + 1);
  a->items[a->count] = value;
  return &a->items[a->count++];
}

template <typename T>
void array_clear(Array<T>* a) { a->count = 0; }

template <typename T>
void array_free(Array<T>* a) {
  free(a->items);
  *a = Array<T>{};
}
