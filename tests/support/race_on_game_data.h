// Resets the race, the session and the options, with the installation root at the generated
// game data; shared by the tests that run races on the default track.
#pragma once
#include <cstdlib>
#include <cstring>

#include "bike/shape.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"

// Call from SetUp after a DataRootsFixture has made the home root.
inline void reset_race_on_game_data() {
  setenv("KV_HOME", KV_GAME_DIR, 1);
  data_reset_for_tests();
  shape_cache_clear();
  console_clear();
  options_set_defaults(&options);
  memset(&session, 0, sizeof session);
  race = RaceState{};
  race_hooks = RaceHooks{};
}
