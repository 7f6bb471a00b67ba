// What a field of robots costs on the default track: whole race ticks for 1, 20, 80 and 160
// robots racing from the gate drop, per tick and per rider, as a real-time factor, and the bare
// world step of the same riders inside those ticks. Needs KV_HOME at the installed game data.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "bike/shape.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "robots/lines.h"
#include "race_on_game_data.h"

namespace {

using Clock = std::chrono::steady_clock;
double world_step_seconds = 0;

void timed_world_step() {
  const auto t0 = Clock::now();
  physics_step();
  world_step_seconds += std::chrono::duration<double>(Clock::now() - t0).count();
}

// A fresh race of count robots on the default track, run up to the gate drop.
bool start_field(int count) {
  static std::string home;
  if (home.empty()) {
    char pattern[] = "/tmp/kelvane-field-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) return false;
    home = made;
    setenv("XDG_DATA_HOME", home.c_str(), 1);  // learned lines stay out of the player's home
  }
  reset_race_on(getenv("KV_HOME"));
  lines_install_hooks();
  race.requested_track = "ridgeback";
  int lineup[max_riders] = {};
  for (int s = 0; s < count && s < max_riders; ++s) lineup[s] = lineup_robot;
  start_race(lineup, false, false, 0, 3, 0);
  race.requested_track = nullptr;
  if (!race.started) return false;
  race_hooks.world_step = timed_world_step;
  while (race.race_tick < race.gate_drop_tick) race_tick_step();
  return true;
}

void stop_field() {
  race_shutdown();
  race_hooks = RaceHooks{};
  physics_shutdown();
  shape_cache_clear();
}

void BM_FieldOfRobots(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  constexpr int ticks = 1280;  // the first 10 s of racing, the crowded part
  if (!getenv("KV_HOME")) {
    state.SkipWithError("KV_HOME must name the installed game data (build-rel/game)");
    return;
  }
  double race_seconds = 0, step_seconds = 0;
  int measured = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!start_field(count)) {
      state.ResumeTiming();
      state.SkipWithError("the default track did not start");
      return;
    }
    world_step_seconds = 0;
    state.ResumeTiming();
    const auto t0 = Clock::now();
    for (int t = 0; t < ticks; ++t) race_tick_step();
    race_seconds += std::chrono::duration<double>(Clock::now() - t0).count();
    step_seconds += world_step_seconds;
    measured += ticks;
    state.PauseTiming();
    stop_field();
    state.ResumeTiming();
  }
  if (measured == 0) return;
  const double per_tick = race_seconds / measured;
  state.counters["us_per_tick"] = per_tick * 1e6;
  state.counters["us_per_rider_tick"] = per_tick * 1e6 / count;
  state.counters["realtime_x"] = tick_seconds / per_tick;
  state.counters["world_step_us_per_tick"] = step_seconds / measured * 1e6;
  state.counters["world_step_share"] = step_seconds / race_seconds;
}

}  // namespace

BENCHMARK(BM_FieldOfRobots)->Arg(1)->Arg(20)->Arg(80)->Arg(160)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
