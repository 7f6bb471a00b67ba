// Replayed riders: bodies placed from recorded states, velocities from the states around them.
#include <cmath>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "demo/state_record.h"
#include "track/terrain.h"

namespace {

struct Pose7 {
  dVector3 pos[bike_body_count];
  dQuaternion quat[bike_body_count];
};

void quat_about(dQuaternion q, double x, double y, double z, double angle) {
  dQFromAxisAndAngle(q, x, y, z, angle);
}

// q = a * b (rotation b first, then a).
void quat_mul(dQuaternion out, const dQuaternion a, const dQuaternion b) {
  dQuaternion t;
  dQMultiply0(t, a, b);
  for (int i = 0; i < 4; ++i) out[i] = t[i];
}

void rotate(const dQuaternion q, const double v[3], double out[3]) {
  dMatrix3 r;
  dQtoR(q, r);
  dVector3 in = {v[0], v[1], v[2], 0}, res;
  dMultiply0_331(res, r, in);
  for (int i = 0; i < 3; ++i) out[i] = res[i];
}

void diff(const float* a, const float* b, double out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = static_cast<double>(a[i]) - b[i];
}

// Every body from a decoded state: the frame as recorded, the others through their joints.
Pose7 pose_from_state(const Rider* r, const StatePose& s) {
  const BikeInfo& b = r->info;
  Pose7 p{};
  dQuaternion qf = {s.orientation[0], s.orientation[1], s.orientation[2], s.orientation[3]};
  dNormalize4(qf);
  double axis[3];
  diff(b.steering_head, b.fork_lower_centre, axis);
  const double al = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  for (double& a : axis) a /= al;
  auto place = [&](int body, const double at[3], const dQuaternion q) {
    for (int i = 0; i < 3; ++i) p.pos[body][i] = at[i];
    for (int i = 0; i < 4; ++i) p.quat[body][i] = q[i];
  };
  auto offset = [&](const double base[3], const dQuaternion q, const double local[3], double out[3]) {
    double w[3];
    rotate(q, local, w);
    for (int i = 0; i < 3; ++i) out[i] = base[i] + w[i];
  };
  const double frame_pos[3] = {s.position[0], s.position[1], s.position[2]};
  place(body_frame, frame_pos, qf);

  dQuaternion turn, qs;
  quat_about(turn, axis[0], axis[1], axis[2], s.steering);
  quat_mul(qs, qf, turn);
  double local[3], steer_pos[3];
  diff(b.steering_head, b.frame_centre, local);
  offset(frame_pos, qf, local, steer_pos);
  place(body_steering, steer_pos, qs);

  double fork_pos[3], axis_world[3];
  diff(b.fork_lower_centre, b.steering_head, local);
  offset(steer_pos, qs, local, fork_pos);
  rotate(qs, axis, axis_world);
  for (int i = 0; i < 3; ++i) fork_pos[i] -= axis_world[i] * s.fork;  // extension pushes it out
  place(body_fork_lower, fork_pos, qs);

  dQuaternion spin, qw;
  double wheel_pos[3];
  diff(b.front_wheel.centre, b.fork_lower_centre, local);
  offset(fork_pos, qs, local, wheel_pos);
  quat_about(spin, 1, 0, 0, -s.wheel_angle[0]);
  quat_mul(qw, qs, spin);
  place(body_front_wheel, wheel_pos, qw);

  dQuaternion swing, qa;
  quat_about(swing, 1, 0, 0, s.swingarm);
  quat_mul(qa, qf, swing);
  double pivot[3], arm_pos[3];
  diff(b.swingarm_pivot, b.frame_centre, local);
  offset(frame_pos, qf, local, pivot);
  diff(b.swingarm_centre, b.swingarm_pivot, local);
  offset(pivot, qa, local, arm_pos);
  place(body_swingarm, arm_pos, qa);

  diff(b.rear_wheel.centre, b.swingarm_centre, local);
  offset(arm_pos, qa, local, wheel_pos);
  quat_about(spin, 1, 0, 0, -s.wheel_angle[1]);
  quat_mul(qw, qa, spin);
  place(body_rear_wheel, wheel_pos, qw);

  dQuaternion qr = {s.rider_orientation[0], s.rider_orientation[1], s.rider_orientation[2],
                    s.rider_orientation[3]};
  dNormalize4(qr);
  const double rider_pos[3] = {frame_pos[0] + s.rider_offset[0], frame_pos[1] + s.rider_offset[1],
                               frame_pos[2] + s.rider_offset[2]};
  place(body_rider, rider_pos, qr);
  return p;
}

void set_bodies(Rider* r, const Pose7& p) {
  for (int i = 0; i < bike_body_count; ++i) {
    dBodySetPosition(r->body[i], p.pos[i][0], p.pos[i][1], p.pos[i][2]);
    dBodySetQuaternion(r->body[i], p.quat[i]);
  }
}

// The constant angular velocity (world axes) that turns a into b over dt.
void angular_velocity(const dQuaternion a, const dQuaternion b, double dt, double out[3]) {
  dQuaternion inv = {a[0], -a[1], -a[2], -a[3]}, d;
  dQMultiply0(d, b, inv);
  if (d[0] < 0)
    for (double& c : d) c = -c;  // the shorter way round
  const double s = std::sqrt(d[1] * d[1] + d[2] * d[2] + d[3] * d[3]);
  out[0] = out[1] = out[2] = 0;
  if (s <= 0) return;
  const double angle = 2 * std::atan2(s, d[0]);
  for (int i = 0; i < 3; ++i) out[i] = d[1 + i] / s * angle / dt;
}

PackRange range_for(const Rider* r) {
  PackRange range = demo_pack_range;
  range.fork_travel = r->info.fork_travel;
  range.swingarm_travel = r->info.swingarm_travel;
  return range;
}

}  // namespace

void bike_set_pose(Rider* r, const StatePose* s) { set_bodies(r, pose_from_state(r, *s)); }

void bike_apply_state(Rider* r, const StateRecord* before, const StateRecord* after,
                      const StateRecord* current, int interval) {
  const PackRange range = range_for(r);
  const double dt = (interval < 2 ? 1 : interval) * tick_length;
  StatePose sb{}, sa{}, sc{};
  state_decode(before, &range, &sb);
  state_decode(after, &range, &sa);
  state_decode(current, &range, &sc);
  const Pose7 pb = pose_from_state(r, sb), pa = pose_from_state(r, sa), pc = pose_from_state(r, sc);
  set_bodies(r, pc);
  for (int i = 0; i < bike_body_count; ++i) {
    dBodySetLinearVel(r->body[i], (pa.pos[i][0] - pb.pos[i][0]) / dt,
                      (pa.pos[i][1] - pb.pos[i][1]) / dt, (pa.pos[i][2] - pb.pos[i][2]) / dt);
    double w[3];
    angular_velocity(pb.quat[i], pa.quat[i], dt, w);
    dBodySetAngularVel(r->body[i], w[0], w[1], w[2]);
  }
  // A replayed wheel never sinks into ground that has changed since it was recorded.
  if (r->terrain) {
    dBodyID wheel = r->body[body_rear_wheel];
    const Vec3 down = -body_axis(r->body[body_frame], 1);
    const Vec3 low = body_pos(wheel) + down * r->info.rear_wheel.torus_radius;
    const float ground = terrain_height(r->terrain, low.x, low.z);
    if (low.y < ground) bike_translate(r, 0, ground - low.y, 0);
  }
  const bool down = sc.down_level >= 0;
  if (down) {
    if (r->mount_attached) bike_detach_rider(r);
    r->down_ticks = sc.down_level * 127 / 15 + 1;
  } else if (r->down_ticks > 0 || !r->mount_attached) {
    r->down_ticks = 0;
    bike_attach_rider(r);
  }
  if (down || sc.dab) {
    r->dab_extension += static_cast<float>(8 * tick_length);
    if (r->dab_extension > 1) r->dab_extension = 1;
  }
  r->gear = sc.gear;
  r->control.throttle = static_cast<float>(sc.throttle_level) / 15;
  r->engine_speed = static_cast<float>(sc.rpm / 9.549296);
}
