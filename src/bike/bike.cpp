// The seven-body bike: bodies, joints, suspension and rider springs, placement and the tick.
#include "bike/bike.h"
#include "bike/setup.h"

#include <cmath>
#include <cstring>

#include "bike/bike_assets.h"
#include "bike/bike_internal.h"
#include "core/memory.h"
#include "platform/log.h"

namespace {

// The top-out stops sit a hair beyond the reference pose. A limit resting exactly at its stop
// with no load has an exactly zero constraint residual, and ODE's big-matrix solver then stops
// with "LCP internal error, s <= 0", dropping every later constraint of the island (the bike
// falls through the ground). 1e-4 ft or rad is far below anything that shows.
constexpr double top_out_margin = 1e-4;

constexpr float pi = 3.14159265358979f;

// Reference-pose position of every body, in body order.
const float* body_home(const Rider* r, int body) {
  const BikeInfo& b = r->info;
  switch (body) {
    case body_frame: return b.frame_centre;
    case body_front_wheel: return b.front_wheel.centre;
    case body_rear_wheel: return b.rear_wheel.centre;
    case body_steering: return b.steering_head;
    case body_fork_lower: return b.fork_lower_centre;
    case body_swingarm: return b.swingarm_centre;
    default: return b.rider_seat;
  }
}

// ODE wants the centre of mass at the body origin; sums leave a residue of about 1e-16.
void centre_mass(dMass* m) { dMassTranslate(m, -m->c[0], -m->c[1], -m->c[2]); }

void wheel_mass(const WheelSpec& w, dMass* out) {
  dMassSetSphereTotal(out, w.hub_mass, w.hub_radius);
  for (int k = 0; k < 16; ++k) {
    dMass ring;
    dMassSetSphereTotal(&ring, w.ring_mass / 16, w.tyre_radius);
    const double a = k * (22.5 * M_PI / 180);
    dMassTranslate(&ring, 0, w.torus_radius * cos(a), w.torus_radius * sin(a));
    dMassAdd(out, &ring);
  }
  centre_mass(out);
}

// Two tubes along y at +-spacing/2, tilted back by the rake; both fork bodies carry it.
void fork_mass(const BikeInfo& b, dMass* out) {
  const float rake = std::atan((b.fork_lower_centre[2] - b.steering_head[2]) /
                               (b.fork_lower_centre[1] - b.steering_head[1]));
  dMassSetZero(out);
  for (int side = -1; side <= 1; side += 2) {
    dMass tube;
    dMassSetCylinderTotal(&tube, b.fork_mass / 2, 2, b.fork_leg_spacing / 8,
                          b.fork_tube_length * 2 / 3);
    dMassTranslate(&tube, side * b.fork_leg_spacing / 2, 0, 0);
    dMassAdd(out, &tube);
  }
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, rake);
  dMassRotate(out, r);
  centre_mass(out);
}

void swingarm_mass(const BikeInfo& b, dMass* out) {
  const float w = b.frame_size[0];
  const float dy = b.rear_wheel.centre[1] - b.swingarm_pivot[1];
  const float dz = b.rear_wheel.centre[2] - b.swingarm_pivot[2];
  const float len = std::sqrt(dy * dy + dz * dz);
  dMassSetZero(out);
  for (int side = -1; side <= 1; side += 2) {
    dMass arm;
    dMassSetBoxTotal(&arm, b.swingarm_mass, w / 4, w / 4, len);
    dMassTranslate(&arm, side * w / 2, 0, 0);
    dMassAdd(out, &arm);
  }
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, -std::atan(dy / dz));
  dMassRotate(out, r);
  centre_mass(out);
}

void set_rider_masses(Rider* r) {
  const BikeInfo& b = r->info;
  const float d = r->mass_distribution;
  dMass m;
  dMassSetBoxTotal(&m, b.frame_mass + (1 - d) * b.rider_mass, b.frame_size[0], b.frame_size[1],
                   b.frame_size[2]);
  dBodySetMass(r->body[body_frame], &m);
  dMassSetSphereTotal(&m, d * b.rider_mass, 1);
  dBodySetMass(r->body[body_rider], &m);
}

Vec3 vec(const float* p) { return {p[0], p[1], p[2]}; }

Vec3 steering_axis(const BikeInfo& b) {
  return vec(b.steering_head) - vec(b.fork_lower_centre);
}

void build_bodies(Rider* r) {
  const BikeInfo& b = r->info;
  for (int i = 0; i < bike_body_count; ++i) {
    r->body[i] = dBodyCreate(world);
    const float* p = body_home(r, i);
    dBodySetPosition(r->body[i], p[0], p[1], p[2]);
  }
  dMass m;
  wheel_mass(b.front_wheel, &m);
  dBodySetMass(r->body[body_front_wheel], &m);
  wheel_mass(b.rear_wheel, &m);
  dBodySetMass(r->body[body_rear_wheel], &m);
  fork_mass(b, &m);
  dBodySetMass(r->body[body_steering], &m);
  dBodySetMass(r->body[body_fork_lower], &m);
  swingarm_mass(b, &m);
  dBodySetMass(r->body[body_swingarm], &m);
  set_rider_masses(r);
  dBodySetFiniteRotationMode(r->body[body_front_wheel], 1);
  dBodySetFiniteRotationMode(r->body[body_rear_wheel], 1);

  dBodyID* body = reinterpret_cast<dBodyID*>(r->body);
  dJointID j;
  j = dJointCreateHinge(world, nullptr);
  dJointAttach(j, body[body_fork_lower], body[body_front_wheel]);
  dJointSetHingeAnchor(j, b.front_wheel.centre[0], b.front_wheel.centre[1], b.front_wheel.centre[2]);
  dJointSetHingeAxis(j, 1, 0, 0);
  r->joint[joint_front_axle] = j;

  j = dJointCreateHinge(world, nullptr);
  dJointAttach(j, body[body_swingarm], body[body_rear_wheel]);
  dJointSetHingeAnchor(j, b.rear_wheel.centre[0], b.rear_wheel.centre[1], b.rear_wheel.centre[2]);
  dJointSetHingeAxis(j, 1, 0, 0);
  r->joint[joint_rear_axle] = j;

  const Vec3 axis = steering_axis(b);
  j = dJointCreateHinge(world, nullptr);
  dJointAttach(j, body[body_steering], body[body_frame]);
  dJointSetHingeAnchor(j, b.steering_head[0], b.steering_head[1], b.steering_head[2]);
  dJointSetHingeAxis(j, axis.x, axis.y, axis.z);
  dJointSetHingeParam(j, dParamLoStop, -M_PI / 4);
  dJointSetHingeParam(j, dParamHiStop, M_PI / 4);
  r->joint[joint_steering_head] = j;

  j = dJointCreateSlider(world, nullptr);
  dJointAttach(j, body[body_steering], body[body_fork_lower]);
  dJointSetSliderAxis(j, axis.x, axis.y, axis.z);
  dJointSetSliderParam(j, dParamBounce, 0);
  dJointSetSliderParam(j, dParamLoStop, -b.fork_travel);
  dJointSetSliderParam(j, dParamHiStop, top_out_margin);
  r->joint[joint_fork_slider] = j;

  j = dJointCreateHinge(world, nullptr);
  dJointAttach(j, body[body_swingarm], body[body_frame]);
  dJointSetHingeAnchor(j, b.swingarm_pivot[0], b.swingarm_pivot[1], b.swingarm_pivot[2]);
  dJointSetHingeAxis(j, 1, 0, 0);
  dJointSetHingeParam(j, dParamBounce, 0);
  dJointSetHingeParam(j, dParamLoStop, -b.swingarm_travel);
  dJointSetHingeParam(j, dParamHiStop, top_out_margin);
  r->joint[joint_swingarm_pivot] = j;

  r->joint[joint_rider_mount] = dJointCreateHinge2(world, nullptr);
  r->mount_attached = false;
  bike_attach_rider(r);

  for (int i = 0; i < bike_joint_count; ++i)
    dJointSetFeedback(r->joint[i], reinterpret_cast<dJointFeedback*>(&r->joint_feedback[i]));

  for (int w = 0; w < 2; ++w) {
    WheelContact& c = r->wheel[w];
    const WheelSpec& ws = w ? b.rear_wheel : b.front_wheel;
    c.body = r->body[w ? body_rear_wheel : body_front_wheel];
    c.axle_axis[0] = 1;
    c.torus_radius = ws.torus_radius;
    c.tyre_radius = ws.tyre_radius;
  }
}

// What every rider starts with before any setup is applied: the setup module's defaults.
void apply_rider_defaults(Rider* r) { setup_rider_defaults(r); }

bool finite3(const dReal* v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

}  // namespace

float bike_total_mass(const BikeInfo* b) {
  return b->frame_mass + b->rider_mass + b->front_wheel.ring_mass + b->front_wheel.hub_mass +
         b->rear_wheel.ring_mass + b->rear_wheel.hub_mass + 2 * b->fork_mass +
         2 * b->swingarm_mass;
}

float bike_weight_scale(const Rider* r) { return r->info.rider_mass * 32 / 150; }

Rider* bike_create(const char* model_name, int slot, const char* rider_number,
                   const char* rider_texture, const char* head_texture,
                   const char* bike_texture, const char* wheel_texture) {
  const BikeInfo* info = bike_info_find(model_name);
  Rider* r = static_cast<Rider*>(xcalloc(1, sizeof(Rider)));
  r->info = *info;
  bike_load_assets(r, rider_number, rider_texture, head_texture, bike_texture, wheel_texture);
  r->mass_distribution = 1.0f / 3;
  r->solidity = 1;
  build_bodies(r);
  apply_rider_defaults(r);
  dMass m;
  double total = 0;
  for (int i = 0; i < bike_body_count; ++i) {
    dBodyGetMass(r->body[i], &m);
    total += m.mass;
  }
  r->total_mass = static_cast<float>(total);
  bike_reset(r);
  r->slot = slot;
  return r;
}

void bike_free(Rider* r) {
  if (!r) return;
  for (int i = 0; i < bike_joint_count; ++i)
    if (r->joint[i]) dJointDestroy(r->joint[i]);
  for (int i = 0; i < bike_body_count; ++i)
    if (r->body[i]) dBodyDestroy(r->body[i]);
  bike_free_assets(r);
  free(r);
}

void bike_set_mass_distribution(Rider* r, float d) {
  r->mass_distribution = clampf(d, 0.33f, 0.5f);
  set_rider_masses(r);
}

void bike_detach_rider(Rider* r) {
  dJointAttach(r->joint[joint_rider_mount], nullptr, nullptr);
  r->mount_attached = false;
}

void bike_attach_rider(Rider* r) {
  const BikeInfo& b = r->info;
  dBodyID frame = r->body[body_frame];
  dBodyID rider = r->body[body_rider];
  // The seat and the anchor 50 ft ahead are frame points: take them from the current pose, so a
  // re-attached rider hangs where the bike is now, not where it was built.
  const Vec3 centre = vec(b.frame_centre);
  const Vec3 seat = body_point_world(frame, vec(b.rider_seat) - centre);
  dBodySetPosition(rider, seat.x, seat.y, seat.z);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  const Vec3 seat_vel = body_point_velocity(frame, seat);
  dBodySetLinearVel(rider, seat_vel.x, seat_vel.y, seat_vel.z);
  const dReal* w = dBodyGetAngularVel(frame);
  dBodySetAngularVel(rider, w[0], w[1], w[2]);
  const Vec3 anchor = body_point_world(frame, Vec3{0, b.rider_seat[1], -50} - centre);
  dVector3 a1, a2;
  dBodyVectorToWorld(frame, 0, 1, 1, a1);
  dBodyVectorToWorld(frame, 1, 0, 0, a2);
  dJointID j = r->joint[joint_rider_mount];
  dJointAttach(j, rider, frame);
  dJointSetHinge2Anchor(j, anchor.x, anchor.y, anchor.z);
  dJointSetHinge2Axes(j, a1, a2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
  r->mount_attached = true;
}

void bike_reset(Rider* r) {
  static const int order[] = {body_steering, body_fork_lower, body_swingarm, body_frame,
                              body_front_wheel, body_rear_wheel, body_rider};
  for (int i : order) {
    dBodyID b = r->body[i];
    const float* p = body_home(r, i);
    dMatrix3 identity;
    dRSetIdentity(identity);
    dBodySetPosition(b, p[0], p[1], p[2]);
    dBodySetRotation(b, identity);
    dBodySetLinearVel(b, 0, 0, 0);
    dBodySetAngularVel(b, 0, 0, 0);
    dBodySetForce(b, 0, 0, 0);
    dBodySetTorque(b, 0, 0, 0);
  }
  r->control = ControlState{};
  r->gear = 0;
  r->shift_memory = 0;
  r->drive_angle = 0;
  r->engine_speed = 0;
  r->impact = 0;
  r->crash_state = 0;
  r->down_ticks = 0;
  r->crash_count = 0;
  r->land_damping = 1;
  r->steering_lock = 0;
  r->lean_angle = 0;
  r->dab_extension = 0;
  r->solidity = 1;
  for (int i = 0; i < bike_body_count; ++i) dBodyEnable(r->body[i]);
  memset(r->body_velocity_ring, 0, sizeof r->body_velocity_ring);
  bike_attach_rider(r);
  memset(r->joint_feedback, 0, sizeof r->joint_feedback);
  for (WheelContact& w : r->wheel) {
    memset(w.point, 0, sizeof w.point);
    memset(w.point_velocity, 0, sizeof w.point_velocity);
    memset(w.normal, 0, sizeof w.normal);
    w.depth = 0;
    w.feedback = JointFeedback{};
  }
  r->last_collision_tick = -1;
  r->first_collision_tick = -1;
  r->checkpoints_passed = 0;
  r->last_crossing_tick = 0;
  r->finished = false;
  const Vec3 f = body_pos(r->body[body_frame]);
  r->safe_position[0] = f.x;
  r->safe_position[1] = f.y;
  r->safe_position[2] = f.z;
  r->safe_heading = 0;
}

void bike_translate(Rider* r, float dx, float dy, float dz) {
  for (int i = 0; i < bike_body_count; ++i) {
    const dReal* p = dBodyGetPosition(r->body[i]);
    dBodySetPosition(r->body[i], p[0] + dx, p[1] + dy, p[2] + dz);
  }
}

void bike_rotate(Rider* r, float ax, float ay, float az, float angle) {
  dMatrix3 rot;
  dRFromAxisAndAngle(rot, ax, ay, az, angle);
  for (int i = 0; i < bike_body_count; ++i) {
    const dReal* p = dBodyGetPosition(r->body[i]);
    dVector3 q;
    dMultiply0_331(q, rot, p);
    dBodySetRotation(r->body[i], rot);
    dBodySetPosition(r->body[i], q[0], q[1], q[2]);
  }
}

void bike_set_solidity(Rider* r, float s) {
  if (r->solidity == 0) {
    // A ghost coming back to life must not start with what it collected while disabled.
    for (int i = 0; i < bike_body_count; ++i) {
      dBodySetForce(r->body[i], 0, 0, 0);
      dBodySetTorque(r->body[i], 0, 0, 0);
      dBodySetLinearVel(r->body[i], 0, 0, 0);
      dBodySetAngularVel(r->body[i], 0, 0, 0);
    }
    r->first_collision_tick = -1;
  }
  r->solidity = clampf(s, 0, 1);
  for (int i = 0; i < bike_body_count; ++i) {
    if (r->solidity != 0)
      dBodyEnable(r->body[i]);
    else
      dBodyDisable(r->body[i]);
  }
}

float fork_force(const Rider* r, float s, float v) {
  const float travel = r->info.fork_travel;
  const float c = v >= 0 ? r->fork_rebound_damping : r->fork_compression_damping;
  const float spring = (r->fork_preload - s) * r->fork_spring_rate - v * c;
  const float x = clampf(-s, 0, travel);
  const float gap = r->fork_air_gap;
  const float air = 82.46169f * (std::pow((travel + gap) / (travel + gap - x), 1.4f) - 1);
  const float ramp = -32 * s / travel;
  if (ramp < 0) return 0;
  return (air + spring) * (ramp < 1 ? ramp : 1);
}

float shock_torque(const Rider* r, float theta, float omega) {
  const BikeInfo& b = r->info;
  const float a = b.swingarm_travel;
  const float l0 = b.shock_leverage[0], l1 = b.shock_leverage[1];
  const float c = omega >= 0 ? r->shock_rebound_damping : r->shock_compression_damping;
  const float x = -theta / a;
  const float lever = l0 + (l1 - l0) * x / a;
  const float s = l0 * x + 0.5f * (l1 - l0) * x * x / a;
  const float t = (s + r->shock_preload) * r->shock_spring_rate * lever + (-omega * c) * lever * lever;
  const float ramp = -32 * theta / a;
  if (ramp < 0) return 0;
  return t * (ramp < 1 ? ramp : 1);
}

void bike_suspension(Rider* r) {
  dJointID fork = r->joint[joint_fork_slider];
  const float f = fork_force(r, static_cast<float>(dJointGetSliderPosition(fork)),
                             static_cast<float>(dJointGetSliderPositionRate(fork)));
  // The sign picks the motor's direction: a motor's maximum force is never negative.
  dJointSetSliderParam(fork, dParamVel, f >= 0 ? 100 : 0);
  dJointSetSliderParam(fork, dParamFMax, std::fabs(f));
  dJointID pivot = r->joint[joint_swingarm_pivot];
  const float t = shock_torque(r, static_cast<float>(dJointGetHingeAngle(pivot)),
                               static_cast<float>(dJointGetHingeAngleRate(pivot)));
  dJointSetHingeParam(pivot, dParamVel, t >= 0 ? 100 : 0);
  dJointSetHingeParam(pivot, dParamFMax, std::fabs(t));
}

float rider_z_target(float dy, float dab, float lean) {
  return clampf((0.5f + 0.5f * dab) * dy - lean, -0.75f, 0.75f);
}

void rider_z_spring(float dz, float e, float z_spring, float weight_scale, float* k, float* c) {
  // Beyond the seat's range a stiff spring catches the torso.
  if (dz >= -0.75f && dz <= 0.75f) {
    *k = 600 * z_spring + 100 * std::fabs(e);
    *c = 0;
  } else {
    *k = *c = 2500;
  }
  *k *= weight_scale;
  *c *= weight_scale;
}

void bike_rider_springs(Rider* r) {
  if (!r->mount_attached) return;
  dBodyID frame = r->body[body_frame];
  dBodyID rider = r->body[body_rider];
  const float ws = bike_weight_scale(r);
  const Vec3 y_axis = body_axis(frame, 1);
  const Vec3 z_axis = body_axis(frame, 2);
  const Vec3 p = body_pos(rider);
  const Vec3 q = body_point_world(frame, vec(r->info.rider_seat) - vec(r->info.frame_centre));
  const Vec3 d = q - p;
  const float dy = dot(d, y_axis);
  const float dz = dot(d, z_axis);
  const float dab = r->control.dab;
  const float pos[3] = {p.x, p.y, p.z};

  float e = dz - rider_z_target(dy, dab, r->control.lean);
  float k, c;
  rider_z_spring(dz, e, r->rider_zspring, ws, &k, &c);
  if (k > 0) {
    const Vec3 n = e < 0 ? -z_axis : z_axis;
    const float normal[3] = {n.x, n.y, n.z};
    soft_contact(rider, frame, pos, normal, std::fabs(e), k, c);
  }

  e = dy + 0.125f - 0.5f * dab;
  if (dy > 0.5f || dy < -0.75f) {
    k = c = 2500;
  } else {
    k = 400 * r->rider_yspring;
    c = 100 * r->rider_ydamping;
  }
  k *= ws;
  c *= ws;
  if (k + c > 0) {
    const Vec3 n = e < 0 ? -y_axis : y_axis;
    const float normal[3] = {n.x, n.y, n.z};
    soft_contact(rider, frame, pos, normal, std::fabs(e), k, c);
  }

  dJointID mount = r->joint[joint_rider_mount];
  dJointSetHinge2Param(mount, dParamSuspensionERP, 0);
  dJointSetHinge2Param(mount, dParamSuspensionCFM, 1.0 / (ws * (30 * r->rider_zdamping + 5)));
}

void bike_force_balance(Rider* r) {
  dBodyID frame = r->body[body_frame];
  const dReal* pf = dBodyGetPosition(frame);
  dVector3 force = {0, 0, 0}, torque = {0, 0, 0};
  for (int i = 0; i < bike_joint_count; ++i) {
    dJointID j = r->joint[i];
    dBodyID b1 = dJointGetBody(j, 0);
    dBodyID b2 = dJointGetBody(j, 1);
    if (!b1 || !b2) return;
    const JointFeedback& fb = r->joint_feedback[i];
    const dReal* p1 = dBodyGetPosition(b1);
    const dReal* p2 = dBodyGetPosition(b2);
    dVector3 r1 = {p1[0] - pf[0], p1[1] - pf[1], p1[2] - pf[2]};
    dVector3 r2 = {p2[0] - pf[0], p2[1] - pf[1], p2[2] - pf[2]};
    dVector3 m1, m2;
    dCalcVectorCross3(m1, r1, fb.f1);
    dCalcVectorCross3(m2, r2, fb.f2);
    for (int k = 0; k < 3; ++k) {
      force[k] += fb.f1[k] + fb.f2[k];
      torque[k] += fb.t1[k] + fb.t2[k] + m1[k] + m2[k];
    }
  }
  dBodyAddForce(frame, -force[0], -force[1], -force[2]);
  dBodyAddTorque(frame, -torque[0], -torque[1], -torque[2]);
}

void bike_tick(Rider* r, int race_tick, int gate_drop_tick) {
  r->race_tick = race_tick;
  r->gate_drop_tick = gate_drop_tick;
  dBodyID frame = r->body[body_frame];
  const Vec3 frame_vel = body_vel(frame);
  if (r->crash_state == 0 && race_tick * tick_length > gate_drop_tick * tick_length + 2 &&
      length2(frame_vel) < 25)
    r->crash_state = 1;
  if (std::fabs(r->impact) <= 1)
    r->impact = 0;
  else
    r->impact += r->impact > 0 ? -1 : 1;
  bike_crash_detection(r, race_tick);
  if (r->down_ticks > 0) bike_knock_down_step(r, race_tick);
  const float saved_dab = r->control.dab;
  const float saved_front = r->control.front_brake;
  const float saved_rear = r->control.rear_brake;
  bike_back_up_or_auto_dab(r);
  bike_rider_springs(r);
  bike_suspension(r);
  bike_steering_and_balance(r);
  bike_auto_shift(r);
  bike_engine_step(r);
  bike_brakes(r);
  bike_front_wheel_damping(r);
  if (race_tick > 1 && r->down_ticks == 0) bike_force_balance(r);
  bike_dab_and_align(r);
  r->control.dab = saved_dab;
  r->control.front_brake = saved_front;
  r->control.rear_brake = saved_rear;
  bike_pose_update(r);
  const Vec3 v = body_vel(r->body[body_rider]);
  float* slot = r->body_velocity_ring[((race_tick % 4) + 4) % 4];
  slot[0] = v.x;
  slot[1] = v.y;
  slot[2] = v.z;
}

bool bike_check_finite(Rider* r) {
  bool ok = true;
  for (int i = 0; i < bike_body_count && ok; ++i) {
    dBodyID b = r->body[i];
    const dReal* q = dBodyGetQuaternion(b);
    ok = finite3(dBodyGetPosition(b)) && finite3(dBodyGetLinearVel(b)) &&
         finite3(dBodyGetAngularVel(b)) && finite3(q) && std::isfinite(q[3]);
  }
  // The engine is part of the state: a non-finite engine speed is the same fault.
  ok = ok && std::isfinite(r->engine_speed) && std::isfinite(r->drive_angle);
  if (ok) {
    const Vec3 f = body_pos(r->body[body_frame]);
    const Vec3 z = body_axis(r->body[body_frame], 2);
    r->safe_position[0] = f.x;
    r->safe_position[1] = f.y;
    r->safe_position[2] = f.z;
    if (z.x * z.x + z.z * z.z > 1.0f / 1024) r->safe_heading = std::atan2(z.x, z.z);
    return false;
  }
  // NaN spreads through the shared world in one step: put this bike back where it was whole.
  velk_log("Bike in slot %d went non-finite; reset at (%.2f, %.2f, %.2f)\n", r->slot,
           r->safe_position[0], r->safe_position[1], r->safe_position[2]);
  const float place[3] = {r->safe_position[0], r->safe_position[1], r->safe_position[2]};
  const float heading = r->safe_heading;
  const float solidity = r->solidity;
  bike_reset(r);
  bike_rotate(r, 0, 1, 0, heading);
  const Vec3 f = body_pos(r->body[body_frame]);
  bike_translate(r, place[0] - f.x, place[1] - f.y + 1, place[2] - f.z);
  bike_set_solidity(r, solidity);
  bike_check_finite(r);
  return true;
}

void bike_body_position(const Rider* r, int body, float out[3]) {
  const dReal* p = dBodyGetPosition(r->body[body]);
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(p[i]);
}

void bike_body_rotation(const Rider* r, int body, float out[9]) {
  const dReal* m = dBodyGetRotation(r->body[body]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out[i * 3 + j] = static_cast<float>(m[i * 4 + j]);
}

void bike_body_quaternion(const Rider* r, int body, float out[4]) {
  const dReal* q = dBodyGetQuaternion(r->body[body]);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<float>(q[i]);
}

void bike_body_velocity(const Rider* r, int body, float out[3]) {
  const dReal* v = dBodyGetLinearVel(r->body[body]);
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(v[i]);
}

void bike_body_angular_velocity(const Rider* r, int body, float out[3]) {
  const dReal* v = dBodyGetAngularVel(r->body[body]);
  for (int i = 0; i < 3; ++i) out[i] = static_cast<float>(v[i]);
}

float bike_engine_rpm(const Rider* r) { return r->engine_speed * 9.549296f; }
float bike_steering_angle(const Rider* r) {
  return static_cast<float>(dJointGetHingeAngle(r->joint[joint_steering_head]));
}
float bike_fork_position(const Rider* r) {
  return static_cast<float>(dJointGetSliderPosition(r->joint[joint_fork_slider]));
}
float bike_swingarm_angle(const Rider* r) {
  return static_cast<float>(dJointGetHingeAngle(r->joint[joint_swingarm_pivot]));
}
float bike_wheel_angle(const Rider* r, int wheel) {
  return static_cast<float>(
      dJointGetHingeAngle(r->joint[wheel ? joint_rear_axle : joint_front_axle]));
}
