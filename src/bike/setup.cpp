// The bike setup reaching the rider: setters with their ranges, the rider defaults, setup_apply
// and the metric read-outs of the setup menus.
#include "bike/setup.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/rider.h"
#include "core/console.h"

bool setup_out_of_range = false;
bool setup_arcade_disabled = false;

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float degrees = pi / 180;
constexpr float mph = 1.4666667f;  // ft/s

// Game-clock seconds of the last time a refused apply was said.
double last_refusal_said = -20;

float lerp_range(const float range[2], float f) { return range[0] + (range[1] - range[0]) * f; }

// 2^(0.02 x - 1): 0 halves, 50 keeps, 100 doubles.
float damping_factor(double x) { return static_cast<float>(std::pow(2.0, 0.02 * x - 1)); }

float fraction(double x) { return static_cast<float>(x / 100); }

float teeth(float base, float adjustment) {
  const float t = std::floor(base + adjustment);
  return t < 3 ? 3 : t;
}

}  // namespace

float setup_clamp(float v, float lo, float hi) {
  const float margin = (hi - lo) / 8;
  if (!(v >= lo - margin && v <= hi + margin)) setup_out_of_range = true;
  if (!std::isfinite(v)) return lo;
  return v < lo ? lo : (v > hi ? hi : v);
}

void setup_set_leveling(Rider* r, float v) { r->assists.leveling = setup_clamp(v, 0, 100); }
void setup_set_roll_damping(Rider* r, float v) { r->assists.roll_damping = setup_clamp(v, 0, 100); }
void setup_set_roll_limit_angle(Rider* r, float v) { r->assists.roll_limit_angle = setup_clamp(v, 0, pi); }
void setup_set_roll_limit_factor(Rider* r, float v) { r->assists.roll_limit_factor = setup_clamp(v, 0, 64); }
void setup_set_steering_damping(Rider* r, float v) { r->assists.steering_damping = setup_clamp(v, 0, 100); }
void setup_set_steering_strength(Rider* r, float v) { r->assists.steering_strength = setup_clamp(v, 0, 100); }
void setup_set_max_steering_force(Rider* r, float v) { r->assists.max_steering_force = setup_clamp(v, 0, 1000); }
void setup_set_direct_steering(Rider* r, float v) { r->assists.direct_steering = setup_clamp(v, 0, 1); }
void setup_set_slow_damping_speed(Rider* r, float v) { r->assists.slow_damping_speed = setup_clamp(v, 0, 100); }
void setup_set_slow_damping_factor(Rider* r, float v) { r->assists.slow_damping_factor = setup_clamp(v, 1, 10); }
void setup_set_land_damping_falloff(Rider* r, float v) { r->assists.land_damping_falloff = setup_clamp(v, 0, 0.5f); }
void setup_set_land_damping_factor(Rider* r, float v) { r->assists.land_damping_factor = setup_clamp(v, 1, 3); }
void setup_set_full_lock_speed(Rider* r, float v) { r->assists.full_lock_speed = setup_clamp(v, 1, 100); }
void setup_set_restricted_lock_speed(Rider* r, float v) { r->assists.restricted_lock_speed = setup_clamp(v, 1, 100); }
void setup_set_restricted_lock(Rider* r, float v) { r->assists.restricted_lock = setup_clamp(v, 0, pi / 4); }
void setup_set_auto_clutch_rpm(Rider* r, float v) { r->assists.auto_clutch_rpm = setup_clamp(v, 0, 5000); }
void setup_set_front_brake_torque(Rider* r, float v) { r->assists.front_brake_torque = setup_clamp(v, 0, 500); }
void setup_set_rear_brake_torque(Rider* r, float v) { r->assists.rear_brake_torque = setup_clamp(v, 0, 500); }
void setup_set_max_dab_speed(Rider* r, float v) { r->assists.max_dab_speed = setup_clamp(v, 7, 100); }

void setup_set_sprockets(Rider* r, float front, float rear) {
  front = setup_clamp(front, -2, 2);
  rear = setup_clamp(rear, -2, 2);
  r->final_drive = teeth(r->info.rear_sprocket, rear) / teeth(r->info.front_sprocket, front);
}

void setup_set_fork(Rider* r, float compression, float rebound, float spring, float preload,
                    float oil) {
  const BikeInfo& b = r->info;
  r->fork_compression_damping = b.fork_compression_damping * setup_clamp(compression, 0.5f, 2);
  r->fork_rebound_damping = b.fork_rebound_damping * setup_clamp(rebound, 0.5f, 2);
  r->fork_spring_rate = lerp_range(b.fork_spring_rate, setup_clamp(spring, 0, 1));
  r->fork_preload = lerp_range(b.fork_preload, setup_clamp(preload, 0, 1));
  r->fork_air_gap = lerp_range(b.fork_air_gap, setup_clamp(oil, 0, 1));
}

void setup_set_shock(Rider* r, float compression, float rebound, float spring, float preload) {
  const BikeInfo& b = r->info;
  r->shock_compression_damping = b.shock_compression_damping * setup_clamp(compression, 0.5f, 2);
  r->shock_rebound_damping = b.shock_rebound_damping * setup_clamp(rebound, 0.5f, 2);
  r->shock_spring_rate = lerp_range(b.shock_spring_rate, setup_clamp(spring, 0, 1));
  r->shock_preload = lerp_range(b.shock_preload, setup_clamp(preload, 0, 1));
}

void setup_set_rider_springs(Rider* r, float y, float z) {
  r->rider_yspring = setup_clamp(y, 0, 1);
  r->rider_zspring = setup_clamp(z, 0, 1);
}

void setup_set_rider_dampers(Rider* r, float y, float z) {
  r->rider_ydamping = setup_clamp(y, 0, 1);
  r->rider_zdamping = setup_clamp(z, 0, 1);
}

void setup_set_mass_distribution(Rider* r, float d) {
  bike_set_mass_distribution(r, setup_clamp(d, 0.33f, 0.5f));
}

void setup_rider_defaults(Rider* r) {
  const BikeInfo& b = r->info;
  r->fork_compression_damping = b.fork_compression_damping;
  r->fork_rebound_damping = b.fork_rebound_damping;
  r->fork_spring_rate = lerp_range(b.fork_spring_rate, 0.5f);
  r->fork_preload = lerp_range(b.fork_preload, 0.5f);
  r->fork_air_gap = b.fork_air_gap[0];
  r->shock_compression_damping = b.shock_compression_damping;
  r->shock_rebound_damping = b.shock_rebound_damping;
  r->shock_spring_rate = lerp_range(b.shock_spring_rate, 0.5f);
  r->shock_preload = lerp_range(b.shock_preload, 0.5f);
  r->final_drive = teeth(b.rear_sprocket, 0) / teeth(b.front_sprocket, 0);
  r->rider_yspring = r->rider_ydamping = r->rider_zspring = r->rider_zdamping = 0.5f;
  RiderAssists& a = r->assists;
  a = RiderAssists{};
  a.leveling = 20;
  a.roll_damping = 60;
  a.roll_limit_angle = pi / 4;
  a.roll_limit_factor = 10;
  a.steering_damping = 45;
  a.steering_strength = 75;
  a.max_steering_force = 400;
  a.direct_steering = 1;
  a.slow_damping_speed = 0;
  a.slow_damping_factor = 1;
  a.land_damping_falloff = 0.25f;
  a.land_damping_factor = 2;
  a.auto_clutch_rpm = 5000;
  a.front_brake_torque = 250;
  a.rear_brake_torque = 250;
  a.max_dab_speed = 30;
  a.full_lock_speed = 10;
  a.restricted_lock_speed = 50;
  a.restricted_lock = 0.0872665f;
  a.front_antilock = true;
  a.stoppie_guard = true;
  a.auto_align = true;
}

void setup_replay_defaults(Rider* r) {
  setup_set_roll_damping(r, 100);
  setup_set_full_lock_speed(r, 5);
  setup_set_restricted_lock_speed(r, 50);
  setup_set_restricted_lock(r, 0.0436332f);
}

bool setup_apply(Rider* r, const BikeSetup* s, double now) {
  float v[3];
  bike_body_velocity(r, body_frame, v);
  if (v[0] * v[0] + v[1] * v[1] + v[2] * v[2] > 0.125f * 0.125f) {
    // Say it every time, but not more than once a second: a change must never vanish
    // silently, nor flood the console while a menu value is held down.
    if (now - last_refusal_said >= 1 || now < last_refusal_said) {
      console_print("Settings not applied.  Mechanic can't keep up error.");
      last_refusal_said = now;
    }
    return false;
  }
  auto f = [](double x) { return static_cast<float>(x); };
  RiderAssists& a = r->assists;
  setup_set_leveling(r, f(s->leveling));
  setup_set_roll_damping(r, f(s->roll_damping));
  setup_set_roll_limit_angle(r, f(s->roll_limit_angle) * degrees);
  setup_set_roll_limit_factor(r, f(s->roll_limit_factor));
  setup_set_steering_damping(r, f(s->steering_damping));
  setup_set_steering_strength(r, f(s->steering_strength));
  setup_set_max_steering_force(r, f(s->max_steering_force));
  a.arcade = s->arcade != 0 && !setup_arcade_disabled;
  a.front_antilock = s->front_brake == 1;
  a.rear_antilock = s->rear_brake == 1;
  a.wheelie_guard = s->stop_wheelies == 1;
  a.stoppie_guard = s->stop_wheelies == 1 || s->stop_wheelies == 2;
  a.auto_shift = s->auto_shift != 0;
  a.auto_dab = s->auto_dab != 0;
  a.auto_align = s->auto_align != 0;
  setup_set_direct_steering(r, f(s->direct_steering));
  setup_set_slow_damping_speed(r, f(s->slow_damping_speed));
  setup_set_slow_damping_factor(r, f(s->slow_damping_factor));
  setup_set_land_damping_falloff(r, f(s->land_damping_falloff));
  setup_set_land_damping_factor(r, f(s->land_damping_factor));
  setup_set_full_lock_speed(r, f(s->full_lock_speed));
  setup_set_restricted_lock_speed(r, f(s->restricted_lock_speed));
  setup_set_restricted_lock(r, f(s->restricted_lock) * degrees);
  setup_set_auto_clutch_rpm(r, f(s->auto_clutch_rpms));
  setup_set_front_brake_torque(r, f(s->brake_torque));
  setup_set_rear_brake_torque(r, f(s->rear_brake_torque));
  setup_set_max_dab_speed(r, f(s->max_dab_speed) * mph);
  setup_set_sprockets(r, f(s->front_sprocket_adjustment), f(s->rear_sprocket_adjustment));
  setup_set_fork(r, damping_factor(s->fork_compression_adjustment),
                 damping_factor(s->fork_rebound_adjustment),
                 fraction(s->fork_spring_rate_adjustment), fraction(s->fork_preload_adjustment),
                 fraction(s->fork_oil_level_adjustment));
  setup_set_shock(r, damping_factor(s->shock_compression_adjustment),
                  damping_factor(s->shock_rebound_adjustment),
                  fraction(s->shock_spring_rate_adjustment),
                  fraction(s->shock_preload_adjustment));
  setup_set_rider_springs(r, fraction(s->rider_yspring), fraction(s->rider_zspring));
  setup_set_rider_dampers(r, fraction(s->rider_ydamping), fraction(s->rider_zdamping));
  setup_set_mass_distribution(r, f(s->rider_mass_distribution));
  return true;
}

bool setup_readout(const BikeSetup* s, const BikeInfo* b, const char* key, char* out, int size) {
  if (!b || !key || !out || size <= 0) return false;
  auto frac = [](double x) {
    const float v = fraction(x);
    return v < 0 ? 0.0f : (v > 1 ? 1.0f : v);
  };
  auto adj = [](double x) { return static_cast<float>(x < -2 ? -2 : (x > 2 ? 2 : x)); };
  const size_t n = static_cast<size_t>(size);
  if (!std::strcmp(key, "fork_spring_rate_adjustment"))
    std::snprintf(out, n, "%.3f kg/mm", lerp_range(b->fork_spring_rate, frac(s->fork_spring_rate_adjustment)) * 0.0007440820);
  else if (!std::strcmp(key, "fork_preload_adjustment"))
    std::snprintf(out, n, "%.2f mm", lerp_range(b->fork_preload, frac(s->fork_preload_adjustment)) * 304.8);
  else if (!std::strcmp(key, "fork_oil_level_adjustment"))
    std::snprintf(out, n, "%.2f mm", lerp_range(b->fork_air_gap, frac(s->fork_oil_level_adjustment)) * 304.8);
  else if (!std::strcmp(key, "shock_spring_rate_adjustment"))
    std::snprintf(out, n, "%.2f kg/mm", lerp_range(b->shock_spring_rate, frac(s->shock_spring_rate_adjustment)) * 0.0014881639);
  else if (!std::strcmp(key, "shock_preload_adjustment"))
    std::snprintf(out, n, "%.2f mm", lerp_range(b->shock_preload, frac(s->shock_preload_adjustment)) * 304.8);
  else if (!std::strcmp(key, "front_sprocket_adjustment"))
    std::snprintf(out, n, "%.2f teeth", b->front_sprocket + adj(s->front_sprocket_adjustment));
  else if (!std::strcmp(key, "rear_sprocket_adjustment"))
    std::snprintf(out, n, "%.2f teeth", b->rear_sprocket + adj(s->rear_sprocket_adjustment));
  else
    return false;
  return true;
}
