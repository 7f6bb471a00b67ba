// Collision shape files: parsing with validation, and the per-run cache that hands out copies.
#include "bike/shape.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/array.h"
#include "core/memory.h"
#include "resources/stream.h"

namespace {

Array<CollisionShape*> shape_cache;

// One "%d" the way scanf reads it: leading white space, then a decimal integer.
bool scan_int(const char** p, long* out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(*p, &end, 10);
  if (end == *p || errno == ERANGE) return false;
  *p = end;
  *out = v;
  return true;
}

bool scan_float(const char** p, float* out) {
  char* end = nullptr;
  float v = strtof(*p, &end);
  if (end == *p) return false;
  *p = end;
  *out = v;
  return true;
}

CollisionShape* shape_copy(const CollisionShape* src) {
  CollisionShape* s = static_cast<CollisionShape*>(xcalloc(1, sizeof(CollisionShape)));
  *s = *src;
  size_t n = static_cast<size_t>(src->sphere_count);
  s->spheres = static_cast<ShapeSphere*>(xmalloc(n * sizeof(ShapeSphere)));
  memcpy(s->spheres, src->spheres, n * sizeof(ShapeSphere));
  s->world_centres = static_cast<double*>(xcalloc(n * 3, sizeof(double)));
  return s;
}

}  // namespace

CollisionShape* shape_parse(const char* text, const char* name) {
  const char* p = text;
  long count = 0;
  if (!scan_int(&p, &count)) return nullptr;
  // An absurd count is a damaged file, not a shape worth allocating for.
  if (count < 1 || count > shape_max_spheres) return nullptr;
  ShapeSphere* spheres = static_cast<ShapeSphere*>(xcalloc(static_cast<size_t>(count), sizeof(ShapeSphere)));
  float bound = 0.0f;
  for (long i = 0; i < count; ++i) {
    float v[7];
    for (float& f : v) {
      if (!scan_float(&p, &f) || !std::isfinite(f)) {
        free(spheres);
        return nullptr;
      }
    }
    ShapeSphere& s = spheres[i];
    s = ShapeSphere{{v[0], v[1], v[2]}, v[3], v[4], v[5], v[6]};
    // The soft contact divides by k*h + c of the weaker of two spheres; with a positive
    // stiffness and no negative damping on every sphere that sum can never reach zero.
    if (s.radius < 0.0f || s.friction < 0.0f || !(s.stiffness > 0.0f) || s.damping < 0.0f) {
      free(spheres);
      return nullptr;
    }
    float reach = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) + s.radius;
    if (!std::isfinite(reach)) {
      free(spheres);
      return nullptr;
    }
    if (reach > bound) bound = reach;
  }
  CollisionShape* shape = static_cast<CollisionShape*>(xcalloc(1, sizeof(CollisionShape)));
  shape->name = intern_string(name ? name : "");
  shape->sphere_count = static_cast<int>(count);
  shape->spheres = spheres;
  shape->world_centres = nullptr;
  shape->bound = bound;
  return shape;
}

CollisionShape* shape_load(const char* name) {
  if (!name || !*name) return nullptr;
  for (int i = 0; i < shape_cache.count; ++i) {
    if (strcmp(shape_cache.items[i]->name, name) == 0) return shape_copy(shape_cache.items[i]);
  }
  size_t size = 0;
  uint8_t* bytes = stream_read_all(name, &size);
  if (!bytes) return nullptr;
  // stream_read_all ends the data with a zero byte, but a zero inside the file would hide the
  // rest from the parser; such a file is damaged anyway and simply fails to parse further.
  CollisionShape* parsed = shape_parse(reinterpret_cast<const char*>(bytes), name);
  free(bytes);
  if (!parsed) return nullptr;
  array_push(&shape_cache, parsed);
  return shape_copy(parsed);
}

void shape_free(CollisionShape* shape) {
  if (!shape) return;
  free(shape->spheres);
  free(shape->world_centres);
  free(shape);
}

void shape_cache_clear() {
  for (int i = 0; i < shape_cache.count; ++i) shape_free(shape_cache.items[i]);
  array_free(&shape_cache);
}
