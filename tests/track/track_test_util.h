// Helpers for the track tests: in-memory terrains, small track folders and console checks.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/memory.h"
#include "test_support.h"
#include "track/terrain.h"

// A terrain record with heights, a tile map of type 0 and one default tile type; no files.
inline void make_terrain(Terrain* t, int n, float spacing) {
  *t = Terrain{};
  t->size_log2 = n;
  t->dim = (1 << (n + 1)) + 1;
  t->spacing = spacing;
  t->tile_size = 2 * spacing;
  t->extent = spacing * static_cast<float>(t->dim - 1);
  t->heights = static_cast<float*>(xcalloc(static_cast<size_t>(t->dim) * t->dim, sizeof(float)));
  t->tile_map = static_cast<uint8_t*>(xcalloc(static_cast<size_t>(1) << (2 * n), 1));
  t->tile_types = static_cast<TileType*>(xcalloc(max_tile_types, sizeof(TileType)));
  tile_type_set_defaults(&t->tile_types[0]);
  t->tile_type_count = 1;
  t->last_camera_cell[0] = t->last_camera_cell[1] = -1000000;
}

inline float& height_at(Terrain* t, int c, int r) { return t->heights[r * t->dim + c]; }

// True when one of the newest console lines contains text.
inline bool console_has(const char* text, int lines = 60) {
  for (int i = 0; i < lines; ++i) {
    const char* l = console_line(i);
    if (l && strstr(l, text)) return true;
  }
  return false;
}

inline std::string hf_header(int n, float spacing, float lo, float hi) {
  char b[128];
  snprintf(b, sizeof b, "%d %f %f %f\n", n, static_cast<double>(spacing), static_cast<double>(lo),
           static_cast<double>(hi));
  return b;
}

// "terrain.hf" with the inline block of dim * dim samples, all equal to value.
inline std::string hf_inline(int n, float spacing, float lo, float hi, uint16_t value) {
  int dim = (1 << (n + 1)) + 1;
  std::string s = hf_header(n, spacing, lo, hi) + ":";
  for (int k = 0; k < dim * dim; ++k) {
    s.push_back(static_cast<char>(value & 0xFF));
    s.push_back(static_cast<char>(value >> 8));
  }
  return s;
}

inline std::string ppm(int w, int h, uint8_t value) {
  std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  s.append(static_cast<size_t>(w) * h * 3, static_cast<char>(value));
  return s;
}

// The files a loadable folder needs besides terrain.hf: shading, one tile type and a tile map.
inline void write_track_basics(const std::string& dir, int n, const std::string& tileinfo = "friction 1 1\naddtile\n") {
  int dim = (1 << (n + 1)) + 1;
  write_file(dir + "shading.ppm", ppm(dim, dim, 200));
  write_file(dir + "tileinfo", tileinfo);
  write_file(dir + "tilemap", std::string(static_cast<size_t>(1) << (2 * n), '\0'));
}
