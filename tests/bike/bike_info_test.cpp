// Tests of the bike database: invariants of every record, the reference rows, the lookup.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "bike/bike_info.h"
#include "core/console.h"

namespace {

float curve_at(const float* curve, float rpm) {
  float x = rpm / torque_rpm_step;
  int i = static_cast<int>(std::floor(x));
  if (i >= torque_points - 1) return curve[torque_points - 1];
  float t = x - static_cast<float>(i);
  return curve[i] + (curve[i + 1] - curve[i]) * t;
}

void expect_positive_wheel(const WheelSpec& w, const char* name) {
  EXPECT_GT(w.torus_radius, 0) << name;
  EXPECT_GT(w.tyre_radius, 0) << name;
  EXPECT_GT(w.ring_mass, 0) << name;
  EXPECT_GT(w.hub_radius, 0) << name;
  EXPECT_GT(w.hub_mass, 0) << name;
}

TEST(BikeInfo, EveryRecordKeepsTheInvariants) {
  for (const BikeInfo& b : bike_info_table) {
    const char* n = b.model_name;
    ASSERT_NE(n, nullptr);
    SCOPED_TRACE(n);
    EXPECT_TRUE(!strcmp(b.engine_class, "450f") || !strcmp(b.engine_class, "250f") ||
                !strcmp(b.engine_class, "250") || !strcmp(b.engine_class, "125") ||
                !strcmp(b.engine_class, "50"));
    expect_positive_wheel(b.front_wheel, n);
    expect_positive_wheel(b.rear_wheel, n);
    EXPECT_GT(b.frame_mass, 0);
    EXPECT_GT(b.fork_mass, 0);
    EXPECT_GT(b.swingarm_mass, 0);
    EXPECT_GT(b.rider_mass, 0);
    for (float s : b.frame_size) EXPECT_GT(s, 0);
    EXPECT_GT(b.fork_leg_spacing, 0);
    EXPECT_GT(b.fork_tube_length, 0);
    EXPECT_GT(b.fork_travel, 0);
    EXPECT_GT(b.swingarm_travel, 0);
    EXPECT_GT(b.engine_inertia, 0);
    EXPECT_GT(b.clutch_stiffness, 0);
    EXPECT_GT(b.clutch_damping, 0);
    EXPECT_GT(b.primary_reduction, 0);
    EXPECT_GE(b.front_sprocket, 3);
    EXPECT_GT(b.rear_sprocket, b.front_sprocket);
    for (float l : b.shock_leverage) EXPECT_GT(l, 0);
    // Ranges.
    EXPECT_LT(b.fork_spring_rate[0], b.fork_spring_rate[1]);
    EXPECT_GT(b.fork_spring_rate[0], 0);
    EXPECT_LT(b.fork_preload[0], b.fork_preload[1]);
    EXPECT_GT(b.fork_air_gap[0], b.fork_air_gap[1]);  // more oil, shorter air column
    EXPECT_GT(b.fork_air_gap[1], 0);
    EXPECT_LT(b.shock_spring_rate[0], b.shock_spring_rate[1]);
    EXPECT_GT(b.shock_spring_rate[0], 0);
    EXPECT_LT(b.shock_preload[0], b.shock_preload[1]);
    EXPECT_LT(b.rider_travel[0], b.rider_travel[1]);
    // Gears: first gear exists, ratios fall, missing gears only at the end.
    EXPECT_GT(b.gear_ratio[0], 0);
    bool missing = false;
    for (int g = 1; g < gear_count; ++g) {
      if (b.gear_ratio[g] <= 0) {
        missing = true;
        continue;
      }
      EXPECT_FALSE(missing) << "gear " << g + 1 << " after a missing gear";
      EXPECT_LT(b.gear_ratio[g], b.gear_ratio[g - 1]) << "gear " << g + 1;
    }
    // Engine: the open curve is positive below the limit, 0 at it, negative above.
    EXPECT_GT(b.rev_limit_rpm, b.shift_up_rpm);
    EXPECT_GT(b.shift_up_rpm, b.shift_down_rpm);
    EXPECT_GT(b.shift_down_rpm, 0);
    EXPECT_NEAR(curve_at(b.open_torque, b.rev_limit_rpm), 0, 1e-3);
    for (float rpm = 0; rpm < b.rev_limit_rpm - 1; rpm += 250)
      EXPECT_GT(curve_at(b.open_torque, rpm), 0) << rpm;
    for (float rpm = b.rev_limit_rpm + 250; rpm <= 24500; rpm += 250)
      EXPECT_LT(curve_at(b.open_torque, rpm), 0) << rpm;
    for (int i = 0; i < torque_points; ++i) {
      EXPECT_TRUE(std::isfinite(b.open_torque[i]));
      EXPECT_LT(b.closed_torque[i], b.open_torque[i] + 40);
      EXPECT_LE(b.closed_torque[i], 2);
      if (i > 0) {
        EXPECT_LE(b.closed_torque[i], b.closed_torque[i - 1]);
      }
    }
    for (const char* f : {b.frame_model, b.frame_shape, b.bike_texture, b.fork_upper_model,
                          b.fork_upper_shape, b.fork_lower_model, b.fork_lower_shape,
                          b.swingarm_model, b.swingarm_shape, b.front_wheel_model,
                          b.front_wheel_shape, b.rear_wheel_model, b.rear_wheel_shape,
                          b.wheel_texture, b.head_model, b.head_texture, b.rider_body_model,
                          b.rider_body_fp_model, b.rider_shape, b.rider_texture,
                          b.side_plates_model, b.front_plate_model, b.rider_plate_model}) {
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f[0], '@') << f;
    }
    // Rows shared by every model.
    const BikeInfo& ref = bike_info_table[0];
    EXPECT_EQ(0, memcmp(&b.front_wheel, &ref.front_wheel, sizeof b.front_wheel));
    EXPECT_EQ(0, memcmp(&b.rear_wheel, &ref.rear_wheel, sizeof b.rear_wheel));
    EXPECT_EQ(0, memcmp(b.pose_points, ref.pose_points, sizeof b.pose_points));
    EXPECT_EQ(b.fork_compression_damping, ref.fork_compression_damping);
    EXPECT_EQ(b.shock_compression_damping, ref.shock_compression_damping);
  }
}

TEST(BikeInfo, NamesAreUniqueAndInTheFixedOrder) {
  const char* order[] = {
      "crf450(2013)", "kx450f(2013)", "rmz450(2013)", "yz450f(2013)", "450sxf(2013)",
      "350sxf(2013)", "crf450(2011)", "kx450f(2011)", "rmz450(2011)", "yz450f(2011)",
      "450sxf(2011)", "350sxf(2011)", "250sx(2012)", "cr250(2007)", "kx250(2006)",
      "rm250(2008)", "yz250(2012)", "crf250(2013)", "kx250f(2013)", "rmz250(2013)",
      "yz250f(2013)", "250sxf(2013)", "crf250(2009)", "kx250f(2009)", "rmz250(2009)",
      "yz250f(2009)", "250sxf(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)",
      "yz250f(2008)", "cr125", "kx125", "rm125", "yz125", "125sx", "crf250(2007)",
      "kx250f(2007)", "rmz250(2007)", "yz250f(2007)", "yz250f_se(2006)", "rs50cr", "rs50kx",
      "rs50rm", "rs50yz"};
  static_assert(std::size(order) == bike_info_count);
  for (int i = 0; i < bike_info_count; ++i) {
    EXPECT_STREQ(bike_info_table[i].model_name, order[i]);
    for (int j = 0; j < i; ++j) EXPECT_STRNE(bike_info_table[i].model_name, order[j]);
  }
}

TEST(BikeInfo, ReferenceModelMatchesItsPublishedValues) {
  const BikeInfo* b = bike_info_find("crf450(2013)");
  EXPECT_EQ(b, &bike_info_table[0]);
  EXPECT_FLOAT_EQ(b->front_wheel.centre[2], 1.11f);
  EXPECT_FLOAT_EQ(b->rear_wheel.torus_radius, 0.75f);
  EXPECT_FLOAT_EQ(b->frame_mass, 4.735f);
  EXPECT_FLOAT_EQ(b->fork_spring_rate[1], 913.878f);
  EXPECT_FLOAT_EQ(b->shock_spring_rate[0], 2486.29f);
  EXPECT_FLOAT_EQ(b->primary_reduction, 2.73913f);
  EXPECT_FLOAT_EQ(b->rear_sprocket, 48);
  EXPECT_FLOAT_EQ(b->gear_ratio[1], 1.47059f);
  EXPECT_LE(b->gear_ratio[5], 0);
  EXPECT_FLOAT_EQ(b->open_torque[14], 31);
  EXPECT_FLOAT_EQ(b->open_torque[24], 0);
  EXPECT_FLOAT_EQ(b->open_torque[25], -10);
  EXPECT_FLOAT_EQ(b->open_torque[49], -34);
  const float closed_head[] = {2, 2, 1, 0, -1, -1, -2, -2, -3};
  for (int i = 0; i < 9; ++i) EXPECT_FLOAT_EQ(b->closed_torque[i], closed_head[i]) << i;
  EXPECT_FLOAT_EQ(b->closed_torque[48], -23);
  EXPECT_FLOAT_EQ(b->closed_torque[49], -23);
  EXPECT_STREQ(b->frame_model, "@crf450v2013_frame.vm");
  EXPECT_STREQ(b->side_plates_model, "@crf450v2013_side_plates.vm");
  EXPECT_STREQ(b->bike_texture, "@crf450v2013.png");
  EXPECT_FLOAT_EQ(b->pose_points[pose_grip_right], 1.097f);
  EXPECT_FLOAT_EQ(b->pose_points[pose_shin], 1.701f);
}

struct TellingRow {
  const char* name;
  const char* engine_class;
  float frame_mass, fork_mass, swingarm_mass, fork_rate_min, fork_rebound, shock_rate_max;
  float primary, front, rear, gear1, gear6, inertia, clutch_k, shift_up, rev_limit, rider_mass;
};

TEST(BikeInfo, TellingRowsOfEachClass) {
  const TellingRow rows[] = {
      {"250sx(2012)", "250", 4.36562f, 0.75375f, 0.589375f, 322.55f, 30, 4770.98f, 2.76923f,
       13, 48, 2.0f, -1, 0.00683594f, 7500, 9000, 10500, 5.46875f},
      {"yz250f(2013)", "250f", 4.24f, 0.703125f, 0.504375f, 335.98f, 30, 4905.37f, 3.35294f,
       13, 50, 2.1429f, -1, 0.00488281f, 7500, 12500, 13250, 4.6875f},
      {"cr125", "125", 3.65375f, 0.739688f, 0.541875f, 322.55f, 30, 4502.19f, 3.15f, 13, 52,
       2.3571f, -1, 0.00488281f, 7500, 12000, 12750, 4.6875f},
      {"rs50cr", "50", 3.34125f, 0.739688f, 0.541875f, 309.11f, 30, 4502.19f, 3.71429f, 12,
       55, 3.0909f, 0.9565f, 0.00119358f, 1200, 12000, 12750, 4.6875f},
  };
  for (const TellingRow& r : rows) {
    SCOPED_TRACE(r.name);
    const BikeInfo* b = bike_info_find(r.name);
    EXPECT_STREQ(b->model_name, r.name);
    EXPECT_STREQ(b->engine_class, r.engine_class);
    EXPECT_FLOAT_EQ(b->frame_mass, r.frame_mass);
    EXPECT_FLOAT_EQ(b->fork_mass, r.fork_mass);
    EXPECT_FLOAT_EQ(b->swingarm_mass, r.swingarm_mass);
    EXPECT_FLOAT_EQ(b->fork_spring_rate[0], r.fork_rate_min);
    EXPECT_FLOAT_EQ(b->fork_rebound_damping, r.fork_rebound);
    EXPECT_FLOAT_EQ(b->shock_spring_rate[1], r.shock_rate_max);
    EXPECT_FLOAT_EQ(b->primary_reduction, r.primary);
    EXPECT_FLOAT_EQ(b->front_sprocket, r.front);
    EXPECT_FLOAT_EQ(b->rear_sprocket, r.rear);
    EXPECT_FLOAT_EQ(b->gear_ratio[0], r.gear1);
    EXPECT_FLOAT_EQ(b->gear_ratio[5], r.gear6);
    EXPECT_FLOAT_EQ(b->engine_inertia, r.inertia);
    EXPECT_FLOAT_EQ(b->clutch_stiffness, r.clutch_k);
    EXPECT_FLOAT_EQ(b->shift_up_rpm, r.shift_up);
    EXPECT_FLOAT_EQ(b->rev_limit_rpm, r.rev_limit);
    EXPECT_FLOAT_EQ(b->rider_mass, r.rider_mass);
  }
  // Two-stroke engine braking falls slowly at first; the 50 class brakes with half of it.
  const BikeInfo* cr = bike_info_find("cr125");
  const BikeInfo* rs = bike_info_find("rs50cr");
  EXPECT_FLOAT_EQ(cr->closed_torque[3], 0);
  EXPECT_FLOAT_EQ(cr->closed_torque[5], -1.2f);
  EXPECT_FLOAT_EQ(cr->closed_torque[17], -5);
  EXPECT_FLOAT_EQ(rs->closed_torque[17], -2.5f);
  float peak = 0, peak_rpm = 0;
  for (int i = 0; i < torque_points; ++i)
    if (rs->open_torque[i] > peak) peak = rs->open_torque[i], peak_rpm = i * torque_rpm_step;
  EXPECT_NEAR(peak, 4.3f, 0.01f);
  EXPECT_FLOAT_EQ(peak_rpm, 9500);
}

TEST(BikeInfo, LookupFallsBackByFamily) {
  struct Case {
    const char* asked;
    const char* found;
    bool fallback;
  };
  const Case cases[] = {
      {"cr250(2007)", "cr250(2007)", false},
      {"yz250f_se(2006)", "yz250f_se(2006)", false},
      {"foo125", "cr125", true},
      {"foo", "kx250f(2013)", true},
      {"CRF450(2013)", "kx250f(2013)", true},  // exact, case-sensitive
      {"", "kx250f(2013)", true},
  };
  for (const Case& c : cases) {
    console_clear();
    const BikeInfo* b = bike_info_find(c.asked);
    EXPECT_STREQ(b->model_name, c.found) << c.asked;
    const char* line = console_line(0);
    if (c.fallback) {
      ASSERT_NE(line, nullptr);
      std::string want = std::string("bike info for '") + c.asked + "' not found using '" +
                         c.found + "' instead";
      EXPECT_NE(std::string(line).find(want), std::string::npos) << line;
    }
    EXPECT_EQ(bike_info_index(b) >= 0 && bike_info_index(b) < bike_info_count, true);
  }
}

}  // namespace
