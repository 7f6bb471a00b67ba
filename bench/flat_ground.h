// A flat square of one default surface for the benchmarks: 2^(n+1)+1 samples at 2 ft.
#pragma once
#include <cstdint>
#include <vector>

#include "track/terrain.h"

struct FlatGround {
  Terrain t{};
  std::vector<float> heights;
  std::vector<uint8_t> tiles;
  TileType type{};
  explicit FlatGround(int n) {
    t.size_log2 = n;
    t.dim = (1 << (n + 1)) + 1;
    t.spacing = 2;
    t.tile_size = 4;
    t.extent = 2.0f * static_cast<float>(t.dim - 1);
    heights.assign(static_cast<size_t>(t.dim) * t.dim, 0.0f);
    t.heights = heights.data();
    tiles.assign(static_cast<size_t>(1) << (2 * n), 0);
    t.tile_map = tiles.data();
    tile_type_set_defaults(&type);
    t.tile_types = &type;
    t.tile_type_count = 1;
  }
};
