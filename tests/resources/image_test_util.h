// Test helpers that make image files: predicted images and PNGs with chosen chunks.
#pragma once
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A predicted image ("V6" with the first 3, "V7" with all 4 channels of rgba) with an optional
// comment line before the width.
inline std::string encode_predicted(const uint8_t* rgba, int w, int h, int stored, const char* comment) {
  std::string out = stored == 4 ? "V7\n" : "V6\n";
  out += comment;
  out += std::to_string(w) + " " + std::to_string(h) + "\n";
  auto at = [&](int x, int y, int c) { return int(rgba[(size_t(y) * w + x) * 4 + c]); };
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      for (int c = 0; c < stored; c++) {
        int pred;
        if (y == 0) pred = x == 0 ? 0 : at(x - 1, y, c);
        else if (x == 0) pred = at(x, y - 1, c);
        else {
          pred = at(x - 1, y, c) + at(x, y - 1, c) - at(x - 1, y - 1, c);
          pred = pred < 0 ? 0 : pred > 255 ? 255 : pred;
        }
        out += char(uint8_t(at(x, y, c) - pred));
      }
    }
  }
  return out;
}

// An 8-bit PNG of the colour type with text chunks before and after the image data.
inline void write_png_file(const std::string& path, int w, int h, int colour, const std::vector<uint8_t>& pixels,
                           const char* text_before = nullptr, const char* text_after = nullptr) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_text text{};
  text.compression = PNG_TEXT_COMPRESSION_NONE;
  text.key = const_cast<char*>("Comment");
  if (text_before) {
    text.text = const_cast<char*>(text_before);
    png_set_text(png, info, &text, 1);
  }
  png_write_info(png, info);
  const int channels = colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : colour == PNG_COLOR_TYPE_RGB ? 3
                       : colour == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  for (int y = 0; y < h; y++) png_write_row(png, pixels.data() + size_t(y) * w * channels);
  png_infop end = png_create_info_struct(png);
  if (text_after) {
    text.text = const_cast<char*>(text_after);
    png_set_text(png, end, &text, 1);
  }
  png_write_end(png, end);
  png_destroy_info_struct(png, &end);
  png_destroy_write_struct(&png, &info);
  fclose(f);
}
