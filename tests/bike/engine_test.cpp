// Engine, gearbox, clutch and brakes: curve values, shifting edges, the automatic clutch,
// antilock and the wheelie guard, the free engine, and top speeds per gear on flat ground.
#include <cmath>

#include "ride_fixture.h"

namespace {

constexpr float rpm = 1 / 9.549296f;  // rad/s per rpm
constexpr float pi = 3.14159265358979f;

using EngineTest = RideTest;

TEST_F(EngineTest, TorqueCurveAtTheRevLimit) {
  Rider* r = add();
  r->control.throttle = 1;
  const struct {
    float rpm, torque;
  } cases[] = {{12000, 0}, {12250, -5}, {0, 5}, {7250, 30.95f}, {24500, -34}, {40000, -34}};
  for (const auto& c : cases) {
    r->engine_speed = c.rpm * rpm;
    EXPECT_NEAR(engine_torque(r), c.torque, 1e-3) << c.rpm;
  }
  r->control.throttle = 0;
  r->engine_speed = 1500 * rpm;
  EXPECT_NEAR(engine_torque(r), 0, 1e-3);
  r->control.throttle = 0.5f;
  r->engine_speed = 12000 * rpm;  // closed -11 at 12000, open 0
  EXPECT_NEAR(engine_torque(r), -5.5f, 1e-3);
}

TEST_F(EngineTest, ShiftsOnEdgesWithinTheGearsThatExist) {
  Rider* r = add();  // five speeds
  for (int i = 0; i < 10; ++i) shift_request(r, 1);
  EXPECT_EQ(r->gear, 1);
  shift_request(r, 0);
  shift_request(r, 1);
  EXPECT_EQ(r->gear, 2);
  for (int i = 0; i < 6; ++i) {
    shift_request(r, 0);
    shift_request(r, 1);
  }
  EXPECT_EQ(r->gear, 4) << "no sixth gear";
  shift_request(r, 7);
  EXPECT_EQ(r->shift_memory, 1) << "other values are ignored";
  for (int i = 0; i < 8; ++i) {
    shift_request(r, 0);
    shift_request(r, -1);
  }
  EXPECT_EQ(r->gear, 0);
  bike_set_gear(r, 9);
  EXPECT_EQ(r->gear, 4);
  bike_set_gear(r, -3);
  EXPECT_EQ(r->gear, 0);
  r->down_ticks = 10;
  shift_request(r, 0);
  shift_request(r, 1);
  EXPECT_EQ(r->gear, 0) << "no shifting while knocked down";

  Rider* six = add("rs50cr");
  bike_set_gear(six, 9);
  EXPECT_EQ(six->gear, 5);
}

TEST_F(EngineTest, EveryRecordHasAFirstGear) {
  for (const BikeInfo& b : bike_info_table) EXPECT_GT(b.gear_ratio[0], 0) << b.model_name;
}

TEST_F(EngineTest, AutomaticClutchTakesUpBetweenItsSpeedAndTwoThousandAbove) {
  Rider* r = add();
  r->assists.auto_clutch_rpm = 5000;
  r->control.clutch = 1;
  const struct {
    float rpm, clutch, effective;
  } cases[] = {{6000, 1, 0.5f}, {4000, 1, 0}, {7000, 1, 1}, {7500, 0.25f, 0.25f},
               {6000, 0.25f, 0.25f}, {6000, 0, 0}, {12000, 0, 0}};
  for (const auto& c : cases) {
    r->engine_speed = c.rpm * rpm;
    r->control.clutch = c.clutch;
    EXPECT_NEAR(effective_clutch(r), c.effective, 1e-4) << c.rpm << " " << c.clutch;
  }
  // At 6000 rpm the clutch holds a twist of pi/8 and slips beyond it.
  r->engine_speed = 6000 * rpm;
  r->control.clutch = 1;
  r->drive_angle = 1.0f;  // wheel at 0: a twist of 1 rad
  const float before = r->drive_angle;
  bike_engine_step(r);
  const float g = gear_ratio_total(r);
  EXPECT_NEAR(r->drive_angle, pi / 8 + r->engine_speed / g / 128, 2e-3) << before;
}

TEST_F(EngineTest, WithTheClutchOutTheEngineRevsFreely) {
  Rider* r = add();
  r->control.clutch = 0;
  r->control.throttle = 1;
  const float start = 3000 * rpm;
  r->engine_speed = start;
  dBodySetTorque(r->body[body_rear_wheel], 0, 0, 0);
  bike_engine_step(r);
  const dReal* t = dBodyGetTorque(r->body[body_rear_wheel]);
  EXPECT_EQ(t[0], 0) << "no drive torque";
  EXPECT_GT(r->engine_speed, start);
  // Left alone the engine settles where its curve crosses zero: the rev limit open, the idle
  // closed.
  for (int i = 0; i < 20 * 128; ++i) bike_engine_step(r);
  EXPECT_NEAR(bike_engine_rpm(r), 12000, 20);
  r->control.throttle = 0;
  for (int i = 0; i < 60 * 128; ++i) bike_engine_step(r);
  EXPECT_NEAR(bike_engine_rpm(r), 1500, 20);
  EXPECT_GE(r->drive_angle, -pi);
  EXPECT_LE(r->drive_angle, pi);
}

TEST_F(EngineTest, AngleWrapEndsForAnyFiniteValue) {
  for (float a : {0.0f, 3.5f, -3.5f, 1e30f, -1e30f, 3.4e38f, 7 * pi}) {
    const float w = wrap_angle(a);
    EXPECT_GE(w, -pi - 1e-6f) << a;
    EXPECT_LE(w, pi + 1e-6f) << a;
  }
  EXPECT_NEAR(wrap_angle(2 * pi + 0.5f), 0.5f, 1e-5);
}

TEST_F(EngineTest, NonFiniteEngineIsAPhysicsFault) {
  Rider* r = ride();
  r->engine_speed = NAN;
  dBodySetTorque(r->body[body_rear_wheel], 0, 0, 0);
  bike_engine_step(r);
  EXPECT_EQ(dBodyGetTorque(r->body[body_rear_wheel])[0], 0) << "pushes nothing";
  EXPECT_TRUE(bike_check_finite(r));
  EXPECT_EQ(r->engine_speed, 0);
  r->drive_angle = INFINITY;
  EXPECT_TRUE(bike_check_finite(r));
  EXPECT_EQ(r->drive_angle, 0);
}

TEST_F(EngineTest, AntilockAndStoppieGuardCutTheBrakes) {
  Rider* r = add();
  r->control.front_brake = 1;
  r->control.rear_brake = 1;
  r->assists.rear_antilock = true;
  struct Case {
    float front_depth, front_slide, rear_depth, rear_slide, front, rear;
  } cases[] = {
      {0.1f, 3, 0.1f, 3, 0, 0},
      {0.1f, 1, 0.1f, 1, 250, 250},
      {0, 3, 0, 3, 250, 250},  // in the air nothing slides
      {0.1f, 1, 0, 0, 0, 250},  // stoppie guard: front down, rear up
  };
  for (const Case& c : cases) {
    r->wheel[0].depth = c.front_depth;
    r->wheel[0].point_velocity[0] = c.front_slide;
    r->wheel[1].depth = c.rear_depth;
    r->wheel[1].point_velocity[2] = c.rear_slide;
    EXPECT_EQ(front_brake_torque(r), c.front) << c.front_slide;
    EXPECT_EQ(rear_brake_torque(r), c.rear) << c.rear_slide;
  }
  r->assists.front_antilock = false;
  r->wheel[0].depth = 0.1f;
  r->wheel[0].point_velocity[0] = 3;
  r->wheel[1].depth = 0.1f;
  EXPECT_EQ(front_brake_torque(r), 250);
}

TEST_F(EngineTest, WheelieGuardCutsDriveOnlyWhileTheNoseRises) {
  Rider* r = add();
  r->assists.wheelie_guard = true;
  r->control.throttle = 1;
  r->engine_speed = 8000 * rpm;
  r->wheel[0].depth = 0;
  r->wheel[1].depth = 0.1f;
  dBodySetAngularVel(r->body[body_frame], 0.5, 0, 0);  // nose up
  EXPECT_EQ(engine_torque(r), 0);
  r->engine_speed = 13000 * rpm;
  EXPECT_LT(engine_torque(r), 0) << "engine braking passes";
  r->engine_speed = 8000 * rpm;
  dBodySetAngularVel(r->body[body_frame], -0.5, 0, 0);  // nose falling
  EXPECT_GT(engine_torque(r), 20);
  dBodySetAngularVel(r->body[body_frame], 0.5, 0, 0);
  r->wheel[0].depth = 0.1f;
  EXPECT_GT(engine_torque(r), 20) << "both wheels down";
}

// Full throttle in a fixed gear on flat ground ends at the speed the gearing allows at the
// rev limit; the automatic shift climbs through the gears on the way.
TEST_F(EngineTest, TopSpeedPerGear) {
  const float expected[] = {75, 92, 109, 128, 148};
  for (int g = 0; g < 5; ++g) {
    Rider* r = ride();
    step(64);
    bike_set_gear(r, g);
    launch(r, expected[g] * 0.8f);
    r->engine_speed = 9000 * rpm;
    r->control.clutch = 1;
    r->control.throttle = 1;
    step(12 * 128);
    const float v = speed(r);
    EXPECT_NEAR(v, expected[g], expected[g] * 0.05f) << "gear " << g + 1;
    EXPECT_EQ(r->down_ticks, 0);
    EXPECT_GT(body_axis(r->body[body_frame], 1).y, 0.9f) << "upright";
    bike_free(r);
    riders.clear();
  }
}

// One bike of each engine class: first gear tops out where the gearing puts the rev limit.
TEST_F(EngineTest, FirstGearTopSpeedForEveryEngineClass) {
  for (const char* model : {"crf450(2013)", "yz250f(2013)", "250sx(2012)", "cr125", "rs50cr"}) {
    Rider* r = ride(model);
    step(64);
    const BikeInfo& b = r->info;
    const float g = b.gear_ratio[0] * b.primary_reduction * r->final_drive;
    const float top = b.rev_limit_rpm * rpm / g * (b.rear_wheel.torus_radius + b.rear_wheel.tyre_radius);
    launch(r, top * 0.8f);
    r->engine_speed = b.rev_limit_rpm * 0.8f * rpm;
    r->control.clutch = 1;
    r->control.throttle = 1;
    step(10 * 128);
    EXPECT_NEAR(speed(r), top, top * 0.05f) << model;
    EXPECT_EQ(r->down_ticks, 0) << model;
    bike_free(r);
    riders.clear();
  }
}

TEST_F(EngineTest, AutomaticShiftingUpshiftsUnderFullThrottle) {
  Rider* r = ride();
  r->assists.auto_shift = true;
  step(64);
  r->control.clutch = 1;
  r->control.throttle = 1;
  int highest = 0;
  for (int i = 0; i < 20 * 128; ++i) {
    step();
    highest = std::max(highest, r->gear);
  }
  EXPECT_GE(highest, 2);
  EXPECT_GT(speed(r), 80);
}

}  // namespace
