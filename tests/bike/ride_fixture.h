// Riding tests: a bike with its rider on flat ground, ticked the way the race ticks it.
#pragma once
#include "bike_fixture.h"
#include "bike/control.h"
#include "bike/engine.h"

struct RideTest : PhysicsTest {
  TestTerrain flat{5, 2};  // the border continues flat, so any distance is flat ground
  int tick = 0;

  Rider* ride(const char* model = "crf450(2013)", float heading = 0) {
    Rider* r = add(model);
    place_on_flat(r, 64, 0, 64, heading);
    return r;
  }
  void step(int n = 1) {
    for (int i = 0; i < n; ++i) {
      for (Rider* r : riders) rider_contact_step(&flat.t, r, tick);
      physics_step();
      for (Rider* r : riders) {
        bike_check_finite(r);
        bike_tick(r, tick, 0);
      }
      ++tick;
    }
  }
  static float speed(const Rider* r) {
    float v[3];
    bike_body_velocity(r, body_frame, v);
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }
  static Vec3 frame_position(const Rider* r) {
    float p[3];
    bike_body_position(r, body_frame, p);
    return {p[0], p[1], p[2]};
  }
  // Sets the whole bike moving forward (along its -z axis) at v ft/s, wheels spinning to match.
  static void launch(Rider* r, float v) {
    const Vec3 fwd = -body_axis(r->body[body_frame], 2);
    for (int i = 0; i < bike_body_count; ++i)
      dBodySetLinearVel(r->body[i], fwd.x * v, fwd.y * v, fwd.z * v);
    const Vec3 axle = body_axis(r->body[body_frame], 0);
    const float wf = -v / (r->info.front_wheel.torus_radius + r->info.front_wheel.tyre_radius);
    const float wr = -v / (r->info.rear_wheel.torus_radius + r->info.rear_wheel.tyre_radius);
    dBodySetAngularVel(r->body[body_front_wheel], axle.x * wf, axle.y * wf, axle.z * wf);
    dBodySetAngularVel(r->body[body_rear_wheel], axle.x * wr, axle.y * wr, axle.z * wr);
    // The rider had this speed all along: no jolt for the crash detection.
    for (float* slot : r->body_velocity_ring) {
      slot[0] = fwd.x * v;
      slot[1] = fwd.y * v;
      slot[2] = fwd.z * v;
    }
  }
};
