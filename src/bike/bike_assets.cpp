// Loading a Rider's shapes, textures and models with the variant and fallback rules.
#include "bike/bike_assets.h"

#include <cstdio>
#include <cstring>

#include "bike/shape.h"
#include "core/console.h"
#include "resources/model.h"
#include "resources/texture.h"

namespace {

const BikeAssetLoader* loader = nullptr;

const char* file_part(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? slash + 1 : name;
}

// Name without its extension; false when the file part has none.
bool stem_of(const char* name, char* out, size_t size) {
  const char* dot = strrchr(file_part(name), '.');
  if (!dot) return false;
  size_t n = static_cast<size_t>(dot - name);
  if (n + 1 > size) return false;
  memcpy(out, name, n);
  out[n] = 0;
  return true;
}

// Variant with another ending in place of ".vm" (the map lookup uses ".foo").
bool variant_with(const char* path, const char* texture, const char* ending, char* out,
                  size_t size) {
  if (!path || !texture) return false;
  const char* part = file_part(texture);
  const char* first = strchr(part, '-');
  const char* second = first ? strchr(first + 1, '-') : nullptr;
  if (!second) return false;
  char stem[1024];
  if (!stem_of(path, stem, sizeof stem)) return false;
  int n = snprintf(out, size, "%s%.*s%s", stem, static_cast<int>(second - first), first, ending);
  return n > 0 && static_cast<size_t>(n) < size;
}

Model* load_model(const char* name) { return model_load(name); }

TextureId load_texture(const char* name) { return name ? texture_load(name) : 0; }

Model* load_with_texture(const char* path, const char* texture, bool warn) {
  if (!path) return nullptr;
  char variant[1024];
  if (!model_variant_name(path, texture, variant, sizeof variant)) {
    Model* m = load_model(path);
    if (!m && warn) console_printf("Warning: Can't load %.900s", path);
    return m;
  }
  if (Model* m = load_model(variant)) return m;
  const char* slash = strrchr(texture, '/');
  if (slash) {
    char other[1100];
    snprintf(other, sizeof other, "%.*s%s", static_cast<int>(slash + 1 - texture), texture,
             variant[0] == '@' ? variant + 1 : variant);
    if (Model* m = load_model(other)) return m;
    if (warn) console_printf("Warning: Can't load %.450s or %.450s", variant, other);
    return nullptr;
  }
  if (warn) console_printf("Warning: Can't load %.900s", variant);
  return nullptr;
}

void load_bike_models(Rider* r, const char* texture) {
  const BikeInfo& b = r->info;
  r->models[model_frame] = load_with_texture(b.frame_model, texture, true);
  r->models[model_side_plates] = load_with_texture(b.side_plates_model, texture, true);
  r->models[model_fork_upper] = load_with_texture(b.fork_upper_model, texture, true);
  r->models[model_front_plate] = load_with_texture(b.front_plate_model, texture, true);
  r->models[model_fork_lower] = load_with_texture(b.fork_lower_model, texture, true);
  r->models[model_swingarm] = load_with_texture(b.swingarm_model, texture, true);
}

void load_wheel_models(Rider* r, const char* texture) {
  r->models[model_front_wheel] = load_with_texture(r->info.front_wheel_model, texture, true);
  r->models[model_rear_wheel] = load_with_texture(r->info.rear_wheel_model, texture, true);
}

void load_rider_models(Rider* r, const char* texture) {
  r->models[model_rider_plate] = load_with_texture(r->info.rider_plate_model, texture, false);
  r->models[model_rider_body] = load_with_texture(r->info.rider_body_model, texture, true);
  r->models[model_rider_body_fp] = load_with_texture(r->info.rider_body_fp_model, texture, false);
}

// Normal or specular map of one texture set: chosen stem, then the variant or default stem.
TextureId load_map(const char* chosen, const char* fallback_name, const char* suffix) {
  static const char* const endings[] = {".seq", ".png", ".ppm"};
  char variant[1024];
  char stems[2][1024];
  int count = 0;
  if (chosen && stem_of(chosen, stems[count], sizeof stems[0])) ++count;
  const bool has_variant = variant_with(fallback_name, chosen, ".foo", variant, sizeof variant);
  if (stem_of(has_variant ? variant : fallback_name, stems[count], sizeof stems[0])) ++count;
  for (int s = 0; s < count; ++s) {
    for (const char* e : endings) {
      char name[1100];
      snprintf(name, sizeof name, "%.1000s%.8s%.8s", stems[s], suffix, e);
      if (TextureId t = load_texture(name)) return t;
    }
  }
  return 0;
}

void parse_tag(const char* name, const char* tag, uint8_t out[3]) {
  const char* p = strstr(name, tag);
  if (!p) return;
  float c[3];
  if (sscanf(p + strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) return;
  for (int i = 0; i < 3; ++i) {
    float v = c[i] != c[i] ? 0 : (c[i] < 0 ? 0 : (c[i] > 1 ? 1 : c[i]));
    out[i] = static_cast<uint8_t>(v * 255);
  }
}

}  // namespace

void bike_set_asset_loader(const BikeAssetLoader* l) { loader = l; }

bool model_variant_name(const char* model_path, const char* texture_name, char* out,
                        size_t size) {
  return variant_with(model_path, texture_name, ".vm", out, size);
}

void plate_colours(const char* name, uint8_t background[3], uint8_t foreground[3]) {
  memset(background, 255, 3);
  memset(foreground, 0, 3);
  if (!name) return;
  parse_tag(name, "[numberbackground:", background);
  parse_tag(name, "[numberforeground:", foreground);
}

void bike_load_assets(Rider* r, const char* rider_number, const char* rider_texture,
                      const char* head_texture, const char* bike_texture,
                      const char* wheel_texture) {
  const BikeInfo& b = r->info;
  r->shapes[shape_frame] = shape_load(b.frame_shape);
  r->shapes[shape_fork_upper] = shape_load(b.fork_upper_shape);
  r->shapes[shape_fork_lower] = shape_load(b.fork_lower_shape);
  r->shapes[shape_swingarm] = shape_load(b.swingarm_shape);
  r->shapes[shape_rider] = shape_load(b.rider_shape);
  r->shapes[shape_front_wheel] = shape_load(b.front_wheel_shape);
  r->shapes[shape_rear_wheel] = shape_load(b.rear_wheel_shape);

  TextureSet* t = r->textures;
  t[texture_bike].colour = load_texture(bike_texture);
  t[texture_wheels].colour = load_texture(wheel_texture);
  t[texture_rider].colour = load_texture(rider_texture);
  t[texture_head].colour = load_texture(head_texture);

  load_bike_models(r, bike_texture);
  load_wheel_models(r, wheel_texture);
  load_rider_models(r, rider_texture);
  r->models[model_head] = load_with_texture(b.head_model, head_texture, true);

  const char* used_bike = bike_texture;
  if (!t[texture_bike].colour || !r->models[model_frame]) {
    used_bike = b.bike_texture;
    t[texture_bike].colour = load_texture(used_bike);
    load_bike_models(r, used_bike);
  }
  const char* used_wheels = wheel_texture;
  if (!t[texture_wheels].colour || !r->models[model_front_wheel] || !r->models[model_rear_wheel]) {
    used_wheels = b.wheel_texture;
    t[texture_wheels].colour = load_texture(used_wheels);
    load_wheel_models(r, used_wheels);
  }
  const char* used_rider = rider_texture;
  if (!t[texture_rider].colour || !r->models[model_rider_body]) {
    used_rider = b.rider_texture;
    t[texture_rider].colour = load_texture(used_rider);
    load_rider_models(r, used_rider);
  }
  const char* used_head = head_texture;
  if (!t[texture_head].colour || !r->models[model_head]) {
    used_head = b.head_texture;
    t[texture_head].colour = load_texture(used_head);
    r->models[model_head] = load_with_texture(b.head_model, used_head, true);
  }

  plate_colours(used_bike, r->plate_background, r->plate_foreground);
  snprintf(r->number, sizeof r->number, "%s", rider_number ? rider_number : "");
  if (loader && loader->number_plate)
    r->number_plate_texture = loader->number_plate(r->number, r->plate_background, r->plate_foreground);

  if (loader && loader->shaders) {
    const char* chosen[rider_texture_count] = {used_bike, used_wheels, used_rider, used_head};
    const char* defaults[rider_texture_count] = {b.bike_texture, b.wheel_texture, b.rider_texture,
                                                 b.head_texture};
    for (int i = 0; i < rider_texture_count; ++i) {
      t[i].normal = load_map(chosen[i], defaults[i], "_norm");
      t[i].specular = load_map(chosen[i], defaults[i], "_spec");
    }
  }
}

void bike_free_assets(Rider* r) {
  for (CollisionShape*& s : r->shapes) {
    shape_free(s);
    s = nullptr;
  }
  if (r->number_plate_texture && loader && loader->number_plate_delete)
    loader->number_plate_delete(r->number_plate_texture);
  r->number_plate_texture = 0;
}
