// Tests of the rigid-body bike: masses, suspension laws, placement, settling and determinism.
#include <cmath>

#include "bike_fixture.h"

namespace {

TEST_F(PhysicsTest, MassesMatchTheRecordAndAreCentred) {
  Rider* r = add();
  EXPECT_NEAR(bike_total_mass(&r->info), 13.959f, 0.001f);
  EXPECT_NEAR(r->total_mass, 13.959f, 0.001f);
  EXPECT_NEAR(r->total_mass * 32, 446.7f, 0.1f);
  for (int i = 0; i < bike_body_count; ++i) {
    dMass m;
    dBodyGetMass(r->body[i], &m);
    EXPECT_GT(m.mass, 0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(m.c[k], 0, 1e-12) << "body " << i;
    for (int k : {0, 5, 10}) EXPECT_GT(m.I[k], 0) << "body " << i;
  }
  dMass frame, rider;
  dBodyGetMass(r->body[body_frame], &frame);
  dBodyGetMass(r->body[body_rider], &rider);
  EXPECT_NEAR(rider.mass, 5.46875 / 3, 1e-6);
  bike_set_mass_distribution(r, 0.9f);  // clamped to 0.5
  dBodyGetMass(r->body[body_frame], &frame);
  dBodyGetMass(r->body[body_rider], &rider);
  EXPECT_NEAR(rider.mass, 5.46875 * 0.5, 1e-6);
  EXPECT_NEAR(frame.mass, 4.735 + 5.46875 * 0.5, 1e-5);
  EXPECT_NEAR(bike_weight_scale(r), 1.1667f, 1e-4f);
}

TEST_F(PhysicsTest, ForkAndShockLaws) {
  Rider* r = add();
  // Fully extended: exactly nothing, whatever the preload and the rate.
  EXPECT_EQ(fork_force(r, 0, 0), 0.0f);
  EXPECT_EQ(fork_force(r, 0, -3), 0.0f);
  EXPECT_EQ(fork_force(r, 0.01f, 0), 0.0f);
  // Half way in the fade: half the force of the law.
  const float s = -1.0f / 64;
  const float travel = 1, gap = r->fork_air_gap;
  const float spring = (r->fork_preload - s) * r->fork_spring_rate;
  const float air = 82.46169f * (std::pow((travel + gap) / (travel + gap + s), 1.4f) - 1);
  EXPECT_NEAR(fork_force(r, s, 0), 0.5f * (air + spring), 1e-3f);
  // Deep: full force, rebound and compression damping by the sign of the rate.
  const float deep = -0.5f;
  const float base = fork_force(r, deep, 0);
  EXPECT_NEAR(fork_force(r, deep, 1) - base, -r->fork_rebound_damping, 1e-2f);
  EXPECT_NEAR(fork_force(r, deep, -1) - base, r->fork_compression_damping, 1e-2f);
  EXPECT_GT(fork_force(r, -0.9f, 0), fork_force(r, -0.5f, 0));  // the air spring stiffens

  EXPECT_EQ(shock_torque(r, 0, 0), 0.0f);
  EXPECT_EQ(shock_torque(r, 0.01f, -2), 0.0f);
  const float a = r->info.swingarm_travel, l = r->info.shock_leverage[0];
  const float theta = -0.3f;
  const float x = -theta / a;
  EXPECT_NEAR(shock_torque(r, theta, 0), (l * x + r->shock_preload) * r->shock_spring_rate * l, 1e-2f);
  EXPECT_NEAR(shock_torque(r, theta, 1) - shock_torque(r, theta, 0),
              -r->shock_rebound_damping * l * l, 1e-2f);
}

TEST(RiderSprings, TargetAndStiffness) {
  EXPECT_FLOAT_EQ(rider_z_target(0, 0, 1), -0.75f);   // leaning forward: clamped
  EXPECT_FLOAT_EQ(rider_z_target(0, 0, -1), 0.75f);
  EXPECT_FLOAT_EQ(rider_z_target(0.4f, 1, 0), 0.4f);  // dabbing follows the height fully
  EXPECT_FLOAT_EQ(rider_z_target(0.4f, 0, 0.1f), 0.1f);
  const float ws = 5.46875f * 32 / 150;
  float k, c;
  rider_z_spring(0.2f, -0.3f, 0.5f, ws, &k, &c);
  EXPECT_NEAR(k, (300 + 100 * 0.3f) * 1.1667f, 0.05f);
  EXPECT_EQ(c, 0);
  rider_z_spring(0.9f, 0.1f, 0.5f, ws, &k, &c);  // beyond the seat's range
  EXPECT_NEAR(k, 2500 * ws, 1e-3f);
  EXPECT_NEAR(c, 2500 * ws, 1e-3f);
}

TEST_F(PhysicsTest, ResetRotateTranslateAndSolidity) {
  Rider* r = add();
  float home[bike_body_count][3];
  for (int i = 0; i < bike_body_count; ++i) bike_body_position(r, i, home[i]);
  bike_rotate(r, 0, 1, 0, 1.0f);
  bike_rotate(r, 0, 1, 0, 1.0f);  // absolute rotation, positions turned again
  float rot[9];
  bike_body_rotation(r, body_swingarm, rot);
  EXPECT_NEAR(rot[0], std::cos(1.0f), 1e-6f);
  float p[3];
  bike_body_position(r, body_rear_wheel, p);
  EXPECT_NEAR(p[2], 6 * std::cos(2.0f), 1e-5f);
  EXPECT_NEAR(p[0], 6 * std::sin(2.0f), 1e-5f);
  bike_translate(r, 10, 20, 30);
  bike_body_position(r, body_rear_wheel, p);
  EXPECT_NEAR(p[1], 1.04f + 20, 1e-5f);
  r->crash_state = 1;
  r->impact = 300;
  r->control.throttle = 1;
  bike_reset(r);
  for (int i = 0; i < bike_body_count; ++i) {
    bike_body_position(r, i, p);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], home[i][k], 1e-6f) << i;
  }
  EXPECT_EQ(r->crash_state, 0);
  EXPECT_EQ(r->impact, 0);
  EXPECT_EQ(r->control.throttle, 0);
  EXPECT_TRUE(r->mount_attached);

  // A ghost: disabled bodies; coming back it keeps none of what it had collected.
  dBodySetLinearVel(r->body[body_frame], 5, 0, 0);
  bike_set_solidity(r, 0);
  EXPECT_FALSE(dBodyIsEnabled(r->body[body_rider]));
  dBodyAddForce(r->body[body_frame], 100, 0, 0);
  r->first_collision_tick = 7;
  bike_set_solidity(r, 3);
  EXPECT_EQ(r->solidity, 1);
  EXPECT_TRUE(dBodyIsEnabled(r->body[body_rider]));
  const dReal* f = dBodyGetForce(r->body[body_frame]);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(dBodyGetLinearVel(r->body[body_frame])[0], 0);
  EXPECT_EQ(r->first_collision_tick, -1);
}

TEST_F(PhysicsTest, ReattachedRiderHangsOnTheTurnedBike) {
  Rider* r = add();
  bike_rotate(r, 0, 1, 0, 1.5f);
  bike_translate(r, 40, 3, 50);
  bike_detach_rider(r);
  dBodySetPosition(r->body[body_rider], 0, 0, 0);
  bike_attach_rider(r);
  float seat[3], frame[3];
  bike_body_position(r, body_rider, seat);
  bike_body_position(r, body_frame, frame);
  const float dz = r->info.rider_seat[2] - r->info.frame_centre[2];
  EXPECT_NEAR(seat[0] - frame[0], dz * std::sin(1.5f), 1e-4f);
  EXPECT_NEAR(seat[2] - frame[2], dz * std::cos(1.5f), 1e-4f);
  dVector3 anchor;
  dJointGetHinge2Anchor(r->joint[joint_rider_mount], anchor);
  const float ahead = -50 - r->info.frame_centre[2];
  EXPECT_NEAR(anchor[0] - frame[0], ahead * std::sin(1.5f), 1e-3);
  EXPECT_NEAR(anchor[2] - frame[2], ahead * std::cos(1.5f), 1e-3);
  // Stepping it with nothing else must not pull the torso away from the seat.
  for (int i = 0; i < 8; ++i) {
    bike_tick(r, i, 0);
    physics_step();
  }
  bike_body_position(r, body_rider, seat);
  bike_body_position(r, body_frame, frame);
  EXPECT_NEAR(seat[0] - frame[0], dz * std::sin(1.5f), 0.2f);
}

struct Settled {
  float fork, swingarm, vertical, speed;
  bool upright;
};

Settled settle(const Terrain* t, std::vector<Rider*>& riders, int ticks) {
  Settled s{};
  for (int tick = 0; tick < ticks; ++tick) step_all(t, riders, tick, true);
  Rider* r = riders[0];
  s.fork = bike_fork_position(r);
  s.swingarm = bike_swingarm_angle(r);
  // ODE's feedback of the last step: the force the ground put on each wheel.
  s.vertical = static_cast<float>(r->wheel[0].feedback.f1[1] + r->wheel[1].feedback.f1[1]);
  float v[3];
  bike_body_velocity(r, body_frame, v);
  s.speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  float rot[9];
  bike_body_rotation(r, body_frame, rot);
  s.upright = rot[4] > 0.99f;
  return s;
}

TEST_F(PhysicsTest, BikeDroppedOnFlatGroundSettlesOnItsSuspension) {
  TestTerrain ground(6, 2, 10);
  Rider* r = add();
  place_on_flat(r, 60, 10, 60);
  const Settled s = settle(&ground.t, riders, 4 * 128);
  EXPECT_TRUE(s.upright);
  EXPECT_LT(s.speed, 0.05f);
  EXPECT_LT(s.fork, -0.02f);
  EXPECT_GT(s.fork, -r->info.fork_travel + 0.05f);
  EXPECT_LT(s.swingarm, -0.02f);
  EXPECT_GT(s.swingarm, -r->info.swingarm_travel + 0.05f);
  const float weight = r->total_mass * 32;
  EXPECT_NEAR(s.vertical, weight, weight * 0.005f);
  EXPECT_GT(r->wheel[0].depth, 0);
  EXPECT_GT(r->wheel[1].depth, 0);
}

TEST_F(PhysicsTest, WheelOffTheGroundHasNoFeedback) {
  TestTerrain ground(6, 2, 0);
  Rider* r = add();
  place_on_flat(r, 60, 0, 60);
  bike_translate(r, 0, 5, 0);
  r->wheel[0].feedback.f1[1] = 99;
  r->wheel[0].point_velocity[0] = 3;
  EXPECT_EQ(bike_collide_world(&ground.t, r), 0);
  EXPECT_EQ(r->wheel[0].depth, 0);
  EXPECT_EQ(r->wheel[0].feedback.f1[1], 0);
  EXPECT_EQ(r->wheel[0].point_velocity[0], 0);
}

TEST_F(PhysicsTest, NonFiniteBikeIsPutBackWhereItWasWhole) {
  TestTerrain ground(6, 2, 0);
  Rider* r = add();
  place_on_flat(r, 50, 0, 70, 0.7f);
  EXPECT_FALSE(bike_check_finite(r));
  dBodySetLinearVel(r->body[body_swingarm], NAN, 0, 0);
  EXPECT_TRUE(bike_check_finite(r));
  float p[3], v[3];
  bike_body_position(r, body_frame, p);
  EXPECT_NEAR(p[0], 50, 1e-3f);
  EXPECT_NEAR(p[2], 70, 1e-3f);
  bike_body_velocity(r, body_swingarm, v);
  EXPECT_EQ(v[0], 0);
  float rot[9];
  bike_body_rotation(r, body_frame, rot);
  EXPECT_NEAR(rot[0], std::cos(0.7f), 1e-4f);
  EXPECT_FALSE(bike_check_finite(r));
}

uint64_t state_hash(const std::vector<Rider*>& riders) {
  uint64_t h = 1469598103934665603ull;
  for (const Rider* r : riders) {
    for (int i = 0; i < bike_body_count; ++i) {
      const dReal* parts[] = {dBodyGetPosition(r->body[i]), dBodyGetQuaternion(r->body[i]),
                              dBodyGetLinearVel(r->body[i]), dBodyGetAngularVel(r->body[i])};
      for (const dReal* p : parts) {
        unsigned char bytes[4 * sizeof(dReal)];
        memcpy(bytes, p, sizeof bytes);
        for (unsigned char b : bytes) h = (h ^ b) * 1099511628211ull;
      }
    }
  }
  return h;
}

uint64_t run_course(int ticks) {
  physics_init();
  TestTerrain slope(6, 2, 20, 0.05f, -0.1f);
  std::vector<Rider*> riders;
  for (int k = 0; k < 3; ++k) {
    Rider* r = bike_create(k == 1 ? "yz250f(2013)" : "crf450(2013)", k, "7", nullptr, nullptr,
                           nullptr, nullptr);
    place_on_flat(r, 40.0f + 3.0f * k, terrain_height(&slope.t, 40.0f + 3 * k, 60), 60, 0.3f * k);
    riders.push_back(r);
  }
  for (int tick = 0; tick < ticks; ++tick) {
    for (Rider* r : riders) rider_contact_step(&slope.t, r, tick);
    riders_collide(riders[0], riders[1], false, tick);
    physics_step();
    for (Rider* r : riders) {
      bike_check_finite(r);
      bike_tick(r, tick, 0);
    }
  }
  const uint64_t h = state_hash(riders);
  for (Rider* r : riders) bike_free(r);
  physics_shutdown();
  return h;
}

TEST(PhysicsDeterminism, SameTicksGiveTheSameState) {
  const uint64_t a = run_course(10000);
  const uint64_t b = run_course(10000);
  EXPECT_EQ(a, b);
}

}  // namespace
