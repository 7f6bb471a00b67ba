// What track loading needs from the renderer and the editor. The game's front end fills the
// hooks when it has a window; headless runs and tests leave them null and tracks load without
// a loading screen, fog, LOD metric or ground texture caches. Textures and models come from
// their caches, which keep the pixels on the processor side until a GL context exists.
#pragma once
#include <cstddef>
#include <cstdint>

#include "track/terrain.h"

struct Model;

struct TrackGraphics {
  void (*loading_screen)();                      // draws "Loading track..." and presents it
  bool (*framebuffer_create)(unsigned* name);    // ground composition FBO; false when unusable
  void (*framebuffer_delete)(unsigned name);
  void (*lod_build)(Terrain* t);                 // computes the LOD metric completely
  void (*ground_textures_create)(Terrain* t);    // low-detail textures and the caches
  void (*ground_textures_free)(Terrain* t);
  void (*set_fog)(const float colour[3], float density);  // exponential fog
  void (*editor_attach)(Terrain* t);             // editor mode: the editor takes the terrain
  void (*editor_release)();                      // before the track is freed
};

// Settings the loader copies into the track (the graphics menu and options set them).
struct TrackSettings {
  int ground_method;           // requested ground texture method 1..3
  int ground_texture_level;    // k: resolution 32 * 2^k
  bool shader_terrain;         // "Shaders/Copy" or "Shaders/Direct" with working programs
  bool shaders_active;         // shader programs in use (statue normal/specular maps)
  float detail_threshold;      // ground detail
  bool editor;                 // hand the loaded terrain to the editor
};

extern TrackGraphics track_graphics;
extern TrackSettings track_settings;

// The texture and model caches; a null or empty name gives none.
TextureId track_texture_load(const char* name);
bool track_texture_pixels_load(const char* name, const uint8_t** pixels, int* width, int* height);
Model* track_model_load(const char* name);
size_t track_texture_memory();
