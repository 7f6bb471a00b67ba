// Rider control: steering by lean, the balancing assists, dabbing, backing up, realignment,
// crash detection and the knock-down with its recovery.
#include "bike/control.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact.h"
#include "bike/engine.h"
#include "bike/shape.h"
#include "track/terrain.h"

int crash_extra_ticks[16] = {};
bool (*control_aim_point_hook)(const Rider*, float[3]) = nullptr;
bool (*control_finish_hook)(Rider*) = nullptr;

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float h = static_cast<float>(tick_length);
constexpr float max_extra_ticks = 1280;
// A knock-down this long counts down even while the rider keeps sliding.
constexpr int longest_slide = 1280;

Vec3 fv(const float* p) { return {p[0], p[1], p[2]}; }
bool touches(const WheelContact& w) { return w.depth > 0; }
float safe_clamp(float v, float lo, float hi) { return std::isfinite(v) ? clampf(v, lo, hi) : 0; }

dBodyID body(const Rider* r, int i) { return r->body[i]; }

float frame_speed(const Rider* r) { return length(body_vel(body(r, body_frame))); }

// The steering axis in bike coordinates, unit.
Vec3 steering_axis_local(const Rider* r) {
  return normalise(fv(r->info.steering_head) - fv(r->info.fork_lower_centre));
}

Vec3 to_world(dBodyID b, Vec3 v) {
  dVector3 out;
  dBodyVectorToWorld(b, v.x, v.y, v.z, out);
  return v3(out);
}

// A one-step angular motor on one body about a world axis.
void one_step_motor(dBodyID b, Vec3 axis, float velocity, float max_torque) {
  dJointID m = dJointCreateAMotor(world, contact_group);
  dJointAttach(m, b, nullptr);
  dJointSetAMotorNumAxes(m, 1);
  dJointSetAMotorAxis(m, 0, 0, axis.x, axis.y, axis.z);
  dJointSetAMotorParam(m, dParamVel, velocity);
  dJointSetAMotorParam(m, dParamFMax, max_torque);
}

void horizontal_velocity_servo(dBodyID b, float max_force, Vec3 target) {
  const Vec3 d = body_vel(b) - target;
  const float len = length(d);
  if (len < 0.25f) return;
  const float k = clampf((len - 0.25f) * 0.8f, 0, 1);
  const float s = -k * max_force / len;
  dBodyAddForce(b, s * d.x, 0, s * d.z);
}

// Dab speed limit: higher while the rider is protected after being run into.
float dab_speed_limit(const Rider* r) {
  return r->impact <= -512 ? 75 : r->assists.max_dab_speed;
}

void rope(dBodyID a, Vec3 pa, dBodyID b, Vec3 pb, float max_length) {
  const Vec3 qa = body_point_world(a, pa);
  const Vec3 qb = body_point_world(b, pb);
  const Vec3 d = qb - qa;
  const float len = length(d);
  if (len <= max_length) return;
  const float pos[3] = {qa.x, qa.y, qa.z};
  const float normal[3] = {d.x, d.y, d.z};  // unnormalised on purpose: longer pulls harder
  soft_contact(a, b, pos, normal, len - max_length, 5000, 500);
}

Vec3 shape_centre_world(dBodyID b, const ShapeSphere& s) { return body_point_world(b, fv(s.centre)); }

// The fallen rider's shape against one of his own bike's shapes: contact joints per touching
// sphere pair, with the softer pair's values.
void rider_against_own_shape(Rider* r, const CollisionShape* other, dBodyID other_body) {
  const CollisionShape* rs = r->shapes[shape_rider];
  if (!rs || !other) return;
  dBodyID rb = body(r, body_rider);
  if (length(body_pos(rb) - body_pos(other_body)) >= rs->bound + other->bound) return;
  for (int i = 0; i < rs->sphere_count; ++i) {
    const ShapeSphere& sa = rs->spheres[i];
    const Vec3 a = shape_centre_world(rb, sa);
    for (int j = 0; j < other->sphere_count; ++j) {
      const ShapeSphere& sb = other->spheres[j];
      const Vec3 b = shape_centre_world(other_body, sb);
      const Vec3 d = b - a;
      const float dist = length(d);
      if (dist >= sa.radius + sb.radius || dist <= 0) continue;
      const float k = std::fmin(sa.stiffness, sb.stiffness);
      const float damping = std::fmin(sa.damping, sb.damping);
      if (!(k * h + damping > 0)) continue;  // a sphere without a spring cannot push
      const float depth = sa.radius + sb.radius - dist;
      const Vec3 n = d * (1 / dist);
      const Vec3 p = a + d * ((sa.radius - depth / 2) / dist);
      dContact c{};
      c.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
      c.surface.mu = std::fmin(sa.friction, sb.friction);
      soft_terms(k, damping, &c.surface.soft_erp, &c.surface.soft_cfm);
      c.geom.pos[0] = p.x;
      c.geom.pos[1] = p.y;
      c.geom.pos[2] = p.z;
      c.geom.normal[0] = n.x;
      c.geom.normal[1] = n.y;
      c.geom.normal[2] = n.z;
      c.geom.depth = depth;
      dJointID jt = dJointCreateContact(world, contact_group, &c);
      dJointAttach(jt, other_body, rb);
    }
  }
}

void zero_knocked_down_controls(Rider* r) {
  r->control.throttle = 0;
  r->control.dab = 0;
  r->control.back_up = 0;
  r->control.lean = 0;
}

float front_speed(const Rider* r) {
  return (r->info.front_wheel.torus_radius + r->info.front_wheel.tyre_radius) *
         static_cast<float>(dJointGetHingeAngleRate(r->joint[joint_front_axle]));
}

void arcade_model(Rider* r) {
  const RiderAssists& a = r->assists;
  dBodyID frame = body(r, body_frame);
  const float steer = r->control.steer;
  const float lean = r->lean_angle;
  const float s = clampf((a.roll_damping - 40) * 0.025f, 0, 1);
  const float target = -steer * pi / 4;
  const float err = lean - target;
  float vel = (1.5f - 0.5f * s) * std::fmin(std::fabs(err), 0.0625f) * 16;
  if (lean >= target) vel = -vel;
  one_step_motor(frame, body_axis(frame, 2), vel, 1000);

  steering_torque(r, arcade_steering_effort(r, front_slip_angle(r) - 0.5f * steer) * a.steering_strength);

  // A damper far behind the bike keeps it pointing where it goes.
  dVector3 p;
  dBodyGetRelPointVel(frame, 0, 0, 20, p);
  dBodyAddForceAtRelPos(frame, -0.25 * p[0], -0.25 * p[1], -0.25 * p[2], 0, 0, 20);
}

float surface_grip(const Rider* r, Vec3 at) {
  const Terrain* t = r->terrain;
  if (!t || !t->tile_types || !t->tile_map) return 1;
  const int type = terrain_tile_at(t, at.x, at.z);
  if (type < 0 || type >= t->tile_type_count) return 1;
  const float mu = t->tile_types[type].friction[0].coefficient;
  return std::isfinite(mu) && mu > 0.125f ? mu : 0.125f;
}

}  // namespace

float arcade_steering_effort(const Rider* r, float target) {
  float c = clampf(target - bike_steering_angle(r), -0.25f, 0.25f);
  c = c > 0.03125f ? c - 0.03125f : (c < -0.03125f ? c + 0.03125f : 0);
  float d = 8 * c - static_cast<float>(dJointGetHingeAngleRate(r->joint[joint_steering_head]));
  constexpr float band = 1.0f / 2400;
  d = d > band ? d - band : (d < -band ? d + band : 0);
  return clampf(0.5f * d, -2.0f / 3, 2.0f / 3);
}

void control_set_throttle(Rider* r, float v) { r->control.throttle = r->down_ticks > 0 ? 0 : safe_clamp(v, 0, 1); }
void control_set_clutch(Rider* r, float v) { r->control.clutch = safe_clamp(v, 0, 1); }
void control_set_front_brake(Rider* r, float v) { r->control.front_brake = safe_clamp(v, 0, 1); }
void control_set_rear_brake(Rider* r, float v) { r->control.rear_brake = safe_clamp(v, 0, 1); }
void control_set_steer(Rider* r, float v) { r->control.steer = safe_clamp(v, -1, 1); }
void control_set_dab(Rider* r, float v) { r->control.dab = r->down_ticks > 0 ? 0 : safe_clamp(v, 0, 1); }
void control_set_back_up(Rider* r, float v) { r->control.back_up = r->down_ticks > 0 ? 0 : safe_clamp(v, 0, 1); }
void control_set_lean(Rider* r, float v) { r->control.lean = r->down_ticks > 0 ? 0 : safe_clamp(v, -1, 1); }

void control_apply(Rider* r, const ControlState& s) {
  control_set_throttle(r, s.throttle);
  control_set_clutch(r, s.clutch);
  control_set_front_brake(r, s.front_brake);
  control_set_rear_brake(r, s.rear_brake);
  control_set_steer(r, s.steer);
  control_set_dab(r, s.dab);
  control_set_back_up(r, s.back_up);
  control_set_lean(r, s.lean);
  shift_request(r, s.shift_request);
}

void control_set_crash_extra_ticks(const int ticks[16]) {
  for (int i = 0; i < 16; ++i)
    crash_extra_ticks[i] = ticks[i] < 0 ? 0 : (ticks[i] > max_extra_ticks ? max_extra_ticks : ticks[i]);
}

float lean_angle_update(Rider* r) {
  dBodyID frame = body(r, body_frame);
  const Vec3 up = body_axis(frame, 1);
  const Vec3 fwd = -body_axis(frame, 2);
  const float hl = std::sqrt(fwd.x * fwd.x + fwd.z * fwd.z);
  if (!(hl > 1e-6f)) return r->lean_angle;
  const Vec3 side = {-fwd.z / hl, 0, fwd.x / hl};
  r->lean_angle = std::acos(clampf(dot(up, side), -1, 1)) - pi / 2;
  return r->lean_angle;
}

float roll_rate(const Rider* r) {
  dBodyID frame = r->body[body_frame];
  return dot(v3(dBodyGetAngularVel(frame)), body_axis(frame, 2));
}

void steering_torque(Rider* r, float t) {
  const Vec3 a = to_world(body(r, body_frame), steering_axis_local(r)) * t;
  dBodyAddTorque(body(r, body_front_wheel), a.x, a.y, a.z);
  dBodyAddTorque(body(r, body_frame), -a.x, -a.y, -a.z);
}

float front_slip_angle(const Rider* r) {
  const Vec3 vw = body_vel(r->body[body_front_wheel]);
  dVector3 local;
  dBodyVectorFromWorld(r->body[body_steering], vw.x, vw.y, vw.z, local);
  const Vec3 v = v3(local);
  const Vec3 a = steering_axis_local(r);
  const float f = v.z * a.y - v.y * a.z;
  if (f * f + v.x * v.x <= 1) return 0;
  return -std::atan2(v.x, -f);
}

float lean_range(float speed, float max_dab_speed, float roll_limit_angle, int power) {
  if (speed == 0) return 0;
  const float s2 = speed * speed;
  const float d2 = max_dab_speed * max_dab_speed;
  if (s2 >= d2) return 2 * pi;
  if (s2 <= 225) {
    const float u = clampf(s2 / d2, 0, 1);
    return (1 - std::pow(1 - u, static_cast<float>(power))) * roll_limit_angle;
  }
  const float u = clampf((s2 - 225) / (d2 - 225), 0, 1);
  return roll_limit_angle + (2 * pi - roll_limit_angle) * u;
}

float wanted_roll_rate(float steer, float range, float lean) {
  const float w = (-steer * range - lean) * 2.5f;
  const bool toward_upright = (lean >= 0 && w < 0) || (lean < 0 && w >= 0);
  const float limit = toward_upright ? 9.817477f : 3.926991f;
  return clampf(w, -limit, limit);
}

float impact_balance(float i, float st) {
  if (i > 192) return -clampf((i - 192) / 64, 0, 1) * st;
  if (i > 0) {
    const float lm = 200 * clampf((192 - i) / 192, 0, 1);
    return clampf(st, -lm, lm);
  }
  return st;
}

float lock_limit(const RiderAssists& a, float vf, float mu0) {
  const float l2 = std::fmax(a.full_lock_speed + 1, a.restricted_lock_speed);
  const float den = 1 / a.full_lock_speed - 1 / l2;
  const float b = den > 0 ? clampf((1 / std::fmax(1.0f, vf) - 1 / l2) / den, 0, 1) : 1;
  const float restricted = std::fmin(a.restricted_lock / std::fmax(mu0, 0.125f), pi / 4);
  return restricted + (pi / 4 - restricted) * b;
}

void bike_steering_and_balance(Rider* r) {
  const RiderAssists& a = r->assists;
  if (a.arcade) {
    if (r->down_ticks == 0) arcade_model(r);
    return;
  }
  r->steering_lock = 0;
  if (r->down_ticks > 0) return;
  const ControlState& in = r->control;
  float upper = a.max_steering_force, lower = -a.max_steering_force;
  const float direct = a.steering_strength * in.steer * a.direct_steering;
  const float vf = front_speed(r);
  const float delta = bike_steering_angle(r);
  const float sigma = front_slip_angle(r);
  const float lean = r->lean_angle;
  const float rho = roll_rate(r);
  const Vec3 front_centre = body_pos(body(r, body_front_wheel));
  const float lock = lock_limit(a, vf, surface_grip(r, front_centre));

  if (r->terrain) {
    const float hw = front_centre.y - terrain_height(r->terrain, front_centre.x, front_centre.z) -
                     r->info.front_wheel.torus_radius - r->info.front_wheel.tyre_radius;
    if (vf > 1 && hw < 0.5f) {
      const float l1 = lock + (pi / 4 - lock) * clampf(2 * hw, 0, 1);
      const float edge = 1.125f * l1 + 0.015f;
      // Beyond the lock the torque toward more lock is cut and finally reversed.
      if (sigma > l1) {
        const float m = clampf((sigma - edge) / (l1 - edge), 0, 1);
        lower = -a.max_steering_force * (1.25f * m - 0.25f);
      }
      if (sigma < -l1) {
        const float m = clampf((-sigma - edge) / (l1 - edge), 0, 1);
        upper = a.max_steering_force * (1.25f * m - 0.25f);
      }
    }
  }

  float stability;
  float rider = direct;
  const bool rolling = touches(r->wheel[0]) &&
                       dJointGetHingeAngleRate(r->joint[joint_front_axle]) > pi / 4;
  if (!rolling) {
    r->land_damping = a.land_damping_factor;
    stability = -50 * delta;
  } else {
    float s = rho * a.roll_damping * r->land_damping;
    if (r->land_damping > 1) {
      if (a.land_damping_falloff != 0)
        r->land_damping = std::fmax(
            1.0f, r->land_damping - (a.land_damping_factor - 1) * h / a.land_damping_falloff);
      else
        r->land_damping = 1;
    }
    const float speed = frame_speed(r);
    float level = lean * a.leveling;
    if (speed < a.slow_damping_speed) {
      const float k = a.slow_damping_factor +
                      (1 - a.slow_damping_factor) * clampf(speed / a.slow_damping_speed, 0, 1);
      s *= k;
      level *= k;
    }
    if (((rho >= 0 && lean >= 0) || (rho < 0 && lean < 0)) &&
        std::fabs(lean) > a.roll_limit_angle)
      s *= (std::fabs(lean) - a.roll_limit_angle) * a.roll_limit_factor + 1;
    stability = s + level;
    if (a.direct_steering < 1) {
      const float range = lean_range(speed, a.max_dab_speed, a.roll_limit_angle, 4);
      const float w = wanted_roll_rate(in.steer, range, lean);
      const float e = clampf(w - rho, -0.125f, 0.125f);
      const float q = clampf(4 * (rho - (w - e)), -1, 1);
      const float lean_torque = a.steering_strength * q;
      rider = lean_torque + (direct - lean_torque) * a.direct_steering;
    }
    // How far the steering is turned into the lean, or the front slides: the dab torque
    // gives way to it.
    const float c = clampf((vf - 5) / 10, 0, 1);
    const float q1 = 0.25f * c * lock;
    const float q2 = (0.625f * c + 0.125f) * lock;
    const float span = q2 - q1;
    float f1, f2;
    if (lean >= 0) {
      f1 = span > 0 ? clampf((-sigma - q1) / span, 0, 1) : (-sigma > q1 ? 1.0f : 0.0f);
      f2 = clampf((delta - 0.2617994f) * 3.8197186f, 0, 1);
    } else {
      f1 = span > 0 ? clampf((sigma - q1) / span, 0, 1) : (sigma > q1 ? 1.0f : 0.0f);
      f2 = clampf((delta + 0.2617994f) * -3.8197186f, 0, 1);
    }
    r->steering_lock = std::fmax(f1, f2);
  }
  const float total = 1.5f * (impact_balance(r->impact, stability) + rider);
  steering_torque(r, clampf(total, lower, upper));
}

void bike_front_wheel_damping(Rider* r) {
  dBodyID w = body(r, body_front_wheel);
  const Vec3 omega = v3(dBodyGetAngularVel(w));
  const Vec3 axle = body_axis(w, 0);
  const Vec3 t = (axle * dot(omega, axle) - omega) * r->assists.steering_damping;
  dBodyAddTorque(w, t.x, t.y, t.z);
  dBodyAddTorque(body(r, body_frame), -t.x, -t.y, -t.z);
}

void bike_back_up_or_auto_dab(Rider* r) {
  dBodyID frame = body(r, body_frame);
  const float speed = frame_speed(r);
  ControlState& in = r->control;
  const bool knocked = r->down_ticks > 0;
  if (in.back_up > 0 && speed < 5) {
    const int tick = r->race_tick;
    float p = (1 - std::cos(static_cast<float>(((tick % 128) + 128) % 128) * 2 * pi / 127)) / 2;
    const int first = static_cast<int>(std::floor((r->gate_drop_tick + 128) / 128.0)) * 128;
    if (tick < first && (tick & 384) != 0) p = 0;
    in.dab = knocked ? 0 : 1;
    horizontal_velocity_servo(frame, 2000, body_axis(frame, 2) * (4 * p));
    one_step_motor(frame, Vec3{0, 1, 0}, -in.steer * p * pi / 2, 2000);
    return;
  }
  if (!r->assists.auto_dab) return;
  const float d = dab_speed_limit(r);
  const float lean = std::fabs(r->lean_angle);
  if (speed > d) return;
  if (speed > 15 && lean < clampf((speed - 15) / 15, 0, 1) * pi / 4) return;
  if (in.throttle != 0 && in.clutch != 0 && speed >= 5 && lean <= pi / 16) return;
  const float want = knocked ? 0 : clampf(1 - speed / d, 0, 1);
  if (want > in.dab) in.dab = want;
  if (speed < 5 && (in.throttle == 0 || in.clutch == 0) && touches(r->wheel[0]) &&
      touches(r->wheel[1])) {
    in.front_brake = 1;
    in.rear_brake = 1;
    horizontal_velocity_servo(frame, 1000, Vec3{0, 0, 0});
  }
}

void bike_dab_and_align(Rider* r) {
  if (r->down_ticks > 0) {
    r->dab_extension = std::fmin(1.0f, r->dab_extension + 8 * h);
    return;
  }
  const ControlState& in = r->control;
  if (in.dab == 0) return;
  const RiderAssists& a = r->assists;
  dBodyID frame = body(r, body_frame);
  if (!touches(r->wheel[0])) {
    // Without the front wheel down the feet must reach the ground.
    if (!r->terrain) return;
    const Vec3 c = body_pos(body(r, body_rider));
    const float centre[3] = {c.x, c.y, c.z};
    float p[3], n[3], depth;
    if (!sphere_terrain_contact(r->terrain, centre, r->info.rider_seat[1] + 1, p, n, &depth))
      return;
  }
  const float speed = frame_speed(r);
  const float lean = r->lean_angle;
  const bool both = touches(r->wheel[0]) && touches(r->wheel[1]);
  if (speed > dab_speed_limit(r)) return;
  if (speed > 15 && !(both && std::fabs(lean) >= 0.5890486f)) return;
  r->dab_extension = std::fmin(1.0f, r->dab_extension + 8 * h);
  if (a.arcade || r->impact > 0) return;

  const bool finished_now = control_finish_hook && control_finish_hook(r);
  float aim[3];
  if (!finished_now && a.auto_align && in.back_up <= 0.125f && speed < 5 &&
      std::fabs(lean) > 0.3926991f && std::fabs(lean) < 1.0995574f && r->checkpoints_passed >= 1 &&
      !r->finished && control_aim_point_hook && control_aim_point_hook(r, aim)) {
    const float omega = r->impact < 0 ? pi : pi / 2;
    const Vec3 f = body_pos(frame);
    const Vec3 d = fv(aim) - f;
    Vec3 z = body_axis(frame, 2);
    z.y = 0;
    const float zl2 = length2(z);
    if (zl2 > 1.0f / 1024) {
      z = z * (1 / std::sqrt(zl2));
      const float ahead = d.x * z.x + d.z * z.z;  // negative ahead
      const float side = d.x * z.z - d.z * z.x;
      const float vel = side >= 0 ? -omega : omega;
      if (ahead >= 0 || std::fabs(side) >= -0.25f * ahead) {
        one_step_motor(frame, Vec3{0, 1, 0}, vel, r->total_mass * 320);
        for (int w = 0; w < 2; ++w)
          if (touches(r->wheel[w]))
            dBodyAddForce(body(r, w ? body_rear_wheel : body_front_wheel), 0, r->total_mass * 32, 0);
        return;
      }
      one_step_motor(frame, Vec3{0, 1, 0}, vel,
                     r->total_mass * 320 * std::fabs(side / (0.25f * ahead)));
    }
  }

  float g = lean >= 0 ? -pi / 8 : pi / 8;
  if (a.auto_dab && r->impact < 0) g *= 3;
  if (std::fabs(lean) < pi / 16) g *= std::fabs(lean) * 16 / pi;
  const float rho = roll_rate(r);
  float big = 0;
  if (g > 0 && rho < g)
    big = -400;
  else if (g < 0 && rho > g)
    big = 400;
  if (std::fabs(lean) < pi / 32) big *= std::fabs(lean) * 32 / pi;
  if (in.back_up < 0.125f) {
    const float range = 1.25f * lean_range(speed, a.max_dab_speed, a.roll_limit_angle, 32);
    const float st = g >= 0 ? -in.steer : in.steer;
    const float j = clampf(2 * (st - 0.5f), 0, 1);
    const float k = clampf((std::fabs(lean) - range) / 0.25f, 0, 1);
    big *= k + (1 - k) * j;
    if (speed > 5) big *= r->steering_lock;
  }
  if (big == 0) return;
  if (body_axis(frame, 1).y >= 0.707f) {
    dBodyAddForceAtRelPos(frame, 0, std::fabs(big) / 8, 0, 0, 4, 0);
    dBodyAddRelForceAtRelPos(frame, big, 0, 0, 0, 4, 0);
  } else {
    dBodyAddForceAtRelPos(frame, 0, std::fabs(big), 0, 0, 4, 0);
  }
}

void bike_crash_detection(Rider* r, int race_tick) {
  lean_angle_update(r);
  if (r->down_ticks != 0 || r->impact < 0) return;
  dBodyID rb = body(r, body_rider);
  const Vec3 vr = body_vel(rb);
  const Vec3 vf = body_point_velocity(body(r, body_frame), body_pos(rb));
  if (length2(vr - vf) > 961) {
    knock_down(r);
    return;
  }
  const float* old = r->body_velocity_ring[((race_tick % 4) + 4) % 4];
  const Vec3 acc = (vr - fv(old)) * (0.25f / h) + Vec3{0, 32, 0};
  if (length2(acc) > 1893376) knock_down(r);
}

void knock_down(Rider* r) {
  if (r->mount_attached) bike_detach_rider(r);
  const Vec3 v = body_vel(body(r, body_rider));
  for (int side = 0; side < 2; ++side) {
    const float* peg = r->info.pose_points + (side ? pose_peg_right : pose_peg_left);
    const Vec3 p = body_point_world(body(r, body_frame), fv(peg));
    r->foot_points[side][0] = p.x;
    r->foot_points[side][1] = p.y;
    r->foot_points[side][2] = p.z;
    r->foot_velocities[side][0] = v.x;
    r->foot_velocities[side][1] = v.y;
    r->foot_velocities[side][2] = v.z;
  }
  const int n = r->crash_count < 0 ? 0 : (r->crash_count > 15 ? 15 : r->crash_count);
  const int extra = crash_extra_ticks[n];
  r->down_ticks = 512 + (extra < 0 ? 0 : (extra > max_extra_ticks ? max_extra_ticks : extra));
  r->crash_count += 1;
  r->down_elapsed = 0;
  zero_knocked_down_controls(r);
}

void bike_knock_down_step(Rider* r, int) {
  zero_knocked_down_controls(r);
  dBodyID rb = body(r, body_rider);
  dBodyID steer = body(r, body_steering);
  dBodyID frame = body(r, body_frame);
  r->down_elapsed += 1;
  const bool moving = length2(body_vel(rb)) >= 4;
  if (moving) {
    const float arm = (0.9f + 1.15f) * 0.875f;
    rope(rb, Vec3{-0.556f, 0.580375f, -0.654514f}, steer, Vec3{-1.097f, 1.145f, 0.753f}, arm);
    rope(rb, Vec3{0.556f, 0.580375f, -0.654514f}, steer, Vec3{1.097f, 1.145f, 0.753f}, arm);
    if (r->down_ticks > 511)
      rope(rb, Vec3{0, -0.570887f, 0.670607f}, steer, Vec3{0, 1.145f, 10.753f}, 8);
    rider_against_own_shape(r, r->shapes[shape_frame], frame);
    rider_against_own_shape(r, r->shapes[shape_fork_upper], steer);
  }
  // A rider sliding down a long slope must still get up some time.
  if (!moving || r->down_elapsed >= longest_slide) r->down_ticks -= 1;
  if (r->down_ticks <= 511 && r->down_ticks > 0) {
    const float len = 5 * clampf((r->down_ticks - 128) / 384.0f, 0, 1);
    const Vec3 seat = fv(r->info.rider_seat) - fv(r->info.frame_centre);
    rope(frame, seat, rb, Vec3{0, 0, 0}, len);
    rope(frame, seat + Vec3{-5, 10, 0}, rb, Vec3{-5, 10, 0}, len);
    rope(frame, seat + Vec3{5, 10, 0}, rb, Vec3{5, 10, 0}, len);
    if (r->down_ticks <= 319) {
      // The foot on the low side reaches for its peg.
      const int side = r->lean_angle >= 0 ? 0 : 1;
      const float* peg = r->info.pose_points + (side ? pose_peg_right : pose_peg_left);
      const Vec3 target = body_point_world(frame, fv(peg) + Vec3{0, 3, 1});
      const Vec3 d = target - fv(r->foot_points[side]);
      const float dist = length(d);
      const float speed = std::fmin(4.0f, dist / h);
      const Vec3 v = dist > 0 ? d * (speed / dist) : Vec3{0, 0, 0};
      r->foot_velocities[side][0] = v.x;
      r->foot_velocities[side][1] = v.y;
      r->foot_velocities[side][2] = v.z;
    }
  }
  if (r->down_ticks <= 0) {
    r->down_ticks = 0;
    bike_attach_rider(r);
  }
}

void bike_pose_update(Rider* r) {
  r->dab_extension = std::fmax(0.0f, r->dab_extension - 4 * h);
  if (r->down_ticks <= 0) return;
  dBodyID rb = body(r, body_rider);
  const float leg = r->info.pose_points[pose_thigh] + r->info.pose_points[pose_shin];
  for (int side = 0; side < 2; ++side) {
    float* p = r->foot_points[side];
    float* v = r->foot_velocities[side];
    v[1] += gravity_y * h;
    for (int k = 0; k < 3; ++k) {
      v[k] *= 0.9375f;
      p[k] += v[k] * h;
    }
    if (r->terrain) {
      const float ground = terrain_height(r->terrain, p[0], p[2]) + 0.25f;
      if (p[1] < ground) {
        p[1] = ground;
        v[0] = v[1] = v[2] = 0;
      }
    }
    const Vec3 hip = body_point_world(rb, Vec3{side ? 0.269f : -0.269f, -0.570887f, 0.670607f});
    const Vec3 d = fv(p) - hip;
    const float dist = length(d);
    if (dist > leg) {
      const Vec3 q = hip + d * (leg / dist);
      p[0] = q.x;
      p[1] = q.y;
      p[2] = q.z;
    }
  }
}
