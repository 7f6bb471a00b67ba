// The terrain height field: queries on the checkerboard triangulation, loading and saving.
#include "track/terrain.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/digest.h"
#include "core/memory.h"
#include "core/options.h"
#include "platform/log.h"
#include "resources/data.h"
#include "resources/image.h"
#include "resources/stream.h"
#include "track/track.h"
#include "track/track_assets.h"
#include "track/track_objects.h"

namespace {

inline float sample(const Terrain* t, int c, int r) {
  if (c < 0) c = 0;
  if (c > t->dim - 1) c = t->dim - 1;
  if (r < 0) r = 0;
  if (r > t->dim - 1) r = t->dim - 1;
  return t->heights[r * t->dim + c];
}

// Grid coordinate of a world coordinate, kept where the flat border extension makes any
// further distance irrelevant, so a NaN or a huge value never reaches the integer conversion.
inline float grid_coord(const Terrain* t, float v) {
  float g = v * (1.0f / t->spacing);
  if (!(g >= -1.0f)) g = -1.0f;
  if (!(g <= static_cast<float>(t->dim))) g = static_cast<float>(t->dim);
  return g;
}

struct Triangle {
  int c[3], r[3];  // right-angle corner, row neighbour, column neighbour
};

Triangle triangle_at(const Terrain* t, float x, float z) {
  float X = grid_coord(t, x), Z = grid_coord(t, z);
  int i = static_cast<int>(std::floor(X)), j = static_cast<int>(std::floor(Z));
  float fx = X - static_cast<float>(i), fz = Z - static_cast<float>(j);
  if ((i + j) & 1) {
    if (fx + fz <= 1.0f) return {{i, i + 1, i}, {j, j, j + 1}};
    return {{i + 1, i, i + 1}, {j + 1, j + 1, j}};
  }
  if ((1.0f - fx) + fz <= 1.0f) return {{i + 1, i, i + 1}, {j, j, j + 1}};
  return {{i, i + 1, i}, {j + 1, j + 1, j}};
}

Vec3f sub(Vec3f a, Vec3f b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3f cross(Vec3f a, Vec3f b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec3f normalise(Vec3f v) {
  float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (!(len > 0.0f)) return {0.0f, 1.0f, 0.0f};
  return {v.x / len, v.y / len, v.z / len};
}

bool debug_on(int level) { return options.debug_level >= level; }

// Reads the heights from the inline block or from terrain.png, digesting every sample.
bool read_heights(Terrain* t, Stream* hf, int next_byte, const char* folder) {
  size_t count = static_cast<size_t>(t->dim) * static_cast<size_t>(t->dim);
  uint16_t* raw = static_cast<uint16_t*>(xmalloc(count * sizeof(uint16_t)));
  if (next_byte == ':') {
    uint8_t* bytes = static_cast<uint8_t*>(xmalloc(count * 2));
    size_t got = stream_read(hf, bytes, count * 2);
    if (got != count * 2 || stream_error(hf)) {
      // A short block would leave a cliff of made-up heights; refuse it instead.
      free(bytes);
      free(raw);
      console_print("Error reading heights");
      return false;
    }
    for (size_t k = 0; k < count; ++k) raw[k] = static_cast<uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
    free(bytes);
  } else {
    char path[1100];
    snprintf(path, sizeof path, "%s/terrain.png", folder);
    Stream* probe = stream_open(path, "rb");
    if (!probe) {
      console_printf("Can't open '%.950s'", path);
      free(raw);
      return false;
    }
    stream_close(probe);
    uint16_t* png = nullptr;
    int w = 0, h = 0;
    if (!png_read_grey16(path, &png, &w, &h) || !png || w <= 0 || h <= 0) {
      free(png);
      free(raw);
      console_print("Error reading heights");
      return false;
    }
    for (int r = 0; r < t->dim; ++r) {
      int pr = r < h ? r : h - 1;
      for (int c = 0; c < t->dim; ++c) {
        int pc = c < w ? c : w - 1;
        raw[static_cast<size_t>(r) * t->dim + c] = png[static_cast<size_t>(pr) * w + pc];
      }
    }
    free(png);
  }
  DigestContext ctx;
  digest_begin(&ctx);
  float range = t->max_height - t->min_height;
  uint8_t block[1024];
  size_t used = 0;
  for (size_t k = 0; k < count; ++k) {
    uint16_t v = raw[k];
    block[used++] = static_cast<uint8_t>(v & 0xFF);
    block[used++] = static_cast<uint8_t>(v >> 8);
    if (used == sizeof block) {
      digest_update(&ctx, block, used);
      used = 0;
    }
    t->heights[k] = range * static_cast<float>(v) * (1.0f / 65535.0f) + t->min_height;
  }
  digest_update(&ctx, block, used);
  Digest d = digest_end(&ctx);
  if (debug_on(2)) {
    char hex[41];
    digest_hex(&d, hex);
    velk_log("%s\n", hex);
  }
  free(raw);
  return true;
}

bool read_shading(Terrain* t, const char* folder) {
  bool half = true;
  Stream* s = track_open_file(folder, "shadingx2.ppm", "rb", false);
  if (!s) {
    half = false;
    s = track_open_file(folder, "shading.ppm", "rb", true);
    if (!s) return false;
  }
  Image img{};
  bool ok = image_read_ppm(s, &img);
  stream_close(s);
  if (!ok || !img.pixels) {
    image_free(&img);
    console_print("Error reading shading");
    return false;
  }
  if (img.width != t->dim || img.height != t->dim || img.channels != 3) {
    console_printf("Bad shading dimensions (%dx%d)", img.width, img.height);
    image_free(&img);
    return false;
  }
  size_t n = static_cast<size_t>(t->dim) * t->dim * 3;
  t->shading = static_cast<uint8_t*>(xmalloc(n));
  memcpy(t->shading, img.pixels, n);
  if (!half) {
    for (size_t k = 0; k < n; ++k) t->shading[k] = static_cast<uint8_t>(t->shading[k] >> 1);
  }
  image_free(&img);
  return true;
}

bool read_shadows(Terrain* t, const char* folder) {
  size_t n = static_cast<size_t>(t->dim) * t->dim;
  t->shadow = static_cast<uint8_t*>(xcalloc(n, 1));
  Stream* s = track_open_file(folder, "shadows.pgm", "rb", false);
  if (!s) return true;
  Image img{};
  bool ok = image_read_pgm(s, &img);
  stream_close(s);
  if (!ok || !img.pixels) {
    image_free(&img);
    console_print("Error reading shadows");
    return false;
  }
  if (img.width != t->dim || img.height != t->dim || img.channels != 1) {
    velk_log("Bad shadow dimensions (%dx%d)\n", img.width, img.height);
    image_free(&img);
    return false;
  }
  for (size_t k = 0; k < n; ++k) t->shadow[k] = static_cast<uint8_t>(255 - img.pixels[k]);
  image_free(&img);
  return true;
}

bool read_tile_types(Terrain* t, const char* folder) {
  t->tile_types = static_cast<TileType*>(xcalloc(max_tile_types, sizeof(TileType)));
  t->tile_type_count = 0;
  Stream* s = track_open_file(folder, "tileinfo", "rb", false);
  if (s) {
    tile_types_read_tileinfo(t, s);
    stream_close(s);
  } else {
    s = track_open_file(folder, "texturelist", "rb", true);
    if (!s) return false;
    tile_types_read_texturelist(t, s);
    stream_close(s);
  }
  if (t->tile_type_count == 0) {
    // Without a single surface type no tile index is valid and the wheels would read garbage.
    console_print("Track has no tile types");
    return false;
  }
  return true;
}

bool read_tile_map(Terrain* t, const char* folder) {
  Stream* s = track_open_file(folder, "tilemap", "rb", true);
  if (!s) return false;
  size_t n = static_cast<size_t>(1) << (2 * t->size_log2);
  // A short file leaves the rest at type 0, a defined surface.
  t->tile_map = static_cast<uint8_t*>(xcalloc(n, 1));
  stream_read(s, t->tile_map, n);
  stream_close(s);
  uint8_t last = static_cast<uint8_t>(t->tile_type_count - 1);
  for (size_t k = 0; k < n; ++k) {
    if (t->tile_map[k] > last) t->tile_map[k] = last;
  }
  return true;
}

int8_t normal_byte(float v) {
  float q = std::trunc(127.0f * v);
  if (q < -127.0f) q = -127.0f;
  if (q > 127.0f) q = 127.0f;
  return static_cast<int8_t>(q);
}

void build_normal_shadow_map(Terrain* t) {
  size_t n = static_cast<size_t>(t->dim) * t->dim;
  t->normal_shadow_map = static_cast<uint8_t*>(xmalloc(n * 3));
  for (int r = 0; r < t->dim; ++r) {
    for (int c = 0; c < t->dim; ++c) {
      size_t k = static_cast<size_t>(r) * t->dim + c;
      Vec3f nv = terrain_vertex_normal(t, c, r);
      t->normal_shadow_map[3 * k] = static_cast<uint8_t>(normal_byte(nv.x) + 128);
      t->normal_shadow_map[3 * k + 1] = static_cast<uint8_t>(255 - t->shadow[k]);
      t->normal_shadow_map[3 * k + 2] = static_cast<uint8_t>(normal_byte(nv.z) + 128);
    }
  }
}

// Writes through a temporary file and renames it over the old one, so a failed save never
// leaves a half-written track behind.
struct AtomicFile {
  char final_path[1100];
  char temp_path[1120];
  Stream* s = nullptr;
};

bool atomic_open(AtomicFile* f, const char* folder, const char* name) {
  char data_name[1100];
  snprintf(data_name, sizeof data_name, "%s/%s", folder, name);
  if (!data_resolve_write_path(data_name, f->final_path, sizeof f->final_path)) return false;
  snprintf(f->temp_path, sizeof f->temp_path, "%s.tmp", f->final_path);
  make_folders_for(f->final_path);
  f->s = stream_open(f->temp_path, "wb");
  return f->s != nullptr;
}

bool atomic_commit(AtomicFile* f, bool wrote_ok) {
  bool ok = wrote_ok && stream_flush(f->s);
  stream_close(f->s);
  f->s = nullptr;
  if (ok) ok = data_rename(f->temp_path, f->final_path) == 1;
  if (!ok) remove(f->temp_path);
  return ok;
}

bool write_shading(Terrain* t, const char* folder, const char* name, bool doubled) {
  AtomicFile f;
  if (!atomic_open(&f, folder, name)) {
    console_printf("Can't open '%s'", name);
    return false;
  }
  bool ok = stream_printf(f.s, "P6\n%d %d\n255\n", t->dim, t->dim) > 0;
  size_t n = static_cast<size_t>(t->dim) * t->dim * 3;
  uint8_t* out = static_cast<uint8_t*>(xmalloc(n));
  for (size_t k = 0; k < n; ++k) {
    int v = doubled ? t->shading[k] * 2 : t->shading[k];
    out[k] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
  ok = ok && stream_write(f.s, out, n) == n;
  free(out);
  if (!atomic_commit(&f, ok)) {
    console_printf("Can't open '%s'", name);
    return false;
  }
  return true;
}

}  // namespace

float terrain_sample(const Terrain* t, int column, int row) { return sample(t, column, row); }

float terrain_height(const Terrain* t, float x, float z) {
  float X = grid_coord(t, x), Z = grid_coord(t, z);
  int i = static_cast<int>(std::floor(X)), j = static_cast<int>(std::floor(Z));
  float fx = X - static_cast<float>(i), fz = Z - static_cast<float>(j);
  if ((i + j) & 1) {
    if (fx + fz <= 1.0f) {
      float h = sample(t, i, j);
      return h + fx * (sample(t, i + 1, j) - h) + fz * (sample(t, i, j + 1) - h);
    }
    float h = sample(t, i + 1, j + 1);
    return h + (1.0f - fx) * (sample(t, i, j + 1) - h) + (1.0f - fz) * (sample(t, i + 1, j) - h);
  }
  if ((1.0f - fx) + fz <= 1.0f) {
    float h = sample(t, i + 1, j);
    return h + (1.0f - fx) * (sample(t, i, j) - h) + fz * (sample(t, i + 1, j + 1) - h);
  }
  float h = sample(t, i, j + 1);
  return h + fx * (sample(t, i + 1, j + 1) - h) + (1.0f - fz) * (sample(t, i, j) - h);
}

Vec3f terrain_face_normal(const Terrain* t, float x, float z) {
  Triangle tri = triangle_at(t, x, z);
  Vec3f v[3];
  for (int k = 0; k < 3; ++k) {
    v[k] = {static_cast<float>(tri.c[k]) * t->spacing, sample(t, tri.c[k], tri.r[k]),
            static_cast<float>(tri.r[k]) * t->spacing};
  }
  Vec3f n = cross(sub(v[1], v[0]), sub(v[2], v[0]));
  if (n.y < 0.0f) n = {-n.x, -n.y, -n.z};
  return n;
}

Vec3f terrain_vertex_normal(const Terrain* t, int c, int r) {
  static const int offsets[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}};
  Vec3f centre = {static_cast<float>(c) * t->spacing, sample(t, c, r), static_cast<float>(r) * t->spacing};
  Vec3f p[8];
  for (int k = 0; k < 8; ++k) {
    int pc = c + offsets[k][0], pr = r + offsets[k][1];
    p[k] = {static_cast<float>(pc) * t->spacing, sample(t, pc, pr), static_cast<float>(pr) * t->spacing};
  }
  Vec3f sum = {0.0f, 0.0f, 0.0f};
  for (int k = 0; k < 8; ++k) {
    Vec3f n = normalise(cross(sub(p[(k + 1) % 8], centre), sub(p[k], centre)));
    sum = {sum.x + n.x, sum.y + n.y, sum.z + n.z};
  }
  return normalise(sum);
}

int terrain_tile_at(const Terrain* t, float x, float z) {
  float side = static_cast<float>((1 << t->size_log2) - 1);
  float c = x * (0.5f / t->spacing), r = z * (0.5f / t->spacing);
  if (!(c >= 0.0f)) c = 0.0f;
  if (c > side) c = side;
  if (!(r >= 0.0f)) r = 0.0f;
  if (r > side) r = side;
  return t->tile_map[(static_cast<int>(r) << t->size_log2) + static_cast<int>(c)];
}

bool terrain_load(Terrain* t, const char* folder, int requested_method) {
  *t = Terrain{};
  t->ground_texture_size = 128;
  t->last_camera_cell[0] = t->last_camera_cell[1] = -1000000;

  Stream* hf = track_open_file(folder, "terrain.hf", "rb", true);
  if (!hf) return false;
  int n = 0;
  float spacing = 0, lo = 0, hi = 0;
  int got = stream_scanf(hf, "%d %f %f %f ", &n, &spacing, &lo, &hi);
  // Sizes below 7 break the renderer's level-of-detail windows, sizes above 12 are no terrain
  // anyone can ride or hold in memory; a spacing must be positive for every query.
  if (got != 4 || n < 7 || n > 12 || !std::isfinite(spacing) || !(spacing > 0.0f) ||
      !std::isfinite(lo) || !std::isfinite(hi)) {
    stream_close(hf);
    console_print("Bad height field parameters");
    console_print("Error reading heights");
    return false;
  }
  int next = stream_getc(hf);
  t->size_log2 = n;
  t->dim = (1 << (n + 1)) + 1;
  t->spacing = spacing;
  t->tile_size = 2.0f * spacing;
  t->extent = spacing * static_cast<float>(t->dim - 1);
  t->min_height = lo;
  t->max_height = hi;
  t->detail_threshold = track_settings.detail_threshold;
  t->change_counter = 1;
  size_t nodes = (static_cast<size_t>(4) << (2 * n)) / 3;
  t->lod_nodes = static_cast<uint8_t*>(xcalloc((nodes + 7) / 8, 1));
  t->heights = static_cast<float*>(xmalloc(sizeof(float) * static_cast<size_t>(t->dim) * t->dim));

  bool ok = read_heights(t, hf, next, folder);
  stream_close(hf);
  if (!ok) {
    terrain_free(t);
    return false;
  }
  t->lod_metric[0] = static_cast<float*>(xcalloc(nodes, sizeof(float)));
  t->lod_metric[1] = static_cast<float*>(xcalloc(nodes, sizeof(float)));
  if (track_graphics.lod_build) track_graphics.lod_build(t);

  int resolution = 32 << (track_settings.ground_texture_level < 0 ? 0
                          : track_settings.ground_texture_level > 5 ? 5
                          : track_settings.ground_texture_level);
  t->render_method = 1;
  if (requested_method == 3 && track_graphics.framebuffer_create &&
      track_graphics.framebuffer_create(&t->framebuffer) && t->framebuffer != 0) {
    t->render_method = 3;
    t->ground_texture_size = resolution;
  } else {
    t->framebuffer = 0;
    t->render_method = requested_method == 2 ? 2 : 1;
    t->ground_texture_size = resolution < 256 ? resolution : 256;
  }
  static const char* const method_names[] = {"", "Terrain texture rendering with TexSubImage",
                                             "Terrain texture rendering with CopyTexSubImage",
                                             "Terrain texture rendering with framebuffer objects"};
  console_print(method_names[t->render_method]);
  t->use_terrain_shaders = track_settings.shader_terrain && lighting.dynamic_lighting &&
                           (t->render_method == 2 || t->render_method == 3);

  if (!read_shading(t, folder) || !read_shadows(t, folder)) {
    terrain_free(t);
    return false;
  }
  if (debug_on(1)) velk_log("%lu bytes texture memory used before ground tiles loaded\n",
                            static_cast<unsigned long>(track_texture_memory()));
  if (!read_tile_types(t, folder)) {
    terrain_free(t);
    return false;
  }
  if (debug_on(1)) velk_log("%lu bytes texture memory used after ground tiles loaded\n",
                            static_cast<unsigned long>(track_texture_memory()));
  if (!read_tile_map(t, folder)) {
    terrain_free(t);
    return false;
  }
  if (t->use_terrain_shaders) build_normal_shadow_map(t);
  if (track_graphics.ground_textures_create) {
    track_graphics.ground_textures_create(t);
    if (t->render_method != 1 && debug_on(1))
      velk_log("%lu bytes texture memory used after low detail ground textures\n",
               static_cast<unsigned long>(track_texture_memory()));
  }
  char path[1100];
  snprintf(path, sizeof path, "%s/decals", folder);
  decals_read(t, path);
  return true;
}

void terrain_free(Terrain* t) {
  if (track_graphics.ground_textures_free && t->ground) track_graphics.ground_textures_free(t);
  if (t->framebuffer && track_graphics.framebuffer_delete) track_graphics.framebuffer_delete(t->framebuffer);
  free(t->heights);
  free(t->shading);
  free(t->shadow);
  free(t->normal_shadow_map);
  free(t->tile_map);
  free(t->tile_types);
  free(t->lod_metric[0]);
  free(t->lod_metric[1]);
  free(t->lod_nodes);
  array_free(&t->decals);
  for (Array<int>& bin : t->decal_bins) array_free(&bin);
  *t = Terrain{};
  t->last_camera_cell[0] = t->last_camera_cell[1] = -1000000;
}

bool terrain_save(Terrain* t, const char* folder) {
  size_t count = static_cast<size_t>(t->dim) * t->dim;
  float lo = t->heights[0], hi = t->heights[0];
  for (size_t k = 1; k < count; ++k) {
    if (t->heights[k] < lo) lo = t->heights[k];
    if (t->heights[k] > hi) hi = t->heights[k];
  }
  t->min_height = lo;
  t->max_height = hi;

  AtomicFile hf;
  if (!atomic_open(&hf, folder, "terrain.hf") ||
      !atomic_commit(&hf, stream_printf(hf.s, "%d %f %f %f\n", t->size_log2, static_cast<double>(t->spacing),
                                        static_cast<double>(lo), static_cast<double>(hi)) > 0)) {
    if (hf.s) stream_close(hf.s);
    console_print("Can't open 'terrain.hf'");
    return false;
  }

  // A flat terrain has no range to divide by: every sample is then the minimum, stored as 0.
  float scale = hi > lo ? 1.0f / (hi - lo) : 0.0f;
  uint16_t* png = static_cast<uint16_t*>(xmalloc(count * sizeof(uint16_t)));
  for (size_t k = 0; k < count; ++k) {
    float v = (t->heights[k] - lo) * scale * 65535.0f + 0.5f;
    if (!(v >= 0.0f)) v = 0.0f;
    if (v > 65535.0f) v = 65535.0f;
    png[k] = static_cast<uint16_t>(v);
  }
  char data_name[1100], final_path[1100], temp_path[1120];
  snprintf(data_name, sizeof data_name, "%s/terrain.png", folder);
  bool ok = data_resolve_write_path(data_name, final_path, sizeof final_path);
  if (ok) {
    snprintf(temp_path, sizeof temp_path, "%s.tmp", final_path);
    make_folders_for(final_path);
    ok = png_write_grey16(temp_path, png, t->dim, t->dim);
    if (ok) ok = data_rename(temp_path, final_path) == 1;
    if (!ok) remove(temp_path);
  }
  free(png);
  if (!ok) {
    console_print("Can't open 'terrain.png'");
    return false;
  }
  if (!write_shading(t, folder, "shading.ppm", true)) return false;
  if (!write_shading(t, folder, "shadingx2.ppm", false)) return false;

  AtomicFile tm;
  size_t tiles = static_cast<size_t>(1) << (2 * t->size_log2);
  if (!atomic_open(&tm, folder, "tilemap") || !atomic_commit(&tm, stream_write(tm.s, t->tile_map, tiles) == tiles)) {
    if (tm.s) stream_close(tm.s);
    console_print("Can't open 'tilemap'");
    return false;
  }
  if (t->decals.count > 0) {
    AtomicFile df;
    bool wrote = atomic_open(&df, folder, "decals");
    for (int k = 0; wrote && k < t->decals.count; ++k) {
      const Decal& d = t->decals.items[k];
      wrote = stream_printf(df.s, "[%f %f] %f %f %f %s\n", static_cast<double>(d.x), static_cast<double>(d.z),
                            static_cast<double>(d.angle), static_cast<double>(d.size),
                            static_cast<double>(d.aspect), d.name ? d.name : "null") > 0;
    }
    if (!df.s || !atomic_commit(&df, wrote)) {
      if (df.s) stream_close(df.s);
      console_print("Can't open 'decals'");
      return false;
    }
  }
  return true;
}
