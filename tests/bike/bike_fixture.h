// Test fixtures of the bike tests: a small terrain and a physics world per test.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact.h"
#include "bike/shape.h"
#include "track/terrain.h"

// A square height field (size_log2 n) whose height is a + bx * x + bz * z, one surface type.
struct TestTerrain {
  Terrain t{};
  std::vector<float> heights;
  std::vector<uint8_t> tiles;
  TileType type{};
  explicit TestTerrain(int n = 6, float spacing = 2, float a = 0, float bx = 0, float bz = 0) {
    t.size_log2 = n;
    t.dim = (1 << (n + 1)) + 1;
    t.spacing = spacing;
    t.tile_size = 2 * spacing;
    t.extent = spacing * static_cast<float>(t.dim - 1);
    heights.resize(static_cast<size_t>(t.dim) * t.dim);
    for (int r = 0; r < t.dim; ++r)
      for (int c = 0; c < t.dim; ++c)
        heights[static_cast<size_t>(r) * t.dim + c] = a + bx * c * spacing + bz * r * spacing;
    t.heights = heights.data();
    t.min_height = *std::min_element(heights.begin(), heights.end());
    t.max_height = *std::max_element(heights.begin(), heights.end());
    tiles.assign(static_cast<size_t>(1) << (2 * n), 0);
    t.tile_map = tiles.data();
    tile_type_set_defaults(&type);
    t.tile_types = &type;
    t.tile_type_count = 1;
  }
};

struct PhysicsTest : ::testing::Test {
  void SetUp() override { physics_init(); }
  void TearDown() override {
    for (Rider* r : riders) bike_free(r);
    riders.clear();
    physics_shutdown();
  }
  Rider* add(const char* model = "crf450(2013)") {
    Rider* r = bike_create(model, static_cast<int>(riders.size()), "1", nullptr, nullptr,
                           nullptr, nullptr);
    riders.push_back(r);
    return r;
  }
  std::vector<Rider*> riders;
};

// A test stand in place of the balance and steering assists, which are not part of these
// tests: a pure roll torque keeps the bike upright (no net force) and a steering damper keeps
// the front wheel from flopping to its stops.
inline void hold_upright(Rider* r) {
  dBodyID f = r->body[body_frame];
  const Vec3 x = body_axis(f, 0);
  const Vec3 fwd = -body_axis(f, 2);
  const dReal* w = dBodyGetAngularVel(f);
  const float roll = std::asin(clampf(x.y, -1, 1));
  const float rate = static_cast<float>(w[0] * fwd.x + w[1] * fwd.y + w[2] * fwd.z);
  const float torque = clampf(4000 * roll + 400 * rate, -3000, 3000);
  dBodyAddTorque(f, fwd.x * torque, fwd.y * torque, fwd.z * torque);
  dJointSetHingeParam(r->joint[joint_steering_head], dParamVel, 0);
  dJointSetHingeParam(r->joint[joint_steering_head], dParamFMax, 60);
}

// Parking brakes on both wheels (the brakes themselves are not part of these tests).
inline void hold_brakes(Rider* r) {
  for (int j : {joint_front_axle, joint_rear_axle}) {
    dJointSetHingeParam(r->joint[j], dParamVel, 0);
    dJointSetHingeParam(r->joint[j], dParamFMax, 250);
  }
}

// Bike on the ground: wheel centres above a flat height h by their outer radius less a sink.
inline void place_on_flat(Rider* r, float x, float h, float z, float heading = 0) {
  bike_rotate(r, 0, 1, 0, heading);
  const float lowest = r->info.front_wheel.centre[1] - r->info.front_wheel.torus_radius -
                       r->info.front_wheel.tyre_radius;
  float p[3];
  bike_body_position(r, body_frame, p);
  bike_translate(r, x - p[0], h - lowest + 0.02f, z - p[2]);
}

inline void step_all(const Terrain* t, std::vector<Rider*>& riders, int tick, bool upright) {
  for (Rider* r : riders) {
    rider_contact_step(t, r, tick);
    if (upright) hold_upright(r);
  }
  physics_step();
  for (Rider* r : riders) {
    bike_check_finite(r);
    bike_tick(r, tick, 0);
  }
}
