// Tests of the replay placement: a recorded state puts every body back where it was.
#include <cmath>

#include "bike_fixture.h"
#include "demo/state_record.h"

namespace {

TEST_F(PhysicsTest, RecordedStatePlacesEveryBodyAgain) {
  TestTerrain ground(6, 2, 4, 0.03f, 0.02f);
  demo_freeze_pack_range(&ground.t);
  Rider* a = add();
  Rider* b = add();
  place_on_flat(a, 60, terrain_height(&ground.t, 60, 60), 60, 0.8f);
  // Give it a turned, compressed, spinning pose by riding it a little.
  for (int i = 0; i < bike_body_count; ++i) dBodySetLinearVel(a->body[i], -6, 0, -8);
  dBodySetAngularVel(a->body[body_front_wheel], -9, 0, 0);
  dJointAddHingeTorque(a->joint[joint_steering_head], 40);
  for (int tick = 0; tick < 24; ++tick) {
    bike_collide_world(&ground.t, a);
    dJointAddHingeTorque(a->joint[joint_steering_head], 30);
    physics_step();
  }
  ASSERT_GT(std::fabs(bike_steering_angle(a)), 0.02f);
  ASSERT_LT(bike_fork_position(a), -0.02f);
  StateRecord rec;
  pack_state(a, &rec);
  bike_apply_state(b, &rec, &rec, &rec, 1);
  for (int i = 0; i < bike_body_count; ++i) {
    float pa[3], pb[3];
    bike_body_position(a, i, pa);
    bike_body_position(b, i, pb);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(pa[k], pb[k], 0.02f) << "body " << i << " axis " << k;
    float v[3];
    bike_body_velocity(b, i, v);
    EXPECT_EQ(v[0], 0);  // the same record before and after: at rest
  }
  EXPECT_NEAR(bike_steering_angle(b), bike_steering_angle(a), 0.01f);
  EXPECT_NEAR(bike_fork_position(b), bike_fork_position(a), 0.01f);
  EXPECT_NEAR(bike_swingarm_angle(b), bike_swingarm_angle(a), 0.01f);

  // Two records 8 ticks apart: the velocity that carries one into the other.
  StateRecord later;
  for (int tick = 0; tick < 8; ++tick) {
    bike_collide_world(&ground.t, a);
    physics_step();
  }
  pack_state(a, &later);
  bike_apply_state(b, &rec, &later, &later, 8);
  PackRange range = demo_pack_range;
  range.fork_travel = b->info.fork_travel;
  range.swingarm_travel = b->info.swingarm_travel;
  StatePose p0{}, p1{};
  state_decode(&rec, &range, &p0);
  state_decode(&later, &range, &p1);
  float v[3];
  bike_body_velocity(b, body_frame, v);
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(v[k], (p1.position[k] - p0.position[k]) / (8 * tick_length), 1e-3) << k;
  // The frame turned little in 8 ticks: the replayed rate matches the simulated one.
  float w[3], wa[3];
  bike_body_angular_velocity(b, body_frame, w);
  bike_body_angular_velocity(a, body_frame, wa);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(w[k], wa[k], 0.5f) << k;
}

}  // namespace
