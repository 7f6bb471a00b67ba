// Whole races on the default track with real bikes: robots whose stand-in auto pilot carries
// them from gate to gate, and a hot lap whose recording becomes the fast lap.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "race/particles.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "race_on_game_data.h"

namespace {

struct DefaultTrackRace : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    reset_race_on_game_data();
    race.requested_track = "ridgeback";
  }
  void TearDown() override {
    race_shutdown();
    race_hooks = RaceHooks{};
    physics_shutdown();
    shape_cache_clear();
  }
};

// Slot 0 moves on every second tick after the drop, slot 1 every third, slot 2 every fourth.
void gate_hopper(Rider* r, int slot) {
  if (race.race_tick <= race.gate_drop_tick) return;
  if (race.race_tick % (slot + 2) != 0) return;
  carry_to_next_gate(r, slot);
}

TEST_F(DefaultTrackRace, ScriptedRobotsRunAWholeRace) {
  race_hooks.auto_pilot_step = gate_hopper;
  int lineup[max_riders] = {};
  lineup[0] = lineup_robot;
  lineup[1] = lineup_robot_number + 42;
  lineup[2] = lineup_robot_125;
  start_race(lineup, false, false, 0, 1, 0);
  ASSERT_TRUE(race.started);
  ASSERT_STREQ(session.loaded_track, "ridgeback");
  ASSERT_TRUE(timing_present());
  EXPECT_EQ(race.race_laps, 1);
  EXPECT_EQ(race.halfway_lap, 1);
  EXPECT_GE(race.gate_drop_tick, 13 * 128);
  EXPECT_LT(race.gate_drop_tick, 15 * 128);
  EXPECT_EQ(session.view_slot, 0);
  for (int s = 0; s < 3; ++s) {
    ASSERT_NE(session.slots[s].rider, nullptr) << s;
    EXPECT_EQ(session.slots[s].kind, slot_robot);
    EXPECT_EQ(session.slots[s].rider->solidity, 1.0f);
  }
  EXPECT_EQ(session.slots[3].rider, nullptr);
  EXPECT_STREQ(session.slots[1].rider->number, "42");
  EXPECT_NE(strstr(session.slots[2].rider->info.model_name, "125"), nullptr);
  // Every bike stands on the grid, wheels clear of the ground, behind its slot.
  for (int s = 0; s < 3; ++s) {
    float f[3];
    bike_body_position(session.slots[s].rider, body_frame, f);
    float gx, gz, heading;
    grid_place(s, &gx, &gz, &heading);
    EXPECT_NEAR(f[0], gx, 0.01f);
    EXPECT_NEAR(f[2], gz, 0.01f);
  }

  int lap_checkpoints = timing.first_lap_count;
  int limit = race.gate_drop_tick + 8 * lap_checkpoints + 2000;
  while (!race_results_are_final() && race.race_tick < limit) race_tick_step();
  ASSERT_TRUE(race_results_are_final()) << "tick " << race.race_tick;
  ASSERT_EQ(race.results_count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(race.results[i].slot, i);
    EXPECT_EQ(race.results[i].checkpoints, lap_checkpoints);
    Rider* r = session.slots[i].rider;
    EXPECT_TRUE(r->finished);
    EXPECT_EQ(laps_completed(r), 1);
    EXPECT_EQ(cutting_penalty(i), 0);
    // Lap 1 runs from the drop; a checkpoint every (slot + 2) ticks.
    EXPECT_NEAR(lap_ticks(r, 1), (i + 2) * lap_checkpoints, i + 2);
  }
  EXPECT_LT(race.results[0].last_tick, race.results[1].last_tick);
  EXPECT_LT(race.results[1].last_tick, race.results[2].last_tick);
  // The gates fell in the first eighth of a second after the drop.
  for (int k = 0; k < timing.start_slot_count; ++k) EXPECT_EQ(race.gate_values[k], 0.0f) << k;

  FILE* out = tmpfile();
  race_print_results(out);
  rewind(out);
  char line[256];
  int lines = 0;
  while (fgets(line, sizeof line, out)) ++lines;
  fclose(out);
  EXPECT_EQ(lines, 3);
}

TEST_F(DefaultTrackRace, NoLineupAndNoDemoLetsOneRobotRide) {
  int lineup[max_riders] = {};
  session.view_slot = 7;
  start_race(lineup, false, false, 0, 3, 0);
  ASSERT_TRUE(race.started);
  ASSERT_NE(session.slots[0].rider, nullptr);
  EXPECT_EQ(session.slots[0].kind, slot_robot);
  EXPECT_EQ(session.view_slot, 0);  // the old view slot is empty: the leader is followed
  for (int t = 0; t < 256; ++t) race_tick_step();
  EXPECT_EQ(race.race_tick, 256);
}

TEST_F(DefaultTrackRace, TrackThatCannotLoadStopsTheStart) {
  race.requested_track = "no_such_track";
  int lineup[max_riders] = {lineup_robot};
  start_race(lineup, false, false, 0, 3, 0);
  EXPECT_FALSE(race.started);
  EXPECT_EQ(session.loaded_track, nullptr);
  EXPECT_EQ(session.slots[0].rider, nullptr);
  race_tick_step();  // nothing to do, nothing breaks
}

TEST_F(DefaultTrackRace, FullFieldOfRobotsTakesTheRosterTwice) {
  int lineup[max_riders];
  for (int& c : lineup) c = lineup_robot;
  start_race(lineup, false, false, 0, 1, 0);
  ASSERT_TRUE(race.started);
  for (int s = 0; s < max_riders; ++s) ASSERT_NE(session.slots[s].rider, nullptr) << s;
  for (int s = 0; s < roster_size; ++s)
    EXPECT_STREQ(session.slots[s].rider->number, session.slots[s + roster_size].rider->number);
  EXPECT_EQ(race.standings_count, max_riders);
  race_tick_step();
  EXPECT_EQ(race.race_tick, 1);
}

TEST_F(DefaultTrackRace, FirstRaceTakesRobotsAndLapsFromTheCommandLine) {
  options.track = "ridgeback";
  options.robots = 3;
  options.laps = 2;
  race.requested_track = nullptr;
  for (RiderSlot& s : session.slots) s.lineup_code = 0;
  session.slots[5].lineup_code = lineup_robot;  // replaced by the --robots lineup
  start_first_race(false);
  ASSERT_TRUE(race.started);
  EXPECT_EQ(race.race_laps, 2);
  EXPECT_EQ(race.time_limit_ticks, 0);
  for (int s = 0; s < 3; ++s) EXPECT_EQ(session.slots[s].kind, slot_robot) << s;
  for (int s = 3; s < max_riders; ++s) EXPECT_EQ(session.slots[s].rider, nullptr) << s;
  EXPECT_EQ(race.requested_track, nullptr);
}

// What "--headless --robots 1 --laps 1 --quit-after-ticks 2560" runs: the gate drops, and the
// robot, with no auto pilot yet, stays on the grid without ever finishing.
TEST_F(DefaultTrackRace, OneRobotAndTheGateDropWithinTwentySeconds) {
  options.track = "ridgeback";
  options.robots = 1;
  options.laps = 1;
  options.headless = true;
  start_first_race(false);
  ASSERT_TRUE(race.started);
  for (int k = 0; k < timing.start_slot_count; ++k) EXPECT_EQ(race.gate_values[k], 1.0f) << k;
  float start[3];
  bike_body_position(session.slots[0].rider, body_frame, start);
  for (int t = 0; t < 2560; ++t) race_tick_step();
  EXPECT_GT(race.race_tick, race.gate_drop_tick + 16);
  // The robot leans on the gate of its own slot, which stays up; every other gate fell.
  for (int k = 1; k < timing.start_slot_count; ++k) EXPECT_EQ(race.gate_values[k], 0.0f) << k;
  float now[3];
  bike_body_position(session.slots[0].rider, body_frame, now);
  EXPECT_LT(std::hypot(now[0] - start[0], now[2] - start[2]), 3.0f);
  EXPECT_FALSE(race_results_are_final());
}

TEST_F(DefaultTrackRace, OnlineNetworkRidersFadeInWithinTenFeet) {
  int lineup[max_riders] = {lineup_robot, lineup_robot, lineup_robot};
  start_race(lineup, false, false, 0, 1, 0);
  ASSERT_TRUE(race.started);
  race.online = race.has_grid_position = true;
  race.client_slot = 0;
  session.slots[0].kind = slot_local;
  for (int s : {1, 2}) {
    session.slots[s].kind = slot_replayed;
    race_slots[s].network = true;
    race_slots[s].last_receive_tick = 0;
  }
  float a[3], b[3], c[3];
  bike_body_position(session.slots[0].rider, body_frame, a);
  bike_body_position(session.slots[1].rider, body_frame, b);
  bike_body_position(session.slots[2].rider, body_frame, c);
  // Slot 1 stands 4.5 ft beside the local rider, slot 2 40 ft away.
  bike_translate(session.slots[1].rider, a[0] + 4.5f - b[0], a[1] - b[1], a[2] - b[2]);
  bike_translate(session.slots[2].rider, a[0] + 40 - c[0], 0, a[2] - c[2]);
  race_tick_step();
  EXPECT_FLOAT_EQ(session.slots[1].rider->solidity, 0.6f);  // (10 - 4) / 10
  EXPECT_FLOAT_EQ(session.slots[2].rider->solidity, 0.0f);
  race.online = race.has_grid_position = false;
}

std::string recorded_path;
int recordings = 0;
void record_lap(const char* path) {
  if (!path) return;
  recorded_path = path;
  ++recordings;
  make_folders_for(path);
  write_file(path, "lap " + std::to_string(recordings));
}

TEST_F(DefaultTrackRace, HotLapCopiesTheRecordedLapOverTheMissingFastLap) {
  race_hooks.demo_start_recording = record_lap;
  recordings = 0;
  start_race(nullptr, false, false, 0, 0, 0);
  ASSERT_TRUE(race.started);
  EXPECT_TRUE(race.hot_lap_mode);
  EXPECT_EQ(race.race_tick, hot_lap_start_tick + 0);
  ASSERT_EQ(session.slots[0].kind, slot_local);
  EXPECT_EQ(recordings, 1);
  for (int k = 0; k < timing.start_slot_count; ++k) EXPECT_EQ(race.gate_values[k], 0.0f) << k;
  std::string fast = recorded_path.substr(0, recorded_path.rfind('/')) + "/fastlap.kvdemo";
  EXPECT_FALSE(file_exists(fast));
  Rider* player = session.slots[0].rider;
  // Ride the first lap gate by gate; the lap line ends it.
  int guard = 0;
  while (laps_completed(player) == 0 && guard++ < 1000) {
    carry_to_next_gate(player, 1);
    race_tick_step();
  }
  ASSERT_EQ(laps_completed(player), 1);
  // The first completed lap becomes the fast lap when there is none, and a new recording starts.
  EXPECT_EQ(read_file(fast), "lap 1");
  EXPECT_EQ(recordings, 2);
  EXPECT_EQ(player->checkpoints_passed, timing.first_lap_count);
  EXPECT_EQ(race.last_lap_ticks, 0);  // the first lap was not a clean timed lap
}

}  // namespace

namespace {

TEST_F(DefaultTrackRace, HotLapKeepsTheFastLapUntilACleanLapBeatsIt) {
  race_hooks.demo_start_recording = record_lap;
  recordings = 0;
  std::string fast = roots.home + "ridgeback/fastlap.kvdemo";
  make_folders_for(fast.c_str());
  write_file(fast, "old");
  start_race(nullptr, false, false, 0, 0, 0);
  ASSERT_TRUE(race.started);
  Rider* player = session.slots[0].rider;
  int guard = 0;
  while (recordings < 2 && guard++ < 1000) {
    carry_to_next_gate(player, 1);
    race_tick_step();
  }
  ASSERT_EQ(recordings, 2);
  EXPECT_EQ(read_file(fast), "old");  // the way to the line is no timed lap
  EXPECT_EQ(race.last_lap_ticks, 0);
  int lap_start = crossing_tick(0, timing.first_lap_count - 1);
  while (recordings < 3 && guard++ < 1000) {
    carry_to_next_gate(player, 1);
    race_tick_step();
  }
  ASSERT_EQ(recordings, 3);
  EXPECT_EQ(read_file(fast), "lap 2");
  EXPECT_GT(race.last_lap_ticks, 0);
  EXPECT_EQ(race.best_lap_ticks, race.last_lap_ticks);
  EXPECT_NEAR(race.last_lap_ticks, timing.normal_lap_count, 2);  // a gate every tick
  EXPECT_GT(lap_start, 0);
  EXPECT_FALSE(file_exists(fast + ".tmp"));
  EXPECT_FALSE(player->finished);
  EXPECT_FALSE(race_results_are_final());  // hot laps never end
}

}  // namespace

namespace {

std::vector<std::string> events;
int demo_riders_left = 0;
bool fake_demo_load(const char** track, int* drop) {
  *track = "ridgeback";
  *drop = 500;
  demo_riders_left = 1;
  return true;
}
bool fake_next_rider(RaceRiderDesc* d) {
  if (demo_riders_left <= 0) return false;
  --demo_riders_left;
  d->bike = "yz250f";
  d->number = "55";
  d->name = "Ghost";
  return true;
}
void fake_apply(Rider*, int slot, int tick) { events.push_back("history " + std::to_string(slot) + " " + std::to_string(tick)); }
void fake_pilot(Rider*, int slot) { events.push_back("pilot " + std::to_string(slot) + " " + std::to_string(race.race_tick)); }
void fake_demo_tick(int tick) { events.push_back("demo " + std::to_string(tick)); }

TEST_F(DefaultTrackRace, DemoRidersFillEmptySlotsAndTheTickKeepsItsOrder) {
  race_hooks.demo_load = fake_demo_load;
  race_hooks.demo_next_rider = fake_next_rider;
  race_hooks.history_apply = fake_apply;
  race_hooks.auto_pilot_step = fake_pilot;
  race_hooks.demo_tick = fake_demo_tick;
  race.requested_track = "no_such_track";  // the demo's track wins
  events.clear();
  int lineup[max_riders] = {lineup_robot};
  start_race(lineup, true, false, 0, 2, 0);
  ASSERT_TRUE(race.started);
  EXPECT_STREQ(session.loaded_track, "ridgeback");
  EXPECT_EQ(race.gate_drop_tick, 500);
  ASSERT_NE(session.slots[1].rider, nullptr);
  EXPECT_EQ(session.slots[1].kind, slot_replayed);
  EXPECT_STREQ(session.slots[1].rider->info.model_name, "yz250f(2008)");
  EXPECT_STREQ(race_slots[1].name, "Ghost");
  EXPECT_EQ(session.slots[1].rider->solidity, 0.0f);
  EXPECT_EQ(session.slots[1].rider->assists.roll_damping, 100.0f);
  EXPECT_EQ(session.slots[2].rider, nullptr);
  EXPECT_EQ(events, (std::vector<std::string>{"demo 0"}));
  events.clear();
  race_tick_step();
  race_tick_step();
  // A replayed rider takes the state recorded under the tick the race is about to reach.
  EXPECT_EQ(events, (std::vector<std::string>{"history 1 1", "pilot 0 0", "demo 1", "history 1 2",
                                              "pilot 0 1", "demo 2"}));
}

}  // namespace
