// Fuzz target for the ".vm" model reader, with tangents and bone weights computed as at load.
// Build from the repository root (the image target the same way, with its own two files):
//   S="src/resources/stream.cpp src/resources/data.cpp src/core/memory.cpp src/core/console.cpp
//      src/core/options.cpp src/core/digest.cpp src/core/session.cpp src/platform/log.cpp
//      src/platform/clock.cpp"
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -DdDOUBLE \
//     fuzz/model_fuzz.cpp src/resources/model.cpp $S -lz -lpng -lnettle -o model_fuzz
//   clang++ ... fuzz/image_fuzz.cpp src/resources/image.cpp $S ... -o image_fuzz
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "resources/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char path[64];
  if (!path[0]) snprintf(path, sizeof path, "/tmp/kv_model_fuzz_%d", int(getpid()));
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  model_free(model_read(path));
  return 0;
}
