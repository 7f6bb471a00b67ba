// Rider control and assists: the steering model's pieces, the setters, crash detection and the
// knock-down, the dab and the hold, and whole-bike riding on flat ground.
#include <cmath>

#include "ride_fixture.h"
#include "bike/setup.h"
#include "core/setup_file.h"
#include "resources/data.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "track/track.h"

namespace {

constexpr float pi = 3.14159265358979f;
using ControlTest = RideTest;

// Rolls the whole bike about its forward axis at rate rad/s (to the rider's left when > 0).
void roll_kick(Rider* r, float rate) {
  const Vec3 z = body_axis(r->body[body_frame], 2);
  for (int i = 0; i < bike_body_count; ++i) {
    const dReal* w = dBodyGetAngularVel(r->body[i]);
    dBodySetAngularVel(r->body[i], w[0] + z.x * rate, w[1] + z.y * rate, w[2] + z.z * rate);
  }
}

// The setup a new player rides with, arcade physics off, the gear left to the test.
void default_setup(Rider* r) {
  BikeSetup s;
  setup_set_defaults(&s);
  setup_stability_preset(&s, s.stability);
  s.arcade = 0;
  s.auto_shift = 0;
  ASSERT_TRUE(setup_apply(r, &s, 0));
}

// Throttle that holds a speed in the current gear.
void hold_speed(Rider* r, float target) {
  r->control.clutch = 1;
  r->control.throttle = clampf((target - RideTest::speed(r)) * 0.25f, 0, 1);
}

TEST_F(ControlTest, WantedRollRateSaturates) {
  // 40 ft/s with max_dab_speed 30: the whole range.
  const float range = lean_range(40, 30, pi / 4, 4);
  EXPECT_FLOAT_EQ(range, 2 * pi);
  EXPECT_FLOAT_EQ(wanted_roll_rate(1, range, -0.3f), -3.926991f) << "further into a right lean";
  EXPECT_FLOAT_EQ(wanted_roll_rate(-1, range, -0.3f), 9.817477f) << "back toward upright";
  EXPECT_FLOAT_EQ(wanted_roll_rate(1, range, 0), -9.817477f) << "upright uses the larger limit";
  EXPECT_FLOAT_EQ(wanted_roll_rate(-1, range, 0), 3.926991f);
  EXPECT_FLOAT_EQ(wanted_roll_rate(0, range, 0.1f), -0.25f) << "inside the limits";
  // The range grows with speed: nothing standing, a quarter of the way at 15 ft/s.
  EXPECT_EQ(lean_range(0, 30, pi / 4, 4), 0);
  EXPECT_NEAR(lean_range(15, 30, pi / 4, 4), (1 - std::pow(0.75f, 4)) * pi / 4, 1e-5);
  EXPECT_NEAR(lean_range(22.5f, 30, pi / 4, 4), pi / 4 + (2 * pi - pi / 4) * (506.25f - 225) / 675, 1e-4);
  EXPECT_EQ(lean_range(10, 7, pi / 4, 4), 2 * pi) << "a dab speed below 15 ft/s";
}

TEST_F(ControlTest, ImpactReversesThenLimitsTheBalancing) {
  const struct {
    float impact, in, out;
  } cases[] = {{256, 300, -300}, {224, 300, -150}, {193, 300, -300.0f / 64}, {192, 300, 0},
               {96, 300, 100},   {96, -300, -100}, {96, 50, 50},          {0, 300, 300},
               {-100, 300, 300}};
  for (const auto& c : cases)
    EXPECT_NEAR(impact_balance(c.impact, c.in), c.out, 1e-3) << c.impact << " " << c.in;
  // The bike tick lets impact fall one per tick: from 256 the reversal is gone after 64 ticks.
  Rider* r = ride();
  r->impact = 256;
  step(64);
  EXPECT_EQ(r->impact, 192);
}

TEST_F(ControlTest, LockLimitGuardsItsDenominators) {
  RiderAssists a{};
  a.full_lock_speed = 10;
  a.restricted_lock_speed = 50;
  a.restricted_lock = 5 * pi / 180;
  EXPECT_NEAR(lock_limit(a, 0.5f, 1), pi / 4, 1e-6) << "full lock when slow";
  EXPECT_NEAR(lock_limit(a, 50, 1), a.restricted_lock, 1e-6);
  EXPECT_NEAR(lock_limit(a, 50, 0.5f), 2 * a.restricted_lock, 1e-6) << "less grip, more lock";
  a.restricted_lock = 0;
  EXPECT_NEAR(lock_limit(a, 50, 1), 0, 1e-6);
  a.full_lock_speed = a.restricted_lock_speed = 1;
  EXPECT_TRUE(std::isfinite(lock_limit(a, 80, 1)));
}

TEST_F(ControlTest, SettersClampAndKnockedDownRidersHaveNoInput) {
  Rider* r = add();
  control_set_throttle(r, 2);
  control_set_steer(r, -5);
  control_set_lean(r, NAN);
  control_set_clutch(r, -1);
  control_set_front_brake(r, 0.5f);
  EXPECT_EQ(r->control.throttle, 1);
  EXPECT_EQ(r->control.steer, -1);
  EXPECT_EQ(r->control.lean, 0);
  EXPECT_EQ(r->control.clutch, 0);
  EXPECT_EQ(r->control.front_brake, 0.5f);
  knock_down(r);
  EXPECT_EQ(r->control.throttle, 0);
  control_set_throttle(r, 1);
  control_set_dab(r, 1);
  control_set_back_up(r, 1);
  control_set_lean(r, 1);
  control_set_steer(r, 0.5f);
  EXPECT_EQ(r->control.throttle, 0);
  EXPECT_EQ(r->control.dab, 0);
  EXPECT_EQ(r->control.back_up, 0);
  EXPECT_EQ(r->control.lean, 0);
  EXPECT_EQ(r->control.steer, 0.5f);
}

TEST_F(ControlTest, LeanAngleOfTheFrame) {
  Rider* r = add();
  const struct {
    float heading, roll, lean;
  } cases[] = {{0, 0.3f, 0.3f}, {0, -0.5f, -0.5f}, {1.2f, 0.3f, 0.3f}, {-2.5f, -0.2f, -0.2f}};
  for (const auto& c : cases) {
    // Heading about y, then the roll about the bike's own forward axis.
    dMatrix3 yaw, roll, both;
    dRFromAxisAndAngle(yaw, 0, 1, 0, c.heading);
    dRFromAxisAndAngle(roll, 0, 0, 1, c.roll);
    dMultiply0_333(both, yaw, roll);
    dBodySetRotation(r->body[body_frame], both);
    EXPECT_NEAR(lean_angle_update(r), c.lean, 1e-4) << c.heading << " " << c.roll;
  }
  // Pointing straight up: no lean of its own, the last one stays.
  dMatrix3 up;
  dRFromAxisAndAngle(up, 1, 0, 0, pi / 2);
  dBodySetRotation(r->body[body_frame], up);
  EXPECT_NEAR(lean_angle_update(r), -0.2f, 1e-4);
  EXPECT_TRUE(std::isfinite(r->lean_angle));
}

TEST_F(ControlTest, CrashExtraTicksAreClamped) {
  Rider* r = add();
  int extra[16] = {5000, -3, 100};
  control_set_crash_extra_ticks(extra);
  EXPECT_EQ(crash_extra_ticks[0], 1280);
  EXPECT_EQ(crash_extra_ticks[1], 0);
  EXPECT_EQ(crash_extra_ticks[2], 100);
  crash_extra_ticks[3] = 99999;  // set from outside without the setter
  const int expect[] = {512 + 1280, 512, 612, 512 + 1280, 512};
  for (int want : expect) {
    r->down_ticks = 0;
    knock_down(r);
    EXPECT_EQ(r->down_ticks, want);
  }
  EXPECT_EQ(r->crash_count, 5);
  int none[16] = {};
  control_set_crash_extra_ticks(none);
}

// Offline, a first knock-down lasts 512 ticks of lying still; ticks of rolling do not count.
TEST_F(ControlTest, KnockDownLastsExactlyItsTicksOnceStill) {
  Rider* r = ride();
  step(16);
  knock_down(r);
  EXPECT_FALSE(r->mount_attached);
  int still = 0, calls = 0;
  while (r->down_ticks > 0 && calls < 2000) {
    // Every third tick the rider rolls.
    const bool rolling = calls % 3 == 0;
    dBodySetLinearVel(r->body[body_rider], rolling ? 3 : 0, 0, rolling ? 1 : 0.5f);
    bike_knock_down_step(r, calls++);
    dJointGroupEmpty(contact_group);
    if (!rolling) ++still;
  }
  EXPECT_EQ(still, 512);
  EXPECT_TRUE(r->mount_attached);
  // Back on the seat with the frame's rotation.
  const Vec3 seat = body_point_world(r->body[body_frame],
                                     Vec3{0, r->info.rider_seat[1] - r->info.frame_centre[1],
                                          r->info.rider_seat[2] - r->info.frame_centre[2]});
  const Vec3 p = body_pos(r->body[body_rider]);
  EXPECT_LT(length(p - seat), 1e-3f);
}

// A rider who keeps sliding still gets up once the knock-down has lasted 1280 ticks.
TEST_F(ControlTest, SlidingRiderGetsUpInTheEnd) {
  Rider* r = ride();
  knock_down(r);
  for (int i = 0; i < 1279; ++i) {
    dBodySetLinearVel(r->body[body_rider], 10, 0, 0);
    bike_knock_down_step(r, i);
    dJointGroupEmpty(contact_group);
  }
  EXPECT_EQ(r->down_ticks, 512);
  for (int i = 0; i < 600 && r->down_ticks > 0; ++i) {
    dBodySetLinearVel(r->body[body_rider], 10, 0, 0);
    bike_knock_down_step(r, i);
    dJointGroupEmpty(contact_group);
  }
  EXPECT_EQ(r->down_ticks, 0);
  EXPECT_TRUE(r->mount_attached);
}

// Stopped with auto dab and the throttle closed: both brakes hold the bike for the tick, and
// the player's brake inputs are what they were.
TEST_F(ControlTest, StandstillHoldKeepsThePlayersInputs) {
  Rider* r = ride();
  r->assists.auto_dab = true;
  step(128);
  r->control.front_brake = 0;
  r->control.rear_brake = 0.25f;
  step();
  EXPECT_EQ(dJointGetHingeParam(r->joint[joint_front_axle], dParamFMax), 250);
  EXPECT_EQ(dJointGetHingeParam(r->joint[joint_rear_axle], dParamFMax), 250);
  EXPECT_EQ(r->control.front_brake, 0);
  EXPECT_EQ(r->control.rear_brake, 0.25f);
  EXPECT_GT(r->dab_extension, 0);
}

TEST_F(ControlTest, NoAutomaticDabAtSpeedWithLittleLean) {
  Rider* r = ride();
  r->assists.auto_dab = true;
  step(16);
  const struct {
    float lean;
    bool dab;
  } cases[] = {{0.2f, false}, {0.3f, true}, {-0.3f, true}};
  for (const auto& c : cases) {
    launch(r, 20);
    r->lean_angle = c.lean;
    r->control.dab = 0;
    bike_back_up_or_auto_dab(r);
    EXPECT_EQ(r->control.dab > 0, c.dab) << c.lean;
    dJointGroupEmpty(contact_group);
  }
}

TEST_F(ControlTest, StandingStillWithAutoDabStaysUp) {
  Rider* r = ride();
  default_setup(r);
  ASSERT_TRUE(r->assists.auto_dab);
  step(64);
  roll_kick(r, 0.4f);
  float worst = 0;
  for (int i = 0; i < 60 * 128; ++i) {
    step();
    worst = std::max(worst, std::fabs(r->lean_angle));
  }
  EXPECT_LT(worst, 0.6f);
  EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.9f);
  EXPECT_EQ(r->down_ticks, 0);
}

TEST_F(ControlTest, StraightLineStaysUpright) {
  Rider* r = ride();
  default_setup(r);
  step(64);
  bike_set_gear(r, 1);
  launch(r, 45);
  r->engine_speed = 7000 / 9.549296f;
  step(64);
  roll_kick(r, 0.2f);
  float worst = 0;
  for (int i = 0; i < 60 * 128; ++i) {
    hold_speed(r, 45);
    step();
    if (i > 256) worst = std::max(worst, std::fabs(r->lean_angle));
    ASSERT_EQ(r->down_ticks, 0) << i;
  }
  EXPECT_LT(worst, 3 * pi / 180);
  EXPECT_NEAR(speed(r), 45, 15);
}

struct Turn {
  float lean, radius;
};

Turn steady_turn(RideTest& t, float steer) {
  Rider* r = t.ride();
  default_setup(r);
  t.step(64);
  bike_set_gear(r, 1);
  RideTest::launch(r, 30);
  r->engine_speed = 6000 / 9.549296f;
  r->control.steer = steer;
  for (int i = 0; i < 20 * 128; ++i) {
    hold_speed(r, 30);
    t.step();
  }
  Turn out{r->lean_angle, 0};
  float w[3];
  bike_body_angular_velocity(r, body_frame, w);
  out.radius = RideTest::speed(r) / std::fabs(w[1]);
  return out;
}

TEST_F(ControlTest, SteadySteerGivesASteadyTurn) {
  const Turn a = steady_turn(*this, 0.05f);
  Rider* r = riders.back();
  float lean[4], radius[4];
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 2 * 128; ++i) {
      hold_speed(r, 30);
      step();
    }
    float w[3];
    bike_body_angular_velocity(r, body_frame, w);
    lean[k] = r->lean_angle;
    radius[k] = speed(r) / std::fabs(w[1]);
  }
  EXPECT_LT(a.lean, -0.05f) << "steering right leans right";
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(lean[k], a.lean, 0.03f);
    EXPECT_NEAR(radius[k], a.radius, 0.1f * a.radius);
  }
  EXPECT_EQ(r->down_ticks, 0);
  bike_free(r);
  riders.clear();
  tick = 0;
  const Turn b = steady_turn(*this, 0.05f);
  EXPECT_EQ(a.lean, b.lean) << "repeatable";
  EXPECT_EQ(a.radius, b.radius);
}

TEST_F(ControlTest, BrakingFromSixtyStopsShortAndUpright) {
  Rider* r = ride();
  default_setup(r);
  step(64);
  bike_set_gear(r, 2);
  launch(r, 60);
  r->engine_speed = 6000 / 9.549296f;
  step(2);
  const Vec3 start = frame_position(r);
  r->control.throttle = 0;
  r->control.clutch = 0;
  r->control.front_brake = 1;
  r->control.rear_brake = 1;
  int ticks = 0;
  while (speed(r) > 0.5f && ticks < 30 * 128) {
    step();
    ++ticks;
  }
  const Vec3 end = frame_position(r);
  const float distance = std::hypot(end.x - start.x, end.z - start.z);
  EXPECT_GT(distance, 50);
  EXPECT_LT(distance, 90);
  EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.9f);
  EXPECT_EQ(r->down_ticks, 0);
}

TEST_F(ControlTest, DropOfThreeFeetKeepsTheRiderOn) {
  Rider* r = ride();
  bike_translate(r, 0, 3, 0);
  step(3 * 128);
  EXPECT_EQ(r->down_ticks, 0);
  EXPECT_EQ(r->crash_count, 0);
  EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.9f);
}

TEST_F(ControlTest, HardCrashKnocksDownAndTheRiderGetsBackOn) {
  Rider* r = ride();
  step(64);
  // Nose first into the ground from a height at speed.
  bike_translate(r, 0, 12, 0);
  dMatrix3 pitch;
  dRFromAxisAndAngle(pitch, 1, 0, 0, -1.2);
  for (int i = 0; i < bike_body_count; ++i) {
    const dReal* p = dBodyGetPosition(r->body[i]);
    dVector3 c = {p[0] - 64, p[1] - 12, p[2] - 64};
    dVector3 q;
    dMultiply0_331(q, pitch, c);
    dBodySetPosition(r->body[i], q[0] + 64, q[1] + 12, q[2] + 64);
    dBodySetRotation(r->body[i], pitch);
  }
  bike_attach_rider(r);
  launch(r, 40);
  for (int i = 0; i < bike_body_count; ++i) {
    const dReal* v = dBodyGetLinearVel(r->body[i]);
    dBodySetLinearVel(r->body[i], v[0], v[1] - 30, v[2]);
  }
  int crashed_at = -1;
  for (int i = 0; i < 30 * 128; ++i) {
    step();
    if (crashed_at < 0 && r->down_ticks > 0) crashed_at = i;
    if (crashed_at >= 0 && r->down_ticks == 0) break;
  }
  ASSERT_GE(crashed_at, 0) << "knocked down";
  EXPECT_EQ(r->down_ticks, 0) << "back on";
  EXPECT_TRUE(r->mount_attached);
  EXPECT_GE(r->crash_count, 1);
  // Seated: the rider body sits at the frame's seat point.
  float seat[3];
  const Vec3 s = body_point_world(r->body[body_frame],
                                  Vec3{r->info.rider_seat[0] - r->info.frame_centre[0],
                                       r->info.rider_seat[1] - r->info.frame_centre[1],
                                       r->info.rider_seat[2] - r->info.frame_centre[2]});
  bike_body_position(r, body_rider, seat);
  EXPECT_LT(std::hypot(seat[0] - s.x, seat[1] - s.y, seat[2] - s.z), 0.5f);
}

// Arcade physics holds the lean the steer asks for: a quarter turn of lean at full steer.
TEST_F(ControlTest, ArcadeLeansAsTheSteerAsks) {
  Rider* r = ride();
  default_setup(r);
  r->assists.arcade = true;
  step(64);
  bike_set_gear(r, 1);
  launch(r, 30);
  r->engine_speed = 6000 / 9.549296f;
  r->control.steer = 0.5f;
  for (int i = 0; i < 8 * 128; ++i) {
    hold_speed(r, 30);
    step();
  }
  EXPECT_NEAR(r->lean_angle, -pi / 8, 0.02f);
  EXPECT_EQ(r->down_ticks, 0);
}

// Backing up pushes a stopped bike backwards in pulses, feet down.
TEST_F(ControlTest, BackUpPushesBackwards) {
  Rider* r = ride();
  default_setup(r);
  step(64);
  const Vec3 start = frame_position(r);
  r->control.back_up = 1;
  step(4 * 128);
  const Vec3 end = frame_position(r);
  EXPECT_GT(end.z - start.z, 4) << "backwards is +z for a bike facing -z";
  EXPECT_LT(std::fabs(end.x - start.x), 1);
  EXPECT_LT(speed(r), 5);
  EXPECT_EQ(r->control.dab, 0) << "the push's dab lasts one tick";
  EXPECT_GT(r->dab_extension, 0);
}

int aim_calls = 0;
bool aim_to_the_right(const Rider* r, float aim[3]) {
  ++aim_calls;
  float p[3];
  bike_body_position(r, body_frame, p);
  aim[0] = p[0] + 50;
  aim[1] = p[1];
  aim[2] = p[2];
  return true;
}
bool finishes(Rider* r) {
  r->finished = true;
  return true;
}

// A fallen, stopped rider with his feet down is turned toward the aim point of the racing
// lines; without lines, or once the finish rule marks him, nothing turns him.
TEST_F(ControlTest, RealignAfterFallGoesThroughTheHooks) {
  Rider* r = ride();
  default_setup(r);
  step(16);
  r->checkpoints_passed = 1;
  r->control.dab = 1;
  dBodyID frame = r->body[body_frame];
  const struct {
    bool (*aim)(const Rider*, float[3]);
    bool (*finish)(Rider*);
    float lean;
    int motors, calls;
  } cases[] = {
      {aim_to_the_right, nullptr, 0.6f, 1, 1}, {nullptr, nullptr, 0.6f, 0, 0},
      {aim_to_the_right, finishes, 0.6f, 0, 0}, {aim_to_the_right, nullptr, 0.2f, 0, 0},
      {aim_to_the_right, nullptr, 1.2f, 0, 0},
  };
  for (const auto& c : cases) {
    control_aim_point_hook = c.aim;
    control_finish_hook = c.finish;
    aim_calls = 0;
    r->finished = false;
    r->lean_angle = c.lean;
    const int before = dBodyGetNumJoints(frame);
    bike_dab_and_align(r);
    EXPECT_EQ(dBodyGetNumJoints(frame) - before, c.motors) << c.lean;
    EXPECT_EQ(aim_calls, c.calls) << c.lean;
    dJointGroupEmpty(contact_group);
  }
  control_aim_point_hook = nullptr;
  control_finish_hook = nullptr;
}

// The default track, one bike of each engine class with the default setup: it stands on the
// start grid with its feet down, then rides off the line without falling.
struct TrackRide : PhysicsTest {
  DataRootsFixture roots;
  void SetUp() override {
    setenv("KV_HOME", KV_GAME_DIR, 1);
    data_reset_for_tests();
    shape_cache_clear();
    PhysicsTest::SetUp();
  }
  void TearDown() override {
    PhysicsTest::TearDown();
    if (track_name) track_free();
    shape_cache_clear();
  }
};

TEST_F(TrackRide, EveryEngineClassStandsAndRidesOffTheGrid) {
  ASSERT_TRUE(track_load("ridgeback"));
  ASSERT_GT(timing.start_slot_count, 0);
  const StartSlot& slot = timing.slots[0];
  for (const char* model : {"crf450(2013)", "yz250f(2013)", "250sx(2012)", "cr125", "rs50cr"}) {
    Rider* r = add(model);
    default_setup(r);
    r->assists.auto_shift = true;
    bike_rotate(r, 0, 1, 0, slot.angle);
    float f[3];
    bike_body_position(r, body_frame, f);
    const float ground = terrain_height(&track_terrain, slot.position[0], slot.position[2]);
    const float lowest = r->info.front_wheel.centre[1] - r->info.front_wheel.torus_radius -
                         r->info.front_wheel.tyre_radius;
    bike_translate(r, slot.position[0] - f[0], ground + 0.3f - lowest, slot.position[2] - f[2]);
    int tick = 0;
    auto run = [&](int n) {
      for (int i = 0; i < n; ++i, ++tick) {
        bike_collide_world(&track_terrain, r);  // the start gate has no race to drop it
        physics_step();
        bike_check_finite(r);
        bike_tick(r, tick, 10 * 128);
      }
    };
    run(10 * 128);  // waiting for the gate
    EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.95f) << model;
    EXPECT_EQ(r->crash_count, 0) << model;
    r->control.clutch = 1;
    r->control.throttle = 1;
    const Vec3 start = body_pos(r->body[body_frame]);
    run(4 * 128);
    EXPECT_GT(length(body_pos(r->body[body_frame]) - start), 10) << model;
    EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.8f) << model;
    EXPECT_EQ(r->crash_count, 0) << model;
    bike_free(r);
    riders.clear();
  }
}

}  // namespace
