// Setup files: the key order, round trips, the stability preset and out-of-range values.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "bike/setup.h"
#include "core/settings.h"
#include "core/setup_file.h"
#include "test_support.h"

namespace {

struct SetupFixture : ::testing::Test {
  DataRootsFixture roots;
  BikeSetup setup;
  void SetUp() override {
    setup_set_defaults(&setup);
    texture_lists_build_all(&setup);
    setup_file_out_of_range = false;
  }
};

TEST_F(SetupFixture, WrittenInKeyOrderAndReadBackByteIdentical) {
  setup.stability = 55;
  setup.stop_wheelies = 2;
  setup.front_sprocket_adjustment = -2;
  std::snprintf(setup.number, sizeof setup.number, "7");
  ASSERT_TRUE(setup_file_write(&setup, "@setups/mine"));
  std::string first = read_file(roots.home + "setups/mine");
  EXPECT_EQ(first.rfind("bike=450sxf(2013)\nname=Oren Sandline\nnumber=7\nrider_texture=default\n"
                        "head_texture=default\nbike_texture=default\nwheel_texture=default\n"
                        "stability=55.000000\nleveling=20.000000\n", 0), 0u);
  EXPECT_NE(first.find("restricted_lock=7.500000\narcade=Yes\nfront_brake=Antilock\nrear_brake=Normal\n"
                       "stop_wheelies=Front Only\n"), std::string::npos);
  EXPECT_NE(first.find("front_sprocket_adjustment=-2.000000\n"), std::string::npos);
  EXPECT_EQ(first.substr(first.size() - 33), "rider_mass_distribution=0.330000\n");

  BikeSetup again;
  setup_set_defaults(&again);
  ASSERT_TRUE(setup_file_read(&again, "@setups/mine"));
  ASSERT_TRUE(setup_file_write(&again, "@setups/mine"));
  EXPECT_EQ(read_file(roots.home + "setups/mine"), first);
  EXPECT_STREQ(again.number, "7");
  EXPECT_EQ(again.stop_wheelies, 2);
  EXPECT_FALSE(setup_file_read(&again, "@setups/none"));
}

TEST_F(SetupFixture, StabilityPresetThenAdvancedKeys) {
  write_file(roots.home + "s40", "stability=40\nroll_damping=90\n");
  ASSERT_TRUE(setup_file_read(&setup, "@s40"));
  EXPECT_EQ(setup.roll_damping, 90);
  EXPECT_EQ(setup.roll_limit_angle, 45);
  EXPECT_EQ(setup.roll_limit_factor, 10);
  EXPECT_EQ(setup.slow_damping_factor, 1.5);
  EXPECT_EQ(setup.restricted_lock, 10);
  // An advanced key before "stability" is overridden by its preset.
  write_file(roots.home + "s40b", "roll_damping=90\nstability=40\n");
  ASSERT_TRUE(setup_file_read(&setup, "@s40b"));
  EXPECT_EQ(setup.roll_damping, 60);
}

TEST(SetupPreset, InterpolatesBetweenRows) {
  BikeSetup s;
  setup_set_defaults(&s);
  setup_stability_preset(&s, 50);
  EXPECT_DOUBLE_EQ(s.roll_damping, 65);
  EXPECT_DOUBLE_EQ(s.roll_limit_angle, 42.5);
  EXPECT_DOUBLE_EQ(s.roll_limit_factor, 21);
  EXPECT_DOUBLE_EQ(s.slow_damping_factor, 1.75);
  EXPECT_DOUBLE_EQ(s.restricted_lock, 7.5);
  struct Case {
    double stability, direct;
  } cases[] = {{100, 0}, {90, 0.5}, {80, 1}, {0, 1}, {150, 0}, {-20, 1}};
  for (const Case& c : cases) {
    setup_stability_preset(&s, c.stability);
    EXPECT_DOUBLE_EQ(s.direct_steering, c.direct) << c.stability;
  }
}

TEST_F(SetupFixture, ValuesAreClampedAndFarOutliersFlagged) {
  EXPECT_EQ(setup_read_line(&setup, "roll_damping", "110"), 1);
  EXPECT_EQ(setup.roll_damping, 100);
  EXPECT_FALSE(setup_file_out_of_range);  // within 1/8 of the range
  setup_read_line(&setup, "roll_damping", "150");
  EXPECT_EQ(setup.roll_damping, 100);
  EXPECT_TRUE(setup_file_out_of_range);
  setup_read_line(&setup, "roll_damping", "nan");
  EXPECT_EQ(setup.roll_damping, 100);
  setup_read_line(&setup, "arcade", "No");
  EXPECT_EQ(setup.arcade, 0);
  setup_read_line(&setup, "arcade", "Maybe");
  EXPECT_EQ(setup.arcade, 0);
  setup_read_line(&setup, "name", std::string(100, 'a').c_str());
  EXPECT_EQ(std::string(setup.name), std::string(63, 'a'));
  EXPECT_EQ(setup_read_line(&setup, "laps", "3"), 0);  // not a setup key
}

TEST(SetupTable, DefaultsFollowTheTable) {
  BikeSetup s;
  setup_set_defaults(&s);
  EXPECT_EQ(s.bike, 0);
  EXPECT_STREQ(s.name, "Oren Sandline");
  EXPECT_STREQ(s.number, "999");
  EXPECT_EQ(s.roll_damping, 60);
  EXPECT_EQ(s.max_dab_speed, 20);
  EXPECT_EQ(s.rider_mass_distribution, 0.33);
  EXPECT_EQ(s.reverse_steering, 1);
  EXPECT_EQ(s.sticky_dab, 0);
  int n = 0;
  const SettingDef* t = setup_table(&n);
  ASSERT_EQ(n, 53);
  EXPECT_STREQ(t[0].key, "bike");
  EXPECT_STREQ(t[n - 1].key, "rider_mass_distribution");
  for (int i = 0; i < n; i++) {
    if (t[i].kind != setting_number) continue;
    EXPECT_LE(t[i].minimum, t[i].default_value) << t[i].key;
    EXPECT_GE(t[i].maximum, t[i].default_value) << t[i].key;
  }
}

}  // namespace
