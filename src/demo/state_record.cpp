// Packing, unpacking and blending of the 39-byte rider state records.
#include "demo/state_record.h"

#include <cmath>
#include <cstring>

#include "demo/demo_seams.h"
#include "track/terrain.h"

PackRange demo_pack_range = {1024.0f, 0.0f, 1.0f, 1.0f, 1.0f};
void (*demo_apply_state_hook)(Rider*, const StateRecord*, const StateRecord*, const StateRecord*,
                              int) = nullptr;

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double u24_max = 16777215.0;
constexpr double u16_max = 65535.0;

// NaN counts as the low end so that a broken body state still packs to a valid record.
double unit(double v, double lo, double range) {
  if (!(range > 0)) return 0;
  double n = (v - lo) / range;
  if (!(n > 0)) return 0;
  return n > 1 ? 1 : n;
}

uint32_t quantise(double v, double lo, double range, double max) {
  return static_cast<uint32_t>(std::floor(unit(v, lo, range) * max));
}

// Decoding takes the middle of the quantum: encoding the result again gives the same code,
// and a zero quaternion component decodes to exactly zero.
double dequantise(uint32_t u, double lo, double range, double max) {
  double v = lo + (u + 0.5) / max * range;
  return v > lo + range ? lo + range : v;
}

void put_u24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
void put_u16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t get_u24(const uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16); }
uint32_t get_u16(const uint8_t* p) { return p[0] | (p[1] << 8); }

double fork_range(const PackRange* r) { return r->fork_travel > 0 ? r->fork_travel : 1.0; }
double swingarm_range(const PackRange* r) {
  return r->swingarm_travel > 0 ? r->swingarm_travel : 1.0;
}
double height_range(const PackRange* r) { return r->height_range >= 1 ? r->height_range : 1.0; }

// The wheel hinge turns freely; fold the angle into the packed circle.
double wrap_angle(double a) {
  if (!std::isfinite(a)) return 0;
  if (a >= -pi && a <= pi) return a;
  a = std::fmod(a + pi, 2 * pi);
  if (a < 0) a += 2 * pi;
  return a - pi;
}

void normalise4(double q[4]) {
  double l = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (l > 0) {
    for (int i = 0; i < 4; ++i) q[i] /= l;
  } else {
    q[0] = 1;
    q[1] = q[2] = q[3] = 0;
  }
}

void get_quat(const uint8_t* p, double q[4]) {
  for (int i = 0; i < 4; ++i) q[i] = dequantise(get_u16(p + 2 * i), -1, 2, u16_max);
}
void put_quat(uint8_t* p, const double q[4]) {
  for (int i = 0; i < 4; ++i) put_u16(p + 2 * i, quantise(q[i], -1, 2, u16_max));
}

uint32_t lerp_code(uint32_t a, uint32_t b, double f, double max) {
  double v = std::floor(a + (static_cast<double>(b) - a) * f);
  if (!(v > 0)) return 0;
  return static_cast<uint32_t>(v > max ? max : v);
}

void lerp_quat(const uint8_t* a, const uint8_t* b, double f, uint8_t* out) {
  double qa[4], qb[4];
  get_quat(a, qa);
  get_quat(b, qb);
  double d = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
  double s = d < 0 ? -1 : 1;
  double q[4];
  for (int i = 0; i < 4; ++i) q[i] = qa[i] + (s * qb[i] - qa[i]) * f;
  normalise4(q);
  put_quat(out, q);
}

}  // namespace

PackRange pack_range_for(const Terrain* terrain, float fork_travel, float swingarm_travel) {
  PackRange r = {1024.0f, 0.0f, 1.0f, fork_travel, swingarm_travel};
  if (terrain) {
    if (terrain->extent > 0 && std::isfinite(terrain->extent)) r.width = terrain->extent;
    if (std::isfinite(terrain->min_height)) r.min_height = terrain->min_height;
    float h = terrain->max_height - terrain->min_height;
    r.height_range = std::isfinite(h) && h >= 1 ? h : 1.0f;
  }
  return r;
}

void demo_freeze_pack_range(const Terrain* terrain) {
  demo_pack_range = pack_range_for(terrain, 1.0f, 1.0f);
}

void state_encode(const StatePose* p, const PackRange* r, StateRecord* out) {
  uint8_t* b = out->bytes;
  put_u24(b + 0, quantise(p->position[0], 0, r->width, u24_max));
  put_u24(b + 3, quantise(p->position[1], r->min_height, height_range(r), u24_max));
  put_u24(b + 6, quantise(p->position[2], 0, r->width, u24_max));
  put_quat(b + 9, p->orientation);
  // The steering byte is clamped: a lock beyond 45 degrees must not wrap to the other side.
  b[17] = static_cast<uint8_t>(quantise(p->steering, -pi / 4, pi / 2, 255));
  double a = swingarm_range(r);
  b[18] = static_cast<uint8_t>(quantise(p->swingarm, -a, a, 255) | 1);
  double f = fork_range(r);
  b[19] = static_cast<uint8_t>((quantise(p->fork, -f, f, 255) & ~1u) | (p->integrity ? 1 : 0));
  for (int i = 0; i < 3; ++i) put_u16(b + 20 + 2 * i, quantise(p->rider_offset[i], -16, 32, u16_max));
  put_quat(b + 26, p->rider_orientation);
  b[34] = static_cast<uint8_t>(quantise(wrap_angle(p->wheel_angle[0]), -pi, 2 * pi, 255));
  b[35] = static_cast<uint8_t>(quantise(wrap_angle(p->wheel_angle[1]), -pi, 2 * pi, 255));
  if (p->down_level >= 0) {
    int level = p->down_level > 15 ? 15 : p->down_level;
    b[36] = static_cast<uint8_t>((level << 4) | (p->dab ? 8 : 0) | 7);
  } else {
    int gear = p->gear < 0 ? 0 : (p->gear > 6 ? 6 : p->gear);
    int t = p->throttle_level < 0 ? 0 : (p->throttle_level > 15 ? 15 : p->throttle_level);
    b[36] = static_cast<uint8_t>(gear | (p->dab ? 8 : 0) | (t << 4));
  }
  put_u16(b + 37, quantise(p->rpm, 0, 32768, u16_max));
}

void state_decode(const StateRecord* record, const PackRange* r, StatePose* p) {
  const uint8_t* b = record->bytes;
  p->position[0] = dequantise(get_u24(b + 0), 0, r->width, u24_max);
  p->position[1] = dequantise(get_u24(b + 3), r->min_height, height_range(r), u24_max);
  p->position[2] = dequantise(get_u24(b + 6), 0, r->width, u24_max);
  get_quat(b + 9, p->orientation);
  p->steering = dequantise(b[17], -pi / 4, pi / 2, 255);
  double a = swingarm_range(r);
  p->swingarm = dequantise(b[18], -a, a, 255);
  double f = fork_range(r);
  p->fork = dequantise(b[19] & ~1u, -f, f, 255);
  p->integrity = (b[19] & 1) != 0;
  for (int i = 0; i < 3; ++i) p->rider_offset[i] = dequantise(get_u16(b + 20 + 2 * i), -16, 32, u16_max);
  get_quat(b + 26, p->rider_orientation);
  p->wheel_angle[0] = dequantise(b[34], -pi, 2 * pi, 255);
  p->wheel_angle[1] = dequantise(b[35], -pi, 2 * pi, 255);
  int low = b[36] & 7;
  if (low == 7) {
    p->down_level = b[36] >> 4;
    p->gear = 0;
    p->dab = (b[36] & 8) != 0;
    p->throttle_level = 0;
  } else {
    p->down_level = -1;
    p->gear = low;
    p->dab = (b[36] & 8) != 0;
    p->throttle_level = b[36] >> 4;
  }
  p->rpm = dequantise(get_u16(b + 37), 0, 32768, u16_max);
}

void state_interpolate(const StateRecord* ra, const StateRecord* rb, double f, StateRecord* out) {
  const uint8_t* a = ra->bytes;
  const uint8_t* b = rb->bytes;
  if (!std::isfinite(f) || f < 0) f = 0;
  double g = f > 1 ? 1 : f;
  StateRecord r;
  // Positions alone carry the extrapolation beyond the newer record.
  for (int i = 0; i < 3; ++i) put_u24(r.bytes + 3 * i, lerp_code(get_u24(a + 3 * i), get_u24(b + 3 * i), f, u24_max));
  lerp_quat(a + 9, b + 9, g, r.bytes + 9);
  r.bytes[17] = static_cast<uint8_t>(lerp_code(a[17], b[17], g, 255));
  r.bytes[18] = static_cast<uint8_t>(lerp_code(a[18], b[18], g, 255) | 1);
  const uint8_t* nearer = g < 0.5 ? a : b;
  r.bytes[19] = static_cast<uint8_t>((lerp_code(a[19] & ~1u, b[19] & ~1u, g, 255) & ~1u) | (nearer[19] & 1));
  for (int i = 0; i < 3; ++i) put_u16(r.bytes + 20 + 2 * i, lerp_code(get_u16(a + 20 + 2 * i), get_u16(b + 20 + 2 * i), g, u16_max));
  lerp_quat(a + 26, b + 26, g, r.bytes + 26);
  // The wheels spin: blend along the shorter way round the circle.
  for (int w = 34; w <= 35; ++w) {
    int d = b[w] - a[w];
    if (d > 127) d -= 256;
    if (d < -128) d += 256;
    double v = std::floor(a[w] + d * g);
    int iv = static_cast<int>(v) % 256;
    r.bytes[w] = static_cast<uint8_t>(iv < 0 ? iv + 256 : iv);
  }
  r.bytes[36] = nearer[36];
  put_u16(r.bytes + 37, lerp_code(get_u16(a + 37), get_u16(b + 37), g, u16_max));
  *out = r;
}

void unpack_state(Rider* rider, const StateRecord* before, const StateRecord* after,
                  const StateRecord* current, int interval) {
  if (!rider || !demo_apply_state_hook) return;
  demo_apply_state_hook(rider, before, after, current, interval < 2 ? 1 : interval);
}
