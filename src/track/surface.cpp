// Surface types: the "tileinfo" and "texturelist" readers, transition codes and the curves.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/memory.h"
#include "resources/stream.h"
#include "track/terrain.h"
#include "track/track_assets.h"

namespace {

constexpr float min_curve_speed = 9.53674e-07f;  // 2^-20: a used point never has speed 0
const float erode_defaults[erode_field_count] = {1.0f, 50.0f, 150.0f, 2.0f, 4.0f, 0.25f, 10.0f, 15.0f};

bool is_line_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Every field but the texture, which is loaded only when the line names none of its own.
void roost_defaults(RoostKind* r) {
  *r = RoostKind{};
  r->kind = roost_roost;
  r->count = 10.0f;
  r->dig = 1.0f;
  r->slip_threshold = 4.0f;
  r->slow_angle = 1.5707964f;
  r->fast_angle = 0.19634955f;
  r->slow_speed = 0.0f;
  r->fast_speed = 64.0f;
  r->size = 0.25f;
  r->grow = 4.0f;
  r->drag = 0.5f;
  r->vscale = 1.0f;
  r->randomize = 15.0f;
  r->r = r->g = r->b = r->a = 255;
  r->fade_r = r->fade_g = r->fade_b = 0;
  r->fade_a = -2;
}

// The name the editor's auto-tiling compares: without "@", from the last "/" on.
const char* transition_name(const char* texture) {
  if (!texture) return intern_string("");
  if (*texture == '@') ++texture;
  const char* slash = strrchr(texture, '/');
  return intern_string(slash ? slash : texture);
}

void load_tile_texture(TileType* type, const char* name, int method) {
  type->texture_name = intern_string(name);
  if (method == 1) {
    track_texture_pixels_load(name, &type->image, &type->image_width, &type->image_height);
  } else {
    type->texture = track_texture_load(name);
  }
}

struct Pending {
  TileType type;
  int friction_count, roll_count, roost_count;
};

void pending_reset(Pending* p) {
  tile_type_set_defaults(&p->type);
  p->friction_count = 0;
  p->roll_count = 0;
  p->roost_count = 0;
}

void sort_points(Pending* p) {
  for (int i = 0; i + 1 < p->friction_count; ++i) {
    for (int j = i + 1; j < p->friction_count; ++j) {
      if (p->type.friction[i].speed > p->type.friction[j].speed) {
        FrictionPoint x = p->type.friction[i];
        p->type.friction[i] = p->type.friction[j];
        p->type.friction[j] = x;
      }
    }
  }
  for (int i = 0; i + 1 < p->roll_count; ++i) {
    for (int j = i + 1; j < p->roll_count; ++j) {
      if (p->type.roll_resist[i].speed > p->type.roll_resist[j].speed) {
        RollResistPoint x = p->type.roll_resist[i];
        p->type.roll_resist[i] = p->type.roll_resist[j];
        p->type.roll_resist[j] = x;
      }
    }
  }
}

// One token of a roost line: "name=value" with quotes already removed.
void roost_token(RoostKind* r, const char* token, bool* named_texture) {
  struct NumberKey {
    const char* prefix;
    float RoostKind::*field;
  };
  static const NumberKey number_keys[] = {
      {"count=", &RoostKind::count},         {"dig=", &RoostKind::dig},
      {"slip_threshold=", &RoostKind::slip_threshold},
      {"slow_angle=", &RoostKind::slow_angle}, {"fast_angle=", &RoostKind::fast_angle},
      {"slow_speed=", &RoostKind::slow_speed}, {"fast_speed=", &RoostKind::fast_speed},
      {"size=", &RoostKind::size},           {"grow=", &RoostKind::grow},
      {"drag=", &RoostKind::drag},           {"vscale=", &RoostKind::vscale},
      {"randomize=", &RoostKind::randomize},
  };
  static const char* const colour_keys[] = {"r=", "g=", "b=", "a="};
  static const char* const fade_keys[] = {"fade_r=", "fade_g=", "fade_b=", "fade_a="};

  if (strncmp(token, "texture=", 8) == 0) {
    *named_texture = true;
    r->texture = track_texture_load(token + 8);
    return;
  }
  auto number = [](const char* text, const char* key, bool* ok) {
    char* end = nullptr;
    double v = strtod(text, &end);
    *ok = end != text && std::isfinite(v);
    if (!*ok) {
      // Only the key's name goes into the message: "bad count" for "count=".
      console_printf("tileinfo warning: bad %.*s\n", static_cast<int>(strlen(key) - 1), key);
    }
    return v;
  };
  if (strncmp(token, "splash=", 7) == 0) {
    char* end = nullptr;
    double v = strtod(token + 7, &end);
    if (end != token + 7 && v != 0.0) r->kind = roost_splash;
    return;
  }
  for (const NumberKey& k : number_keys) {
    size_t len = strlen(k.prefix);
    if (strncmp(token, k.prefix, len) == 0) {
      bool ok = false;
      double v = number(token + len, k.prefix, &ok);
      // A value that is no number reads as 0, as the C conversion gives it; infinities and
      // NaN would poison the particle arithmetic and keep the default instead.
      if (ok) r->*(k.field) = static_cast<float>(v);
      else if (!std::isnan(v) && !std::isinf(v)) r->*(k.field) = 0.0f;
      return;
    }
  }
  uint8_t* colours[] = {&r->r, &r->g, &r->b, &r->a};
  for (int c = 0; c < 4; ++c) {
    size_t len = strlen(colour_keys[c]);
    if (strncmp(token, colour_keys[c], len) == 0) {
      bool ok = false;
      double v = number(token + len, colour_keys[c], &ok);
      if (!ok && !std::isfinite(v)) return;
      if (v > 1e9) v = 1e9;
      if (v < -1e9) v = -1e9;
      *colours[c] = static_cast<uint8_t>(static_cast<long long>(std::trunc(v)) & 0xFF);
      return;
    }
  }
  int8_t* fades[] = {&r->fade_r, &r->fade_g, &r->fade_b, &r->fade_a};
  for (int c = 0; c < 4; ++c) {
    size_t len = strlen(fade_keys[c]);
    if (strncmp(token, fade_keys[c], len) == 0) {
      bool ok = false;
      double v = number(token + len, fade_keys[c], &ok);
      if (!ok && !std::isfinite(v)) return;
      v *= 1.0 / 128.0;
      if (v > 1e9) v = 1e9;
      if (v < -1e9) v = -1e9;
      *fades[c] = static_cast<int8_t>(static_cast<uint8_t>(static_cast<long long>(std::trunc(v)) & 0xFF));
      return;
    }
  }
  console_printf("tileinfo warning: unknown roost parameter '%.40s'\n", token);
}

void parse_roost(RoostKind* r, const char* value) {
  roost_defaults(r);
  bool named_texture = false;
  const char* separators = " \f\n\r\t\b";
  char token[1100];
  const char* p = value;
  while (*p) {
    while (*p && strchr(separators, *p)) ++p;
    if (!*p) break;
    size_t len = 0;
    while (*p && !strchr(separators, *p)) {
      if (*p == '"') {
        ++p;
        while (*p && *p != '"') {
          if (len + 1 < sizeof token) token[len++] = *p;
          ++p;
        }
        if (*p == '"') ++p;
      } else {
        if (len + 1 < sizeof token) token[len++] = *p;
        ++p;
      }
    }
    token[len] = 0;
    roost_token(r, token, &named_texture);
  }
  if (!named_texture) r->texture = track_texture_load("@roost.png");
}

// Reads one "%f" value of an erode line; false when it is not a finite number.
bool scan_one(const char* value, float* out) {
  float v = 0;
  if (sscanf(value, "%f", &v) != 1 || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

void add_tile(Terrain* t, Pending* p) {
  TileType* type = &p->type;
  // The wear step divides by these differences; a tile that would make it divide by zero
  // keeps the default thresholds instead.
  if (type->erode[erode_on_speed] == type->erode[erode_off_speed]) {
    console_print("tileinfo warning: erode_on_speed equals erode_off_speed\n");
    type->erode[erode_off_speed] = erode_defaults[erode_off_speed];
    type->erode[erode_on_speed] = erode_defaults[erode_on_speed];
  }
  if (type->erode[erode_upper] == type->erode[erode_lower]) {
    console_print("tileinfo warning: erode_upper equals erode_lower\n");
    type->erode[erode_lower] = erode_defaults[erode_lower];
    type->erode[erode_upper] = erode_defaults[erode_upper];
  }
  sort_points(p);
  type->name = transition_name(type->texture_name);
  t->tile_types[t->tile_type_count++] = *type;
}

void compute_transition_codes(Terrain* t) {
  const char* names[max_tile_types];
  for (int k = 0; k < t->tile_type_count; ++k) names[k] = t->tile_types[k].name;
  for (int k = 0; k < t->tile_type_count; ++k)
    t->tile_types[k].transition_code = tile_transition_code(k, names, t->tile_type_count);
}

bool starts_with_stem_dot(const char* name, const char* stem, size_t len) {
  return name && strncmp(name, stem, len) == 0 && name[len] == '.';
}

}  // namespace

void tile_type_set_defaults(TileType* type) {
  *type = TileType{};
  type->friction[0] = {1.0f, 1.0f};
  type->roll_resist[0] = {5.0f, 15.0f, 1.0f};
  memcpy(type->erode, erode_defaults, sizeof type->erode);
}

bool tile_types_read_tileinfo(Terrain* t, Stream* s) {
  int method = t->render_method;
  Pending p;
  pending_reset(&p);
  char line[1024];
  while (t->tile_type_count < max_tile_types && stream_gets(s, line, sizeof line)) {
    char* k = line;
    while (*k && is_line_space(*k)) ++k;
    if (!*k) continue;
    char* ke = k;
    while (*ke && !is_line_space(*ke)) ++ke;
    char* value = ke;
    while (*value == ' ' || *value == '\t') ++value;
    char* ve = value;
    while (*ve && *ve != '\r' && *ve != '\n') ++ve;
    *ve = 0;
    *ke = 0;

    if (strcmp(k, "addtile") == 0) {
      add_tile(t, &p);
      pending_reset(&p);
    } else if (strcmp(k, "texture") == 0) {
      load_tile_texture(&p.type, value, method);
    } else if (strcmp(k, "friction") == 0) {
      float c = 0, v = 0;
      if (p.friction_count >= curve_points) {
        console_print("tileinfo warning: too many friction points\n");
      } else if (sscanf(value, "%f %f", &c, &v) < 2 || !std::isfinite(c) || !std::isfinite(v)) {
        console_print("tileinfo warning: bad friction parameters\n");
      } else {
        if (c < 0) c = 0;
        if (!(v > min_curve_speed)) v = min_curve_speed;
        if (p.friction_count == 0) memset(p.type.friction, 0, sizeof p.type.friction);
        p.type.friction[p.friction_count++] = {c, v};
      }
    } else if (strcmp(k, "roll_resist") == 0) {
      float a = 0, b = 0, v = 0;
      if (p.roll_count >= curve_points) {
        console_print("tileinfo warning: too many roll_resist points\n");
      } else if (sscanf(value, "%f %f %f", &a, &b, &v) < 3 || !std::isfinite(a) || !std::isfinite(b) ||
                 !std::isfinite(v)) {
        console_print("tileinfo warning: bad roll_resist parameters\n");
      } else {
        if (a < 0) a = 0;
        if (b < 0) b = 0;
        if (!(v > min_curve_speed)) v = min_curve_speed;
        if (p.roll_count == 0) memset(p.type.roll_resist, 0, sizeof p.type.roll_resist);
        p.type.roll_resist[p.roll_count++] = {a, b, v};
      }
    } else if (strcmp(k, "roost") == 0) {
      if (p.roost_count >= roost_kinds_per_tile) {
        console_print("tileinfo warning: too many roost types\n");
      } else {
        parse_roost(&p.type.roost[p.roost_count], value);
        p.roost_count++;
      }
    } else {
      static const char* const erode_keys[erode_field_count] = {
          "erode_depth", "erode_lower", "erode_upper", "erode_displacement",
          "erode_radius", "erode_max_slope", "erode_off_speed", "erode_on_speed"};
      int field = -1;
      for (int e = 0; e < erode_field_count; ++e) {
        if (strcmp(k, erode_keys[e]) == 0) field = e;
      }
      if (field < 0) {
        console_printf("tileinfo warning: Unknown identifier '%.950s'\n", k);
      } else if (!scan_one(value, &p.type.erode[field])) {
        console_printf("tileinfo warning: bad %s\n", erode_keys[field]);
      }
    }
  }
  compute_transition_codes(t);
  return true;
}

void tile_types_read_texturelist(Terrain* t, Stream* s) {
  int method = t->render_method;
  char line[1023];
  while (t->tile_type_count < max_tile_types && stream_gets(s, line, sizeof line)) {
    char* p = line;
    while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
    if (!*p) continue;
    float f = 1.0f, a = 5.0f, b = 15.0f;
    int used = 0;
    char* name = p;
    if (sscanf(p, "%f %f %f%n", &f, &a, &b, &used) == 3 && std::isfinite(f) && std::isfinite(a) &&
        std::isfinite(b)) {
      name = p + used;
      while (*name == ' ' || *name == '\t') ++name;
    } else {
      f = 1.0f;
      a = 5.0f;
      b = 15.0f;
    }
    // Files written on other systems end their lines in CR LF; the CR is no part of the name.
    size_t len = strlen(name);
    if (len > 0 && name[len - 1] == '\n') name[--len] = 0;
    if (len > 0 && name[len - 1] == '\r') name[--len] = 0;
    char texture[1100];
    snprintf(texture, sizeof texture, "@%s", name);

    TileType type;
    tile_type_set_defaults(&type);
    type.friction[0] = {f, 1.0f};
    type.roll_resist[0] = {a, b, 1.0f};
    roost_defaults(&type.roost[0]);
    type.roost[0].texture = track_texture_load("@roost.png");
    load_tile_texture(&type, texture, method);
    type.name = transition_name(texture);
    t->tile_types[t->tile_type_count++] = type;
  }
  compute_transition_codes(t);
}

int32_t tile_transition_code(int self, const char* const* names, int count) {
  int32_t plain = (self << 16) | (self << 8);
  const char* name = names[self];
  if (!name || !*name) return plain;
  const char* dash = strchr(name, '-');
  if (!dash) return plain;
  size_t stem_len = static_cast<size_t>(dash - name);
  if (stem_len == 0) return plain;
  int base = -1;
  for (int i = 0; i < count && base < 0; ++i) {
    if (starts_with_stem_dot(names[i], name, stem_len)) base = i;
  }
  if (base < 0) return plain;
  const char* rest = dash + 1;
  if (strncmp(rest, "alt", 3) == 0 && rest[3] >= '0' && rest[3] <= '9') return (base << 16) | (base << 8);
  const char* dash2 = strchr(rest, '-');
  if (!dash2) return static_cast<int32_t>(0xFFFFFF00u);
  size_t other_len = static_cast<size_t>(dash2 - rest);
  int other = -1;
  for (int j = 0; j < count && other < 0; ++j) {
    if (starts_with_stem_dot(names[j], rest, other_len)) other = j;
  }
  if (other < 0) return static_cast<int32_t>(0xFFFFFF00u);
  int mask = 0;
  const char* m = dash2 + 1;
  for (int k = 0; k < 4; ++k) {
    if (m[k] == '1') mask |= 8 >> k;
    else if (m[k] != '0') return (base << 16) | (other << 8);
  }
  return (base << 16) | (other << 8) | mask;
}

float friction_at(const TileType* type, float s2) {
  int i = 0;
  while (i < curve_points && type->friction[i].speed != 0.0f &&
         !(type->friction[i].speed * type->friction[i].speed > s2))
    ++i;
  if (i == 0) return type->friction[0].coefficient;
  if (i < curve_points && type->friction[i].speed != 0.0f) {
    float a = type->friction[i - 1].speed, b = type->friction[i].speed;
    float w = (s2 - a * a) / (b * b - a * a);
    if (!(w >= 0.0f)) w = 0.0f;
    if (w > 1.0f) w = 1.0f;
    float c0 = type->friction[i - 1].coefficient, c1 = type->friction[i].coefficient;
    return c0 + (c1 - c0) * w;
  }
  return type->friction[i - 1].coefficient;
}

void roll_resist_at(const TileType* type, float v, float* shallow, float* deep) {
  int i = 0;
  while (i < curve_points && type->roll_resist[i].speed != 0.0f && !(type->roll_resist[i].speed > v)) ++i;
  if (i == 0) {
    *shallow = type->roll_resist[0].shallow;
    *deep = type->roll_resist[0].deep;
    return;
  }
  const RollResistPoint& p0 = type->roll_resist[i - 1];
  if (i < curve_points && type->roll_resist[i].speed != 0.0f) {
    const RollResistPoint& p1 = type->roll_resist[i];
    float w = (v - p0.speed) / (p1.speed - p0.speed);
    if (!(w >= 0.0f)) w = 0.0f;
    if (w > 1.0f) w = 1.0f;
    *shallow = p0.shallow + (p1.shallow - p0.shallow) * w;
    *deep = p0.deep + (p1.deep - p0.deep) * w;
    return;
  }
  *shallow = p0.shallow;
  *deep = p0.deep;
}
