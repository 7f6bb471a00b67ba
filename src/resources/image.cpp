// Image readers (PPM, PGM, predicted, PNG) and writers, and the mip chains every texture uses.
#include "resources/image.h"

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/console.h"
#include "core/memory.h"
#include "resources/data.h"
#include "resources/stream.h"

namespace {

bool size_ok(int width, int height) {
  return width >= 1 && height >= 1 && width <= image_max_side && height <= image_max_side &&
         int64_t(width) * height <= image_max_texels;
}

int half(int n) { return n > 1 ? n / 2 : 1; }

// One level from the previous one. Colour is weighted by alpha so that transparent texels do
// not bleed their (meaningless) colour into the smaller levels.
void mip_level(const uint8_t* src, int w, int h, int channels, bool max_alpha, uint8_t* dst) {
  const int nw = half(w), nh = half(h);
  const bool alpha = channels == 4;
  if (w > 1 && h > 1) {
    for (int y = 0; y < nh; y++) {
      for (int x = 0; x < nw; x++) {
        const uint8_t* t[4] = {
            src + (size_t(2 * y) * w + 2 * x) * channels,
            src + (size_t(2 * y) * w + 2 * x + 1) * channels,
            src + (size_t(2 * y + 1) * w + 2 * x) * channels,
            src + (size_t(2 * y + 1) * w + 2 * x + 1) * channels,
        };
        uint8_t* d = dst + (size_t(y) * nw + x) * channels;
        if (alpha) {
          int asum = t[0][3] + t[1][3] + t[2][3] + t[3][3];
          for (int c = 0; c < 3; c++) {
            if (asum != 0 && asum != 1020) {
              int sum = 0;
              for (int i = 0; i < 4; i++) sum += t[i][c] * t[i][3];
              d[c] = uint8_t(sum / asum);
            } else {
              d[c] = uint8_t((t[0][c] + t[1][c] + t[2][c] + t[3][c]) >> 2);
            }
          }
          if (max_alpha) {
            int m = t[0][3];
            for (int i = 1; i < 4; i++) m = t[i][3] > m ? t[i][3] : m;
            d[3] = uint8_t(m);
          } else {
            d[3] = uint8_t(asum / 4);
          }
        } else {
          for (int c = 0; c < channels; c++) d[c] = uint8_t((t[0][c] + t[1][c] + t[2][c] + t[3][c]) >> 2);
        }
      }
    }
    return;
  }
  // One side is 1: pairs along the other side.
  const int n = w > 1 ? nw : nh;
  for (int i = 0; i < n; i++) {
    const uint8_t* a = src + size_t(2 * i) * channels;
    const uint8_t* b = src + size_t(2 * i + 1) * channels;
    uint8_t* d = dst + size_t(i) * channels;
    if (alpha) {
      int asum = a[3] + b[3];
      for (int c = 0; c < 3; c++) {
        if (asum != 0 && asum != 510) d[c] = uint8_t((a[c] * a[3] + b[c] * b[3]) / asum);
        else d[c] = uint8_t((a[c] + b[c]) >> 1);
      }
      d[3] = max_alpha ? (a[3] > b[3] ? a[3] : b[3]) : uint8_t(asum / 2);
    } else {
      for (int c = 0; c < channels; c++) d[c] = uint8_t((a[c] + b[c]) >> 1);
    }
  }
}

bool alloc_chain(Image* out, int width, int height, int channels) {
  if (!size_ok(width, height)) return false;
  out->width = width;
  out->height = height;
  out->channels = channels;
  out->pixels = static_cast<uint8_t*>(xmalloc(mip_chain_bytes(width, height, channels)));
  return true;
}

bool read_number(Stream* s, int* out) {
  stream_skip_comments(s);
  int v = stream_read_int(s);
  if (v == INT32_MIN) return false;
  *out = v;
  return true;
}

// Width, height and maximum of a PPM or PGM header.
bool read_pnm_header(Stream* s, int* width, int* height, int* maximum) {
  if (!read_number(s, width) || !read_number(s, height) || !read_number(s, maximum)) return false;
  if (*width < 0 || *height < 0 || *maximum <= 0) return false;
  return size_ok(*width, *height);
}

uint8_t scale_sample(int64_t value, int maximum) {
  if (value < 0) return 0;
  int64_t v = value * 255 / maximum;
  return uint8_t(v > 255 ? 255 : v);
}

// Samples of a PPM (3 a texel) or PGM (1 a texel) into dst.
bool read_pnm_samples(Stream* s, bool binary, int maximum, uint8_t* dst, size_t count) {
  if (binary) {
    if (stream_getc(s) < 0) return false;  // the one separator byte
    if (stream_read(s, dst, count) != count) return false;
    if (maximum != 255)
      for (size_t i = 0; i < count; i++) dst[i] = scale_sample(dst[i], maximum);
    return true;
  }
  for (size_t i = 0; i < count; i++) {
    int v;
    if (!read_number(s, &v)) return false;
    dst[i] = scale_sample(v, maximum);
  }
  return true;
}

}  // namespace

void image_free(Image* image) {
  if (!image) return;
  free(image->pixels);
  image->pixels = nullptr;
}

size_t mip_chain_bytes(int width, int height, int channels) {
  size_t total = 0;
  int w = width, h = height;
  for (;;) {
    total += size_t(w) * size_t(h) * size_t(channels);
    if (w == 1 && h == 1) break;
    w = half(w);
    h = half(h);
  }
  return total;
}

void mip_chain_build(uint8_t* chain, int width, int height, int channels, bool max_alpha) {
  int w = width, h = height;
  uint8_t* level = chain;
  while (w > 1 || h > 1) {
    uint8_t* next = level + size_t(w) * h * channels;
    mip_level(level, w, h, channels, max_alpha, next);
    level = next;
    w = half(w);
    h = half(h);
  }
}

bool image_is_pow2(int n) { return n > 0 && (n & (n - 1)) == 0; }

void image_drop_levels(Image* image, int levels) {
  int w = image->width, h = image->height;
  size_t offset = 0;
  while (levels > 0 && w > 128 && h > 128) {
    offset += size_t(w) * h * image->channels;
    w = half(w);
    h = half(h);
    levels--;
  }
  if (offset == 0) return;
  memmove(image->pixels, image->pixels + offset, mip_chain_bytes(w, h, image->channels));
  image->width = w;
  image->height = h;
}

bool image_make_pow2(Image* image) {
  if (image_is_pow2(image->width) && image_is_pow2(image->height)) return true;
  int W = 1, H = 1;
  while (W < image->width) W *= 2;
  while (H < image->height) H *= 2;
  // The rounding up may quadruple the texels; keep the same bound as the readers, times four.
  if (int64_t(W) * H > image_max_texels * 4 || W > image_max_side || H > image_max_side) return false;
  const int ch = image->channels;
  uint8_t* dst = static_cast<uint8_t*>(xmalloc(mip_chain_bytes(W, H, ch)));
  for (int y = 0; y < H; y++) {
    const int sy = int(int64_t(y) * image->height / H);
    for (int x = 0; x < W; x++) {
      const int sx = int(int64_t(x) * image->width / W);
      memcpy(dst + (size_t(y) * W + x) * ch, image->pixels + (size_t(sy) * image->width + sx) * ch, ch);
    }
  }
  mip_chain_build(dst, W, H, ch, false);
  free(image->pixels);
  image->pixels = dst;
  image->width = W;
  image->height = H;
  return true;
}

void image_rgb_to_rgba(Image* image) {
  if (image->channels != 3) return;
  const size_t texels = mip_chain_bytes(image->width, image->height, 1);
  uint8_t* dst = static_cast<uint8_t*>(xmalloc(texels * 4));
  for (size_t i = 0; i < texels; i++) {
    memcpy(dst + i * 4, image->pixels + i * 3, 3);
    dst[i * 4 + 3] = 255;
  }
  free(image->pixels);
  image->pixels = dst;
  image->channels = 4;
}

bool image_read_ppm_body(Stream* s, const char* magic, Image* out) {
  const bool binary = strcmp(magic, "P6") == 0;
  if (!binary && strcmp(magic, "P3") != 0) return false;
  int w, h, maximum;
  if (!read_pnm_header(s, &w, &h, &maximum)) return false;
  Image img{};
  if (!alloc_chain(&img, w, h, 3)) return false;
  if (!read_pnm_samples(s, binary, maximum, img.pixels, size_t(w) * h * 3)) {
    image_free(&img);
    return false;
  }
  mip_chain_build(img.pixels, w, h, 3, false);
  *out = img;
  return true;
}

bool image_read_ppm(Stream* s, Image* out) {
  char magic[16];
  if (stream_scanf(s, "%15s", magic) != 1) return false;
  return image_read_ppm_body(s, magic, out);
}

bool image_read_pgm_body(Stream* s, const char* magic, Image* out) {
  const bool binary = strcmp(magic, "P5") == 0;
  if (!binary && strcmp(magic, "P2") != 0) return false;
  int w, h, maximum;
  if (!read_pnm_header(s, &w, &h, &maximum)) return false;
  Image img{w, h, 1, static_cast<uint8_t*>(xmalloc(size_t(w) * h))};
  if (!read_pnm_samples(s, binary, maximum, img.pixels, size_t(w) * h)) {
    image_free(&img);
    return false;
  }
  *out = img;
  return true;
}

bool image_read_pgm(Stream* s, Image* out) {
  char magic[16];
  if (stream_scanf(s, "%15s", magic) != 1) return false;
  return image_read_pgm_body(s, magic, out);
}

bool image_read_predicted(Stream* s, const char* magic, int channels, Image* out) {
  int stored;
  if (strcmp(magic, "V6") == 0) stored = 3;
  else if (strcmp(magic, "V7") == 0) stored = 4;
  else return false;
  if (channels != 3 && channels != 4) return false;
  int w, h;
  if (!read_number(s, &w) || !read_number(s, &h) || !size_ok(w, h)) return false;
  if (stream_getc(s) < 0) return false;
  Image img{};
  alloc_chain(&img, w, h, channels);
  // Decoded rows, kept with every stored channel so that the predictions see the alpha too.
  uint8_t* rows = static_cast<uint8_t*>(xmalloc(size_t(w) * stored * 2));
  uint8_t* raw = static_cast<uint8_t*>(xmalloc(size_t(w) * stored));
  bool ok = true;
  for (int y = 0; y < h && ok; y++) {
    uint8_t* cur = rows + size_t(y & 1) * w * stored;
    const uint8_t* up = rows + size_t((y + 1) & 1) * w * stored;
    if (stream_read(s, raw, size_t(w) * stored) != size_t(w) * stored) {
      ok = false;
      break;
    }
    for (int x = 0; x < w; x++) {
      for (int c = 0; c < stored; c++) {
        int pred;
        if (y == 0) pred = x == 0 ? 0 : cur[(x - 1) * stored + c];
        else if (x == 0) pred = up[c];
        else {
          pred = cur[(x - 1) * stored + c] + up[x * stored + c] - up[(x - 1) * stored + c];
          pred = pred < 0 ? 0 : pred > 255 ? 255 : pred;
        }
        cur[x * stored + c] = uint8_t(raw[x * stored + c] + pred);
      }
      uint8_t* d = img.pixels + (size_t(y) * w + x) * channels;
      memcpy(d, cur + x * stored, 3);
      if (channels == 4) d[3] = stored == 4 ? cur[x * stored + 3] : 0;
    }
  }
  free(rows);
  free(raw);
  if (!ok) {
    image_free(&img);
    return false;
  }
  mip_chain_build(img.pixels, w, h, channels, false);
  *out = img;
  return true;
}

bool image_read_rgb(const char* name, Image* out) {
  Stream* s = stream_open(name, "rb");
  if (!s) return false;
  char magic[16];
  bool ok = false;
  if (stream_scanf(s, "%15s", magic) == 1) {
    if (!strcmp(magic, "P3") || !strcmp(magic, "P6")) ok = image_read_ppm_body(s, magic, out);
    else if (!strcmp(magic, "V6") || !strcmp(magic, "V7")) ok = image_read_predicted(s, magic, 3, out);
  }
  stream_close(s);
  return ok;
}

bool image_read_rgba(const char* name, Image* out) {
  Image img{};
  if (png_read_texture(name, &img, nullptr)) {
    if (img.channels == 3) {
      // Only level 0 is promised for a 3-channel PNG; widening the whole chain costs no more.
      image_rgb_to_rgba(&img);
    }
    *out = img;
    return true;
  }
  Stream* s = stream_open(name, "rb");
  if (!s) return false;
  char magic[16];
  bool ok = false;
  if (stream_scanf(s, "%15s", magic) == 1 && (!strcmp(magic, "V6") || !strcmp(magic, "V7")))
    ok = image_read_predicted(s, magic, 4, out);
  stream_close(s);
  return ok;
}

// ---- PNG through our streams ----

namespace {

struct PngRead {
  Stream* stream;
  png_structp png;
  png_infop info;
  png_infop end_info;
  uint8_t* pixels;
  png_bytep* rows;
  std::string* text;  // concatenated text chunks, when asked for
};

void png_stream_read(png_structp png, png_bytep data, png_size_t length) {
  Stream* s = static_cast<Stream*>(png_get_io_ptr(png));
  if (stream_read(s, data, length) != length) png_error(png, "truncated");
}

void png_stream_write(png_structp png, png_bytep data, png_size_t length) {
  Stream* s = static_cast<Stream*>(png_get_io_ptr(png));
  if (stream_write(s, data, length) != length) png_error(png, "write failed");
}

void png_stream_flush(png_structp png) {
  stream_flush(static_cast<Stream*>(png_get_io_ptr(png)));
}

void png_quiet_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet_warning(png_structp, png_const_charp) {}

void png_read_cleanup(PngRead* r) {
  if (r->png) png_destroy_read_struct(&r->png, r->info ? &r->info : nullptr, r->end_info ? &r->end_info : nullptr);
  if (r->stream) stream_close(r->stream);
  free(r->pixels);
  free(r->rows);
}

void collect_text(PngRead* r, png_infop info) {
  if (!r->text) return;
  png_textp text = nullptr;
  int count = 0;
  if (png_get_text(r->png, info, &text, &count) > 0)
    for (int i = 0; i < count; i++)
      if (text[i].text) r->text->append(text[i].text, text[i].text_length ? text[i].text_length : strlen(text[i].text));
}

enum class PngMode { texture, grey16 };

// Opens, checks the signature, sets the transformations of the mode and decodes every row into
// r->pixels (rows from the top). *channels and *sample_bytes describe the decoded layout.
bool png_decode(const char* name, PngMode mode, PngRead* r, int* width, int* height, int* channels) {
  r->stream = stream_open(name, "rb");
  if (!r->stream) return false;
  png_byte sig[8];
  if (stream_read(r->stream, sig, 8) != 8 || png_sig_cmp(sig, 0, 8) != 0) return false;
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
  if (!r->png) return false;
  r->info = png_create_info_struct(r->png);
  r->end_info = png_create_info_struct(r->png);
  if (!r->info || !r->end_info) return false;
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_set_read_fn(r->png, r->stream, png_stream_read);
  png_set_sig_bytes(r->png, 8);
  png_set_user_limits(r->png, image_max_side, image_max_side);
  png_read_info(r->png, r->info);
  collect_text(r, r->info);

  const int colour = png_get_color_type(r->png, r->info);
  const int depth = png_get_bit_depth(r->png, r->info);
  const bool trns = png_get_valid(r->png, r->info, PNG_INFO_tRNS) != 0;
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r->png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(r->png);
  if (mode == PngMode::texture) {
    if (trns) png_set_tRNS_to_alpha(r->png);
    if (depth == 16) png_set_strip_16(r->png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(r->png);
  } else {
    png_set_strip_alpha(r->png);
    if (colour & PNG_COLOR_MASK_COLOR) png_set_rgb_to_gray_fixed(r->png, 1, -1, -1);
    if (depth == 16) {
      const uint16_t probe = 1;
      if (*reinterpret_cast<const uint8_t*>(&probe) == 1) png_set_swap(r->png);
    }
  }
  png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);

  const int w = int(png_get_image_width(r->png, r->info));
  const int h = int(png_get_image_height(r->png, r->info));
  const int ch = png_get_channels(r->png, r->info);
  const int out_depth = png_get_bit_depth(r->png, r->info);
  if (!size_ok(w, h)) return false;
  const size_t sample_bytes = out_depth == 16 ? 2 : 1;
  const size_t row_bytes = size_t(w) * ch * sample_bytes;
  if (png_get_rowbytes(r->png, r->info) != row_bytes) return false;
  if (mode == PngMode::texture && (ch < 3 || ch > 4 || out_depth != 8)) return false;
  if (mode == PngMode::grey16 && ch != 1) return false;
  const size_t image_bytes = row_bytes * size_t(h);
  r->pixels = static_cast<uint8_t*>(xmalloc(image_bytes));
  r->rows = static_cast<png_bytep*>(xmalloc(sizeof(png_bytep) * size_t(h)));
  for (int y = 0; y < h; y++) r->rows[y] = r->pixels + row_bytes * size_t(y);
  png_read_image(r->png, r->rows);
  png_read_end(r->png, r->end_info);
  collect_text(r, r->end_info);
  *width = w;
  *height = h;
  *channels = ch * int(sample_bytes);
  return true;
}

// Copies the levels out of a "[mip_custom]" image of w x 3h/2 into a chain whose level 0 is
// w x h. False when a level would lie outside the image (then the caller computes the levels).
bool custom_mips(const uint8_t* src, int w, int full_h, int ch, uint8_t** chain_out) {
  const int h = 2 * full_h / 3;
  if (h < 1) return false;
  // Every level's rectangle must lie inside the image before anything is copied.
  struct Rect { int x, y, w, h; };
  Rect rects[64];
  int n = 0;
  int lw = w, lh = h, col_y = h;
  rects[n++] = {0, 0, w, h};
  for (int k = 1; lw > 1 || lh > 1; k++) {
    lw = half(lw);
    lh = half(lh);
    Rect r = k == 1 ? Rect{0, h, lw, lh} : Rect{w / 2, col_y, lw, lh};
    if (k >= 2) col_y += lh;
    if (r.x + r.w > w || r.y + r.h > full_h) return false;
    rects[n++] = r;
  }
  uint8_t* chain = static_cast<uint8_t*>(xmalloc(mip_chain_bytes(w, h, ch)));
  uint8_t* dst = chain;
  for (int i = 0; i < n; i++) {
    for (int y = 0; y < rects[i].h; y++) {
      memcpy(dst, src + (size_t(rects[i].y + y) * w + rects[i].x) * ch, size_t(rects[i].w) * ch);
      dst += size_t(rects[i].w) * ch;
    }
  }
  *chain_out = chain;
  return true;
}

}  // namespace

bool png_read_texture(const char* name, Image* out, char** info_text) {
  if (info_text) *info_text = nullptr;
  std::string text;
  PngRead* r = static_cast<PngRead*>(xcalloc(1, sizeof(PngRead)));
  r->text = &text;
  int w = 0, h = 0, ch = 0;
  if (!png_decode(name, PngMode::texture, r, &w, &h, &ch)) {
    png_read_cleanup(r);
    free(r);
    return false;
  }
  // The ".info" companion follows the text chunks.
  std::string info_name = std::string(name) + ".info";
  size_t info_size = 0;
  if (uint8_t* extra = stream_read_all(info_name.c_str(), &info_size)) {
    text.append(reinterpret_cast<const char*>(extra), info_size);
    free(extra);
  }
  const bool max_alpha = text.find("[mip_max_alpha]") != std::string::npos;
  Image img{w, h, ch, nullptr};
  bool custom_done = false;
  if (text.find("[mip_custom]") != std::string::npos) {
    if ((2 * int64_t(h)) % 3 == 0 && custom_mips(r->pixels, w, h, ch, &img.pixels)) {
      img.height = 2 * h / 3;
      custom_done = true;
    } else {
      console_printf("Warning: Invalid height for custom MIP map in '%.950s'", name);
    }
  }
  if (!custom_done) {
    img.pixels = static_cast<uint8_t*>(xrealloc(r->pixels, mip_chain_bytes(w, h, ch)));
    r->pixels = nullptr;
    mip_chain_build(img.pixels, w, h, ch, max_alpha);
  }
  png_read_cleanup(r);
  free(r);
  *out = img;
  if (info_text && !text.empty()) *info_text = xstrdup(text.c_str());
  return true;
}

bool png_read_grey16(const char* name, uint16_t** samples, int* width, int* height) {
  PngRead* r = static_cast<PngRead*>(xcalloc(1, sizeof(PngRead)));
  int w = 0, h = 0, bytes = 0;
  if (!png_decode(name, PngMode::grey16, r, &w, &h, &bytes)) {
    png_read_cleanup(r);
    free(r);
    return false;
  }
  const size_t n = size_t(w) * h;
  uint16_t* out = static_cast<uint16_t*>(xmalloc(n * 2));
  if (bytes == 2) memcpy(out, r->pixels, n * 2);
  else
    for (size_t i = 0; i < n; i++) out[i] = uint16_t(r->pixels[i] * 257);
  png_read_cleanup(r);
  free(r);
  *samples = out;
  *width = w;
  *height = h;
  return true;
}

// ---- PNG writing: a temporary file beside the target, renamed over it when complete ----

namespace {

struct PngWrite {
  Stream* stream;
  png_structp png;
  png_infop info;
  png_bytep* rows;
};

// Kept apart from its caller so that no local of the caller lives across the setjmp.
bool png_write_body(PngWrite* wr, int width, int height, int depth, int colour, bool swap) {
  if (setjmp(png_jmpbuf(wr->png))) return false;
  png_set_write_fn(wr->png, wr->stream, png_stream_write, png_stream_flush);
  png_set_IHDR(wr->png, wr->info, png_uint_32(width), png_uint_32(height), depth, colour,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(wr->png, wr->info);
  if (swap) png_set_swap(wr->png);
  png_write_image(wr->png, wr->rows);
  png_write_end(wr->png, nullptr);
  return stream_flush(wr->stream);
}

bool png_write_rows(const char* name, int width, int height, int depth, int colour, bool swap,
                    const uint8_t* pixels, size_t row_bytes, bool bottom_up) {
  if (width < 1 || height < 1 || width > image_max_side || height > image_max_side) return false;
  char path[4096];
  if (name[0] == '@') {
    if (!data_resolve_write_path(name, path, sizeof(path))) return false;
  } else {
    if (strlen(name) >= sizeof(path)) return false;
    strcpy(path, name);
  }
  std::string temp = std::string(path) + ".tmp";
  make_folders_for(temp.c_str());
  PngWrite* wr = static_cast<PngWrite*>(xcalloc(1, sizeof(PngWrite)));
  wr->stream = stream_open(temp.c_str(), "wb");
  bool ok = false;
  if (wr->stream) {
    wr->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    if (wr->png) wr->info = png_create_info_struct(wr->png);
    if (wr->png && wr->info) {
      wr->rows = static_cast<png_bytep*>(xmalloc(sizeof(png_bytep) * size_t(height)));
      for (int y = 0; y < height; y++) {
        const int sy = bottom_up ? height - 1 - y : y;
        wr->rows[y] = const_cast<png_bytep>(pixels + row_bytes * size_t(sy));
      }
      ok = png_write_body(wr, width, height, depth, colour, swap);
    }
    if (wr->png) png_destroy_write_struct(&wr->png, wr->info ? &wr->info : nullptr);
    stream_close(wr->stream);
  }
  free(wr->rows);
  free(wr);
  if (ok) ok = data_rename(temp.c_str(), path) == 1;
  if (!ok) remove(temp.c_str());
  return ok;
}

}  // namespace

bool png_write_grey16(const char* name, const uint16_t* samples, int width, int height) {
  const uint16_t probe = 1;
  const bool little = *reinterpret_cast<const uint8_t*>(&probe) == 1;
  return png_write_rows(name, width, height, 16, PNG_COLOR_TYPE_GRAY, little,
                        reinterpret_cast<const uint8_t*>(samples), size_t(width) * 2, false);
}

bool png_write_rgb(const char* name, const uint8_t* pixels, int width, int height) {
  return png_write_rows(name, width, height, 8, PNG_COLOR_TYPE_RGB, false, pixels, size_t(width) * 3, true);
}
