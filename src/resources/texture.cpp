// The texture cache: loading by data name, links, animations, pixel images, generations and the
// purge, over an upload seam that a GL context fills in.
#include "resources/texture.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/array.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "resources/image.h"
#include "resources/stream.h"

int texture_generation = 0;
int64_t texture_memory = 0;
int model_texture_reduction = 0;
int texture_compress_setting = texture_compress_no;

namespace {

struct TextureRecord {
  TextureId id;
  int generation;
  int64_t bytes;
  char* info;
  char* name;
};

struct PixelRecord {
  int width, height, channels;
  uint8_t* pixels;
  int generation;
  int64_t bytes;
  char* name;
};

struct AnimImage {
  int width, height, channels;
  uint8_t* chain;
};

struct AnimRecord {
  TextureId id;
  int frame_count;
  int current;
  int ticks_per_frame;
  bool loop;
  int start_tick;
  bool paused;
  int flags;
  Array<AnimImage> images;
  Array<int> frames;
};

struct LinkEntry {
  const char* name;
  const char* target;
};

// Every texture made through texture_upload, whether or not it has reached a GL context.
struct Upload {
  TextureId id;
  int width, height, channels, flags;
  uint8_t* chain;  // kept while no context has it; null once uploaded
};

Array<TextureRecord> textures;
Array<PixelRecord> pixel_images;
Array<AnimRecord> anims;
Array<LinkEntry> links;
Array<Upload> uploads;
const TextureUploadOps* ops = nullptr;
TextureId next_headless_id = 1;
int link_depth = 0;

// A link that leads through more links than this is refused rather than followed forever.
constexpr int max_link_depth = 16;

int flags_from_name(const char* name) {
  int flags = 0;
  if (strstr(name, "-hrepeat.")) flags |= texture_repeat_h;
  if (strstr(name, "-vrepeat.")) flags |= texture_repeat_v;
  if (strstr(name, "-repeat.")) flags |= texture_repeat_h | texture_repeat_v;
  return flags;
}

Upload* find_upload(TextureId id) {
  for (int i = 0; i < uploads.count; i++)
    if (uploads.items[i].id == id) return &uploads.items[i];
  return nullptr;
}

size_t upload_bytes(int width, int height, int channels, int flags) {
  return (flags & texture_single_level) ? size_t(width) * height * channels
                                        : mip_chain_bytes(width, height, channels);
}

// What a GL upload without compression adds to the texture memory.
int64_t headless_bytes(int width, int height, int channels, int flags) {
  return int64_t(upload_bytes(width, height, channels, flags));
}

TextureId upload_reduced(Image* img, int reduction, int flags) {
  if (!image_is_pow2(img->width) || !image_is_pow2(img->height)) {
    if (!image_make_pow2(img)) return 0;
  }
  image_drop_levels(img, reduction);
  return texture_upload(img->pixels, img->width, img->height, img->channels, flags);
}

void warn_npot(const char* name, int width, int height) {
  if (!image_is_pow2(width) || !image_is_pow2(height))
    console_printf("Warning: Non power of 2 texture '%.950s'", name);
}

int find_texture_record(TextureId id) {
  for (int i = 0; i < textures.count; i++)
    if (textures.items[i].id == id) return i;
  return -1;
}

int find_anim(TextureId id) {
  for (int i = 0; i < anims.count; i++)
    if (anims.items[i].id == id) return i;
  return -1;
}

void anim_free(AnimRecord* a) {
  for (int i = 0; i < a->images.count; i++) free(a->images.items[i].chain);
  array_free(&a->images);
  array_free(&a->frames);
}

// The frame that the animation shows at tick.
int anim_image_at(const AnimRecord* a, int tick) {
  int64_t since = int64_t(tick) - a->start_tick;
  if (since < 0) since = 0;
  int64_t k = since / a->ticks_per_frame;
  if (a->loop) k %= a->frame_count;
  else if (k > a->frame_count - 1) k = a->frame_count - 1;
  return a->frames.items[k];
}

void anim_show(AnimRecord* a, int image) {
  const AnimImage& img = a->images.items[image];
  a->current = image;
  if (ops) {
    ops->replace(a->id, img.chain, img.width, img.height, img.channels, a->flags);
    return;
  }
  if (Upload* u = find_upload(a->id)) {
    if (u->chain) memcpy(u->chain, img.chain, upload_bytes(img.width, img.height, img.channels, a->flags));
  }
}

bool read_anim(Stream* s, int flags, TextureId* id_out) {
  int f, n, t, loop;
  if (stream_scanf(s, "%d %d %d %d", &f, &n, &t, &loop) != 4) return false;
  if (f < 1 || n < 1) return false;
  AnimRecord a{};
  a.frame_count = f;
  a.ticks_per_frame = t < 1 ? 1 : t;
  a.loop = loop != 0;
  a.flags = flags;
  // The tables grow only as numbers and images are really present, so a huge count in a short
  // file costs nothing before the read fails.
  for (int i = 0; i < f; i++) {
    int v;
    if (stream_scanf(s, "%d", &v) != 1) {
      anim_free(&a);
      return false;
    }
    array_push(&a.frames, v);
  }
  bool ok = true;
  for (int i = 0; i < n && ok; i++) {
    char word[16];
    Image img{};
    if (stream_scanf(s, "%15s", word) != 1) {
      console_printf("Error reading .seq frame %d", i);
      ok = false;
    } else if (!strcmp(word, "V7")) {
      if (!image_read_predicted(s, "V7", 4, &img)) {
        console_printf("Error reading .seq frame %d", i);
        ok = false;
      }
    } else if (!strcmp(word, "PNG")) {
      char line[1024];
      if (!stream_gets(s, line, sizeof line)) {
        console_print("EOF while reading .seq");
        ok = false;
      } else {
        char* p = line;
        while (*p && isspace(static_cast<unsigned char>(*p))) p++;
        size_t len = strlen(p);
        while (len > 0 && isspace(static_cast<unsigned char>(p[len - 1]))) p[--len] = 0;
        if (!png_read_texture(p, &img, nullptr)) {
          console_printf("Can't read %.900s", p);
          ok = false;
        }
      }
    } else {
      console_printf("Error reading .seq frame %d", i);
      ok = false;
    }
    if (!ok) break;
    if (a.images.count > 0) {
      const AnimImage& first = a.images.items[0];
      if (img.width != first.width || img.height != first.height) {
        console_print("Width/height mismatch reading .seq");
        ok = false;
      } else if (img.channels != first.channels) {
        console_print("Depth mismatch reading .seq");
        ok = false;
      }
      if (!ok) {
        image_free(&img);
        break;
      }
    }
    array_push(&a.images, AnimImage{img.width, img.height, img.channels, img.pixels});
  }
  // A frame that names no image would index past the table when it is shown.
  for (int i = 0; ok && i < a.frames.count; i++)
    if (a.frames.items[i] < 0 || a.frames.items[i] >= a.images.count) ok = false;
  if (!ok) {
    anim_free(&a);
    return false;
  }
  a.current = a.frames.items[0];
  const AnimImage& img = a.images.items[a.current];
  a.id = texture_upload(img.chain, img.width, img.height, img.channels, flags);
  a.start_tick = 0;
  a.paused = false;
  array_push(&anims, a);
  *id_out = a.id;
  return true;
}

// Reads the rest of a link file: the target name, white space trimmed.
bool read_link_target(Stream* s, char* out, size_t size) {
  size_t n = stream_read(s, out, size - 1);
  out[n] = 0;
  if (memchr(out, 0, n)) return false;
  char* p = out;
  while (*p && isspace(static_cast<unsigned char>(*p))) p++;
  size_t len = strlen(p);
  while (len > 0 && isspace(static_cast<unsigned char>(p[len - 1]))) len--;
  memmove(out, p, len);
  out[len] = 0;
  return len > 0;
}

int find_link(const char* name) {
  for (int i = 0; i < links.count; i++)
    if (!strcmp(links.items[i].name, name)) return i;
  return -1;
}

TextureId follow_link(Stream* s, const char* name) {
  // A name that already has an entry is being resolved further up: a loop, so stop here.
  if (find_link(name) >= 0 || link_depth >= max_link_depth) {
    stream_close(s);
    return 0;
  }
  array_push(&links, LinkEntry{intern_string(name), intern_string("@colors/white.png")});
  char target[1024];
  const bool ok = read_link_target(s, target, sizeof target);
  stream_close(s);
  TextureId id = 0;
  if (ok) {
    link_depth++;
    id = texture_load(target);
    link_depth--;
  }
  const int entry = find_link(name);
  const int record = id ? find_texture_record(id) : -1;
  if (record < 0) {
    // Nothing came of it: the entry goes, so a later request tries the file again.
    if (entry >= 0) {
      links.items[entry] = links.items[links.count - 1];
      links.count--;
    }
    return 0;
  }
  links.items[entry].target = intern_string(textures.items[record].name);
  return id;
}

const char* link_target(const char* name) {
  int i = find_link(name);
  return i >= 0 ? links.items[i].target : name;
}

}  // namespace

TextureId texture_upload(const uint8_t* chain, int width, int height, int channels, int flags) {
  if (!chain || width < 1 || height < 1 || (channels != 3 && channels != 4)) return 0;
  Upload u{0, width, height, channels, flags, nullptr};
  if (ops) {
    u.id = ops->create();
    if (!u.id) return 0;
    // Ids made without a context later become GL names: keep them clear of the ones GL gave.
    if (u.id >= next_headless_id) next_headless_id = u.id + 1;
    texture_memory += ops->upload(u.id, chain, width, height, channels, flags);
  } else {
    u.id = next_headless_id++;
    const size_t bytes = upload_bytes(width, height, channels, flags);
    u.chain = static_cast<uint8_t*>(xmalloc(bytes));
    memcpy(u.chain, chain, bytes);
    texture_memory += headless_bytes(width, height, channels, flags);
  }
  array_push(&uploads, u);
  return u.id;
}

void texture_delete(TextureId id) {
  for (int i = 0; i < uploads.count; i++) {
    if (uploads.items[i].id != id) continue;
    if (uploads.items[i].chain) free(uploads.items[i].chain);
    else if (ops) ops->destroy(id);
    uploads.items[i] = uploads.items[uploads.count - 1];
    uploads.count--;
    return;
  }
}

const uint8_t* texture_pending_pixels(TextureId id, int* width, int* height, int* channels) {
  const Upload* u = find_upload(id);
  if (!u || !u->chain) return nullptr;
  if (width) *width = u->width;
  if (height) *height = u->height;
  if (channels) *channels = u->channels;
  return u->chain;
}

void texture_set_upload_ops(const TextureUploadOps* new_ops) {
  ops = new_ops;
  if (!ops) return;
  for (int i = 0; i < uploads.count; i++) {
    Upload* u = &uploads.items[i];
    if (!u->chain) continue;
    // The headless count already holds these bytes; the GL figure replaces it.
    texture_memory -= headless_bytes(u->width, u->height, u->channels, u->flags);
    texture_memory += ops->upload(u->id, u->chain, u->width, u->height, u->channels, u->flags);
    free(u->chain);
    u->chain = nullptr;
  }
}

TextureId texture_load(const char* requested) {
  int reduction = model_texture_reduction;
  if (requested[0] == '!') {
    requested++;
    reduction = 0;
  }
  const char* name = link_target(requested);
  const int64_t memory_before = texture_memory;

  for (int i = 0; i < textures.count; i++) {
    TextureRecord* r = &textures.items[i];
    if (strcmp(r->name, name) != 0) {
      if (strcasecmp(r->name, name) != 0) continue;
      console_printf("Warning: case mismatch on '%.900s'", name);
    }
    if (r->generation != 0 && r->generation != texture_generation) {
      r->generation = texture_generation;
      texture_memory += r->bytes;
    }
    return r->id;
  }

  Stream* s = stream_open(name, "rb");
  if (!s) {
    if (options.debug_level >= 1) console_printf("Can't open texture \"%.900s\"", name);
    return 0;
  }
  char word[16];
  if (stream_scanf(s, "%15s", word) != 1) {
    stream_close(s);
    return 0;
  }
  const int flags = flags_from_name(name);
  TextureId id = 0;
  Image img{};
  bool have_image = false;
  char* info = nullptr;
  bool closed = false;
  if (!strcmp(word, "V7") || !strcmp(word, "V6")) {
    have_image = image_read_predicted(s, word, word[1] == '7' ? 4 : 3, &img);
  } else if (!strcmp(word, "P3") || !strcmp(word, "P6")) {
    have_image = image_read_ppm_body(s, word, &img);
  } else if (!strcmp(word, "ANIM1")) {
    if (read_anim(s, flags, &id)) {
      stream_close(s);
      closed = true;
      img.width = anims.items[anims.count - 1].images.items[0].width;
      img.height = anims.items[anims.count - 1].images.items[0].height;
    }
  } else if (!strcmp(word, "LINK")) {
    closed = true;  // follow_link closes it
    id = follow_link(s, name);
    if (id) return id;
  }
  if (!closed) stream_close(s);
  int read_width = img.width, read_height = img.height;
  if (have_image) {
    id = upload_reduced(&img, reduction, flags);
  } else if (!id) {
    if (!png_read_texture(name, &img, &info)) return 0;
    read_width = img.width;
    read_height = img.height;
    int png_flags = flags;
    const bool wants = info && strstr(info, "[compress]");
    if (texture_compress_setting == texture_compress_always ||
        (texture_compress_setting == texture_compress_yes && wants))
      png_flags |= texture_compress;
    id = upload_reduced(&img, reduction, png_flags);
    have_image = true;
  }
  if (!id) {
    image_free(&img);
    free(info);
    return 0;
  }
  warn_npot(name, read_width, read_height);
  if (have_image) image_free(&img);
  array_push(&textures, TextureRecord{id, texture_generation, texture_memory - memory_before, info, xstrdup(name)});
  return id;
}

bool texture_pixels_load(const char* requested, const uint8_t** pixels, int* width, int* height) {
  int reduction = model_texture_reduction;
  if (requested[0] == '!') {
    requested++;
    reduction = 0;
  }
  const char* name = requested;
  for (int i = 0; i < pixel_images.count; i++) {
    PixelRecord* r = &pixel_images.items[i];
    if (strcmp(r->name, name) != 0) {
      if (strcasecmp(r->name, name) != 0) continue;
      console_printf("Warning: case mismatch on '%.900s'", name);
    }
    if (r->generation != 0 && r->generation != texture_generation) r->generation = texture_generation;
    *pixels = r->pixels;
    *width = r->width;
    *height = r->height;
    return true;
  }
  Stream* s = stream_open(name, "rb");
  if (!s) {
    if (options.debug_level >= 1) console_printf("Can't open texture \"%.900s\"", name);
    return false;
  }
  char word[16];
  if (stream_scanf(s, "%15s", word) != 1) {
    stream_close(s);
    return false;
  }
  Image img{};
  bool ok;
  if (!strcmp(word, "V7") || !strcmp(word, "V6")) ok = image_read_predicted(s, word, word[1] == '7' ? 4 : 3, &img);
  else if (!strcmp(word, "P3") || !strcmp(word, "P6")) ok = image_read_ppm_body(s, word, &img);
  else ok = false;
  stream_close(s);
  if (!ok) ok = png_read_texture(name, &img, nullptr);
  if (!ok) return false;
  if (!image_make_pow2(&img)) {
    image_free(&img);
    return false;
  }
  image_drop_levels(&img, reduction);
  image_rgb_to_rgba(&img);
  array_push(&pixel_images, PixelRecord{img.width, img.height, 4, img.pixels, texture_generation,
                                        int64_t(img.width) * img.height * 4, xstrdup(name)});
  *pixels = img.pixels;
  *width = img.width;
  *height = img.height;
  return true;
}

const char* texture_name(TextureId id) {
  int i = id ? find_texture_record(id) : -1;
  return i >= 0 ? textures.items[i].name : nullptr;
}

const char* texture_info(TextureId id) {
  int i = id ? find_texture_record(id) : -1;
  return i >= 0 ? textures.items[i].info : nullptr;
}

const char* texture_pixels_name(const uint8_t* pixels) {
  for (int i = 0; i < pixel_images.count; i++)
    if (pixel_images.items[i].pixels == pixels) return pixel_images.items[i].name;
  return nullptr;
}

void texture_anim_update(int tick) {
  for (int i = 0; i < anims.count; i++) {
    AnimRecord* a = &anims.items[i];
    if (a->paused) continue;
    const int image = anim_image_at(a, tick);
    if (image != a->current) anim_show(a, image);
  }
}

void texture_anim_restart(TextureId id, int tick) {
  int i = id ? find_anim(id) : -1;
  if (i < 0) return;
  anims.items[i].paused = false;
  anims.items[i].start_tick = tick;
}

void texture_anim_pause(TextureId id) {
  int i = id ? find_anim(id) : -1;
  if (i >= 0) anims.items[i].paused = true;
}

void texture_purge() {
  for (int i = textures.count - 1; i >= 0; i--) {
    TextureRecord r = textures.items[i];
    if (r.generation == 0 || r.generation == texture_generation) continue;
    if (options.debug_level >= 1) console_printf("deleting tid %d (%.900s)", int(r.id), r.name);
    texture_delete(r.id);
    free(r.info);
    free(r.name);
    memmove(&textures.items[i], &textures.items[i + 1], sizeof(TextureRecord) * size_t(textures.count - i - 1));
    textures.count--;
  }
  for (int i = pixel_images.count - 1; i >= 0; i--) {
    PixelRecord r = pixel_images.items[i];
    if (r.generation == 0 || r.generation == texture_generation) continue;
    if (options.debug_level >= 1) console_printf("deleting image %.900s", r.name);
    free(r.pixels);
    free(r.name);
    memmove(&pixel_images.items[i], &pixel_images.items[i + 1], sizeof(PixelRecord) * size_t(pixel_images.count - i - 1));
    pixel_images.count--;
  }
  for (int i = anims.count - 1; i >= 0; i--) {
    if (find_texture_record(anims.items[i].id) >= 0) continue;
    if (options.debug_level >= 1) console_printf("deleting anim %d for tid %d", i, int(anims.items[i].id));
    anim_free(&anims.items[i]);
    memmove(&anims.items[i], &anims.items[i + 1], sizeof(AnimRecord) * size_t(anims.count - i - 1));
    anims.count--;
  }
}

void texture_border_colour(const uint8_t* level0, int width, int height, int channels, float rgba[4]) {
  rgba[0] = rgba[1] = rgba[2] = rgba[3] = 0;
  if (channels != 3 || !level0 || width < 1 || height < 1) return;
  static int cells[512];
  memset(cells, 0, sizeof cells);
  auto count = [&](int x, int y) {
    const uint8_t* t = level0 + (size_t(y) * width + x) * 3;
    cells[(t[0] * 7 / 255) * 64 + (t[1] * 7 / 255) * 8 + t[2] * 7 / 255]++;
  };
  for (int x = 0; x < width; x++) {
    count(x, 0);
    count(x, height - 1);
  }
  for (int y = 0; y < height; y++) {
    count(0, y);
    count(width - 1, y);
  }
  int best = 0;
  for (int i = 1; i < 512; i++)
    if (cells[i] > cells[best]) best = i;
  rgba[0] = float(best / 64) / 7.0f;
  rgba[1] = float(best / 8 % 8) / 7.0f;
  rgba[2] = float(best % 8) / 7.0f;
}

void texture_reset_for_tests() {
  for (int i = 0; i < textures.count; i++) {
    free(textures.items[i].info);
    free(textures.items[i].name);
  }
  for (int i = 0; i < pixel_images.count; i++) {
    free(pixel_images.items[i].pixels);
    free(pixel_images.items[i].name);
  }
  for (int i = 0; i < anims.count; i++) anim_free(&anims.items[i]);
  for (int i = 0; i < uploads.count; i++) free(uploads.items[i].chain);
  array_free(&textures);
  array_free(&pixel_images);
  array_free(&anims);
  array_free(&links);
  array_free(&uploads);
  ops = nullptr;
  next_headless_id = 1;
  link_depth = 0;
  texture_generation = 0;
  texture_memory = 0;
}
