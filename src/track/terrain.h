// The loaded track's terrain: height field, baked lighting, tile map, surface types and decals,
// with the height, normal and tile queries every subsystem asks the ground.
#pragma once
#include <cstdint>

#include "core/array.h"
#include "resources/texture.h"
struct Stream;

constexpr int max_tile_types = 256;
constexpr int curve_points = 8;
constexpr int roost_kinds_per_tile = 4;

enum RoostKindCode : int { roost_none = 0, roost_roost = 1, roost_splash = 2 };

struct RoostKind {
  int kind;  // RoostKindCode
  TextureId texture;
  float count, dig, slip_threshold;
  float slow_angle, fast_angle;  // radians
  float slow_speed, fast_speed;  // ft/s
  float size, grow, drag, vscale, randomize;
  uint8_t r, g, b, a;
  int8_t fade_r, fade_g, fade_b, fade_a;  // change per tick
};

struct FrictionPoint {
  float coefficient;
  float speed;  // ft/s sliding speed; 0 = unused slot, ends the list
};

struct RollResistPoint {
  float shallow, deep;  // lbf
  float speed;          // ft/s; 0 = unused slot
};

enum ErodeField : int {
  erode_depth = 0, erode_lower, erode_upper, erode_displacement, erode_radius,
  erode_max_slope, erode_off_speed, erode_on_speed, erode_field_count
};

struct TileType {
  TextureId texture;
  const char* texture_name;  // interned, as named in the file (null when none)
  const uint8_t* image;            // RGBA mip chain for the CPU composer; owned by the texture cache
  int image_width, image_height;
  FrictionPoint friction[curve_points];
  RollResistPoint roll_resist[curve_points];
  RoostKind roost[roost_kinds_per_tile];
  float erode[erode_field_count];
  int32_t transition_code;
  const char* name;  // interned transition name ("dirt.png", "/dirt-grass-0001.png")
};

struct Decal {
  const uint8_t* image;  // RGBA chain, CPU composer only; owned by the texture cache
  int image_width, image_height;
  TextureId texture, normal_texture, specular_texture;
  const char* name;  // interned texture name as in the file
  float x, z, angle, size, aspect;  // ft, radians
  float sin_angle, cos_angle;
};

struct Terrain {
  float* heights;      // dim * dim, row-major, ft
  int size_log2;       // n: the tile map is 2^n x 2^n
  int dim;             // 2^(n+1) + 1 samples per side
  float spacing;       // ft between samples
  float tile_size;     // 2 * spacing
  float extent;        // ft, side of the terrain square
  float min_height, max_height;
  float detail_threshold;
  uint8_t* shading;            // dim * dim * 3, half intensity
  uint8_t* shadow;             // dim * dim, 0 lit .. 255 shadowed
  uint8_t* normal_shadow_map;  // dim * dim * 3, only with terrain shaders
  uint8_t* tile_map;           // 4^n tile type indices
  TileType* tile_types;        // max_tile_types slots
  int tile_type_count;
  Array<Decal> decals;
  Array<int> decal_bins[64];   // 8 x 8 over the terrain square, row (z) major
  int render_method;           // 1, 2 or 3
  int ground_texture_size;
  bool use_terrain_shaders;
  unsigned framebuffer;        // ground composition FBO, 0 = none
  float* lod_metric[2];        // each 4 * 4^n / 3 floats
  uint8_t* lod_nodes;          // node bit set of the LOD
  void* ground;                // the renderer's ground texture caches
  bool heights_modified, heights_locked;
  int change_counter;
  int last_camera_cell[2];
};

struct Vec3f {
  float x, y, z;
};

// All queries clamp to the border: beyond the square the edge samples continue flat.
float terrain_height(const Terrain* t, float x, float z);
Vec3f terrain_face_normal(const Terrain* t, float x, float z);  // unnormalised, y = spacing^2
Vec3f terrain_vertex_normal(const Terrain* t, int column, int row);  // unit
int terrain_tile_at(const Terrain* t, float x, float z);
float terrain_sample(const Terrain* t, int column, int row);  // clamped read of heights

// Loads the terrain files of a folder ("@name"); on failure everything is freed again.
bool terrain_load(Terrain* t, const char* folder, int requested_method);
// Safe on a partly loaded or zeroed record; leaves it zeroed.
void terrain_free(Terrain* t);
// Writes terrain.hf, terrain.png, shading.ppm, shadingx2.ppm, tilemap and decals into folder.
bool terrain_save(Terrain* t, const char* folder);

// Surface type curves for the wheel contact.
float friction_at(const TileType* type, float squared_speed);
void roll_resist_at(const TileType* type, float speed, float* shallow, float* deep);

// Surface type readers; each appends to the terrain's table (at most max_tile_types).
bool tile_types_read_tileinfo(Terrain* t, Stream* s);
void tile_types_read_texturelist(Terrain* t, Stream* s);
int32_t tile_transition_code(int self, const char* const* names, int count);
void tile_type_set_defaults(TileType* type);

// Decals: the reader used by terrain_load, and bin maintenance.
void decals_read(Terrain* t, const char* path);
void decal_bins_rebuild(Terrain* t);
