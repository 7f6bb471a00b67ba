// Resets the race, the session and the options, with the installation root at the generated
// game data; shared by the tests and benchmarks that run races on the default track.
#pragma once
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"
#include "track/terrain.h"
#include "track/timing_gates.h"
#include "track/track.h"

// The installation root is game_dir; the benchmarks name theirs.
inline void reset_race_on(const char* game_dir) {
  setenv("KV_HOME", game_dir, 1);
  data_reset_for_tests();
  shape_cache_clear();
  console_clear();
  options_set_defaults(&options);
  memset(&session, 0, sizeof session);
  race = RaceState{};
  race_hooks = RaceHooks{};
}

// Puts the front wheel just past the gate of the rider's next checkpoint, a few feet aside per
// slot so that riders do not stack: a stand-in auto pilot for races with real bikes.
inline void carry_to_next_gate(Rider* r, int slot) {
  int entry = timing_checkpoint_entry(r->checkpoints_passed);
  int gate = entry >= not_switch_point ? entry - not_switch_point : entry;
  const TimingGate& g = timing.gates[gate];
  float side = 4.0f * static_cast<float>(slot % 3 - 1);
  float x = g.centre[0] + g.direction[0] * 1.5f - g.direction[2] * side;
  float z = g.centre[2] + g.direction[2] * 1.5f + g.direction[0] * side;
  float f[3];
  bike_body_position(r, body_front_wheel, f);
  float ground = terrain_height(&track_terrain, x, z);
  bike_translate(r, x - f[0], ground + 2.5f - f[1], z - f[2]);
}

#ifdef KV_GAME_DIR
// Call from SetUp after a DataRootsFixture has made the home root.
inline void reset_race_on_game_data() { reset_race_on(KV_GAME_DIR); }
#endif
