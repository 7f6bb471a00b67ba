// Fuzz target for the track file readers: the first byte picks the reader, the rest is the file.
// Build from the repository root:
//   S="src/resources/stream.cpp src/resources/data.cpp src/resources/image.cpp
//      src/resources/texture.cpp src/resources/model.cpp src/core/memory.cpp src/core/console.cpp
//      src/core/options.cpp src/core/digest.cpp src/core/session.cpp src/core/random.cpp
//      src/platform/log.cpp src/platform/clock.cpp src/bike/shape.cpp"
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -DdDOUBLE \
//     fuzz/track_fuzz.cpp src/track/*.cpp $S -lz -lpng -lnettle -o track_fuzz
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/shape.h"
#include "resources/stream.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_objects.h"

namespace {

std::string folder;

void put(const std::string& name, const uint8_t* data, size_t size) {
  FILE* f = fopen((folder + name).c_str(), "wb");
  if (!f) return;
  fwrite(data, 1, size, f);
  fclose(f);
}

// A small terrain for the object readers to stand on.
void ensure_terrain() {
  if (track_terrain.heights) return;
  Terrain& t = track_terrain;
  t.size_log2 = 7;
  t.dim = 257;
  t.spacing = 2.0f;
  t.tile_size = 4.0f;
  t.extent = 512.0f;
  t.heights = static_cast<float*>(calloc(257 * 257, sizeof(float)));
  t.tile_map = static_cast<uint8_t*>(calloc(128 * 128, 1));
  t.tile_types = static_cast<TileType*>(calloc(max_tile_types, sizeof(TileType)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (folder.empty()) {
    folder = "/tmp/kv_track_fuzz_" + std::to_string(getpid()) + "/";
    mkdir(folder.c_str(), 0755);
  }
  if (size < 1) return 0;
  int kind = data[0] % 10;
  const uint8_t* body = data + 1;
  size_t n = size - 1;
  std::string path = folder + "f";
  put("f", body, n);
  switch (kind) {
    case 0:
    case 1: {
      Terrain t{};
      t.render_method = 2;
      t.tile_types = static_cast<TileType*>(calloc(max_tile_types, sizeof(TileType)));
      Stream* s = stream_open(path.c_str(), "rb");
      if (s) {
        if (kind == 0) tile_types_read_tileinfo(&t, s);
        else tile_types_read_texturelist(&t, s);
        stream_close(s);
      }
      for (int k = 0; k < t.tile_type_count; ++k) {
        friction_at(&t.tile_types[k], 30.0f);
        float a, b;
        roll_resist_at(&t.tile_types[k], 5.0f, &a, &b);
      }
      free(t.tile_types);
      break;
    }
    case 2:
      ensure_terrain();
      track_objects_init();
      timing_gates_load(path.c_str());
      for (int i = 0; i < 600; i += 7) timing_checkpoint_entry(i);
      timing_gates_free();
      track_objects_free();
      break;
    case 3:
      ensure_terrain();
      track_objects_init();
      statues_read(path.c_str());
      billboards_read(path.c_str());
      statue_bins_rebuild();
      track_objects_free();
      break;
    case 4:
      lighting_read(path.c_str());
      break;
    case 5:
      ensure_terrain();
      track_objects_init();
      cameras_read(path.c_str());
      track_objects_free();
      break;
    case 6:
      ensure_terrain();
      track_objects_init();
      flaggers_read(path.c_str());
      track_objects_free();
      break;
    case 7: {
      std::string text(reinterpret_cast<const char*>(body), n);
      shape_free(shape_parse(text.c_str(), "fuzz"));
      break;
    }
    case 8: {
      ensure_terrain();
      decals_read(&track_terrain, path.c_str());
      array_free(&track_terrain.decals);
      for (Array<int>& bin : track_terrain.decal_bins) array_free(&bin);
      break;
    }
    case 9: {
      // A whole terrain from a fuzzed terrain.hf, with the smallest companions it needs.
      put("terrain.hf", body, n);
      static const char tileinfo[] = "addtile\n";
      put("tileinfo", reinterpret_cast<const uint8_t*>(tileinfo), sizeof tileinfo - 1);
      Terrain t{};
      terrain_load(&t, folder.substr(0, folder.size() - 1).c_str(), 1);
      terrain_free(&t);
      break;
    }
  }
  return 0;
}
