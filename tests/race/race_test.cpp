// Race start pieces without physics: the roster and its shuffle, grid places, bike names, the
// false-start hold, hot-lap lap times, race times and the headless results.
#include <climits>
#include <random>
#include <string>

#include "core/console.h"
#include "core/options.h"
#include "race_fixture.h"
#include "track/track.h"

namespace {

using RaceStart = ScriptedCourse;

TEST_F(RaceStart, RosterShuffleFollowsTheGeneratorAndNeverKeepsTheLastEntry) {
  race.race_tick = 0;
  roster_shuffle();
  std::mt19937 g(0);
  int order[roster_size];
  for (int i = 0; i < roster_size; ++i) order[i] = i;
  for (int i = roster_size - 1; i >= 1; --i) std::swap(order[i], order[(g() >> 16) % static_cast<unsigned>(i)]);
  for (int i = 0; i < roster_size; ++i) EXPECT_EQ(race.roster_order[i], order[i]) << i;
  for (int seed = 0; seed < 300; ++seed) {
    race.race_tick = seed * 977;
    roster_shuffle();
    ASSERT_NE(race.roster_order[roster_size - 1], roster_size - 1) << seed;
    bool seen[roster_size] = {};
    for (int v : race.roster_order) seen[v] = true;
    for (bool s : seen) ASSERT_TRUE(s);
  }
}

TEST_F(RaceStart, RosterTable) {
  struct Case {
    int number;
    const char* personality;
    const char* bike;
  };
  const Case cases[] = {
      {20, "quenby", "kx125"},  {29, "quenby", "yz125"},  {34, "quenby", "cr125"},
      {39, "quenby", "rm125"},  {40, "zolt", "crf250"},   {49, "zolt", "kx250f"},
      {53, "zolt", "rmz250"},   {54, "zolt", "yz250f"},   {58, "zolt", "yz250f"},
      {59, "zolt", "yz250f_se(2006)"}, {60, "quenby", "crf250"}, {74, "quenby", "rmz250"},
      {75, "quenby", "yz250f"}, {78, "quenby", "yz250f"}, {79, "quenby", "yz250f_se(2006)"},
      {80, "osmer", "crf250"},  {89, "osmer", "kx250f"},  {94, "osmer", "yz250f"},
      {99, "osmer", "rmz250"},
  };
  for (const Case& c : cases) {
    const RosterEntry* e = roster_entry(c.number - 20);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::stoi(e->number), c.number);
    EXPECT_STREQ(e->personality, c.personality) << c.number;
    EXPECT_STREQ(e->bike, c.bike) << c.number;
  }
  EXPECT_EQ(roster_entry(-1), nullptr);
  EXPECT_EQ(roster_entry(roster_size), nullptr);
}

TEST_F(RaceStart, OldBikeNamesAreMapped) {
  EXPECT_STREQ(map_bike_name("crf250"), "crf250(2008)");
  EXPECT_STREQ(map_bike_name("kx250f"), "kx250f(2008)");
  EXPECT_STREQ(map_bike_name("rmz250"), "rmz250(2008)");
  EXPECT_STREQ(map_bike_name("yz250f"), "yz250f(2008)");
  EXPECT_STREQ(map_bike_name("kx125"), "kx125");
  EXPECT_STREQ(map_bike_name(nullptr), "rm125");
  EXPECT_STREQ(map_bike_name(""), "rm125");
}

TEST_F(RaceStart, GridRowsStandTenFeetApartBehindTheSlots) {
  timing.start_slot_count = 12;
  for (int k = 0; k < 12; ++k) {
    timing.slots[k].position[0] = 100.0f + 8 * k;
    timing.slots[k].position[2] = 200.0f;
    timing.slots[k].angle = 0.5f;
  }
  float x, z, a;
  grid_place(12, &x, &z, &a);
  EXPECT_NEAR(x, 100 + std::sin(0.5f) * 10.625f, 1e-4f);
  EXPECT_NEAR(z, 200 + std::cos(0.5f) * 10.625f, 1e-4f);
  EXPECT_FLOAT_EQ(a, 0.5f);
  grid_place(1, &x, &z, &a);
  EXPECT_NEAR(x, 108 + std::sin(0.5f) * 0.625f, 1e-4f);
  EXPECT_NEAR(z, 200 + std::cos(0.5f) * 0.625f, 1e-4f);
  grid_place(159, &x, &z, &a);  // 13 rows back
  EXPECT_NEAR(z, 200 + std::cos(0.5f) * 130.625f, 1e-3f);
  timing.start_slot_count = 0;
  track_terrain.extent = 2048;
  grid_place(3, &x, &z, &a);
  EXPECT_FLOAT_EQ(x, 15 + 1024);
  EXPECT_FLOAT_EQ(z, 1024);
  EXPECT_FLOAT_EQ(a, 0);
  track_terrain.extent = 0;
}

TEST_F(RaceStart, FalseStartHoldsUntilFifteenSecondsAfterTheDrop) {
  Rider* r = occupy(0, slot_local);
  race.gate_drop_tick = 2000;
  const float moved[3] = {3, 0, 0}, near[3] = {2.9f, 0, 0};
  race.race_tick = 1872;
  false_start_step(r, near);
  EXPECT_EQ(race.false_start_hold, 0);
  false_start_step(r, moved);  // 1 s before the drop
  EXPECT_EQ(race.false_start_hold, 2048 - 1);
  EXPECT_EQ(r->control.throttle, 0);
  EXPECT_EQ(r->control.front_brake, 1);
  EXPECT_EQ(r->control.rear_brake, 1);
  EXPECT_EQ(r->control.dab, 1);
  EXPECT_EQ(r->control.clutch, 0);
  int held = 1;
  while (race.false_start_hold > 0 && held < 10000) {
    race.race_tick++;
    r->control.throttle = 1;
    false_start_step(r, moved);
    ++held;
    if (race.false_start_hold > 0) {
      ASSERT_EQ(r->control.throttle, 0);
    }
  }
  EXPECT_EQ(held, 16 * ticks_per_second);  // 16 s in all: 15 s after the drop
  r->control.throttle = 1;
  false_start_step(r, moved);  // after the drop moving is free
  EXPECT_EQ(race.false_start_hold, 0);
  EXPECT_EQ(r->control.throttle, 1);
}

TEST_F(RaceStart, HotLapTimeNeedsEveryCheckpointOfTheLap) {
  occupy(0);
  // The timed lap runs from checkpoint 5 (the first lap line) to 11.
  ride(0, 0, 5, 100, 10);
  ride(0, 6, 11, 200, 100);
  EXPECT_EQ(hot_lap_time(0), 700 - 150);
  race_slots_clear();
  riders[0].checkpoints_passed = 0;
  ride(0, 0, 5, 100, 10);
  pass(0, 6, 200);
  pass(0, 8, 300);  // cut checkpoint 7
  ride(0, 9, 11, 400, 100);
  EXPECT_EQ(hot_lap_time(0), 0);
}

TEST_F(RaceStart, RaceTimesFromWholeTicks) {
  struct Case {
    int ticks;
    const char* text;
  };
  const Case cases[] = {{0, "0:00.000"},     {1, "0:00.007"},       {128, "0:01.000"},
                        {7680, "1:00.000"},  {8000, "1:02.500"},    {128 * 3600, "60:00.000"},
                        {-50, "0:00.000"},   {INT_MAX, "279620:15.992"}};
  for (const Case& c : cases) {
    char b[32];
    format_race_time(c.ticks, b, sizeof b);
    EXPECT_STREQ(b, c.text) << c.ticks;
  }
}

TEST_F(RaceStart, HeadlessResultsArePrintedOnceWhenFinal) {
  race.race_laps = 1;
  race.gate_drop_tick = 0;
  Rider* a = occupy(0);
  Rider* b = occupy(1);
  strcpy(a->number, "42");
  strcpy(b->number, "7");
  race_slots[0].name = "Robot";
  race_slots[0].bike = "kx125";
  race_slots[1].name = "Pat";
  race_slots[1].bike = "crf250(2008)";
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  race_results_out = out;
  bool headless = options.headless;
  options.headless = true;
  ride(0, 0, 5, 1280, 1280);  // finishes at 7680: 1:00.000
  EXPECT_FALSE(race_results_are_final());
  ride(1, 0, 5, 2000, 1280);  // 8400
  EXPECT_TRUE(race_results_are_final());
  update_standings();  // no second print
  options.headless = headless;
  race_results_out = nullptr;
  rewind(out);
  char text[1024] = {};
  size_t n = fread(text, 1, sizeof text - 1, out);
  fclose(out);
  std::string s(text, n);
  struct Line {
    int position;
    char number[8], name[32], bike[32];
    int laps;
    char total[16], best[16];
  };
  Line l[2] = {};
  const char* p = s.c_str();
  for (Line& x : l) {
    ASSERT_EQ(sscanf(p, "%d %7s %31s %31s %d %15s %15s", &x.position, x.number, x.name, x.bike,
                     &x.laps, x.total, x.best), 7);
    p = strchr(p, '\n');
    ASSERT_NE(p, nullptr);
    ++p;
  }
  EXPECT_EQ(*p, 0);  // two lines only
  EXPECT_EQ(l[0].position, 1);
  EXPECT_STREQ(l[0].number, "42");
  EXPECT_STREQ(l[0].name, "Robot");
  EXPECT_STREQ(l[0].bike, "kx125");
  EXPECT_EQ(l[0].laps, 1);
  EXPECT_STREQ(l[0].total, "1:00.000");
  EXPECT_STREQ(l[0].best, "0:00.000");
  EXPECT_EQ(l[1].position, 2);
  EXPECT_STREQ(l[1].number, "7");
  EXPECT_STREQ(l[1].name, "Pat");
  EXPECT_STREQ(l[1].total, "1:05.625");
}

}  // namespace
