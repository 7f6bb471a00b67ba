// The texture cache by data name: generations, links, animations, pixel images, and the seam
// through which a GL context (when there is one) receives the finished mip chains.
#pragma once
#include <cstddef>
#include <cstdint>

// The GL texture name once a context exists; without one a unique number that becomes the GL
// name when the context arrives. 0 means none.
using TextureId = uint32_t;

enum TextureFlags : int {
  texture_repeat_h = 1,
  texture_repeat_v = 2,
  texture_compress = 4,
  texture_single_level = 8,
};

enum TextureCompressMode : int { texture_compress_no = 0, texture_compress_yes = 1, texture_compress_always = 2 };

extern int texture_generation;            // the race restart adds one before a new track loads
extern int64_t texture_memory;            // bytes of texture data uploaded, counted per level
extern int model_texture_reduction;       // top mip levels to drop (0..10), from the settings
extern int texture_compress_setting;      // a TextureCompressMode, the "texture_compress" setting

TextureId texture_load(const char* name);
// An RGBA chain owned by the pixel image record (the caller never frees it).
bool texture_pixels_load(const char* name, const uint8_t** pixels, int* width, int* height);
const char* texture_name(TextureId id);
const char* texture_info(TextureId id);
const char* texture_pixels_name(const uint8_t* pixels);

// A texture with no cache record; its owner deletes it with texture_delete.
TextureId texture_upload(const uint8_t* chain, int width, int height, int channels, int flags);
void texture_delete(TextureId id);

void texture_anim_update(int tick);
void texture_anim_restart(TextureId id, int tick);
void texture_anim_pause(TextureId id);
// Frees what older generations (other than 0) left behind; once per race restart.
void texture_purge();

// The 3-channel border colour: the fullest cell of an 8 x 8 x 8 histogram of the edge texels
// (ties go to the lowest cell index r*64 + g*8 + b), alpha 0; transparent black for 4 channels.
void texture_border_colour(const uint8_t* level0, int width, int height, int channels, float rgba[4]);

// ---- The upload seam: the simulation library never calls GL itself ----

struct TextureUploadOps {
  // A name for a new texture (glGenTextures).
  TextureId (*create)();
  // Gives the texture its levels (all of the chain, or level 0 with single level); returns the
  // bytes the texture memory grows by.
  int64_t (*upload)(TextureId id, const uint8_t* chain, int width, int height, int channels, int flags);
  // Replaces every uploaded level with those of a chain of the same size (animations).
  void (*replace)(TextureId id, const uint8_t* chain, int width, int height, int channels, int flags);
  void (*destroy)(TextureId id);
};

// Installing ops uploads every texture made before, under the id it already has; null goes
// back to keeping the chains on the processor side only.
void texture_set_upload_ops(const TextureUploadOps* ops);
// The processor-side chain kept for a texture that has not reached a GL context, or null.
const uint8_t* texture_pending_pixels(TextureId id, int* width, int* height, int* channels);

// Tests only: forget every record, link, animation and counter.
void texture_reset_for_tests();
