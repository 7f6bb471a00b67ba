// Fuzz target for the image readers: PNG (texture and 16-bit grey), PPM, PGM and predicted.
// Build: see the command in model_fuzz.cpp; the first input byte picks the reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "resources/image.h"
#include "resources/stream.h"

namespace {

const char* input_path() {
  static char path[64];
  if (!path[0]) snprintf(path, sizeof path, "/tmp/kv_image_fuzz_%d", int(getpid()));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const char* path = input_path();
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fwrite(data + 1, 1, size - 1, f);
  fclose(f);
  Image img{};
  switch (data[0] % 6) {
    case 0: {
      char* info = nullptr;
      if (png_read_texture(path, &img, &info)) image_free(&img);
      free(info);
      break;
    }
    case 1: {
      uint16_t* samples = nullptr;
      int w, h;
      if (png_read_grey16(path, &samples, &w, &h)) free(samples);
      break;
    }
    case 2:
    case 3: {
      Stream* s = stream_open(path, "rb");
      if (!s) break;
      bool ok = data[0] % 6 == 2 ? image_read_ppm(s, &img) : image_read_pgm(s, &img);
      if (ok) image_free(&img);
      stream_close(s);
      break;
    }
    case 4:
    case 5: {
      Stream* s = stream_open(path, "rb");
      if (!s) break;
      if (image_read_predicted(s, data[0] % 6 == 4 ? "V6" : "V7", 3 + (data[0] & 1), &img)) image_free(&img);
      stream_close(s);
      break;
    }
  }
  return 0;
}
