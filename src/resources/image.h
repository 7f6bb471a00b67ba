// Image readers and writers. Pixels are 3 (RGB) or 4 (RGBA) bytes a texel, rows from the top,
// normally as a mip chain: level 0 followed by every smaller level down to 1 x 1.
#pragma once
#include <cstddef>
#include <cstdint>

struct Stream;

struct Image {
  int width;
  int height;
  int channels;     // 1 (grey), 3 or 4
  uint8_t* pixels;  // xmalloc'd, owned by whoever holds the Image; free with image_free
};

void image_free(Image* image);
size_t mip_chain_bytes(int width, int height, int channels);  // level 0 and every smaller level

// Each reader starts at the magic ("P6", "P5", "V6" ...) and returns false on any failure.
bool image_read_ppm(Stream* s, Image* out);   // RGB mip chain
bool image_read_pgm(Stream* s, Image* out);   // grey bytes, level 0 only (channels 1)
bool image_read_predicted(Stream* s, const char* magic, int channels, Image* out);  // after the magic
bool image_read_rgb(const char* name, Image* out);   // PPM or predicted, RGB chain
bool image_read_rgba(const char* name, Image* out);  // PNG (RGBA level 0 or chain) or predicted
bool png_read_texture(const char* name, Image* out, char** info_text);  // chain; info xmalloc'd or null
// 16-bit grey samples in machine byte order; *samples xmalloc'd.
bool png_read_grey16(const char* name, uint16_t** samples, int* width, int* height);
// Fills the levels after level 0 in place; the buffer must hold the whole chain.
void mip_chain_build(uint8_t* chain, int width, int height, int channels, bool max_alpha);

bool png_write_grey16(const char* name, const uint16_t* samples, int width, int height);
// Rows are taken from the last to the first (a GL read-back runs bottom-up).
bool png_write_rgb(const char* name, const uint8_t* pixels, int width, int height);

// Readers refuse anything larger, so a hostile header never asks for an absurd buffer.
constexpr int image_max_side = 32768;
constexpr int64_t image_max_texels = int64_t(1) << 26;

// The PPM and PGM bodies after a magic that the caller has already read ("P6", "P3", "P5", "P2").
bool image_read_ppm_body(Stream* s, const char* magic, Image* out);
bool image_read_pgm_body(Stream* s, const char* magic, Image* out);
bool image_is_pow2(int n);
// Drops top levels of a chain while levels remain and both sides exceed 128 (the texture
// reduction); the buffer is kept, the remaining levels move to its start.
void image_drop_levels(Image* image, int levels);
// Replaces a chain whose sides are not powers of two by a nearest-sampled one whose sides are
// the next powers of two, with computed levels (mean alpha). False when that would be too large.
bool image_make_pow2(Image* image);
// Widens a 3-channel chain to 4 channels, alpha 255, over every level.
void image_rgb_to_rgba(Image* image);
