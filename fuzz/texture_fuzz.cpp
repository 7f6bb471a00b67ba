// Fuzz target for texture loading by name: the first-word dispatch, animations and links.
// Built like model_fuzz.cpp, with src/resources/{texture,image}.cpp.
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "resources/texture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static char path[64];
  if (!path[0]) snprintf(path, sizeof path, "/tmp/kv_texture_fuzz_%d", int(getpid()));
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(data, 1, size, f);
  fclose(f);
  const TextureId id = texture_load(path);
  texture_anim_restart(id, 0);
  for (int tick = 0; tick < 64; tick += 7) texture_anim_update(tick);
  texture_reset_for_tests();
  return 0;
}
