// Robots riding the default track on their own: out of the gate and through the first
// checkpoints, the same way every time.
#include <gtest/gtest.h>

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
  race_shutdown();
  physics_shutdown();
  shape_cache_clear();
  memset(&session, 0, sizeof session);
  race = RaceState{};
  race.requested_track = "ridgeback";
  std::vector<int> second = ride(checkpoints);
  EXPECT_EQ(first, second);
}

}  // namespace
