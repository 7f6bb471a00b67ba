// Track loading's doors into the texture and model caches: a null or empty name gives none.
#include "track/track_assets.h"

#include "resources/model.h"
#include "resources/texture.h"

TrackGraphics track_graphics;
TrackSettings track_settings = {1, 2, false, false, 0.02f, false};

TextureId track_texture_load(const char* name) {
  if (!name || !*name) return 0;
  return texture_load(name);
}

bool track_texture_pixels_load(const char* name, const uint8_t** pixels, int* width, int* height) {
  *pixels = nullptr;
  *width = *height = 0;
  if (!name || !*name) return false;
  return texture_pixels_load(name, pixels, width, height) && *pixels;
}

Model* track_model_load(const char* name) {
  if (!name || !*name) return nullptr;
  return model_load(name);
}

size_t track_texture_memory() { return texture_memory > 0 ? static_cast<size_t>(texture_memory) : 0; }
