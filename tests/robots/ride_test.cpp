// Robots riding the default track on their own: out of the gate and through the first
// checkpoints, the same way every time.
#include <gtest/gtest.h>
#include <ode/ode.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "race_on_game_data.h"

namespace {

struct RidingRobots : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    reset_race_on_game_data();
    lines_install_hooks();
    race.requested_track = "ridgeback";
  }
  void TearDown() override {
    race_shutdown();
    race_hooks = RaceHooks{};
    physics_shutdown();
    shape_cache_clear();
  }

  // Ends this race so that the same one can start again from scratch.
  void rerun() {
    race_shutdown();
    physics_shutdown();
    shape_cache_clear();
    memset(&session, 0, sizeof session);
    race = RaceState{};
    race.requested_track = "ridgeback";
  }

  // Two robots from the grid for a few seconds past the drop; the crossing ticks of both.
  std::vector<int> ride(int checkpoints) {
    int lineup[max_riders] = {};
    lineup[0] = lineup_robot_number + 42;
    lineup[1] = lineup_robot_number + 80;
    start_race(lineup, false, false, 0, 1, 0);
    EXPECT_TRUE(race.started);
    EXPECT_GT(line_store.slot_count, 0);
    int limit = race.gate_drop_tick + 20 * 128;
    auto done = [&] {
      for (int s = 0; s < 2; ++s)
        if (!session.slots[s].rider || session.slots[s].rider->checkpoints_passed < checkpoints) return false;
      return true;
    };
    while (!done() && race.race_tick < limit) race_tick_step();
    std::vector<int> ticks;
    for (int s = 0; s < 2; ++s) {
      const Rider* r = session.slots[s].rider;
      EXPECT_NE(r, nullptr);
      if (!r) continue;
      EXPECT_GE(r->checkpoints_passed, checkpoints) << "slot " << s << " at tick " << race.race_tick;
      for (int i = 0; i < race_slots[s].crossings.count && i < checkpoints; ++i)
        ticks.push_back(race_slots[s].crossings.items[i]);
    }
    return ticks;
  }
};

TEST_F(RidingRobots, LeaveTheGridPassCheckpointsAndRepeatThemselves) {
  const int checkpoints = 4;
  std::vector<int> first = ride(checkpoints);
  ASSERT_EQ(first.size(), 2u * checkpoints);
  // Nobody crosses before the gate drops, and each crossing follows the one before.
  for (int s = 0; s < 2; ++s)
    for (int i = 0; i < checkpoints; ++i) {
      EXPECT_GT(first[s * checkpoints + i], race.gate_drop_tick) << s << " " << i;
      if (i > 0) {
        EXPECT_GT(first[s * checkpoints + i], first[s * checkpoints + i - 1]);
      }
    }
  rerun();
  std::vector<int> second = ride(checkpoints);
  EXPECT_EQ(first, second);
}

// A race of count robots on the default track, run to the drop plus seconds.
void start_robots(int count, int laps, double seconds_after_drop) {
  int lineup[max_riders] = {};
  for (int s = 0; s < count; ++s) lineup[s] = lineup_robot;
  start_race(lineup, false, false, 0, laps, 0);
  ASSERT_TRUE(race.started);
  const int until = race.gate_drop_tick + static_cast<int>(seconds_after_drop / tick_seconds);
  while (race.race_tick < until) race_tick_step();
}

float horizontal_distance(const float a[3], const float b[3]) { return std::hypot(a[0] - b[0], a[2] - b[2]); }

// Feet of one normal lap, gate to gate.
double lap_length() {
  double feet = 0;
  const int first = timing.first_lap_count, n = timing.normal_lap_count;
  for (int k = 0; k < n; ++k) {
    int e0 = timing_checkpoint_entry(first + k), e1 = timing_checkpoint_entry(first + (k + 1) % n);
    const TimingGate& g0 = timing.gates[e0 % not_switch_point];
    const TimingGate& g1 = timing.gates[e1 % not_switch_point];
    feet += std::hypot(g1.centre[0] - g0.centre[0], g1.centre[2] - g0.centre[2]);
  }
  return feet;
}

TEST_F(RidingRobots, FallenRobotIsStoodUpWhereItLiesAndRidesOn) {
  start_robots(1, 1, 4);
  Rider* r = session.slots[0].rider;
  ASSERT_NE(r, nullptr);
  const int passed = r->checkpoints_passed;
  // Laid on its side at a standstill, the way a crash leaves it once the rider is back on.
  float before[3], m[9];
  bike_body_position(r, body_frame, before);
  bike_body_rotation(r, body_frame, m);
  dMatrix3 roll;
  dRFromAxisAndAngle(roll, -m[2], -m[5], -m[8], 1.5);
  for (int b = 0; b < bike_body_count; ++b) {
    dBodyID body = r->body[b];
    const dReal* p = dBodyGetPosition(body);
    dVector3 d = {p[0] - before[0], p[1] - before[1] + 1.5, p[2] - before[2]}, q;
    dMultiply0_331(q, roll, d);
    dMatrix3 turned;
    dMultiply0_333(turned, roll, dBodyGetRotation(body));
    dBodySetRotation(body, turned);
    dBodySetPosition(body, before[0] + q[0], before[1] - 1.5 + q[1], before[2] + q[2]);
    dBodySetLinearVel(body, 0, 0, 0);
    dBodySetAngularVel(body, 0, 0, 0);
  }
  const int fallen = race.race_tick;
  int lay_until = -1;
  while (lay_until < 0 && race.race_tick < fallen + 10 * 128) {  // a knock-down keeps it there 4 s more
    race_tick_step();
    if (std::fabs(r->lean_angle) < 0.3f) lay_until = race.race_tick;
  }
  ASSERT_GE(lay_until, 0) << "lean " << r->lean_angle;
  EXPECT_GE(lay_until - fallen, 2 * 128);  // it lay for 2 s first
  float after[3];
  bike_body_position(r, body_frame, after);
  EXPECT_LT(horizontal_distance(after, before), 10.0f);
  EXPECT_EQ(r->checkpoints_passed, passed);
  // It rides on from there: the next checkpoint comes within 15 s.
  while (r->checkpoints_passed == passed && race.race_tick < lay_until + 15 * 128) race_tick_step();
  EXPECT_GT(r->checkpoints_passed, passed);
}

TEST_F(RidingRobots, StuckRobotsArePutBackApartAndJoinTheirLinesWhereTheyStand) {
  start_robots(2, 1, 2);
  Rider* a = session.slots[0].rider;
  Rider* b = session.slots[1].rider;
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  // Both watchdogs long past: the two go back to the same checkpoint in the same tick.
  for (int s = 0; s < 2; ++s) robot_state[s].last_advance_tick = race.race_tick - 11 * 128;
  const int reset_tick = race.race_tick;
  race_tick_step();
  float pa[3], pb[3];
  bike_body_position(a, body_frame, pa);
  bike_body_position(b, body_frame, pb);
  EXPECT_GE(horizontal_distance(pa, pb), 7.9f);
  for (int s = 0; s < 2; ++s) EXPECT_TRUE(robot_state[s].relocate || rider_lines[s].path.count > 0);
  // Each picks a line and follows it from where it stands: its path advances, and it is not
  // put back again.
  while (race.race_tick < reset_tick + 6 * 128) race_tick_step();
  for (int s = 0; s < 2; ++s) {
    EXPECT_GT(robot_state[s].last_advance_tick, reset_tick + 128) << s;
    EXPECT_FALSE(robot_state[s].relocate) << s;
    float p[3];
    bike_body_position(session.slots[s].rider, body_frame, p);
    const LineSample& next = rider_lines[s].path.items[rider_lines[s].path_index];
    const float q[3] = {next.x, next.y, next.z};
    EXPECT_LT(horizontal_distance(p, q), 90.0f) << s;
  }
}

TEST_F(RidingRobots, SmallFieldRacesToTheFlagTheSameWayTwice) {
  auto race_once = [] {
    start_robots(4, 1, 0);
    const int limit = race.race_tick + 200 * 128;
    while (!race_results_are_final() && race.race_tick < limit) race_tick_step();
    EXPECT_TRUE(race_results_are_final()) << "tick " << race.race_tick;
    std::vector<int> outcome;
    for (int i = 0; i < race.results_count; ++i) {
      const Rider* r = session.slots[race.results[i].slot].rider;
      EXPECT_TRUE(r && r->finished) << "result " << i;
      outcome.push_back(race.results[i].slot);
      outcome.push_back(race.results[i].last_tick);
    }
    return outcome;
  };
  std::vector<int> first = race_once();
  ASSERT_EQ(first.size(), 8u);
  // Lap times of a real lap: somewhere between 25 and 50 mph on average.
  const double lap_feet = lap_length();
  for (size_t i = 0; i < first.size(); i += 2) {
    const double seconds = (first[i + 1] - race.gate_drop_tick) * tick_seconds;
    const double mph = lap_feet / seconds * 3600 / 5280;
    EXPECT_GT(mph, 20) << "result " << i / 2;
    EXPECT_LT(mph, 55) << "result " << i / 2;
  }
  rerun();
  EXPECT_EQ(race_once(), first);
}

}  // namespace
