// Auto pilot planning tests: personalities and modes, picks by two robots, splicing, traffic.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bike/rider.h"
#include "core/session.h"
#include "race/race.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "track/timing_gates.h"
#include "core/memory.h"
#include "core/random.h"

namespace {

TEST(Personalities, NamesModesAndLeading) {
  EXPECT_EQ(personality_find("zolt"), 1);
  EXPECT_EQ(personality_find("quenby"), 2);
  EXPECT_EQ(personality_find("osmer"), 3);
  EXPECT_EQ(personality_find("tester"), 4);
  EXPECT_EQ(personality_find("empty"), -1);  // not a robot's name
  EXPECT_EQ(personality_find("nobody"), -1);
  Rider r = {};
  r.slot = 7;
  set_personality(&r, "nobody");
  EXPECT_EQ(robot_state[7].personality, 1);
  set_personality(&r, "tester");
  EXPECT_EQ(robot_state[7].personality, 4);
  const Personality* q = personality(2);
  EXPECT_EQ(auto_pilot_cost_mode(q, false, 50), 2);
  EXPECT_EQ(auto_pilot_cost_mode(q, true, 9.9f), 2);
  EXPECT_EQ(auto_pilot_cost_mode(q, true, 10.1f), 1);
  robot_state_reset(7);
}

struct PickTest : ::testing::Test {
  void SetUp() override {
    race = RaceState{};
    timing_gates_free();
    lines_create(2, 2);
    for (int s = 0; s < max_riders; ++s) {
      rider_lines_reset(s);
      robot_state_reset(s);
    }
  }
  void TearDown() override {
    for (int s = 0; s < max_riders; ++s) rider_lines_reset(s);
    lines_destroy();
  }
  static std::vector<LineSample> straight(float x0, float z, int n) {
    std::vector<LineSample> v;
    for (int k = 0; k < n; ++k) v.push_back(LineSample{x0 + 10.0f * k, 1, z, 40, 0});
    return v;
  }
};

TEST_F(PickTest, TwoRobotsInOneTickPickApart) {
  // Two lines ending 10 ft apart, equally untested; a third ends within 3 ft of the first.
  auto a = straight(0, 0, 6), b = straight(0, 10, 6), c = straight(0, 1, 6);
  c[0].z = 30;  // starts elsewhere, ends beside a
  lines_insert(0, a.data(), 6);
  lines_insert(0, b.data(), 6);
  lines_insert(0, c.data(), 6);
  lines_reset_pick_ticks();
  race.race_tick = 1000;
  float frame[3] = {0, 1, 5}, forward[3] = {1, 0, 0};
  int first = auto_pilot_pick(3, 3, frame, forward);
  ASSERT_GE(first, 0);
  EXPECT_EQ(line_store.slots[0][first].last_picked, 1000);
  EXPECT_EQ(rider_lines[3].picked_line[0], line_store.slots[0][first].line_id);
  EXPECT_EQ(robot_state[3].plan_segment, 1);
  int second = auto_pilot_pick(4, 3, frame, forward);
  ASSERT_GE(second, 0);
  EXPECT_NE(second, first);
  // Lines ending within 3 ft of a pick count as picked too.
  EXPECT_EQ(line_store.slots[0][0].last_picked, 1000);
  EXPECT_EQ(line_store.slots[0][2].last_picked, 1000);
  // The first pick starts more than 10 ft into the path and gives the watchdog 30 s.
  const RiderLines& rl = rider_lines[3];
  ASSERT_GT(rl.path.count, 5);
  float dx = rl.path.items[rl.path_index].x - rl.path.items[0].x;
  float dz = rl.path.items[rl.path_index].z - rl.path.items[0].z;
  EXPECT_GT(dx * dx + dz * dz, 100.0f);
  EXPECT_EQ(robot_state[3].last_advance_tick, 3840);
}

TEST_F(PickTest, EmptySlotPicksNothingAndSpliceIsContinuous) {
  float frame[3] = {0, 1, 0}, forward[3] = {1, 0, 0};
  EXPECT_EQ(auto_pilot_pick(2, 0, frame, forward), -1);  // no lines: the robot stays
  auto a = straight(0, 0, 8);
  auto b = straight(80, 1.5f, 8);  // continues a, 1.5 ft to the side
  lines_insert(0, a.data(), 8);
  lines_insert(1, b.data(), 8);
  ASSERT_GE(auto_pilot_pick(2, 3, frame, forward), 0);
  ASSERT_GE(auto_pilot_pick(2, 3, frame, forward), 0);
  const RiderLines& rl = rider_lines[2];
  ASSERT_EQ(rl.path.count, 5 + 8 + 8);
  // No step of the path is much longer than the lines' own, and no side jump: the junction
  // bends smoothly over to the new line.
  for (int k = 1; k < rl.path.count; ++k) {
    float dx = rl.path.items[k].x - rl.path.items[k - 1].x, dz = rl.path.items[k].z - rl.path.items[k - 1].z;
    EXPECT_LE(std::hypot(dx, dz), 10.5f) << k;
    EXPECT_LE(std::fabs(dz), 1.0f) << k;
    EXPECT_LE(std::fabs(rl.path.items[k].speed), 40.0f);
  }
  EXPECT_FLOAT_EQ(rl.path.items[rl.path.count - 1].z, 1.5f);
}

TEST(Traffic, FootprintsAndTheStandingRiderAhead) {
  // A rider standing 15 ft ahead of a robot riding along +x at 20 ft/s.
  float p[3] = {0, 0, 0}, v[3] = {20, 0, 0};
  float op[3] = {15, 0, 0}, ov[3] = {0, 0, 0};
  Footprint robot = traffic_footprint(p, v), other = traffic_footprint(op, ov);
  float d2 = 0;
  EXPECT_TRUE(traffic_blocks(robot, other, &d2));
  EXPECT_FLOAT_EQ(d2, 225.0f);
  bool clear = false;
  EXPECT_FLOAT_EQ(traffic_speed(p, v, 1e6f, 40.0f, op, ov, 10.0f, &clear), 0.0f);
  // The same rider behind the robot does not block it.
  float behind[3] = {-15, 0, 0};
  EXPECT_FALSE(traffic_blocks(robot, traffic_footprint(behind, ov), &d2));
  // Riders heading exactly the same way or exactly the opposite way have parallel edges.
  for (float dir : {1.0f, -1.0f}) {
    float q[3] = {10, 0, 0.5f}, qv[3] = {18 * dir, 0, 0};
    EXPECT_FALSE(traffic_blocks(robot, traffic_footprint(q, qv), &d2)) << dir;
  }
  // Far behind a slower rider that braking cannot reach yet: no change.
  float far[3] = {400, 0, 0}, slow[3] = {10, 0, 0};
  EXPECT_FLOAT_EQ(traffic_speed(p, v, 1e6f, 40.0f, far, slow, 30.0f, &clear), 40.0f);
  EXPECT_FALSE(clear);
}

TEST(Traffic, RiderStraightAheadInTheLane) {
  // A robot at 20 ft/s along +x; the footprints reach 24 ft ahead and 4 ft behind.
  float p[3] = {0, 0, 0}, v[3] = {20, 0, 0};
  const Footprint robot = traffic_footprint(p, v);
  struct Case {
    float x, z, vx, vz;
    bool in_lane;
  } cases[] = {
      {10, 0.5f, 18, 0, true},   // parallel, just ahead: the crossing-edge test misses it
      {27, -3, 15, 0, true},     // near the end of the reach and the lane's edge
      {29, 0, 15, 0, false},     // beyond the two footprints' 28 ft
      {10, 4.5f, 18, 0, false},  // in the next lane
      {-10, 0, 18, 0, false},    // behind
  };
  for (const Case& c : cases) {
    float op[3] = {c.x, 0, c.z}, ov[3] = {c.vx, 0, c.vz}, d2 = 0;
    EXPECT_EQ(traffic_in_lane(robot, traffic_footprint(op, ov), &d2), c.in_lane) << c.x << " " << c.z;
    EXPECT_FLOAT_EQ(d2, c.x * c.x + c.z * c.z);
  }
  // Side by side and a little apart in heading: only one of the two waits for the other.
  float a[3] = {0, 0, 0}, av[3] = {20, 0, 1}, b[3] = {1, 0, 2}, bv[3] = {20, 0, -1}, d2 = 0;
  const Footprint fa = traffic_footprint(a, av), fb = traffic_footprint(b, bv);
  EXPECT_NE(traffic_in_lane(fa, fb, &d2), traffic_in_lane(fb, fa, &d2));
  // In flight the lane is still measured in feet on the ground: 40 ft ahead is out of reach of
  // a robot rising steeply at 36 ft/s, whose footprint reaches 22 ft ahead over the ground.
  float up[3] = {20, 30, 0}, far[3] = {40, 0, 0};
  EXPECT_FALSE(traffic_in_lane(traffic_footprint(p, up), traffic_footprint(far, v), &d2));
}

TEST_F(PickTest, PathProgressAndWatchdog) {
  RiderLines& rl = rider_lines[5];
  for (const LineSample& p : straight(0, 0, 4)) array_push(&rl.path, p);
  rl.path_index = 1;  // heading for x = 10
  race.race_tick = 500;
  float ahead[3] = {1, 0, 0}, back[3] = {-1, 0, 0};
  float far[3] = {-80, 1, 0};
  auto_pilot_advance(5, far, ahead);
  EXPECT_EQ(rl.path_index, 1);  // beyond the capture radius
  float near[3] = {0, 1, 0};
  auto_pilot_advance(5, near, back);
  EXPECT_EQ(rl.path_index, 1);  // facing against the step, 10 ft away
  auto_pilot_advance(5, near, ahead);
  EXPECT_EQ(rl.path_index, 2);
  EXPECT_EQ(robot_state[5].last_advance_tick, 500);
  // Lost: the capture radius shrinks to 30 ft until three advances.
  robot_state[5].lost_count = 3;
  float mid[3] = {-15, 1, 0};  // 35 ft from x = 20
  auto_pilot_advance(5, mid, ahead);
  EXPECT_EQ(rl.path_index, 2);
  race.race_tick = 500 + 3 * 128;
  EXPECT_FALSE(auto_pilot_watchdog(5));
  race.race_tick++;
  robot_state[5].lost_count = 0;
  EXPECT_TRUE(auto_pilot_watchdog(5));
  EXPECT_EQ(robot_state[5].lost_count, 3);
  float on[3] = {20, 1, 0};
  auto_pilot_advance(5, on, ahead);
  auto_pilot_advance(5, on, ahead);
  EXPECT_EQ(robot_state[5].lost_count, 1);
  EXPECT_EQ(rl.path.count, 0);  // the end reached: the path is gone
  auto_pilot_advance(5, on, ahead);  // nothing to read on an empty path
  EXPECT_EQ(rl.path_index, 0);
}

TEST(SpeedControl, GroundAndAir) {
  struct Case {
    const char* what;
    float v, target;
    bool ground;
    int gear;
    float rpm, pitch, front_minus_rear;
    bool down;
    SpeedControl want;
  };
  const float pi = 3.14159265f;
  const Case cases[] = {
      {"slow: full throttle, slipping in first", 10, 40, true, 0, 9500, 0, 0, false, {1, 0, 0, 0.5f}},
      {"near target: part throttle", 39.5f, 40, true, 2, 9000, 0, 0, false, {0.5f, 0, 0, 1}},
      {"too fast: brakes", 42.5f, 40, true, 2, 9000, 0, 0, false, {0, 1, 1, 1}},
      {"air, level", 40, 40, false, 2, 9000, 0, 0, false, {0, 0, 0, 0.125f}},
      {"air, nose high: rear brake", 40, 40, false, 2, 9000, 0.2f, 1.5f, false, {0, 0, 1, 0}},
      {"air, nose low: throttle", 40, 40, false, 2, 9000, -0.5f, -1.5f, false, {1, 0, 0, 0.125f}},
      {"air, steep dive", 40, 40, false, 2, 9000, -pi / 3, 0.5f, true, {0, 0, 0, 0.125f}},
  };
  for (const Case& c : cases) {
    SpeedControl s = auto_pilot_speed_control(c.v, c.target, c.ground, c.gear, c.rpm, 10000, c.pitch,
                                              c.front_minus_rear, c.down);
    EXPECT_FLOAT_EQ(s.throttle, c.want.throttle) << c.what;
    EXPECT_FLOAT_EQ(s.front_brake, c.want.front_brake) << c.what;
    EXPECT_FLOAT_EQ(s.rear_brake, c.want.rear_brake) << c.what;
    EXPECT_FLOAT_EQ(s.clutch, c.want.clutch) << c.what;
  }
}

TEST(StartProcedure, BlipsThenReactsWithinThePersonalityRange) {
  race = RaceState{};
  race.gate_drop_tick = 14 * 128 + 37;
  Rider* r = static_cast<Rider*>(xcalloc(1, sizeof(Rider)));
  r->slot = 9;
  r->info.gear_ratio[0] = 3;
  r->info.gear_ratio[1] = 2;
  robot_state_reset(9);
  robot_state[9].personality = 2;  // "quenby": 0.2 .. 0.4 s
  rng_seed(1234);
  std::vector<std::pair<double, double>> blips;
  double release = -1;
  bool was_on = false;
  for (int tick = 0; tick < race.gate_drop_tick + 6 * 128; ++tick) {
    race.race_tick = tick;
    double t = tick * tick_seconds;
    bool holding = auto_pilot_start(r, 9);
    if (!holding) {
      release = t;
      break;
    }
    EXPECT_FLOAT_EQ(r->control.front_brake, 1.0f);
    EXPECT_FLOAT_EQ(r->control.clutch, 0.0f);
    bool on = r->control.throttle > 0;
    if (on && !was_on) blips.push_back({t, t});
    if (on) blips.back().second = t;
    if (t >= 5) {
      EXPECT_FALSE(on) << t;
    }
    was_on = on;
  }
  EXPECT_EQ(r->control.gear, 1);
  ASSERT_GE(blips.size(), 2u);
  EXPECT_LT(blips[0].first, 2.0);
  for (size_t k = 0; k < blips.size(); ++k) {
    double length = blips[k].second - blips[k].first + tick_seconds;
    if (blips[k].second < 4.99) {
      EXPECT_GE(length, 0.25 - tick_seconds);
      EXPECT_LE(length, 0.75 + tick_seconds);
    }
    if (k > 0) {
      double gap = blips[k].first - blips[k - 1].second;
      EXPECT_GE(gap, 2.0 - tick_seconds);
      EXPECT_LE(gap, 2.5 + 2 * tick_seconds);
    }
  }
  double drop = race.gate_drop_tick * tick_seconds;
  EXPECT_GE(release, drop + 0.2 - tick_seconds);
  EXPECT_LE(release, drop + 0.4 + tick_seconds);
  // The same seed gives the same start.
  robot_state_reset(9);
  robot_state[9].personality = 2;
  rng_seed(1234);
  double again = -1;
  for (int tick = 0; tick < race.gate_drop_tick + 6 * 128 && again < 0; ++tick) {
    race.race_tick = tick;
    if (!auto_pilot_start(r, 9)) again = tick * tick_seconds;
  }
  EXPECT_EQ(again, release);
  robot_state_reset(9);
  free(r);
}

}  // namespace
