// Timing against scripted front-wheel positions: crossings, gaps and repairs, lap lines, the
// finish, standings, timed races, the cutting penalty, the off-course and ghost rules.
#include <algorithm>

#include "race_fixture.h"

namespace {

using Timing = ScriptedCourse;

TEST_F(Timing, CrossingsRecordSkipsRepairsAndTheUnjumpableLapLine) {
  struct Case {
    const char* what;
    std::vector<int> passes;  // checkpoint indices whose gate the front wheel reaches, one per tick
    int checkpoints;
    std::vector<int> crossings;  // tick per checkpoint, ticks are 10 * (position in passes + 1)
  };
  const Case cases[] = {
      {"in order", {0, 1, 2}, 3, {10, 20, 30}},
      {"skip one", {0, 1, 3}, 4, {10, 20, -1, 30}},
      {"skip two", {0, 1, 4}, 5, {10, 20, -1, -1, 30}},
      {"three ahead is too far", {0, 1, 5}, 2, {10, 20}},
      // Back through the skipped gate 2, then gate 3 again: both recorded anew.
      {"repair within three", {0, 1, 3, 2, 3}, 4, {10, 20, 40, 50}},
      // Touching gates already passed changes nothing when none was skipped.
      {"touch behind", {0, 1, 2, 3, 1, 2}, 4, {10, 20, 30, 40}},
      // The lap line (checkpoint 5) can never be skipped: gates 0 and 1 of lap 2 do nothing.
      {"lap line", {0, 1, 2, 3, 4, 6, 7}, 5, {10, 20, 30, 40, 50}},
      // Skipping the checkpoint before it is cutting like any other; the line itself counts.
      {"into the lap line", {0, 1, 2, 3, 5}, 6, {10, 20, 30, 40, -1, 50}},
      {"across the lap line", {0, 1, 2, 3, 4, 5, 6}, 7, {10, 20, 30, 40, 50, 60, 70}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    race_slots_clear();
    Rider* r = occupy(0);
    *r = Rider{};
    r->slot = 0;
    int t = 10;
    for (int idx : c.passes) {
      pass(0, idx, t);
      t += 10;
    }
    EXPECT_EQ(r->checkpoints_passed, c.checkpoints);
    EXPECT_EQ(crossings(0), c.crossings);
  }
}

TEST_F(Timing, NothingIsTimedWithoutGatesOrAfterTheFinish) {
  Rider* r = occupy(0);
  r->finished = true;
  pass(0, 0, 5);
  EXPECT_EQ(r->checkpoints_passed, 0);
  r->finished = false;
  timing_gates_free();
  pass(0, 0, 5);
  EXPECT_EQ(r->checkpoints_passed, 0);
  update_standings();
  EXPECT_FALSE(race.results_final);
}

TEST_F(Timing, StandingsOrderMoreCheckpointsThenEarlierCrossingThenLowerSlot) {
  std::vector<StandingEntry> e = {
      {7, 3, 500}, {2, 5, 900}, {4, 3, 400}, {1, 3, 400}, {9, 0, 0}, {0, 5, 950}, {3, 0, 0},
  };
  std::sort(e.begin(), e.end(), standing_before);
  std::vector<int> order;
  for (const StandingEntry& s : e) order.push_back(s.slot);
  EXPECT_EQ(order, (std::vector<int>{2, 0, 1, 4, 7, 3, 9}));
}

TEST_F(Timing, StandingsFollowCrossings) {
  occupy(3);
  occupy(5);
  occupy(8);
  ride(5, 0, 2, 100, 10);
  ride(3, 0, 2, 105, 10);
  ride(8, 0, 3, 200, 10);
  ASSERT_EQ(race.standings_count, 3);
  EXPECT_EQ(race.standings[0].slot, 8);
  EXPECT_EQ(race.standings[1].slot, 5);
  EXPECT_EQ(race.standings[2].slot, 3);
  EXPECT_EQ(race.standings[1].last_tick, 120);
}

TEST_F(Timing, LapsLapTimesAndBestLap) {
  Rider* r = occupy(0);
  race.gate_drop_tick = 100;
  // Lap 1 ends at tick 700, lap 2 at 1300 (600), lap 3 at 1800 (500).
  int t = ride(0, 0, 5, 200, 100);
  EXPECT_EQ(t, 800);
  t = ride(0, 6, 11, 800, 100);
  t = ride(0, 12, 17, 1300, 100);
  EXPECT_EQ(laps_completed(r), 3);
  EXPECT_EQ(lap_ticks(r, 1), 700 - 100);
  EXPECT_EQ(lap_ticks(r, 2), 1300 - 700);
  EXPECT_EQ(lap_ticks(r, 3), 1800 - 1300);
  EXPECT_EQ(lap_ticks(r, 4), 0);
  EXPECT_EQ(best_lap(r), 500);  // lap 1 never counts
}

TEST_F(Timing, FinishCascadesAfterTheLeader) {
  race.race_laps = 2;
  Rider* a = occupy(0);
  Rider* b = occupy(1);
  Rider* c = occupy(2);
  ride(1, 0, 7, 10, 10);  // b in lap 2
  ride(2, 0, 3, 10, 10);  // c still in lap 1
  ride(0, 0, 11, 10, 5);  // a completes 2 laps
  EXPECT_TRUE(a->finished);
  EXPECT_FALSE(b->finished);
  EXPECT_FALSE(c->finished);
  EXPECT_FALSE(race.results_final);
  ride(2, 4, 5, 200, 10);  // c's next lap line: done, a lap down
  EXPECT_TRUE(c->finished);
  EXPECT_EQ(laps_completed(c), 1);
  EXPECT_FALSE(race.results_final);
  ride(1, 8, 11, 300, 10);
  EXPECT_TRUE(b->finished);
  EXPECT_TRUE(race.results_final);
  ASSERT_EQ(race.results_count, 3);
  EXPECT_EQ(race.results[0].slot, 0);
  EXPECT_EQ(race.results[1].slot, 1);
  EXPECT_EQ(race.results[2].slot, 2);
}

TEST_F(Timing, ZeroLapRaceFinishesEveryoneAtTheFirstLapLine) {
  race.race_laps = 0;
  Rider* a = occupy(0);
  Rider* b = occupy(1);
  ride(0, 0, 4, 10, 10);
  ride(1, 0, 4, 20, 10);
  EXPECT_FALSE(a->finished);
  EXPECT_FALSE(b->finished);
  pass(0, 5, 100);
  EXPECT_TRUE(a->finished);
  EXPECT_FALSE(has_finished(b));  // its checkpoint 0 came before the leader's finish
  EXPECT_FALSE(race.results_final);
  pass(1, 5, 300);
  EXPECT_TRUE(b->finished);
  EXPECT_TRUE(race.results_final);
}

TEST_F(Timing, FinishRuleSetsTheFlagForARiderWithoutTimingStep) {
  race.race_laps = 1;
  Rider* a = occupy(0);
  Rider* b = occupy(1);
  ride(1, 0, 5, 10, 10);  // b's lap line at tick 60
  ride(0, 0, 5, 10, 5);   // the leader finishes at tick 35 with 6 checkpoints
  // b's flag was already set by its own crossing (it completed the lap).
  EXPECT_TRUE(b->finished);
  b->finished = false;
  // The rule: b's last lap line (tick 60) is after the leader's finish (tick 35).
  EXPECT_TRUE(has_finished(b));
  EXPECT_TRUE(b->finished);
  EXPECT_TRUE(has_finished(a));
}

TEST_F(Timing, TimedRaceOfTwentyMinutesPlusTwoLaps) {
  race.time_limit_ticks = 20 * 60 * ticks_per_second;
  race.extra_laps = 2;
  race.race_laps = race.halfway_lap = max_race_laps;
  race.gate_drop_tick = 0;
  Rider* a = occupy(0);
  occupy(1);
  const int lap = 42240;  // 5.5 minutes
  int step = lap / gates;
  int t = step;
  for (int l = 0; l < 3; ++l) t = ride(0, l * gates, l * gates + gates - 1, t, step);
  EXPECT_EQ(race.halfway_lap, 2);  // set at the first crossing after 10 minutes, in lap 2
  EXPECT_EQ(race.race_laps, max_race_laps);
  // Lap 4 ends after minute 20: the race now ends 2 laps later.
  t = ride(0, 18, 23, t, step);
  EXPECT_GT(crossing_tick(0, 23), race.time_limit_ticks);
  EXPECT_EQ(race.race_laps, 6);
  t = ride(0, 24, 35, t, step);
  EXPECT_TRUE(a->finished);
  EXPECT_EQ(laps_completed(a), 6);
  EXPECT_EQ(race.race_laps, 6);
}

TEST_F(Timing, CuttingPenaltyAgainstCleanRiders) {
  // Checkpoints 1 to 3: the others need 8.0 s, the cutter skips 2 and needs 5.0 s.
  occupy(0);
  occupy(1);
  occupy(2);
  for (int s : {1, 2}) {
    pass(s, 0, 100);
    pass(s, 1, 200);
    pass(s, 2, 600);
    pass(s, 3, 200 + 8 * 128);
  }
  pass(0, 0, 100);
  pass(0, 1, 200);
  pass(0, 3, 200 + 5 * 128);
  EXPECT_EQ(cutting_penalty(0), (8 + 1 - 5) * 128);
  EXPECT_EQ(cutting_penalty(1), 0);
}

TEST_F(Timing, CuttingPenaltyWithoutCleanRidersUsesSixtySeconds) {
  occupy(0);
  pass(0, 0, 100);
  pass(0, 1, 200);
  pass(0, 3, 200 + 5 * 128);
  EXPECT_EQ(cutting_penalty(0), 60 * 128 + 128 - 5 * 128);
}

TEST_F(Timing, CuttingInALaterLapUsesEveryCleanLapOfTheOthers) {
  race.race_laps = 10;
  occupy(0);
  occupy(1);
  // Rider 1 rides checkpoints 7..9 in 4 s on lap 2 and 6 s on lap 3: its mean is 5 s.
  int t = ride(1, 0, 6, 10, 10);
  pass(1, 7, 1000);
  pass(1, 8, 1100);
  pass(1, 9, 1000 + 4 * 128);
  t = ride(1, 10, 12, 2000, 10);
  pass(1, 13, 3000);
  pass(1, 14, 3100);
  pass(1, 15, 3000 + 6 * 128);
  ride(1, 16, 17, 4000, 10);
  // The cutter skips checkpoint 8: 1 s where 5 s is the reference.
  ride(0, 0, 7, 10, 10);
  pass(0, 9, 80 + 128);
  EXPECT_EQ(crossing_tick(0, 8), -1);
  EXPECT_EQ(cutting_penalty(0), (5 + 1 - 1) * 128);
  (void)t;
}

TEST_F(Timing, PenaltyOfWholeLapsComesOffTheCheckpointCount) {
  // Rider 1 needs 135 s from checkpoint 1 to 3; the cutter (slot 0) skips 2 and needs 6 s,
  // then rides two laps of 60 s: 130 s of penalty take two laps and leave 10 s.
  race.race_laps = 3;
  Rider* cutter = occupy(0);
  Rider* slow = occupy(1);
  pass(1, 0, 100);
  pass(1, 1, 200);
  pass(1, 2, 300);
  pass(1, 3, 200 + 135 * 128);
  pass(0, 0, 100);
  pass(0, 1, 200);
  pass(0, 3, 200 + 6 * 128);
  int t = ride(0, 4, 5, 1000, 10);
  t = 1010;
  ride(0, 6, 11, t + 60 * 128 / 6, 60 * 128 / 6);   // lap 2 ends at 1010 + 7680
  ride(0, 12, 17, t + 60 * 128 + 60 * 128 / 6, 60 * 128 / 6);  // lap 3 ends 7680 later
  EXPECT_EQ(best_lap(cutter), 60 * 128);
  EXPECT_TRUE(cutter->finished);
  int finish = crossing_tick(0, 17);
  ride(1, 4, 5, finish + 100, 10);  // the slow rider finishes at its next lap line
  EXPECT_TRUE(slow->finished);
  ASSERT_TRUE(race.results_final);
  const StandingEntry* res = nullptr;
  for (int i = 0; i < race.results_count; ++i)
    if (race.results[i].slot == 0) res = &race.results[i];
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(res->checkpoints, 18 - 2 * gates);
  EXPECT_EQ(res->last_tick, finish + 10 * 128);
  // Both now have one lap; the slow rider's lap line came earlier, so it wins.
  EXPECT_EQ(race.results[0].slot, 1);
}

TEST_F(Timing, OffCourseWhenFarSlowerThanTheRiderAhead) {
  race.gate_drop_tick = 0;
  Rider* a = occupy(0);
  Rider* b = occupy(1);
  ride(0, 0, 3, 128, 128);  // a: a second per segment
  ride(1, 0, 1, 128, 128);  // b: stuck after checkpoint 1 (tick 256)
  race.race_tick = 256 + 11 * 128 + 63;
  EXPECT_TRUE(off_course_active());
  EXPECT_FALSE(is_off_course(b));
  race.race_tick = 256 + 11 * 128 + 64;  // 1.5 x 1 s + 10 s after its last crossing
  EXPECT_TRUE(is_off_course(b));
  EXPECT_FALSE(is_off_course(a));
  Rider* c = occupy(2);
  update_standings();
  EXPECT_TRUE(is_off_course(c));  // no checkpoint at all
  race.race_tick = 9 * 128;
  EXPECT_FALSE(off_course_active());  // too soon after the drop
  session.slots[1].rider = session.slots[2].rider = nullptr;
  update_standings();
  race.race_tick = 100000;
  EXPECT_FALSE(off_course_active());  // a single rider is never off course
}

int history_from = 0, history_to = 0;
bool span(int, int, int* before, int* after) {
  *before = history_from;
  *after = history_to;
  return true;
}

TEST_F(Timing, GhostRule) {
  occupy(0, slot_local);
  occupy(1, slot_robot);
  occupy(2, slot_replayed);
  race.race_tick = 1000;
  EXPECT_TRUE(is_ghost(5));  // empty
  EXPECT_FALSE(is_ghost(0));
  EXPECT_FALSE(is_ghost(1));
  EXPECT_TRUE(is_ghost(2));  // no history reaches it
  race_hooks.history_span = span;
  history_from = 990;
  history_to = 1010;
  EXPECT_FALSE(is_ghost(2));
  history_from = 1000 - 129;
  EXPECT_TRUE(is_ghost(2));
  history_from = 1000;
  history_to = 1000 + 129;
  EXPECT_TRUE(is_ghost(2));
}

TEST_F(Timing, CrossingArrayNeverReadPastItsLength) {
  occupy(0);
  EXPECT_EQ(crossing_tick(0, 0), -1);
  EXPECT_EQ(crossing_tick(0, 1 << 30), -1);
  EXPECT_EQ(crossing_tick(-1, 0), -1);
  EXPECT_EQ(crossing_tick(max_riders, 0), -1);
  Rider* r = occupy(1);
  EXPECT_EQ(lap_ticks(r, 1 << 20), 0);
  EXPECT_EQ(lap_ticks(r, -5), 0);
  EXPECT_EQ(lap_ticks(r, 1), 0);
}

}  // namespace
