// Track objects: billboards, statues and their bins, flaggers, decals, lighting and cameras.
#include "track/track_objects.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "bike/shape.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "platform/log.h"
#include "resources/data.h"
#include "resources/stream.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_assets.h"

TrackObjects track_objects;
Lighting lighting;

namespace {

bool finite_all(const float* v, int n) {
  for (int k = 0; k < n; ++k) {
    if (!std::isfinite(v[k])) return false;
  }
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* null_name(const char* name) { return name && strcmp(name, "null") != 0 ? name : nullptr; }

void normalise3(float v[3]) {
  float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (len > 0.0f && std::isfinite(len)) {
    v[0] /= len;
    v[1] /= len;
    v[2] /= len;
  }
}

void cross3(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

void statue_orient(Statue* s) {
  static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (s->angle >= 3.25f) {
    memcpy(s->orientation, identity, sizeof identity);
    return;
  }
  constexpr float two_pi = 6.28318530717959f;
  float h[3] = {std::cos(s->angle), 0.0f, -std::sin(s->angle)};
  float u[3] = {0.0f, 1.0f, 0.0f};
  if (s->angle > -two_pi) {
    float h0 = terrain_height(&track_terrain, s->x, s->z);
    float h1 = terrain_height(&track_terrain, s->x + 1.0f, s->z);
    float h2 = terrain_height(&track_terrain, s->x, s->z + 1.0f);
    u[0] = -(h1 - h0);
    u[1] = 1.0f;
    u[2] = -(h2 - h0);
    normalise3(u);
  }
  float w[3], hp[3];
  cross3(h, u, w);
  normalise3(w);
  cross3(u, w, hp);
  normalise3(hp);
  memcpy(s->orientation, hp, sizeof hp);
  memcpy(s->orientation + 3, u, sizeof u);
  memcpy(s->orientation + 6, w, sizeof w);
}

// Normal and specular companions of a statue texture: "<stem>_norm.png" and the like.
TextureId companion_texture(const char* texture, const char* model, const char* suffix) {
  char stem[1100];
  size_t len = strlen(texture);
  static const char* const repeat_ends[] = {"-repeat.png", "-repeat.ppm", "-repeat.seq"};
  bool repeat = false;
  for (const char* e : repeat_ends) {
    size_t el = strlen(e);
    if (len >= el && strcmp(texture + len - el, e) == 0) repeat = true;
  }
  char name[1200];
  snprintf(stem, sizeof stem, "%s", texture);
  if (repeat) {
    char* dash = strrchr(stem, '-');
    if (dash) *dash = 0;
    for (const char* ext : {"-repeat.seq", "-repeat.png", "-repeat.ppm"}) {
      snprintf(name, sizeof name, "%s%s%s", stem, suffix, ext);
      if (TextureId id = track_texture_load(name)) return id;
    }
  } else {
    char* dot = strrchr(stem, '.');
    if (dot) *dot = 0;
    for (const char* ext : {".seq", ".png", ".ppm"}) {
      snprintf(name, sizeof name, "%s%s%s", stem, suffix, ext);
      if (TextureId id = track_texture_load(name)) return id;
    }
  }
  snprintf(stem, sizeof stem, "%s", model);
  char* dot = strrchr(stem, '.');
  if (dot) *dot = 0;
  for (const char* ext : {".seq", ".png", ".ppm"}) {
    snprintf(name, sizeof name, "%s%s%s", stem, suffix, ext);
    if (TextureId id = track_texture_load(name)) return id;
  }
  return 0;
}

int decal_bin(float c, float extent) {
  float b = std::floor(c / extent * 8.0f);
  if (!(b >= 0.0f)) return 0;
  if (b > 7.0f) return 7;
  return static_cast<int>(b);
}

}  // namespace

void track_objects_init() {
  track_objects_free();
  for (int& g : track_objects.gate_cameras) g = -1;
}

void track_objects_free() {
  for (int k = 0; k < track_objects.statues.count; ++k) shape_free(track_objects.statues.items[k].shape);
  array_free(&track_objects.statues);
  array_free(&track_objects.billboards);
  for (Array<int>& bin : track_objects.statue_bins) array_free(&bin);
  array_free(&track_objects.flaggers.marshals);
  array_free(&track_objects.cameras);
  array_free(&lighting.flares);
  track_objects = TrackObjects{};
  for (int& g : track_objects.gate_cameras) g = -1;
}

int billboard_add(float x, float y, float z, float height, float aspect, const char* texture) {
  Billboard b{};
  b.r = b.g = b.b = b.a = 255;
  const char* name = texture;
  if (name && strlen(name) > 7 && name[0] == '#' && name[7] == '#') {
    int digits[6];
    bool hex = true;
    for (int k = 0; k < 6; ++k) {
      digits[k] = hex_digit(name[1 + k]);
      if (digits[k] < 0) hex = false;
    }
    if (hex) {
      b.r = static_cast<uint8_t>(digits[0] * 16 + digits[1]);
      b.g = static_cast<uint8_t>(digits[2] * 16 + digits[3]);
      b.b = static_cast<uint8_t>(digits[4] * 16 + digits[5]);
      name += 8;
    }
  }
  b.texture_name = name && *name ? intern_string(name) : nullptr;
  b.texture = track_texture_load(b.texture_name);
  b.x = x;
  b.z = z;
  b.y_offset = y;
  b.y = terrain_height(&track_terrain, x, z) + y;
  b.height = height;
  b.aspect = aspect;
  array_push(&track_objects.billboards, b);
  return track_objects.billboards.count - 1;
}

int statue_add(float x, float y, float z, float angle, const char* model, const char* texture, const char* shape) {
  Statue s{};
  s.angle = angle;
  s.face_distance = angle >= 3.25f ? std::exp2(angle) : 0.0f;
  s.model_name = model ? intern_string(model) : nullptr;
  s.texture_name = texture ? intern_string(texture) : nullptr;
  s.shape_name = shape ? intern_string(shape) : nullptr;
  if (model) s.model = track_model_load(model);
  if (s.model && texture) {
    s.texture = track_texture_load(texture);
    if (track_settings.shaders_active) {
      s.normal_texture = companion_texture(texture, model, "_norm");
      s.specular_texture = companion_texture(texture, model, "_spec");
    }
  }
  if (shape) {
    s.shape = shape_load(shape);
    if (!s.shape) console_printf("Warning: missing shape file %.900s", shape);
  }
  s.x = x;
  s.z = z;
  s.y_offset = y;
  s.y = terrain_height(&track_terrain, x, z) + y;
  statue_orient(&s);
  array_push(&track_objects.statues, s);
  return track_objects.statues.count - 1;
}

void statue_reground(Statue* s) {
  s->y = terrain_height(&track_terrain, s->x, s->z) + s->y_offset;
  statue_orient(s);
}

int statue_bin_index(float c, float extent) {
  float b = std::floor((c / extent - 0.125f) * (4.0f / 3.0f) * 8.0f);
  if (!(b >= 0.0f)) return 0;
  if (b > 7.0f) return 7;
  return static_cast<int>(b);
}

void statue_bins_rebuild() {
  for (Array<int>& bin : track_objects.statue_bins) array_clear(&bin);
  float e = track_terrain.extent;
  if (!(e > 0.0f)) return;
  for (int k = 0; k < track_objects.statues.count; ++k) {
    const Statue& s = track_objects.statues.items[k];
    if (!s.shape) continue;
    float r = s.shape->bound;
    int x0 = statue_bin_index(s.x - r, e), x1 = statue_bin_index(s.x + r, e);
    int z0 = statue_bin_index(s.z - r, e), z1 = statue_bin_index(s.z + r, e);
    for (int bz = z0; bz <= z1; ++bz) {
      for (int bx = x0; bx <= x1; ++bx) array_push(&track_objects.statue_bins[bz * statue_bin_side + bx], k);
    }
  }
}

void billboards_read(const char* path) {
  track_objects.first_file_billboard = track_objects.billboards.count;
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  float v[5];
  char name[1024];
  while (stream_scanf(s, "[ %f %f %f ] %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], name) == 6) {
    if (!finite_all(v, 5)) continue;
    billboard_add(v[0], v[1], v[2], v[3], v[4], name);
  }
  stream_close(s);
}

void statues_read(const char* path) {
  track_objects.first_file_statue = track_objects.statues.count;
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  float v[4];
  char model[1024], texture[1024], shape[1024];
  while (stream_scanf(s, "[ %f %f %f ] %f %1023s %1023s %1023s ", &v[0], &v[1], &v[2], &v[3], model, texture,
                      shape) == 7) {
    if (!finite_all(v, 4)) continue;
    statue_add(v[0], v[1], v[2], v[3], null_name(model), null_name(texture), null_name(shape));
  }
  stream_close(s);
}

void flaggers_read(const char* path) {
  Flaggers& f = track_objects.flaggers;
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  float v[9];
  char name[1024];
  if (stream_scanf(s, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                   &v[7], &v[8]) != 9 ||
      !finite_all(v, 9)) {
    stream_close(s);
    return;
  }
  StartFlagger start{};
  memcpy(start.p1, v, sizeof start.p1);
  memcpy(start.p2, v + 3, sizeof start.p2);
  // The walk position divides by its duration; a walk that takes no time keeps the default.
  start.walk_seconds = v[8] > 0.0f ? v[8] : 1.0f;
  for (int k = 0; k < 5; ++k) {
    if (stream_scanf(s, " %1023s ", name) != 1) {
      stream_close(s);
      return;
    }
    if (k == 0) {
      start.billboard = billboard_add(v[0], v[1], v[2], v[6], v[7], name);
      start.textures[0] = track_objects.billboards.items[start.billboard].texture;
    } else {
      start.textures[k] = track_texture_load(name);
    }
  }
  f.start = start;
  f.has_start = true;

  float l[5];
  if (stream_scanf(s, " [ %f %f %f ] %f %f ", &l[0], &l[1], &l[2], &l[3], &l[4]) != 5 || !finite_all(l, 5)) {
    stream_close(s);
    return;
  }
  LapFlagger lap{};
  for (int k = 0; k < 4; ++k) {
    if (stream_scanf(s, " %1023s ", name) != 1) {
      stream_close(s);
      return;
    }
    if (k == 0) {
      lap.billboard = billboard_add(l[0], l[1], l[2], l[3], l[4], name);
      lap.textures[0] = track_objects.billboards.items[lap.billboard].texture;
    } else {
      lap.textures[k] = track_texture_load(name);
    }
  }
  f.lap = lap;
  f.has_lap = true;

  for (;;) {
    float m[5];
    int g[4];
    char alert[1024];
    if (stream_scanf(s, " [ %f %f %f ] %f %f %d %d %d %d", &m[0], &m[1], &m[2], &m[3], &m[4], &g[0], &g[1], &g[2],
                     &g[3]) != 9 ||
        !finite_all(m, 5))
      break;
    if (stream_scanf(s, " %1023s ", name) != 1 || stream_scanf(s, " %1023s ", alert) != 1) break;
    Marshal marshal{};
    for (int k = 0; k < 4; ++k) {
      int gate = g[k];
      if (gate < -1) gate = -1;
      if (gate > timing.gate_count - 1) gate = timing.gate_count - 1;
      marshal.gates[k] = gate;
    }
    marshal.billboard = billboard_add(m[0], m[1], m[2], m[3], m[4], name);
    marshal.normal_texture = track_objects.billboards.items[marshal.billboard].texture;
    marshal.alert_texture = track_texture_load(alert);
    array_push(&f.marshals, marshal);
  }
  stream_close(s);
}

void decals_read(Terrain* t, const char* path) {
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  float v[5];
  char name[1024];
  while (stream_scanf(s, "[ %f %f ] %f %f %f %1023s ", &v[0], &v[1], &v[2], &v[3], &v[4], name) == 6) {
    if (!finite_all(v, 5)) continue;
    Decal d{};
    d.x = v[0];
    d.z = v[1];
    d.angle = v[2];
    d.size = v[3];
    d.aspect = v[4];
    d.sin_angle = std::sin(d.angle);
    d.cos_angle = std::cos(d.angle);
    d.name = intern_string(name);
    if (t->render_method == 1) track_texture_pixels_load(name, &d.image, &d.image_width, &d.image_height);
    else d.texture = track_texture_load(name);
    if (!d.image && !d.texture) continue;
    if (t->use_terrain_shaders) {
      char stem[1100], alt[1200];
      snprintf(stem, sizeof stem, "%s", name);
      char* dot = strrchr(stem, '.');
      if (dot) *dot = 0;
      snprintf(alt, sizeof alt, "%s_tnorm.png", stem);
      d.normal_texture = track_texture_load(alt);
      if (!d.normal_texture) {
        snprintf(alt, sizeof alt, "%s_tnorm.ppm", stem);
        d.normal_texture = track_texture_load(alt);
      }
      snprintf(alt, sizeof alt, "%s_tspec.png", stem);
      d.specular_texture = track_texture_load(alt);
      if (!d.specular_texture) {
        snprintf(alt, sizeof alt, "%s_tspec.ppm", stem);
        d.specular_texture = track_texture_load(alt);
      }
    }
    array_push(&t->decals, d);
  }
  stream_close(s);
  decal_bins_rebuild(t);
}

void decal_bins_rebuild(Terrain* t) {
  for (Array<int>& bin : t->decal_bins) array_clear(&bin);
  if (!(t->extent > 0.0f)) return;
  for (int k = 0; k < t->decals.count; ++k) {
    const Decal& d = t->decals.items[k];
    float as = std::fabs(d.sin_angle), ac = std::fabs(d.cos_angle);
    float hx = as * d.size * 0.5f + ac * d.aspect * d.size * 0.5f;
    float hz = ac * d.size * 0.5f + as * d.aspect * d.size * 0.5f;
    int x0 = decal_bin(d.x - hx, t->extent), x1 = decal_bin(d.x + hx, t->extent);
    int z0 = decal_bin(d.z - hz, t->extent), z1 = decal_bin(d.z + hz, t->extent);
    for (int bz = z0; bz <= z1; ++bz) {
      for (int bx = x0; bx <= x1; ++bx) array_push(&t->decal_bins[bz * 8 + bx], k);
    }
  }
}

void lighting_reset() {
  array_free(&lighting.flares);
  lighting = Lighting{};
  float s = 1.0f / std::sqrt(3.0f);
  for (int k = 0; k < 3; ++k) {
    lighting.sun_vector[k] = s;
    lighting.sun_color[k] = 1.0f;
    lighting.ambient[k] = 0.5f;
    lighting.global_ambient[k] = 0.2f;
    lighting.fog_colour[k] = 1.0f;
  }
  lighting.fog_density = 0.0f;
  lighting.near_plane = 0.25f;
  lighting.far_plane = 5000.0f;
}

namespace {

bool scan_vec(const char* value, float out[3]) {
  float v[3];
  if (sscanf(value, "[ %f %f %f ]", &v[0], &v[1], &v[2]) != 3 || !finite_all(v, 3)) return false;
  memcpy(out, v, sizeof v);
  return true;
}

void lighting_finish() {
  if (lighting.near_plane < 1.0f / 1024.0f) lighting.near_plane = 1.0f / 1024.0f;
  if (lighting.near_plane > 0.875f) lighting.near_plane = 0.875f;
  if (lighting.far_plane < lighting.near_plane) lighting.far_plane = lighting.near_plane;
  if (lighting.far_plane > 1048576.0f) lighting.far_plane = 1048576.0f;
  float len2 = lighting.sun_vector[0] * lighting.sun_vector[0] + lighting.sun_vector[1] * lighting.sun_vector[1] +
               lighting.sun_vector[2] * lighting.sun_vector[2];
  // A zero vector has no direction; the default sun stays rather than a NaN light.
  if (!(len2 > 0.0f) || !std::isfinite(len2)) {
    float s = 1.0f / std::sqrt(3.0f);
    lighting.sun_vector[0] = lighting.sun_vector[1] = lighting.sun_vector[2] = s;
  } else {
    normalise3(lighting.sun_vector);
  }
  static const char* const defaults[sky_face_count] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                                       "@sky-w.ppm", "@sky-u.ppm", "@sky-env.ppm"};
  for (int k = 0; k < sky_face_count; ++k) {
    if (!lighting.sky_names[k]) lighting.sky_names[k] = intern_string(defaults[k]);
    lighting.sky[k] = track_texture_load(lighting.sky_names[k]);
  }
  if (track_graphics.set_fog) track_graphics.set_fog(lighting.fog_colour, lighting.fog_density);
}

}  // namespace

void lighting_read(const char* path) {
  lighting_reset();
  Stream* s = stream_open(path, "rb");
  if (s) {
    static const char* const sky_keys[sky_face_count] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u", "sky_env"};
    Flare pending{};
    char line[1024];
    while (stream_gets(s, line, sizeof line)) {
      char* k = line;
      while (*k == ' ' || *k == '\t') ++k;
      char* ke = k;
      while (*ke && *ke != ' ' && *ke != '\t' && *ke != '\r' && *ke != '\n') ++ke;
      char* value = ke;
      while (*value == ' ' || *value == '\t') ++value;
      size_t vl = strlen(value);
      while (vl > 0 && isspace(static_cast<unsigned char>(value[vl - 1]))) value[--vl] = 0;
      *ke = 0;
      if (!*k) continue;
      int sky = -1;
      for (int f = 0; f < sky_face_count; ++f) {
        if (strcmp(k, sky_keys[f]) == 0) sky = f;
      }
      if (strcmp(k, "sun_vector") == 0) {
        scan_vec(value, lighting.sun_vector);
      } else if (strcmp(k, "sun_color") == 0) {
        scan_vec(value, lighting.sun_color);
      } else if (strcmp(k, "ambient") == 0) {
        scan_vec(value, lighting.ambient);
      } else if (strcmp(k, "global_ambient") == 0) {
        scan_vec(value, lighting.global_ambient);
      } else if (sky >= 0) {
        if (*value) lighting.sky_names[sky] = intern_string(value);
      } else if (strcmp(k, "flare_element") == 0) {
        FlareElement e{};
        char tex[1024];
        float v[6];
        if (sscanf(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], tex) == 7 &&
            finite_all(v, 6) && pending.element_count < max_flare_elements) {
          e.a = v[0];
          e.b = v[1];
          e.colour[0] = v[2];
          e.colour[1] = v[3];
          e.colour[2] = v[4];
          e.size = v[5];
          e.texture = track_texture_load(tex);
          pending.elements[pending.element_count++] = e;
        }
      } else if (strcmp(k, "flare_point") == 0 || strcmp(k, "flare_vector") == 0) {
        if (scan_vec(value, pending.anchor)) {
          pending.at_infinity = strcmp(k, "flare_vector") == 0;
          array_push(&lighting.flares, pending);
          pending = Flare{};
        }
      } else if (strcmp(k, "fog") == 0) {
        float v[4];
        if (sscanf(value, " [ %f %f %f ] %f ", &v[0], &v[1], &v[2], &v[3]) == 4 && finite_all(v, 4)) {
          memcpy(lighting.fog_colour, v, sizeof lighting.fog_colour);
          lighting.fog_density = v[3];
        }
      } else if (strcmp(k, "dynamic_lighting") == 0) {
        int d = 0;
        if (sscanf(value, "%d", &d) == 1) lighting.dynamic_lighting = d > 0;
      } else if (strcmp(k, "near_plane") == 0) {
        float v = 0;
        if (sscanf(value, "%f", &v) == 1 && std::isfinite(v)) lighting.near_plane = v;
      } else if (strcmp(k, "far_plane") == 0) {
        float v = 0;
        if (sscanf(value, "%f", &v) == 1 && std::isfinite(v)) lighting.far_plane = v;
      } else {
        console_printf("Error reading lighting: Unknown identifier '%.950s'\n", k);
        break;
      }
    }
    stream_close(s);
  }
  // Fog and sky are applied for every track, so one track's fog never lingers into the next.
  lighting_finish();
}

void cameras_read(const char* path) {
  array_free(&track_objects.cameras);
  for (int& g : track_objects.gate_cameras) g = -1;
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  float fov = 90.0f, autofov = 0.0f;
  char line[1024];
  while (stream_gets(s, line, sizeof line)) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    float v[3];
    if (strncmp(p, "addcamera", 9) == 0 && sscanf(p + 9, "%f %f %f", &v[0], &v[1], &v[2]) == 3) {
      if (!finite_all(v, 3)) continue;
      TvCamera c{v[0], terrain_height(&track_terrain, v[0], v[2]) + v[1], v[2], fov, autofov};
      array_push(&track_objects.cameras, c);
      fov = 90.0f;
      autofov = 0.0f;
    } else if (strncmp(p, "fov", 3) == 0 && sscanf(p + 3, "%f", &v[0]) == 1 && std::isfinite(v[0])) {
      fov = std::fabs(v[0]);
    } else if (strncmp(p, "autofovsize", 11) == 0 && sscanf(p + 11, "%f", &v[0]) == 1 && std::isfinite(v[0])) {
      autofov = std::fabs(v[0]);
    } else if (strncmp(p, "gate", 4) == 0 && (p[4] == 0 || isspace(static_cast<unsigned char>(p[4])))) {
      const char* q = p + 4;
      for (;;) {
        while (*q && isspace(static_cast<unsigned char>(*q))) ++q;
        char* end = nullptr;
        long n = strtol(q, &end, 10);
        if (end == q || n < 0 || n >= gate_camera_count) break;
        track_objects.gate_cameras[n] = track_objects.cameras.count;
        q = end;
      }
    }
  }
  stream_close(s);
  // A gate promised to a camera that never came shows no camera rather than a missing one.
  for (int& g : track_objects.gate_cameras) {
    if (g >= track_objects.cameras.count) g = -1;
  }
  if (options.debug_level >= 1) velk_log("%d cameras found\n", track_objects.cameras.count);
}

namespace {

Stream* open_for_save(const char* folder, const char* name, char* final_path, char* temp_path) {
  char data_name[1100];
  snprintf(data_name, sizeof data_name, "%s/%s", folder, name);
  if (!data_resolve_write_path(data_name, final_path, 1100)) return nullptr;
  snprintf(temp_path, 1120, "%s.tmp", final_path);
  make_folders_for(final_path);
  return stream_open(temp_path, "wb");
}

bool finish_save(Stream* s, bool ok, const char* final_path, const char* temp_path) {
  ok = ok && stream_flush(s);
  stream_close(s);
  if (ok) ok = data_rename(temp_path, final_path) == 1;
  if (!ok) remove(temp_path);
  return ok;
}

}  // namespace

bool billboards_save(const char* folder) {
  char final_path[1100], temp_path[1120];
  Stream* s = open_for_save(folder, "billboards", final_path, temp_path);
  if (!s) {
    console_print("Can't open 'billboards'\n");
    return false;
  }
  bool ok = true;
  for (int k = track_objects.first_file_billboard; k < track_objects.billboards.count; ++k) {
    const Billboard& b = track_objects.billboards.items[k];
    if (!b.texture_name) continue;
    ok = ok && stream_printf(s, "[%f %f %f] %f %f ", static_cast<double>(b.x), static_cast<double>(b.y_offset),
                             static_cast<double>(b.z), static_cast<double>(b.height),
                             static_cast<double>(b.aspect)) >= 0;
    if (b.r == 255 && b.g == 255 && b.b == 255) ok = ok && stream_printf(s, "%s\n", b.texture_name) >= 0;
    else ok = ok && stream_printf(s, "#%02x%02x%02x#%s\n", b.r, b.g, b.b, b.texture_name) >= 0;
  }
  if (!finish_save(s, ok, final_path, temp_path)) {
    console_print("Can't open 'billboards'\n");
    return false;
  }
  return true;
}

bool statues_save(const char* folder) {
  char final_path[1100], temp_path[1120];
  Stream* s = open_for_save(folder, "statues", final_path, temp_path);
  if (!s) {
    console_print("Can't open 'statues'\n");
    return false;
  }
  bool ok = true;
  for (int k = track_objects.first_file_statue; k < track_objects.statues.count; ++k) {
    const Statue& st = track_objects.statues.items[k];
    ok = ok && stream_printf(s, "[%f %f %f] %f %s %s %s\n", static_cast<double>(st.x), static_cast<double>(st.y_offset),
                             static_cast<double>(st.z), static_cast<double>(st.angle),
                             st.model_name ? st.model_name : "null", st.texture_name ? st.texture_name : "null",
                             st.shape_name ? st.shape_name : "null") >= 0;
  }
  if (!finish_save(s, ok, final_path, temp_path)) {
    console_print("Can't open 'statues'\n");
    return false;
  }
  return true;
}
