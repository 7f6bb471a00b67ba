// Tests of the contact geometry and of the contacts between bikes, the ground and statues.
#include <cmath>

#include "bike_fixture.h"
#include "track/track_objects.h"

namespace {

// Distance from a point to the tyre's centre circle.
float circle_distance(const float p[3], const float c[3], const float axle[3], float radius) {
  float d[3] = {p[0] - c[0], p[1] - c[1], p[2] - c[2]};
  const float along = d[0] * axle[0] + d[1] * axle[1] + d[2] * axle[2];
  float w[3] = {d[0] - along * axle[0], d[1] - along * axle[1], d[2] - along * axle[2]};
  const float wl = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  return std::sqrt((wl - radius) * (wl - radius) + along * along);
}

// Smallest distance from a triangle, sampled densely, to a point-distance function.
template <typename F>
float sampled_min(const Triangle& t, F dist) {
  constexpr int n = 300;
  float best = 1e30f;
  for (int i = 0; i <= n; ++i) {
    for (int j = 0; i + j <= n; ++j) {
      const float a = static_cast<float>(i) / n, b = static_cast<float>(j) / n, c = 1 - a - b;
      float p[3];
      for (int k = 0; k < 3; ++k) p[k] = a * t.v[0][k] + b * t.v[1][k] + c * t.v[2][k];
      best = std::min(best, dist(p));
    }
  }
  return best;
}

const Triangle tilted = {{{0, 0, 0}, {3, 0.6f, 0}, {0, -0.3f, 3}}};
const Triangle small = {{{0, 0, 0}, {0.6f, 0.1f, 0}, {0, 0, 0.6f}}};

TEST(ContactGeometry, TorusDepthMatchesDenseSampling) {
  struct Case {
    Triangle tri;
    float c[3];
    float axle[3];
  };
  const float s = std::sqrt(0.5f);
  const Case cases[] = {
      {tilted, {1, 1.1f, 1}, {1, 0, 0}},           // over the face
      {tilted, {1, 1.05f, 1}, {s, s, 0}},          // tilted wheel over the face
      {tilted, {-0.4f, 1.0f, 1.2f}, {1, 0, 0}},    // beyond an edge, the wheel side on
      {tilted, {1.2f, 1.0f, -0.3f}, {1, 0, 0}},    // across an edge
      {tilted, {-0.2f, 0.9f, -0.3f}, {0, 0, 1}},   // near a corner, turned
      {small, {0.2f, 1.1f, 0.2f}, {1, 0, 0}},      // a triangle smaller than the tyre
      {small, {0.3f, 1.0f, 0.9f}, {0.6f, 0.8f, 0}},
      {tilted, {1, 0.5f, 1}, {0, 1, 0}},           // lying almost flat above it
  };
  for (const Case& c : cases) {
    const float R = 0.833333f, r = 0.333333f;
    const ContactPoint cp = torus_triangle_depth(c.c, c.axle, R, r, c.tri);
    const float brute = r - sampled_min(c.tri, [&](const float* p) {
                          return circle_distance(p, c.c, c.axle, R);
                        });
    if (brute > 0 || cp.depth > 0) {
      EXPECT_NEAR(cp.depth, brute, 0.01f) << c.c[0] << " " << c.c[1] << " " << c.c[2];
      const float n2 = cp.normal[0] * cp.normal[0] + cp.normal[1] * cp.normal[1] +
                       cp.normal[2] * cp.normal[2];
      EXPECT_NEAR(n2, 1, 1e-4f);
      // The point is on the tyre surface: r from the centre circle.
      if (brute < r - 0.01f) {
        EXPECT_NEAR(circle_distance(cp.point, c.c, c.axle, R), r, 0.01f);
      }
    }
  }
}

TEST(ContactGeometry, SphereDepthMatchesDenseSampling) {
  struct Case {
    Triangle tri;
    float c[3];
    float radius;
  };
  const Case cases[] = {
      {tilted, {1, 0.5f, 1}, 0.6f},   {tilted, {-0.3f, 0.1f, 1}, 0.5f},
      {tilted, {3.2f, 0.7f, -0.1f}, 0.4f}, {small, {0.3f, 0.3f, 0.3f}, 0.5f},
      {tilted, {1, 3, 1}, 0.5f},      // far above: no contact
  };
  for (const Case& c : cases) {
    const ContactPoint cp = sphere_triangle_depth(c.c, c.radius, c.tri);
    const float brute = c.radius - sampled_min(c.tri, [&](const float* p) {
                          const float d[3] = {p[0] - c.c[0], p[1] - c.c[1], p[2] - c.c[2]};
                          return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
                        });
    EXPECT_NEAR(cp.depth, brute, 0.01f);
  }
}

TEST(ContactGeometry, TyreStiffnessSaturatesWhenPressedFlat) {
  float k, c;
  tyre_contact_terms(0, 0.333333f, &k, &c);
  EXPECT_FLOAT_EQ(k, 1000);
  EXPECT_FLOAT_EQ(c, 200);
  tyre_contact_terms(0.333333f / 2, 0.333333f, &k, &c);
  EXPECT_FLOAT_EQ(k, 1000 + 24000 * 0.125f);
  tyre_contact_terms(0.333333f, 0.333333f, &k, &c);
  EXPECT_FLOAT_EQ(k, 25000);
  EXPECT_FLOAT_EQ(c, 2500);
  tyre_contact_terms(0.9f, 0.333333f, &k, &c);
  EXPECT_FLOAT_EQ(k, 25000);
  EXPECT_FLOAT_EQ(c, 2500);
}

TEST_F(PhysicsTest, WheelOnFlatGroundSinksByTheOverlap) {
  TestTerrain ground(6, 2, 5);
  Rider* r = add();
  place_on_flat(r, 60, 5, 60);
  const float outer = r->info.front_wheel.torus_radius + r->info.front_wheel.tyre_radius;
  for (float height : {1.0f, 0.9f, 0.6f}) {
    float p[3];
    bike_body_position(r, body_front_wheel, p);
    bike_translate(r, 0, 5 + height - p[1], 0);
    bike_collide_world(&ground.t, r);
    dJointGroupEmpty(contact_group);
    EXPECT_NEAR(r->wheel[0].depth, outer - height, 1e-4f);
    EXPECT_NEAR(r->wheel[0].normal[1], 1, 1e-6f);
    EXPECT_NEAR(r->wheel[0].point[1], 5 + height - outer, 1e-4f);
    float probe_p[3], probe_n[3], probe_d;
    EXPECT_TRUE(wheel_ground_probe(&ground.t, &r->wheel[0], probe_p, probe_n, &probe_d));
    EXPECT_NEAR(probe_d, outer - height, 1e-4f);
  }
  // Exactly tangent: no contact.
  float p[3];
  bike_body_position(r, body_front_wheel, p);
  bike_translate(r, 0, 5 + outer + 1e-3f - p[1], 0);
  bike_body_position(r, body_rear_wheel, p);
  EXPECT_FALSE(wheel_ground_contact(&ground.t, &r->wheel[0], 1));
  EXPECT_EQ(r->wheel[0].depth, 0);
  dJointGroupEmpty(contact_group);
}

const char* ball_shape = "1\n0 0 0 0.6 0.5 2500 250\n";

TEST_F(PhysicsTest, RiderPairsUseJointsFirstThenPenaltyForces) {
  Rider* a = add();
  Rider* b = add();
  for (Rider* r : {a, b})
    for (CollisionShape*& s : r->shapes) {
      shape_free(s);
      s = shape_parse(ball_shape, "ball.shp");
    }
  bike_translate(b, 0.5f, 0, 0);  // overlapping everywhere
  const int joints_before = dBodyGetNumJoints(b->body[body_frame]);
  const int mask = riders_collide(a, b, false, 10);
  EXPECT_NE(mask & part_frame, 0);
  EXPECT_GT(dBodyGetNumJoints(b->body[body_frame]), joints_before);
  EXPECT_EQ(a->last_collision_tick, 10);
  EXPECT_EQ(b->first_collision_tick, 10);
  // Same tick again: penalty forces, no new joints, pushing B away from A (+x).
  const int joints_mid = dBodyGetNumJoints(b->body[body_frame]);
  riders_collide(b, a, false, 10);
  EXPECT_EQ(dBodyGetNumJoints(b->body[body_frame]), joints_mid);
  EXPECT_GT(dBodyGetForce(b->body[body_frame])[0], 0);
  EXPECT_LT(dBodyGetForce(a->body[body_frame])[0], 0);
  dJointGroupEmpty(contact_group);
  // Ghosts take no part.
  bike_set_solidity(b, 0);
  const int ghost_joints = dBodyGetNumJoints(b->body[body_frame]);
  EXPECT_EQ(riders_collide(a, b, false, 11), 0);
  EXPECT_EQ(dBodyGetNumJoints(b->body[body_frame]), ghost_joints);
  EXPECT_FALSE(dBodyIsEnabled(b->body[body_frame]));
}

TEST_F(PhysicsTest, PenaltyForceNeverPulls) {
  Rider* a = add();
  Rider* b = add();
  for (Rider* r : {a, b})
    for (CollisionShape*& s : r->shapes) {
      shape_free(s);
      s = nullptr;
    }
  a->shapes[shape_frame] = shape_parse(ball_shape, "ball.shp");
  b->shapes[shape_frame] = shape_parse(ball_shape, "ball.shp");
  bike_translate(b, 1.1f, 0, 0);
  // Separating fast: the damping term alone would pull them together.
  for (int i = 0; i < bike_body_count; ++i) dBodySetLinearVel(b->body[i], 30, 0, 0);
  a->last_collision_tick = 5;
  EXPECT_NE(riders_collide(a, b, false, 5), 0);
  EXPECT_GE(dBodyGetForce(b->body[body_frame])[0], 0);
  EXPECT_LE(dBodyGetForce(a->body[body_frame])[0], 0);
  // Coincident centres have no direction: skipped, not NaN.
  for (int i = 0; i < bike_body_count; ++i) dBodySetLinearVel(b->body[i], 0, 0, 0);
  bike_translate(b, -1.1f, 0, 0);
  riders_collide(a, b, false, 5);
  EXPECT_TRUE(std::isfinite(dBodyGetForce(b->body[body_frame])[0]));
}

TEST_F(PhysicsTest, WheelRestingOnAnotherBikeCountsAsTouching) {
  Rider* a = add();
  Rider* b = add();
  // B's front tyre sits on A's frame ball.
  shape_free(a->shapes[shape_frame]);
  a->shapes[shape_frame] = shape_parse(ball_shape, "ball.shp");
  float fa[3], wb[3];
  bike_body_position(a, body_frame, fa);
  bike_body_position(b, body_front_wheel, wb);
  bike_translate(b, fa[0] - wb[0], fa[1] + 0.6f + 1.0f - wb[1], fa[2] - wb[2]);
  b->wheel[0].depth = 0;
  const int mask = riders_collide(a, b, false, 3);
  EXPECT_NE(mask & part_front_wheel, 0);
  EXPECT_GT(b->wheel[0].depth, 0);
  EXPECT_GT(b->wheel[0].normal[1], 0.9f);  // out of A, toward B's wheel
  dJointGroupEmpty(contact_group);
}

TEST_F(PhysicsTest, BikeDrivenIntoAStatueIsKnockedDown) {
  TestTerrain ground(6, 2, 0);
  TrackObjects saved = track_objects;
  track_objects = TrackObjects{};
  Statue wall{};
  // A banner at chest height: the rider meets it at full speed.
  wall.shape = shape_parse("3\n0 5.5 0 1.2 0.5 5000 500\n-2 5.5 0 1.2 0.5 5000 500\n2 5.5 0 1.2 0.5 5000 500\n", "wall.shp");
  wall.x = 100;
  wall.z = 100;
  wall.orientation[0] = wall.orientation[4] = wall.orientation[8] = 1;
  array_push(&track_objects.statues, wall);
  for (Array<int>& bin : track_objects.statue_bins) array_push(&bin, 0);
  Rider* r = add();
  shape_free(r->shapes[shape_rider]);
  r->shapes[shape_rider] = shape_parse("1\n0 0.2 -0.3 0.6 0.5 2500 250\n", "torso.shp");
  place_on_flat(r, 100, 0, 108);
  for (int i = 0; i < bike_body_count; ++i) dBodySetLinearVel(r->body[i], 0, 0, -25);
  for (int i = 0; i < bike_body_count; ++i) dBodySetAngularVel(r->body[i], 0, 0, 0);
  bool down = false;
  for (int tick = 0; tick < 128 && !down; ++tick) {
    rider_contact_step(&ground.t, r, tick);
    hold_upright(r);
    physics_step();
    bike_tick(r, tick, 0);
    down = r->down_ticks > 0;
  }
  EXPECT_TRUE(down);
  EXPECT_FALSE(r->mount_attached);
  EXPECT_GT(track_objects.statues.items[0].last_contact_tick, 0);
  shape_free(track_objects.statues.items[0].shape);
  array_free(&track_objects.statues);
  for (Array<int>& bin : track_objects.statue_bins) array_free(&bin);
  track_objects = saved;
}

TEST(ContactGeometry, FrictionDirectionFollowsTheSlide) {
  const float n[3] = {0, 1, 0}, axle[3] = {1, 0, 0};
  float d[3];
  const float slow[3] = {0.01f, 0, 0};  // sideways creep: the axle decides
  ASSERT_TRUE(tyre_friction_direction(n, slow, axle, d));
  EXPECT_FLOAT_EQ(d[2], -1);
  const float fast[3] = {1, 0, 0};  // sliding sideways at 1 ft/s: across the slide
  ASSERT_TRUE(tyre_friction_direction(n, fast, axle, d));
  EXPECT_FLOAT_EQ(d[2], -1);
  const float forward[3] = {0, 0, -1};
  ASSERT_TRUE(tyre_friction_direction(n, forward, axle, d));
  EXPECT_FLOAT_EQ(d[0], -1);
  const float up_axle[3] = {0, 1, 0}, none[3] = {0, 0, 0};
  EXPECT_FALSE(tyre_friction_direction(n, none, up_axle, d));
}

}  // namespace
