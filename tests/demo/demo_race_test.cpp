// Whole races on the default track recorded into demos and played back from them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/track_list.h"
#include "demo/demo.h"
#include "demo/demo_race.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"
#include "robots/lines.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "race_on_game_data.h"

namespace {

struct RecordedRace : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    reset_race_on_game_data();
    track_list_build(&track_list, 0);
    settings.demo_backups = 0;
    demo_selected_name = nullptr;
    demo_install_race_hooks();
  }
  void TearDown() override {
    race_shutdown();
    race_hooks = RaceHooks{};
    physics_shutdown();
    shape_cache_clear();
    track_list_free(&track_list);
    demo_selected_name = nullptr;
  }
};

// Robots hop from gate to gate at different paces so the race has a clear order; never more
// than one gate between two records, so the played riders pass every checkpoint too.
void gate_hopper(Rider* r, int slot) {
  if (race.race_tick <= race.gate_drop_tick || race.race_tick % ((slot + 2) * 4) != 0) return;
  carry_to_next_gate(r, slot);
}

struct Outcome {
  std::vector<int> order;        // slots in results order
  std::vector<int> lap_times;    // lap 1 of each result
  std::vector<int> finish_ticks; // tick of each result's last crossing
};

Outcome run_to_finish() {
  Outcome o;
  int limit = race.race_tick + 40000;
  while (!race_results_are_final() && race.race_tick < limit) race_tick_step();
  EXPECT_TRUE(race_results_are_final()) << "tick " << race.race_tick;
  for (int i = 0; i < race.results_count; ++i) {
    o.order.push_back(race.results[i].slot);
    o.lap_times.push_back(lap_ticks(session.slots[race.results[i].slot].rider, 1));
    o.finish_ticks.push_back(race.results[i].last_tick);
  }
  return o;
}

Outcome record_race() {
  race_hooks.auto_pilot_step = gate_hopper;
  int lineup[max_riders] = {};
  lineup[0] = lineup_robot;
  lineup[1] = lineup_robot_number + 42;
  lineup[2] = lineup_robot_125;
  race.requested_track = "ridgeback";
  start_race(lineup, false, true, 0, 1, 0);
  EXPECT_TRUE(demo_recording.active);
  Outcome o = run_to_finish();
  // The race releases its riders before it closes the recording: the records of the final
  // tick went out when the results became final.
  race_shutdown();
  demo_shutdown();
  return o;
}

const int lineup_none[max_riders] = {};

// Records of the demo file by slot of its rider index and tick.
std::map<std::pair<int, int>, StateRecord> recorded;
void keep_entry(void*, int rider, int tick, const StateRecord* r) { recorded[{rider, tick}] = *r; }

int compared = 0;
void checking_apply(Rider* rider, int slot, int tick) {
  apply_history(rider, slot, tick);
  auto it = recorded.find({slot, tick});
  if (it == recorded.end()) return;
  PackRange range = demo_pack_range;
  range.fork_travel = rider->info.fork_travel;
  range.swingarm_travel = rider->info.swingarm_travel;
  StatePose p;
  state_decode(&it->second, &range, &p);
  float f[3];
  bike_body_position(rider, body_frame, f);
  EXPECT_NEAR(f[0], p.position[0], 1e-3) << "slot " << slot << " tick " << tick;
  EXPECT_NEAR(f[2], p.position[2], 1e-3) << "slot " << slot << " tick " << tick;
  EXPECT_GE(f[1], p.position[1] - 1e-3) << "slot " << slot << " tick " << tick;
  ++compared;
}

}  // namespace

TEST_F(RecordedRace, PlayingTheDemoGivesTheSameOrderAndPositions) {
  Outcome live = record_race();
  ASSERT_EQ(live.order.size(), 3u);
  std::string file = roots.home + "demos/default.kvdemo";
  ASSERT_TRUE(file_exists(file));
  EXPECT_FALSE(file_exists(file + ".tmp"));

  recorded.clear();
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, demo_default_name, nullptr), demo_loaded);
  EXPECT_EQ(r.header.rider_count, 3);
  EXPECT_STREQ(r.header.riders[1].number, "42");
  DemoBlockSink sink = {nullptr, keep_entry, nullptr};
  DemoBlockHeader h;
  std::vector<int> ticks;
  while (demo_peek_block(&r, &h)) {
    ticks.push_back(h.tick);
    ASSERT_TRUE(demo_read_block(&r, &sink));
  }
  // A block every 16 ticks, besides the flushes at the start and at the end.
  ASSERT_GT(ticks.size(), 3u);
  for (size_t i = 1; i + 1 < ticks.size(); ++i) EXPECT_EQ(ticks[i] % 16, 0) << ticks[i];
  demo_reader_close(&r);
  ASSERT_GT(recorded.size(), 100u);

  // Play it: the slots take the recorded riders in order (rider index = slot here).
  memset(&session, 0, sizeof session);
  race = RaceState{};
  demo_install_race_hooks();
  race_hooks.history_apply = checking_apply;
  compared = 0;
  int lineup[max_riders] = {};
  start_race(lineup, true, false, 0, 1000, 0);
  ASSERT_TRUE(race.started);
  ASSERT_TRUE(demo_is_playing());
  for (int s = 0; s < 3; ++s) {
    ASSERT_NE(session.slots[s].rider, nullptr);
    EXPECT_EQ(session.slots[s].kind, slot_replayed);
    EXPECT_EQ(demo_playback.slot_of[s], s);
  }
  EXPECT_EQ(race.race_laps, 1);
  Outcome played = run_to_finish();
  EXPECT_GT(compared, 100);
  EXPECT_EQ(played.order, live.order);
  // These robots jump from gate to gate between records, and the played ones glide between
  // the records: their crossings may come a few ticks apart.
  ASSERT_EQ(played.lap_times.size(), live.lap_times.size());
  for (size_t i = 0; i < live.lap_times.size(); ++i) EXPECT_NEAR(played.lap_times[i], live.lap_times[i], 4) << i;
}

TEST_F(RecordedRace, RidingRobotsPlayBackWithinATick) {
  // Robots that ride: a played rider crosses every checkpoint on the tick the recorded one did,
  // or on the tick beside it where its path bends between two records four ticks apart.
  lines_install_hooks();
  int lineup[max_riders] = {lineup_robot, lineup_robot, lineup_robot};
  race.requested_track = "ridgeback";
  start_race(lineup, false, true, 0, 1, 0);
  ASSERT_TRUE(demo_recording.active);
  Outcome live = run_to_finish();
  ASSERT_EQ(live.order.size(), 3u);
  race_shutdown();
  demo_shutdown();

  memset(&session, 0, sizeof session);
  race = RaceState{};
  demo_install_race_hooks();
  start_race(lineup_none, true, false, 0, 1000, 0);
  ASSERT_TRUE(demo_is_playing());
  Outcome played = run_to_finish();
  EXPECT_EQ(played.order, live.order);
  ASSERT_EQ(played.finish_ticks.size(), live.finish_ticks.size());
  for (size_t i = 0; i < live.finish_ticks.size(); ++i) {
    EXPECT_NEAR(played.lap_times[i], live.lap_times[i], 1) << i;
    EXPECT_NEAR(played.finish_ticks[i], live.finish_ticks[i], 1) << i;
  }
}

TEST_F(RecordedRace, TheSameRaceTwiceWritesTheSameBytes) {
  record_race();
  std::string first = read_file(roots.home + "demos/default.kvdemo");
  memset(&session, 0, sizeof session);
  race = RaceState{};
  settings.demo_backups = 2;
  record_race();
  EXPECT_EQ(read_file(roots.home + "demos/default.kvdemo"), first);
  EXPECT_EQ(read_file(roots.home + "demos/default00.kvdemo"), first);
  EXPECT_GT(first.size(), 1000u);
}

TEST_F(RecordedRace, RewindingFiveSecondsReopensCheckpointsAndTheRaceEndsAlike) {
  Outcome live = record_race();
  memset(&session, 0, sizeof session);
  race = RaceState{};
  demo_install_race_hooks();
  int lineup[max_riders] = {};
  start_race(lineup, true, false, 0, 1000, 0);
  ASSERT_TRUE(demo_is_playing());
  // Ride until the fastest robot has finished, then go back 5 s.
  int until = race.gate_drop_tick + 700;
  while (race.race_tick < until) race_tick_step();
  int passed_before = session.slots[0].rider->checkpoints_passed;
  ASSERT_GT(passed_before, 5);
  demo_seek(-5.0);
  int target = until - 640 - 1;
  EXPECT_EQ(race.race_tick, target + 1);  // the seek runs one race tick after the target
  for (int s = 0; s < 3; ++s) {
    const Array<int>& c = race_slots[s].crossings;
    for (int i = 0; i < c.count; ++i) EXPECT_LE(c.items[i], target + 1) << s << " " << i;
  }
  EXPECT_LT(session.slots[0].rider->checkpoints_passed, passed_before);
  EXPECT_FALSE(session.slots[0].rider->finished);
  EXPECT_FALSE(race.results_final);
  // Skipping forward runs the race; the played race still ends as the recorded one did.
  int now = race.race_tick;
  demo_seek(2.0);
  EXPECT_EQ(race.race_tick, now + 256);
  Outcome played = run_to_finish();
  EXPECT_EQ(played.order, live.order);
}

TEST_F(RecordedRace, SeekingNeedsAPlayingDemoAndNoLocalRiders) {
  record_race();
  memset(&session, 0, sizeof session);
  race = RaceState{};
  demo_install_race_hooks();
  int lineup[max_riders] = {};
  lineup[5] = lineup_robot;  // a simulated rider beside the demo: no seeking
  start_race(lineup, true, false, 0, 1000, 0);
  ASSERT_TRUE(demo_is_playing());
  for (int i = 0; i < 700; ++i) race_tick_step();
  int now = race.race_tick;
  demo_seek(-5.0);
  EXPECT_EQ(race.race_tick, now);
}

TEST_F(RecordedRace, HotLapRecordsTheLapAndRacesItAsAGhost) {
  race.requested_track = "ridgeback";
  start_race(nullptr, false, false, 0, 0, 0);
  ASSERT_TRUE(race.hot_lap_mode);
  ASSERT_TRUE(demo_recording.active);
  std::string last = roots.home + "ridgeback/lastlap.kvdemo";
  std::string fast = roots.home + "ridgeback/fastlap.kvdemo";
  Rider* player = session.slots[0].rider;
  ASSERT_NE(player, nullptr);
  int guard = 0;
  while (laps_completed(player) == 0 && guard++ < 2000) {
    // One gate every 8 ticks, as the recorded robots ride.
    if (race.race_tick % 8 == 0) {
      int entry = timing_checkpoint_entry(player->checkpoints_passed);
      int gate = entry >= not_switch_point ? entry - not_switch_point : entry;
      const TimingGate& g = timing.gates[gate];
      float x = g.centre[0] + g.direction[0] * 1.5f, z = g.centre[2] + g.direction[2] * 1.5f;
      float f[3];
      bike_body_position(player, body_front_wheel, f);
      bike_translate(player, x - f[0], terrain_height(&track_terrain, x, z) + 2.5f - f[1], z - f[2]);
    }
    race_tick_step();
  }
  ASSERT_EQ(laps_completed(player), 1);
  // The finished lap was closed into place and became the fast lap; a new lap is recording.
  ASSERT_TRUE(file_exists(fast));
  EXPECT_TRUE(file_exists(last));
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, fast.c_str(), nullptr), demo_loaded);
  EXPECT_EQ(r.header.rider_count, 1);
  demo_reader_close(&r);
  EXPECT_TRUE(demo_recording.active);
  // The ghost rides in slot 1 from now on, in the race's time.
  ASSERT_TRUE(demo_is_playing());
  ASSERT_NE(session.slots[1].rider, nullptr);
  EXPECT_EQ(session.slots[1].kind, slot_replayed);
  EXPECT_EQ(demo_playback.slot_of[0], 1);
  for (int i = 0; i < 32; ++i) race_tick_step();
  int before, after;
  ASSERT_TRUE(history_span(1, race.race_tick, &before, &after));
  EXPECT_GE(before, race.race_tick - 32);
  EXPECT_GE(after, race.race_tick);
  // Read half a second ahead.
  const SlotHistory& h = state_history.slots[1];
  EXPECT_GE(h.entries[h.head].tick, race.race_tick + 48);
}
