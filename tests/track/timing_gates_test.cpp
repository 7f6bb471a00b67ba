// The timing_gates file: start grid, gates, lap sequences, their limits and saving.
#include <gtest/gtest.h>

#include <cmath>

#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_objects.h"
#include "track_test_util.h"

namespace {

struct Timing : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    console_clear();
    make_terrain(&track_terrain, 7, 2.0f);
    track_objects_init();
  }
  void TearDown() override {
    timing_gates_free();
    track_objects_free();
    terrain_free(&track_terrain);
  }
  void load(const std::string& text) {
    write_file(roots.install + "tg", text);
    timing_gates_load("@tg");
  }
};

const char* const three_gates =
    "checkpoints:\n10 [1 2 3] [0 0 1]\n11 [4 5 6] [1 0 0]\n12 [7 8 9] [0 0 -1]\n";

TEST_F(Timing, SequencesCountSwitchPointsAndClampEntries) {
  load(std::string(three_gates) + "firstlap:\n0 1 100002\nnormallap:\n100007 -5 2\n");
  ASSERT_TRUE(timing_present());
  EXPECT_EQ(timing.gate_count, 3);
  EXPECT_FLOAT_EQ(timing.gates[1].radius, 11.0f);
  EXPECT_FLOAT_EQ(timing.gates[2].centre[2], 9.0f);
  EXPECT_FLOAT_EQ(timing.gates[2].direction[2], -1.0f);
  EXPECT_EQ(timing.first_switch_count, 2);
  EXPECT_EQ(timing.normal_switch_count, 2);
  EXPECT_EQ(timing.sequence[3], 100002);
  EXPECT_EQ(timing.sequence[4], 0);
  // Checkpoints past the first lap cycle through the normal lap.
  EXPECT_EQ(timing_checkpoint_entry(2), 100002);
  EXPECT_EQ(timing_checkpoint_entry(3), 100002);
  EXPECT_EQ(timing_checkpoint_entry(7), 0);
  EXPECT_EQ(timing.start_slot_count, 0);
}

TEST_F(Timing, FilesThatYieldNoTiming) {
  std::string many_gates = "checkpoints:\n";
  for (int k = 0; k < 257; ++k) many_gates += "5 [0 0 0] [0 0 1]\n";
  std::string many_entries = std::string(three_gates) + "firstlap:\n";
  for (int k = 0; k < 257; ++k) many_entries += "1 ";
  many_entries += "\nnormallap:\n1\n";
  const std::pair<const char*, std::string> cases[] = {
      {"no switch points in the first lap", std::string(three_gates) + "firstlap:\n100000 100001\nnormallap:\n0\n"},
      {"no normal lap", std::string(three_gates) + "firstlap:\n0 1 2\n"},
      {"no gates", "checkpoints:\nfirstlap:\n0\nnormallap:\n0\n"},
      {"no checkpoints word", "firstlap:\n0\nnormallap:\n0\n"},
      {"257 gates", many_gates + "firstlap:\n0\nnormallap:\n0\n"},
      {"257 entries", many_entries},
      {"a gate that is not finite", "checkpoints:\n10 [nan 2 3] [0 0 1]\nfirstlap:\n0\nnormallap:\n0\n"},
  };
  for (const auto& c : cases) {
    load(c.second);
    EXPECT_FALSE(timing_present()) << c.first;
    EXPECT_EQ(timing.gate_count, 0) << c.first;
    EXPECT_EQ(timing.first_lap_count, 0) << c.first;
  }
  remove((roots.install + "tg").c_str());
  timing_gates_load("@tg");
  EXPECT_FALSE(timing_present());
}

TEST_F(Timing, GridAnglesNamesAndGateStatues) {
  load("startinggate:\n"
       "[10 0 20] 4.0\n"
       "\n# the second row\n"
       "[12 1 20] 0 @gate.vm null null\n"
       "  checkpoints:\n10 [1 2 3] [0 0 1]\nfirstlap: 0 normallap: 0\n");
  ASSERT_TRUE(timing_present());
  ASSERT_EQ(timing.start_slot_count, 2);
  EXPECT_NEAR(timing.slots[0].angle, 4.0f - 2.0f * 3.14159265f, 1e-5f);
  EXPECT_FLOAT_EQ(timing.slots[0].position[2], 20.0f);
  const Statue& gate0 = track_objects.statues.items[timing.slots[0].statue];
  float a = timing.slots[0].angle;
  EXPECT_NEAR(gate0.x, 10.0f - 3.0f * std::sin(a), 1e-5f);
  EXPECT_NEAR(gate0.z, 20.0f - 3.0f * std::cos(a), 1e-5f);
  EXPECT_STREQ(gate0.shape_name, "@startgate.shp");
  const Statue& gate1 = track_objects.statues.items[timing.slots[1].statue];
  EXPECT_STREQ(gate1.model_name, "@gate.vm");
  EXPECT_EQ(gate1.texture_name, nullptr);  // "null" is no file
  EXPECT_EQ(gate1.shape_name, nullptr);
  EXPECT_FLOAT_EQ(gate1.y, 1.0f);
  EXPECT_TRUE(console_has("Warning: missing shape file @startgate.shp"));
  EXPECT_FALSE(console_has("missing shape file null"));
}

TEST_F(Timing, GridLimitOf160Slots) {
  std::string grid = "startinggate:\n";
  for (int k = 0; k < 160; ++k) grid += "[" + std::to_string(k) + " 0 5] 0 null null null\n";
  load(grid + three_gates + "firstlap:\n0\nnormallap:\n1\n");
  EXPECT_TRUE(timing_present());
  EXPECT_EQ(timing.start_slot_count, 160);
  load(grid + "[1 0 5] 0 null null null\n" + three_gates + "firstlap:\n0\nnormallap:\n1\n");
  EXPECT_FALSE(timing_present());
  EXPECT_EQ(timing.start_slot_count, 160);  // the grid read before stays
  load("startinggate:\n[1 0 5]\n" + std::string(three_gates) + "firstlap:\n0\nnormallap:\n1\n");
  EXPECT_FALSE(timing_present());
}

TEST_F(Timing, SaveWritesTheFileBack) {
  load("startinggate:\n[10 0 20] 0\n[11 0 20] 0.5 @g.vm null @g.shp\n" + std::string(three_gates) +
       "firstlap:\n0 1 100002\nnormallap:\n1 2 0\n");
  ASSERT_TRUE(timing_present());
  ASSERT_TRUE(timing_gates_save("@trk"));
  std::string saved = read_file(roots.home + "trk/timing_gates");
  EXPECT_EQ(saved,
            "startinggate:\n[10.000000 0.000000 20.000000] 0.000000\n"
            "[11.000000 0.000000 20.000000] 0.500000 @g.vm null @g.shp\n"
            "checkpoints:\n10.000000 [1.000000 2.000000 3.000000] [0.000000 0.000000 1.000000]\n"
            "11.000000 [4.000000 5.000000 6.000000] [1.000000 0.000000 0.000000]\n"
            "12.000000 [7.000000 8.000000 9.000000] [0.000000 0.000000 -1.000000]\n"
            "firstlap:\n0 1 100002 \nnormallap:\n1 2 0 \n");
}

TEST(TimingAngles, WrapOnlyOutsideTheHalfTurn) {
  EXPECT_FLOAT_EQ(timing_wrap_angle(1.0f), 1.0f);
  EXPECT_FLOAT_EQ(timing_wrap_angle(3.14159265f), 3.14159265f);
  EXPECT_NEAR(timing_wrap_angle(-4.0f), -4.0f + 2.0f * 3.14159265f, 1e-5f);
  EXPECT_NEAR(timing_wrap_angle(20.0f), 20.0f - 6.0f * 3.14159265f, 1e-4f);
}

}  // namespace
