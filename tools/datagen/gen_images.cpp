// Generated images every install needs: the plain white texture that links fall back to.
#include <png.h>

#include <csetjmp>
#include <vector>

#include "datagen.h"

namespace {

void append_bytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void no_flush(png_structp) {}

// An 8-bit RGB PNG in memory, with no time or text chunks, so the bytes never change.
std::vector<uint8_t> encode_rgb_png(const std::vector<uint8_t>& rgb, int width, int height) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, append_bytes, no_flush);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; y++) png_write_row(png, rgb.data() + size_t(y) * width * 3);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

void gen_images(GenContext* ctx) {
  const int size = 8;
  std::vector<uint8_t> white(size_t(size) * size * 3, 255);
  ctx->archive.push_back({"colors/white.png", encode_rgb_png(white, size, size)});
}
