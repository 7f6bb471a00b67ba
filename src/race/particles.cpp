// The particle pool, roost and splash emission from the wheels, and the particles' flight.
#include "race/particles.h"

#include <algorithm>
#include <cmath>

#include "bike/bike.h"
#include "bike/contact.h"
#include "core/options.h"
#include "core/random.h"
#include "core/settings.h"
#include "race/race.h"
#include "track/track.h"
#include "track/track_objects.h"

ParticlePool particle_pool;

namespace {

constexpr float tick = static_cast<float>(tick_seconds);
constexpr float front_spread = 0.3926991f;  // pi/8
constexpr float rear_spread = 6.2831855f;   // 2 pi
constexpr float locked_spread = 0.049087387f;  // pi/64

// Uniform numbers of the shared generator: 24 bits for jitter and angles, 31 for fractions.
float uniform24() { return static_cast<float>(rng_next() & 0xFFFFFFu) * (1.0f / 16777216.0f); }
float uniform31() { return static_cast<float>(rng_uniform()); }

Billboard* particle_billboard(int index) {
  if (index < 0 || index >= track_objects.billboards.count) return nullptr;
  return &track_objects.billboards.items[index];
}

float dot3(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void cross3(const float a[3], const float b[3], float out[3]) {
  out[0] = a[1] * b[2] - a[2] * b[1];
  out[1] = a[2] * b[0] - a[0] * b[2];
  out[2] = a[0] * b[1] - a[1] * b[0];
}

// Velocity of the wheel body at a world point: v + w x (p - c).
void point_velocity(const WheelMotion* m, const float p[3], float out[3]) {
  float r[3] = {p[0] - m->centre[0], p[1] - m->centre[1], p[2] - m->centre[2]};
  float wr[3];
  cross3(m->angular, r, wr);
  for (int i = 0; i < 3; ++i) out[i] = m->velocity[i] + wr[i];
}

uint8_t fade_byte(int value, int delta) { return static_cast<uint8_t>(std::clamp(value + delta, 0, 255)); }

int kind_count(const RoostKind* kind, int n) {
  float whole = std::floor(kind->count);
  int k = static_cast<int>(whole);
  if (uniform31() < kind->count - whole) k += 1;
  return std::max(0, std::min(k, n));
}

void emit_splash(const WheelContact* c, const WheelMotion* m, const RoostKind* kind, int k) {
  const float* v = m->velocity;
  const float* nrm = c->normal;
  float vn = dot3(v, nrm);
  float t[3] = {v[0] - nrm[0] * vn, v[1] - nrm[1] * vn, v[2] - nrm[2] * vn};
  float s = std::sqrt(dot3(t, t));
  float u[3] = {0, 0, 0};
  if (s > 0)
    for (int i = 0; i < 3; ++i) u[i] = t[i] / s;
  float w[3];
  cross3(nrm, u, w);
  float a[3], b[3];
  for (int i = 0; i < 3; ++i) {
    a[i] = (w[i] + nrm[i]) * s * 0.70710677f;
    b[i] = (nrm[i] - w[i]) * s * 0.70710677f;
  }
  for (int i = 0; i < k; ++i) {
    const float* launch = ((race.race_tick ^ i) & 1) == 0 ? a : b;
    float vel[3], pos[3];
    float lead = static_cast<float>(i) * tick / static_cast<float>(k);
    for (int j = 0; j < 3; ++j) pos[j] = c->point[j] + launch[j] * lead;
    for (int j = 0; j < 3; ++j) vel[j] = launch[j] + kind->randomize * (uniform24() - 0.5f);
    float f = kind->vscale * uniform31();
    for (float& x : vel) x *= f;
    particle_spawn(pos, vel, kind);
  }
}

void emit_roost(const WheelContact* c, const WheelMotion* m, const RoostKind* kind, int k,
                float max_spread) {
  if (dot3(c->point_velocity, c->point_velocity) < kind->slip_threshold * kind->slip_threshold) return;
  float spread = locked_spread;
  if (dot3(m->velocity, c->point_velocity) < 0) {
    float w2 = dot3(m->angular, m->angular);
    float lo = kind->slow_speed * kind->slow_speed, hi = kind->fast_speed * kind->fast_speed;
    float f = hi > lo ? std::clamp((w2 - lo) / (hi - lo), 0.0f, 1.0f) : (w2 >= hi ? 1.0f : 0.0f);
    spread = std::min(kind->slow_angle + (kind->fast_angle - kind->slow_angle) * f, max_spread);
  }
  // Turning about -axle carries a point at the bottom of the tyre toward +z, the rear.
  const float axis[3] = {-m->axle[0], -m->axle[1], -m->axle[2]};
  float r[3] = {c->point[0] - m->centre[0], c->point[1] - m->centre[1], c->point[2] - m->centre[2]};
  float kr[3];
  cross3(axis, r, kr);
  float kdotr = dot3(axis, r);
  for (int i = 0; i < k; ++i) {
    float a = spread * uniform24();
    float ca = std::cos(a), sa = std::sin(a);
    float p[3], v[3], pos[3], vel[3];
    for (int j = 0; j < 3; ++j)
      p[j] = m->centre[j] + r[j] * ca + kr[j] * sa + axis[j] * kdotr * (1 - ca);
    point_velocity(m, p, v);
    float lead = static_cast<float>(i) * tick / static_cast<float>(k);
    for (int j = 0; j < 3; ++j) pos[j] = p[j] + v[j] * lead;
    for (int j = 0; j < 3; ++j) vel[j] = (v[j] + kind->randomize * (uniform24() - 0.5f)) * kind->vscale;
    particle_spawn(pos, vel, kind);
  }
}

WheelMotion wheel_motion(const Rider* rider, int wheel) {
  int body = wheel == 0 ? body_front_wheel : body_rear_wheel;
  WheelMotion m{};
  float rot[9];
  bike_body_position(rider, body, m.centre);
  bike_body_rotation(rider, body, rot);
  m.axle[0] = rot[0];
  m.axle[1] = rot[3];
  m.axle[2] = rot[6];
  bike_body_velocity(rider, body, m.velocity);
  bike_body_angular_velocity(rider, body, m.angular);
  return m;
}

}  // namespace

void particles_reset() {
  ParticlePool& p = particle_pool;
  int first = track_objects.roost_billboard_first;
  for (int i = 0; i < particle_pool_size; ++i) {
    p.nodes[i] = Particle{};
    p.nodes[i].billboard = first + i;
    p.nodes[i].next = i + 1 < particle_pool_size ? i + 1 : -1;
    if (Billboard* b = particle_billboard(first + i)) b->texture = 0;
  }
  p.free_head = 0;
  p.active_head = -1;
  p.active_count = 0;
}

int roost_rate() {
  int r = options.roost_frequency >= 0 ? options.roost_frequency : derived_values.roost_rate;
  return std::clamp(r, 0, 1000);
}

int roost_count_for_rate(int rate) {
  int n = rate / 100;
  if (static_cast<int>(rng_next() % 100) < rate % 100) n += 1;
  return n;
}

int particle_spawn(const float position[3], const float velocity[3], const RoostKind* kind) {
  ParticlePool& p = particle_pool;
  if (p.free_head < 0) return 0;
  int i = p.free_head;
  Particle& n = p.nodes[i];
  p.free_head = n.next;
  n.kind = *kind;
  for (int j = 0; j < 3; ++j) {
    n.position[j] = position[j];
    n.velocity[j] = velocity[j];
  }
  if (Billboard* b = particle_billboard(n.billboard)) {
    b->height = kind->size;
    b->texture = kind->texture;
    b->x = position[0];
    b->y = position[1];
    b->z = position[2];
    b->r = kind->r;
    b->g = kind->g;
    b->b = kind->b;
    b->a = kind->a;
  }
  n.next = p.active_head;
  p.active_head = i;
  p.active_count++;
  return 1;
}

void particles_update() {
  ParticlePool& p = particle_pool;
  int prev = -1;
  int i = p.active_head;
  while (i >= 0) {
    Particle& n = p.nodes[i];
    int next = n.next;
    for (int j = 0; j < 3; ++j) n.position[j] += n.velocity[j] * tick;
    float drag = tick * n.kind.drag;
    for (float& v : n.velocity) v -= v * drag;
    n.velocity[1] -= 32 * tick;
    Billboard* b = particle_billboard(n.billboard);
    if (b) {
      b->x = n.position[0];
      b->y = n.position[1];
      b->z = n.position[2];
      b->height += tick * n.kind.grow;
      b->r = fade_byte(b->r, n.kind.fade_r);
      b->g = fade_byte(b->g, n.kind.fade_g);
      b->b = fade_byte(b->b, n.kind.fade_b);
      b->a = fade_byte(b->a, n.kind.fade_a);
    }
    bool landed = n.velocity[1] < 0 && terrain_height(&track_terrain, n.position[0], n.position[2]) > n.position[1];
    // A particle turned non-finite could never land; it goes back as well.
    bool broken = !std::isfinite(n.position[0]) || !std::isfinite(n.position[1]) || !std::isfinite(n.position[2]);
    if (landed || broken) {
      if (b) b->texture = 0;
      if (prev < 0)
        p.active_head = next;
      else
        p.nodes[prev].next = next;
      n.next = p.free_head;
      p.free_head = i;
      p.active_count--;
    } else {
      prev = i;
    }
    i = next;
  }
}

void roost_emit_wheel(const WheelContact* c, const WheelMotion* m, int n, float max_spread) {
  if (!c || !m || c->depth <= 0 || !track_terrain.tile_types) return;
  int tile = terrain_tile_at(&track_terrain, c->point[0], c->point[2]);
  if (tile < 0 || tile >= max_tile_types) return;
  const TileType& type = track_terrain.tile_types[tile];
  for (const RoostKind& kind : type.roost) {
    if (kind.kind == roost_none) break;
    int k = kind_count(&kind, n);
    if (kind.kind == roost_splash)
      emit_splash(c, m, &kind, k);
    else
      emit_roost(c, m, &kind, k, max_spread);
  }
}

void roost_emit_rider(Rider* rider, bool simulated) {
  if (!rider) return;
  int n = roost_count_for_rate(roost_rate());
  if (n <= 0) return;
  for (int w = 0; w < 2; ++w) {
    WheelMotion m = wheel_motion(rider, w);
    WheelContact c = rider->wheel[w];
    if (!simulated) {
      c.depth = 0;
      if (!c.body || !wheel_ground_probe(&track_terrain, &c, c.point, c.normal, &c.depth)) c.depth = 0;
      point_velocity(&m, c.point, c.point_velocity);
    }
    roost_emit_wheel(&c, &m, n, w == 0 ? front_spread : rear_spread);
  }
}
