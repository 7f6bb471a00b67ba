// Bike-module internals shared by its files and tests: the ODE world and small vector helpers.
#pragma once
#include <ode/ode.h>

#include <cmath>

#include "bike/rider.h"

extern dWorldID world;
extern dJointGroupID contact_group;

// A one-sided spring-damper of stiffness k and damping c through a contact joint: it pushes
// body1 along the normal by the deflection depth (body2 may be 0, the static world).
dJointID soft_contact(dBodyID body1, dBodyID body2, const float pos[3], const float normal[3],
                      float depth, float k, float c);
// Soft ERP and CFM of a spring-damper over one tick.
void soft_terms(float k, float c, dReal* erp, dReal* cfm);

struct Vec3 {
  float x, y, z;
};

inline Vec3 v3(const dReal* p) {
  return {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])};
}
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline float dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length2(Vec3 a) { return dot(a, a); }
inline float length(Vec3 a) { return std::sqrt(dot(a, a)); }
inline Vec3 normalise(Vec3 a) {
  float l = length(a);
  return l > 0 ? a * (1.0f / l) : a;
}
inline float clampf(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Column j of a body's rotation: the image of its local axis j in world coordinates.
inline Vec3 body_axis(dBodyID b, int j) {
  const dReal* r = dBodyGetRotation(b);
  return {static_cast<float>(r[j]), static_cast<float>(r[4 + j]), static_cast<float>(r[8 + j])};
}
inline Vec3 body_pos(dBodyID b) { return v3(dBodyGetPosition(b)); }
inline Vec3 body_vel(dBodyID b) { return v3(dBodyGetLinearVel(b)); }
inline Vec3 body_point_world(dBodyID b, Vec3 local) {
  dVector3 out;
  dBodyGetRelPointPos(b, local.x, local.y, local.z, out);
  return v3(out);
}
inline Vec3 body_point_velocity(dBodyID b, Vec3 world_point) {
  dVector3 out;
  dBodyGetPointVel(b, world_point.x, world_point.y, world_point.z, out);
  return v3(out);
}

// The steps of the bike tick that belong to the engine, brakes, steering and assists.
void bike_crash_detection(Rider* rider, int race_tick);
void bike_knock_down_step(Rider* rider, int race_tick);
void bike_back_up_or_auto_dab(Rider* rider);
void bike_steering_and_balance(Rider* rider);
void bike_auto_shift(Rider* rider);
void bike_engine_step(Rider* rider);
void bike_brakes(Rider* rider);
void bike_front_wheel_damping(Rider* rider);
void bike_dab_and_align(Rider* rider);
void bike_pose_update(Rider* rider);
void knock_down(Rider* rider);

// The bike tick's own force laws.
void bike_rider_springs(Rider* rider);
void bike_suspension(Rider* rider);
void bike_force_balance(Rider* rider);
