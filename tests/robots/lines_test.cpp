// Racing-line store tests: segments and slots, the line file, offers, eviction, pruning, chains.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bike/rider.h"
#include "core/memory.h"
#include "core/options.h"
#include "core/session.h"
#include "race/race.h"
#include "robots/lines.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "track/track.h"

namespace {

// A course of gates where every switch_every-th gate is a switch point.
struct LinesTest : ::testing::Test {
  TempDir dir;

  void SetUp() override {
    memset(&session, 0, sizeof session);
    race = RaceState{};
    race_slots_clear();
    make_course(8, 2);
  }
  void TearDown() override {
    lines_destroy();
    timing_gates_free();
    race_slots_clear();
    for (int s = 0; s < max_riders; ++s) rider_lines_reset(s);
  }

  void make_course(int gates, int switch_every) {
    timing_gates_free();
    timing.gate_count = gates;
    timing.gates = static_cast<TimingGate*>(xcalloc(gates, sizeof(TimingGate)));
    timing.first_lap_count = gates;
    timing.normal_lap_count = gates;
    timing.sequence = static_cast<int*>(xcalloc(2 * gates, sizeof(int)));
    timing.first_switch_count = timing.normal_switch_count = 0;
    for (int i = 0; i < 2 * gates; ++i) {
      int g = i % gates;
      bool sw = switch_every > 0 && g % switch_every == 0;
      timing.sequence[i] = sw ? g : g + not_switch_point;
      if (sw) ++(i < gates ? timing.first_switch_count : timing.normal_switch_count);
    }
    lines_create(timing.first_switch_count, timing.normal_switch_count);
  }

  // A straight line along +x from x0, n samples 10 ft apart, at lateral z.
  static std::vector<LineSample> straight(float x0, float z, int n, float speed = 40) {
    std::vector<LineSample> v;
    for (int k = 0; k < n; ++k) v.push_back(LineSample{x0 + 10.0f * k, 1, z, speed, 0});
    return v;
  }
  int add(int slot, const std::vector<LineSample>& v, int runs = 0, int failures = 0, int sum = 0,
          int learned_b = line_no_time) {
    int i = lines_insert(slot, v.data(), static_cast<int>(v.size()));
    EXPECT_GE(i, 0);
    RacingLine& l = line_store.slots[slot][i];
    l.runs = runs;
    l.failures = failures;
    l.sum_a = l.sum_b = sum;
    l.learned_a = l.learned_b = learned_b;
    return i;
  }
};

TEST_F(LinesTest, SegmentsAndSlots) {
  // 8 gates, switch points at 0, 2, 4, 6 in both lists: 4 + 4 slots.
  EXPECT_EQ(line_store.slot_count, 8);
  EXPECT_EQ(segment_of(0), 0);
  EXPECT_EQ(segment_of(1), 1);   // checkpoint 0 is a switch point
  EXPECT_EQ(segment_of(2), 1);
  EXPECT_EQ(segment_of(8), 4);
  EXPECT_EQ(segment_of(9), 5);
  EXPECT_EQ(segment_of(8 + 8 * 100 + 1), 4 + 4 * 100 + 1);
  EXPECT_EQ(slot_of(3), 3);
  EXPECT_EQ(slot_of(4), 4);
  EXPECT_EQ(slot_of(8), 4);
  EXPECT_EQ(slot_of(11), 7);
  EXPECT_EQ(slot_of(-1), -1);

  // No normal-lap switch points: no slot at all instead of a division by zero.
  lines_create(3, 0);
  EXPECT_EQ(line_store.slot_count, 0);
  EXPECT_EQ(slot_of(0), -1);
  EXPECT_EQ(slot_of(5), -1);
  EXPECT_EQ(lines_offer(0, nullptr, 0, 1, 2), line_no_slot);
  std::string path = dir.file("lines");
  write_file(path, "ct03 0\n");
  EXPECT_FALSE(lines_load_file(path.c_str()));
}

TEST_F(LinesTest, SaveLoadRoundTripKeepsCounters) {
  auto v = straight(0, 0, 3);
  v[1].speed = -12.5f;  // airborne
  v[2].lean = -0.25f;
  int i = add(2, v);
  RacingLine& l = line_store.slots[2][i];
  l.learned_a = 300;
  l.learned_b = 700;
  l.runs = 65535;
  l.best_a = 250;
  l.best_b = 600;
  l.sum_a = 1000;
  l.sum_b = 100000000;
  l.failures = 65535;
  add(5, straight(5, 5, 2));
  std::string path = dir.file("t/lines_expert");
  ASSERT_TRUE(lines_save_file(path.c_str()));
  EXPECT_FALSE(file_exists(path + ".tmp"));
  RacingLine before = l;
  ASSERT_TRUE(lines_load_file(path.c_str()));
  EXPECT_EQ(lines_count(2), 1);
  EXPECT_EQ(lines_count(5), 1);
  const RacingLine& r = line_store.slots[2][0];
  EXPECT_EQ(r.sample_count, 3);
  EXPECT_EQ(r.learned_a, before.learned_a);
  EXPECT_EQ(r.learned_b, before.learned_b);
  EXPECT_EQ(r.runs, before.runs);
  EXPECT_EQ(r.best_a, before.best_a);
  EXPECT_EQ(r.best_b, before.best_b);
  EXPECT_EQ(r.sum_a, before.sum_a);
  EXPECT_EQ(r.sum_b, before.sum_b);
  EXPECT_EQ(r.failures, before.failures);
  EXPECT_EQ(r.last_picked, line_never_picked);
  EXPECT_NE(r.line_id, 0);
  EXPECT_NE(r.line_id, before.line_id);  // every loaded line gets a fresh id
  EXPECT_FLOAT_EQ(r.samples[1].speed, -12.5f);
  EXPECT_FLOAT_EQ(r.samples[2].lean, -0.25f);

  // Saving again replaces the file in place.
  lines_clear();
  ASSERT_TRUE(lines_save_file(path.c_str()));
  ASSERT_TRUE(lines_load_file(path.c_str()));
  EXPECT_EQ(lines_count(2), 0);
}

TEST_F(LinesTest, LoadRefusesMismatchAndSkipsBadEntries) {
  std::string path = dir.file("lines");
  // Wrong slot count: ignored, the store stays empty.
  write_file(path, "ct03 7\n1\n1 1 1 0 1 1 0 0 0\n[1 2 3] 4 5\n");
  EXPECT_FALSE(lines_load_file(path.c_str()));
  EXPECT_EQ(lines_count(0), 0);
  write_file(path, "ct04 8\n");
  EXPECT_FALSE(lines_load_file(path.c_str()));

  const std::string good = "1 10 20 0 1000000 1000000 0 0 0\n[1 2 3] 4 5\n";
  struct Case {
    const char* what;
    std::string slot0;
    int kept0;  // lines kept in slot 0; slot 1 always has one good line when the slot ends cleanly
    bool slot1_read;
  };
  std::string many = "46\n";
  for (int k = 0; k < 46; ++k) many += good;
  std::vector<Case> cases = {
      {"negative runs", "2\n1 10 20 -1 1 1 0 0 0\n[1 2 3] 4 5\n" + good, 1, true},
      {"negative failures", "2\n1 10 20 0 1 1 0 0 -5\n[1 2 3] 4 5\n" + good, 1, true},
      {"negative sum", "2\n1 10 20 3 1 1 -9 0 0\n[1 2 3] 4 5\n" + good, 1, true},
      {"nan sample", "2\n1 10 20 0 1 1 0 0 0\n[nan 2 3] 4 5\n" + good, 1, true},
      {"infinite speed", "2\n1 10 20 0 1 1 0 0 0\n[1 2 3] inf 5\n" + good, 1, true},
      {"zero samples", "2\n0 10 20 0 1 1 0 0 0\n" + good, 0, false},
      {"too many samples", "1\n65537 10 20 0 1 1 0 0 0\n", 0, false},
      {"sample does not scan", "2\n2 10 20 0 1 1 0 0 0\n[1 2 3] 4 5\n[1 2 x] 4 5\n" + good, 0, false},
      {"46 lines in a slot", many, 45, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(path, "ct03 8\n" + c.slot0 + "1\n" + good + "0\n0\n0\n0\n0\n0\n");
    ASSERT_TRUE(lines_load_file(path.c_str()));
    EXPECT_EQ(lines_count(0), c.kept0);
    if (c.slot1_read) {
      EXPECT_EQ(lines_count(1), 1);
    }
    for (const RacingLine& l : line_store.slots[0]) {
      if (l.sample_count == 0) continue;
      EXPECT_GE(l.runs, 0);
      EXPECT_GE(l.failures, 0);
      EXPECT_TRUE(std::isfinite(l.samples[0].x));
    }
  }
}

TEST_F(LinesTest, LoadBringsCountersIntoRange) {
  std::string path = dir.file("lines");
  write_file(path, "ct03 8\n1\n1 10 20 200000 5 6 400000000 800000000 131072\n[1 2 3] 4 5\n0\n0\n0\n0\n0\n0\n0\n");
  ASSERT_TRUE(lines_load_file(path.c_str()));
  const RacingLine& l = line_store.slots[0][0];
  EXPECT_LE(l.runs, line_counter_cap);
  EXPECT_LE(l.failures, line_counter_cap);
  EXPECT_LE(l.sum_b, line_sum_cap);
  // Rescaling keeps the mean time (4000 ticks per run) roughly where it was.
  ASSERT_GT(l.runs, 0);
  EXPECT_NEAR(l.sum_b / l.runs, 4000, 1);
}

TEST_F(LinesTest, OfferRejectsDuplicatesAndSlowRuns) {
  auto v = straight(0, 0, 5);
  EXPECT_EQ(lines_offer(1, v.data(), 5, 100, 200), line_learned);
  const RacingLine& l = line_store.slots[1][0];
  EXPECT_EQ(l.learned_a, 100);
  EXPECT_EQ(l.learned_b, 200);
  EXPECT_EQ(l.runs, 0);
  EXPECT_EQ(l.best_b, line_no_time);
  // Within 1/16 ft and 1/16 ft/s everywhere: the same line.
  auto near = v;
  for (auto& p : near) {
    p.x += 0.03f;
    p.speed = -(p.speed + 0.05f);
  }
  EXPECT_EQ(lines_offer(1, near.data(), 5, 90, 180), line_duplicate);
  near[4].x += 0.2f;
  EXPECT_EQ(lines_offer(1, near.data(), 5, 90, 180), line_learned);
  EXPECT_EQ(lines_count(1), 2);

  // A full slot: the new run must not be slower than the weakest line's score.
  for (int k = lines_count(1); k < lines_per_slot; ++k) add(1, straight(0, 10.0f * k, 4), 0, 0, 0, 800);
  ASSERT_EQ(lines_count(1), lines_per_slot);
  auto fresh = straight(0, -50, 4);
  // Weakest: learned_b 800 -> 5/4 * 800 = 1000, lonely start -> 750 for choosing, 1000 to beat.
  EXPECT_EQ(lines_offer(1, fresh.data(), 4, 700, 801), line_too_slow);
  EXPECT_EQ(lines_offer(1, fresh.data(), 4, 700, 800), line_learned);
  EXPECT_EQ(lines_count(1), lines_per_slot);
}

TEST_F(LinesTest, EvictionPrefersWeakAndProtectsProvenLines) {
  // Scores: runs -> mean + failure share * 640; none -> 5/4 learned_b (+640 with failures).
  add(0, straight(0, 0, 3), 4, 0, 4000);            // 1000, proven
  add(0, straight(0, 1, 3), 0, 0, 0, 1000);         // 1250, near the first start
  add(0, straight(0, 0.5f, 3), 2, 2, 2000);         // 1000 + 320
  EXPECT_EQ(lines_eviction_choice(0), 2);
  line_store.slots[0][2].failures = 0;              // proven now: 1000
  EXPECT_EQ(lines_eviction_choice(0), 1);
  // A lonely start keeps 3/4 of its score: 1890 * 3/4 = 1417 still beats 1250.
  add(0, straight(500, 500, 3), 0, 1, 0, 1000);     // 1250 + 640 = 1890 -> 1417
  EXPECT_EQ(lines_eviction_choice(0), 3);
  // Only unproven lines are candidates while 22 or fewer are proven.
  for (int i = 0; i < lines_per_slot; ++i)
    if (line_store.slots[0][i].sample_count) {
      line_store.slots[0][i].runs = 5;
      line_store.slots[0][i].failures = 0;
      line_store.slots[0][i].sum_b = 5000;
    }
  EXPECT_EQ(lines_eviction_choice(0), -1);
  EXPECT_EQ(lines_find(0, 0), nullptr);  // id 0 is none, never a free entry
}

TEST_F(LinesTest, PruningCoversEverySlotAndRemovesCrossers) {
  // Slot 0 (first lap) and slot 6 (normal lap) each hold 45 parallel lines; slot 6 also has a
  // diagonal crossing all of them.
  for (int slot : {0, 6})
    for (int k = 0; k < lines_per_slot; ++k) add(slot, straight(0, 3.0f * k, 4), 0, 0, 0, 1000 + k);
  int diag_index = -1;
  {
    std::vector<LineSample> d = {{0, 1, -5, 40, 0}, {15, 1, 200, 40, 0}};
    RacingLine& victim = line_store.slots[6][0];
    free(victim.samples);
    victim.samples = static_cast<LineSample*>(xmalloc(sizeof(LineSample) * 2));
    memcpy(victim.samples, d.data(), sizeof(LineSample) * 2);
    victim.sample_count = 2;
    diag_index = 0;
  }
  int diag_id = line_store.slots[6][diag_index].line_id;
  lines_prune();
  EXPECT_EQ(lines_count(0), lines_kept_at_start);
  EXPECT_EQ(lines_count(6), lines_kept_at_start);
  EXPECT_EQ(lines_find(6, diag_id), nullptr);
}

TEST_F(LinesTest, ConnectionRule) {
  // Collinear end: the centre lies 1e6 steps off to the side, so the next line may start
  // within about 2.5 ft either side of the straight continuation.
  RacingLine a = {}, b = {};
  auto s = straight(0, 0, 3);
  a.samples = s.data();
  a.sample_count = 3;
  struct Case {
    float z0, z1, speed;
    bool connects;
  };
  const Case cases[] = {
      {0, 0, 40, true}, {2.4f, 2.4f, 40, true}, {-2.4f, -2.4f, 40, true}, {2.6f, 2.6f, 40, false},
      {0, 2.1f, 40, false},  // second sample strays from the circle
      {0, 0, 25.5f, true}, {0, 0, 24.9f, false},  // may slow by at most 15
  };
  for (const Case& c : cases) {
    std::vector<LineSample> t = {{30, 1, c.z0, c.speed, 0}, {40, 1, c.z1, c.speed, 0}};
    b.samples = t.data();
    b.sample_count = 2;
    EXPECT_EQ(lines_connect(&a, &b), c.connects) << c.z0 << " " << c.z1 << " " << c.speed;
  }
  // A left turn of radius 50 about (0, -50): its continuation lies on the same circle.
  std::vector<LineSample> arc, next;
  for (int k = 0; k < 3; ++k) arc.push_back({50 * std::sin(0.2f * k), 0, -50 + 50 * std::cos(0.2f * k), 40, 0});
  for (int k = 3; k < 5; ++k) next.push_back({50 * std::sin(0.2f * k), 0, -50 + 50 * std::cos(0.2f * k), 40, 0});
  a.samples = arc.data();
  b.samples = next.data();
  EXPECT_TRUE(lines_connect(&a, &b));
  for (auto& p : next) p.z += 4;
  EXPECT_FALSE(lines_connect(&a, &b));
  a.sample_count = 2;
  EXPECT_FALSE(lines_connect(&a, &b));
}

TEST_F(LinesTest, CostModes) {
  struct Case {
    int runs, failures, sum_a;
    int64_t cost[4];
  };
  const Case cases[] = {
      {0, 0, 0, {1000000, 1000000, 1000000, 0}},
      {1, 0, 500, {1000000, 1000000, 500, 1000 * (1 + 4)}},
      {5, 0, 5000, {1000, 1000, 1000, 1000 * (3 + 4)}},
      {5, 5, 5000, {1000 + 320, 1000 + 365, 1000 + 640, 1000 * (5 + 4)}},
      {5, 1, 5000, {1000 + 106, 1000 + 121, 1000 + 426, 1000 * (4 + 4)}},
      {1, 4, 100, {1000000, 1000000, 100 + 640, 1000 * (5 + 4)}},
      {1, 5, 100, {1000000, 1000000, 100 + 640, 100000}},  // explored and failing: last resort
  };
  for (const Case& c : cases) {
    RacingLine l = {};
    l.runs = c.runs;
    l.failures = c.failures;
    l.sum_a = c.sum_a;
    for (int m = 0; m < 4; ++m) EXPECT_EQ(line_cost(&l, m), c.cost[m]) << c.runs << "/" << c.failures << " mode " << m;
  }
}

TEST_F(LinesTest, ChainsFollowConnectedCheapLines) {
  // Slots 0..3 of the first lap: two straight tracks at z = 0 and z = 20, sampled continuously.
  // The z = 20 track is faster in slot 1 but cannot be reached from slot 0's only proven line.
  for (int slot = 0; slot < 4; ++slot) {
    add(slot, straight(30.0f * slot, 0, 3), 5, 0, 5 * 500);
    add(slot, straight(30.0f * slot, 20, 3), slot == 0 ? 0 : 5, 0, 5 * (slot == 1 ? 100 : 600));
  }
  lines_compute_chains();
  for (int slot = 0; slot < 4; ++slot) {
    const RacingLine* l = lines_find(slot, line_store.chains[0][slot]);
    ASSERT_NE(l, nullptr) << slot;
    EXPECT_FLOAT_EQ(l->samples[0].z, 0.0f) << slot;
  }
  // Normal-lap slots without lines have no chain entries.
  for (int slot = 4; slot < 8; ++slot) EXPECT_EQ(line_store.chains[0][slot], 0);
}

// A human's run between switch points becomes a line of the slot just finished.
TEST_F(LinesTest, HumanCrossingsLearnAndCancel) {
  Rider rider = {};
  rider.slot = 3;
  session.slots[3].rider = &rider;
  session.slots[3].kind = slot_local;
  race.gate_drop_tick = 100;
  auto cross = [&](int idx, int tick) {
    Array<int>& c = race_slots[3].crossings;
    while (c.count <= idx) array_push(&c, -1);
    c.items[idx] = tick;
    race.race_tick = tick;
    lines_on_crossing(&rider, idx - rider.checkpoints_passed);
    rider.checkpoints_passed = idx + 1;
  };
  auto feed = [&](float z) {
    RiderLines& rl = rider_lines[3];
    int seg = segment_of(rider.checkpoints_passed);
    for (const LineSample& p : straight(0, z, 3)) array_push(&rl.buffers[seg & 1], p);
  };
  feed(0);
  cross(0, 400);  // segment 0 (grid to gate 0) ends: slot 0 learns, timed from the drop
  ASSERT_EQ(lines_count(0), 1);
  EXPECT_EQ(line_store.slots[0][0].learned_b, 300);
  feed(1);
  cross(1, 500);
  feed(1);
  cross(2, 600);  // slot 1 from checkpoint 0: a = 400 - 100 (drop), b = 600 - 100
  ASSERT_EQ(lines_count(1), 1);
  EXPECT_EQ(line_store.slots[1][0].learned_a, 300);
  EXPECT_EQ(line_store.slots[1][0].learned_b, 500);
  EXPECT_EQ(line_store.slots[1][0].sample_count, 6);

  // A crash inside the segment cancels it.
  feed(2);
  rider.crash_state = 1;
  lines_on_crash(&rider);
  EXPECT_EQ(rider.crash_state, 2);
  cross(3, 700);
  EXPECT_EQ(rider.crash_state, 0);
  cross(4, 800);
  EXPECT_EQ(lines_count(2), 0);

  // Skipping a checkpoint empties both buffers.
  feed(3);
  cross(6, 900);
  EXPECT_EQ(rider_lines[3].buffers[0].count, 0);
  EXPECT_EQ(rider_lines[3].buffers[1].count, 0);
  EXPECT_EQ(lines_count(3), 0);
  session.slots[3] = RiderSlot{};
}

TEST_F(LinesTest, LoadAndSaveThroughTheHomeFolder) {
  DataRootsFixture roots;
  track_name = "ridge";
  std::string home_file = roots.home + "ridge/lines_amateur";
  write_file(home_file, "ct03 8\n1\n1 10 20 0 1000000 1000000 0 0 0\n[1 2 3] 4 5\n0\n0\n0\n0\n0\n0\n0\n");
  lines_load(1);
  EXPECT_EQ(lines_count(0), 1);
  add(4, straight(0, 0, 2));
  options.learn = 0;
  lines_save();
  EXPECT_EQ(read_file(home_file).find("ct03 8\n1\n1 10 20"), 0u);
  EXPECT_EQ(read_file(home_file).size(), std::string("ct03 8\n1\n1 10 20 0 1000000 1000000 0 0 0\n[1 2 3] 4 5\n0\n0\n0\n0\n0\n0\n0\n").size());
  options.learn = 1;
  lines_save();
  std::string text = read_file(home_file);
  EXPECT_NE(text.find("0\n1\n2 "), std::string::npos);
  EXPECT_FALSE(file_exists(home_file + ".tmp"));
  options.learn = -1;
  track_name = nullptr;
}

}  // namespace
