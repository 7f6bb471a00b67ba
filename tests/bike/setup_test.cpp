// Bike setup reaching the rider: presets, setters with the out-of-range flag, conversions,
// the refused apply and its message, and the defaults that robots and replays keep.
#include <cmath>
#include <cstring>

#include "bike/setup.h"
#include "core/console.h"
#include "core/setup_file.h"
#include "ride_fixture.h"

namespace {

constexpr float pi = 3.14159265358979f;

struct SetupTest : RideTest {
  BikeSetup setup{};
  void SetUp() override {
    RideTest::SetUp();
    setup_set_defaults(&setup);
    setup_stability_preset(&setup, setup.stability);
    setup_out_of_range = false;
    setup_arcade_disabled = false;
    console_clear();
  }
  void TearDown() override {
    setup_out_of_range = false;
    setup_arcade_disabled = false;
    RideTest::TearDown();
  }
  static int console_count(const char* text) {
    int n = 0;
    for (int i = 0; console_line(i); ++i)
      if (std::strstr(console_line(i), text)) ++n;
    return n;
  }
};

TEST_F(SetupTest, StabilityPresetsInterpolate) {
  setup_stability_preset(&setup, 50);
  EXPECT_DOUBLE_EQ(setup.roll_damping, 65);
  EXPECT_DOUBLE_EQ(setup.roll_limit_angle, 42.5);
  EXPECT_DOUBLE_EQ(setup.roll_limit_factor, 21);
  EXPECT_DOUBLE_EQ(setup.slow_damping_factor, 1.75);
  EXPECT_DOUBLE_EQ(setup.restricted_lock, 7.5);
  const struct {
    double stability, direct;
  } cases[] = {{100, 0}, {90, 0.5}, {80, 1}, {20, 1}, {0, 1}, {250, 0}, {-10, 1}};
  for (const auto& c : cases) {
    setup_stability_preset(&setup, c.stability);
    EXPECT_DOUBLE_EQ(setup.direct_steering, c.direct) << c.stability;
  }
}

TEST_F(SetupTest, SettersClampAndFlagBeyondAnEighthOfTheRange) {
  Rider* r = add();
  const struct {
    void (*set)(Rider*, float);
    float value, expect;
    bool flag;
    float RiderAssists::*field;
  } cases[] = {
      {setup_set_roll_damping, 150, 100, true, &RiderAssists::roll_damping},
      {setup_set_roll_damping, 112, 100, false, &RiderAssists::roll_damping},
      {setup_set_roll_damping, -12.5f, 0, false, &RiderAssists::roll_damping},
      {setup_set_roll_damping, -13, 0, true, &RiderAssists::roll_damping},
      {setup_set_max_dab_speed, 5, 7, false, &RiderAssists::max_dab_speed},
      {setup_set_max_dab_speed, -5, 7, true, &RiderAssists::max_dab_speed},
      {setup_set_restricted_lock, 1, pi / 4, true, &RiderAssists::restricted_lock},
      {setup_set_slow_damping_factor, 0.5f, 1, false, &RiderAssists::slow_damping_factor},
      {setup_set_auto_clutch_rpm, 5625, 5000, false, &RiderAssists::auto_clutch_rpm},
      {setup_set_auto_clutch_rpm, 5630, 5000, true, &RiderAssists::auto_clutch_rpm},
      {setup_set_leveling, NAN, 0, true, &RiderAssists::leveling},
  };
  for (const auto& c : cases) {
    setup_out_of_range = false;
    c.set(r, c.value);
    EXPECT_FLOAT_EQ(r->assists.*c.field, c.expect) << c.value;
    EXPECT_EQ(setup_out_of_range, c.flag) << c.value;
  }
  setup_out_of_range = false;
  setup_set_mass_distribution(r, 0.31f);
  EXPECT_FLOAT_EQ(r->mass_distribution, 0.33f);
  EXPECT_FALSE(setup_out_of_range) << "0.30875 is the edge";
  setup_set_mass_distribution(r, 0.30f);
  EXPECT_TRUE(setup_out_of_range);
}

TEST_F(SetupTest, ApplyConvertsMenuValues) {
  Rider* r = ride();
  setup.front_sprocket_adjustment = -2;
  setup.fork_compression_adjustment = 0;
  setup.fork_rebound_adjustment = 100;
  setup.shock_spring_rate_adjustment = 100;
  setup.fork_oil_level_adjustment = 100;
  setup.max_dab_speed = 20;
  setup.stop_wheelies = 2;
  setup.rider_mass_distribution = 0.5;
  ASSERT_TRUE(setup_apply(r, &setup, 0));
  const BikeInfo& b = r->info;
  EXPECT_NEAR(r->final_drive, 48.0f / 11, 1e-5);
  EXPECT_FLOAT_EQ(r->fork_compression_damping, b.fork_compression_damping / 2);
  EXPECT_FLOAT_EQ(r->fork_rebound_damping, b.fork_rebound_damping * 2);
  EXPECT_FLOAT_EQ(r->shock_compression_damping, b.shock_compression_damping);
  EXPECT_FLOAT_EQ(r->shock_spring_rate, b.shock_spring_rate[1]);
  EXPECT_FLOAT_EQ(r->fork_air_gap, b.fork_air_gap[1]);
  EXPECT_NEAR(r->assists.max_dab_speed, 29.333f, 1e-3);
  EXPECT_NEAR(r->assists.roll_limit_angle, 35 * pi / 180, 1e-5);
  EXPECT_NEAR(r->assists.restricted_lock, 5 * pi / 180, 1e-6);
  EXPECT_FALSE(r->assists.wheelie_guard);
  EXPECT_TRUE(r->assists.stoppie_guard);
  EXPECT_TRUE(r->assists.arcade);
  EXPECT_TRUE(r->assists.auto_shift);
  EXPECT_TRUE(r->assists.front_antilock);
  EXPECT_FALSE(r->assists.rear_antilock);
  EXPECT_FLOAT_EQ(r->mass_distribution, 0.5f);
  EXPECT_FALSE(setup_out_of_range);
  // Sprocket teeth never fall below 3, and the adjustments stay within two teeth.
  r->info.front_sprocket = 4;
  setup_set_sprockets(r, -2, 0);
  EXPECT_FLOAT_EQ(r->final_drive, 48.0f / 3);
  setup_set_sprockets(r, 0, 5);
  EXPECT_FLOAT_EQ(r->final_drive, 50.0f / 4);
  EXPECT_TRUE(setup_out_of_range);

  setup.stop_wheelies = 1;
  setup_arcade_disabled = true;
  ASSERT_TRUE(setup_apply(r, &setup, 0));
  EXPECT_TRUE(r->assists.wheelie_guard);
  EXPECT_TRUE(r->assists.stoppie_guard);
  EXPECT_FALSE(r->assists.arcade) << "the server disabled arcade physics";
}

TEST_F(SetupTest, FileValueOutOfRangeIsClampedAndFlagged) {
  Rider* r = ride();
  ASSERT_EQ(setup_read_line(&setup, "roll_damping", "150"), 1);
  setup.roll_damping = 150;  // whatever the file layer kept, the setter clamps
  ASSERT_TRUE(setup_apply(r, &setup, 0));
  EXPECT_EQ(r->assists.roll_damping, 100);
  EXPECT_TRUE(setup_out_of_range);
}

// A moving bike refuses the setup; every refusal is said, at most once a second.
TEST_F(SetupTest, RefusedWhileMovingAndSaidEveryTime) {
  Rider* r = ride();
  launch(r, 5);
  const float before = r->assists.roll_damping;
  setup.roll_damping = 10;
  const char* text = "Settings not applied.  Mechanic can't keep up error.";
  EXPECT_FALSE(setup_apply(r, &setup, 100));
  EXPECT_EQ(console_count(text), 1);
  EXPECT_FALSE(setup_apply(r, &setup, 103));
  EXPECT_EQ(console_count(text), 2);
  EXPECT_FALSE(setup_apply(r, &setup, 103.5));
  EXPECT_EQ(console_count(text), 2) << "not twice within a second";
  EXPECT_FALSE(setup_apply(r, &setup, 104.5));
  EXPECT_EQ(console_count(text), 3);
  EXPECT_EQ(r->assists.roll_damping, before);
  for (int i = 0; i < bike_body_count; ++i) dBodySetLinearVel(r->body[i], 0.1, 0, 0);
  EXPECT_TRUE(setup_apply(r, &setup, 105)) << "0.1 ft/s counts as standing";
  EXPECT_EQ(r->assists.roll_damping, 10);
}

// Robots and replayed riders never get a setup: they ride on the rider defaults.
TEST_F(SetupTest, RiderDefaultsAreWhatEveryBikeStartsWith) {
  for (const char* model : {"crf450(2013)", "yz250f(2013)", "250sx(2012)", "cr125", "rs50cr"}) {
    Rider* r = add(model);
    Rider copy = *r;
    setup_rider_defaults(&copy);
    EXPECT_EQ(std::memcmp(&copy.assists, &r->assists, sizeof r->assists), 0) << model;
    EXPECT_FLOAT_EQ(copy.final_drive, r->final_drive);
    EXPECT_FLOAT_EQ(copy.fork_spring_rate, r->fork_spring_rate);
    EXPECT_FLOAT_EQ(copy.shock_spring_rate, r->shock_spring_rate);
    EXPECT_FLOAT_EQ(copy.shock_preload, r->shock_preload);
    EXPECT_FLOAT_EQ(copy.fork_air_gap, r->fork_air_gap);
    EXPECT_FLOAT_EQ(r->assists.max_dab_speed, 30);
    EXPECT_FALSE(r->assists.arcade);
    EXPECT_FALSE(r->assists.auto_shift);
    EXPECT_TRUE(r->assists.auto_align);
  }
  Rider* ghost = riders.back();
  setup_replay_defaults(ghost);
  EXPECT_EQ(ghost->assists.roll_damping, 100);
  EXPECT_EQ(ghost->assists.full_lock_speed, 5);
  EXPECT_NEAR(ghost->assists.restricted_lock, 0.0436332f, 1e-7);
  EXPECT_FALSE(setup_out_of_range);
}

TEST_F(SetupTest, MetricReadouts) {
  const BikeInfo* b = bike_info_find("crf450(2013)");
  char text[32];
  setup.front_sprocket_adjustment = -1;
  ASSERT_TRUE(setup_readout(&setup, b, "front_sprocket_adjustment", text, sizeof text));
  EXPECT_STREQ(text, "12.00 teeth");
  setup.fork_oil_level_adjustment = 0;
  ASSERT_TRUE(setup_readout(&setup, b, "fork_oil_level_adjustment", text, sizeof text));
  EXPECT_STREQ(text, "127.00 mm");
  setup.fork_spring_rate_adjustment = 0;
  ASSERT_TRUE(setup_readout(&setup, b, "fork_spring_rate_adjustment", text, sizeof text));
  EXPECT_STREQ(text, "0.280 kg/mm");
  EXPECT_FALSE(setup_readout(&setup, b, "roll_damping", text, sizeof text));
  EXPECT_FALSE(setup_readout(&setup, nullptr, "fork_preload_adjustment", text, sizeof text));
}

}  // namespace
