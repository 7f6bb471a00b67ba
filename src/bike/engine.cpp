// Engine, gearbox, clutch and brakes: the torque curves, the clutch spring and the axle motors.
#include "bike/engine.h"

#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float h = static_cast<float>(tick_length);

bool touches(const WheelContact& w) { return w.depth > 0; }

float contact_speed(const WheelContact& w) {
  const float* v = w.point_velocity;
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

float rear_wheel_rate(const Rider* r) {
  return static_cast<float>(dJointGetHingeAngleRate(r->joint[joint_rear_axle]));
}

void lower_to_existing(Rider* r) {
  while (r->gear > 0 && !(r->info.gear_ratio[r->gear] > 0)) --r->gear;
}

}  // namespace

float wrap_angle(float a) { return static_cast<float>(std::remainder(a, 2 * static_cast<double>(pi))); }

void bike_set_gear(Rider* r, int g) {
  r->gear = g < 0 ? 0 : (g > gear_count - 1 ? gear_count - 1 : g);
  lower_to_existing(r);
}

void shift_request(Rider* r, int s) {
  if (s < -1 || s > 1 || r->down_ticks > 0) return;
  if (s == r->shift_memory) return;
  r->shift_memory = s;
  bike_set_gear(r, r->gear + s);
}

float gear_ratio_total(const Rider* r) {
  return r->info.gear_ratio[r->gear] * r->info.primary_reduction * r->final_drive;
}

float engine_torque(const Rider* r) {
  const float x = clampf(r->engine_speed * rad_per_s_to_rpm * 0.002f, 0, torque_points - 1);
  const int i = static_cast<int>(std::floor(x));
  const float f = x - static_cast<float>(i);
  const int j = i + 1 < torque_points ? i + 1 : torque_points - 1;
  const BikeInfo& b = r->info;
  const float closed = b.closed_torque[i] + (b.closed_torque[j] - b.closed_torque[i]) * f;
  const float open = b.open_torque[i] + (b.open_torque[j] - b.open_torque[i]) * f;
  const float t = closed + (open - closed) * r->control.throttle;
  if (r->assists.wheelie_guard && !touches(r->wheel[0]) && touches(r->wheel[1])) {
    const Vec3 w = v3(dBodyGetAngularVel(r->body[body_frame]));
    const float pitch = dot(w, body_axis(r->body[body_frame], 0));
    if (pitch > -0.03125f) return t < 0 ? t : 0;
  }
  return t;
}

float effective_clutch(const Rider* r) {
  const float rpm = r->engine_speed * rad_per_s_to_rpm;
  const float auto_rpm = r->assists.auto_clutch_rpm;
  const float input = r->control.clutch;
  if (rpm > auto_rpm + 2000) return input;
  const float c = clampf((rpm - auto_rpm) / 2000, 0, 1);
  return input < c ? input : c;
}

void bike_auto_shift(Rider* r) {
  if (!r->assists.auto_shift) return;
  if (!(dJointGetHingeAngle(r->joint[joint_swingarm_pivot]) < -0.01)) return;
  if (r->race_tick % 32 != 0) return;
  const WheelContact& rear = r->wheel[1];
  if (touches(rear) && contact_speed(rear) > 2) return;
  const float wheel_rpm = rear_wheel_rate(r) * gear_ratio_total(r) * rad_per_s_to_rpm;
  int g = r->gear;
  if (wheel_rpm < r->info.shift_down_rpm)
    g -= 1;
  else if (wheel_rpm > r->info.shift_up_rpm)
    g += 1;
  bike_set_gear(r, g);
}

void bike_engine_step(Rider* r) {
  // A non-finite engine is reset with the bike after the next world step; until then it must
  // not push anything.
  if (!std::isfinite(r->engine_speed) || !std::isfinite(r->drive_angle)) return;
  const float g = gear_ratio_total(r);
  if (!(g > 0)) return;  // the database never gives a first gear without a ratio
  const BikeInfo& b = r->info;
  const float clutch = effective_clutch(r);
  const float wheel_angle = static_cast<float>(dJointGetHingeAngle(r->joint[joint_rear_axle]));
  const float windup = wrap_angle(r->drive_angle - wheel_angle);
  float v = clampf((r->engine_speed - rear_wheel_rate(r) * g) * b.clutch_damping, -500, 500) +
            windup * b.clutch_stiffness;
  v = clampf(v, -1e6f, 1e6f);
  const float e = v >= 0 ? clutch : r->control.clutch;
  const float slip = e * pi / 4;
  if (windup > slip)
    r->drive_angle = wheel_angle + slip;
  else if (windup < -slip)
    r->drive_angle = wheel_angle - slip;
  const float d = e * e * v;
  dBodyAddRelTorque(r->body[body_rear_wheel], -d, 0, 0);
  dBodyAddRelTorque(r->body[body_frame], d, 0, 0);
  const float alpha = (engine_torque(r) - d / g) / b.engine_inertia;
  r->engine_speed += h * alpha;
  r->drive_angle = wrap_angle(r->drive_angle + h * r->engine_speed / g);
}

float front_brake_torque(const Rider* r) {
  const WheelContact& front = r->wheel[0];
  if (r->assists.front_antilock && touches(front) && contact_speed(front) > 2) return 0;
  if (r->assists.stoppie_guard && touches(front) && !touches(r->wheel[1])) return 0;
  return r->assists.front_brake_torque * r->control.front_brake;
}

float rear_brake_torque(const Rider* r) {
  const WheelContact& rear = r->wheel[1];
  if (r->assists.rear_antilock && touches(rear) && contact_speed(rear) > 2) return 0;
  return r->assists.rear_brake_torque * r->control.rear_brake;
}

void bike_brakes(Rider* r) {
  dJointID front = r->joint[joint_front_axle];
  dJointSetHingeParam(front, dParamVel, 0);
  dJointSetHingeParam(front, dParamFMax, front_brake_torque(r));
  dJointID rear = r->joint[joint_rear_axle];
  dJointSetHingeParam(rear, dParamVel, 0);
  dJointSetHingeParam(rear, dParamFMax, rear_brake_torque(r));
}
