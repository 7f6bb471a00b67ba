// The generated racing lines of the default track: they load, chain up slot to slot, and ride
// the lap at sensible speeds for every skill.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "robots/lines.h"
#include "test_support.h"

namespace {

// Switch points of the two lap lists of a "timing_gates" text.
void switch_counts(const std::string& text, int* first, int* normal) {
  *first = *normal = 0;
  std::istringstream s(text);
  std::string word;
  int* target = nullptr;
  while (s >> word) {
    if (word == "firstlap:") target = first;
    else if (word == "normallap:") target = normal;
    else if (target && (isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-'))
      *target += std::stoi(word) < 100000 ? 1 : 0;
    else if (word.back() == ':') target = nullptr;
  }
}

TEST(GeneratedLines, EverySkillLoadsConnectsAndRidesTheLap) {
  const std::string folder = std::string(KV_GAME_DIR) + "/ridgeback/";
  int first = 0, normal = 0;
  switch_counts(read_file(folder + "timing_gates"), &first, &normal);
  ASSERT_GT(first, 1);
  ASSERT_GT(normal, 1);
  for (int skill = 0; skill < 3; ++skill) {
    SCOPED_TRACE(lines_file_name(skill));
    lines_create(first, normal);
    ASSERT_TRUE(lines_load_file((folder + lines_file_name(skill)).c_str()));
    int total = line_store.slot_count;
    int airborne = 0;
    for (int s = 0; s < total; ++s) {
      EXPECT_GE(lines_count(s), 3) << s;
      EXPECT_LE(lines_count(s), lines_kept_at_start) << s;
      for (const RacingLine& l : line_store.slots[s])
        for (int k = 0; k < l.sample_count; ++k) {
          EXPECT_LE(std::fabs(l.samples[k].speed), 90.0f);
          airborne += l.samples[k].speed < 0;
        }
    }
    EXPECT_GT(airborne, 0);
    // Every slot's every line reaches some line of the slot after it, across the lap line too.
    auto next_slot = [&](int s) { return s + 1 < total ? s + 1 : first; };
    for (int s = 1; s < total; ++s) {
      for (const RacingLine& a : line_store.slots[s]) {
        if (a.sample_count == 0) continue;
        bool reaches = false;
        for (const RacingLine& b : line_store.slots[next_slot(s)]) reaches = reaches || (b.sample_count && lines_connect(&a, &b));
        EXPECT_TRUE(reaches) << "slot " << s;
      }
    }
    bool from_grid = false;
    for (const RacingLine& a : line_store.slots[0])
      for (const RacingLine& b : line_store.slots[1]) from_grid = from_grid || (a.sample_count && b.sample_count && lines_connect(&a, &b));
    EXPECT_TRUE(from_grid);
    // One normal lap along the first line of each slot: 25 to 50 mph.
    double seconds = 0, feet = 0;
    for (int s = first; s < total; ++s) {
      const RacingLine& l = line_store.slots[s][0];
      seconds += 0.25 * l.sample_count;
      for (int k = 0; k + 1 < l.sample_count; ++k)
        feet += std::hypot(l.samples[k + 1].x - l.samples[k].x, l.samples[k + 1].z - l.samples[k].z);
    }
    double mph = feet / seconds * 3600.0 / 5280.0;
    EXPECT_GT(mph, 25.0);
    EXPECT_LT(mph, 50.0);
    // The chains need raced lines; fresh lines have none, so every chain entry is empty.
    lines_prune();
    for (int s = 0; s < total; ++s) EXPECT_EQ(line_store.chains[0][s], 0);
  }
  lines_destroy();
}

}  // namespace
