// Speed of the race's per-tick work that needs no bikes: the full particle pool in flight, and
// the timing step with standings for a full field.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "bike/rider.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/session.h"
#include "race/particles.h"
#include "race/race.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_objects.h"

namespace {

void flat_terrain() {
  Terrain& t = track_terrain;
  t = Terrain{};
  t.size_log2 = 6;
  t.dim = (1 << 7) + 1;
  t.spacing = 2;
  t.tile_size = 4;
  t.extent = 2.0f * (t.dim - 1);
  t.heights = static_cast<float*>(xcalloc(static_cast<size_t>(t.dim) * t.dim, sizeof(float)));
  t.tile_map = static_cast<uint8_t*>(xcalloc(static_cast<size_t>(1) << 12, 1));
}

void free_terrain() {
  free(track_terrain.heights);
  free(track_terrain.tile_map);
  track_terrain = Terrain{};
}

void BM_ParticlesUpdateFullPool(benchmark::State& state) {
  flat_terrain();
  track_objects.roost_billboard_first = 0;
  for (int i = 0; i < roost_particle_count; ++i) array_push(&track_objects.billboards, Billboard{});
  RoostKind k{};
  k.kind = roost_roost;
  k.drag = 0.5f;
  k.grow = 1;
  k.fade_a = -1;
  rng_seed(1);
  for (auto _ : state) {
    state.PauseTiming();
    particles_reset();
    for (int i = 0; i < particle_pool_size; ++i) {
      float p[3] = {static_cast<float>(i % 200), 1, static_cast<float>(i / 10)};
      float v[3] = {1, 40, -1};  // stays aloft for the whole measured tick
      particle_spawn(p, v, &k);
    }
    state.ResumeTiming();
    particles_update();
  }
  array_free(&track_objects.billboards);
  free_terrain();
}
BENCHMARK(BM_ParticlesUpdateFullPool);

// 160 riders crossing a checkpoint each, every crossing rebuilding the standings.
void BM_TimingStepFullField(benchmark::State& state) {
  memset(&session, 0, sizeof session);
  race = RaceState{};
  race.race_laps = 1000;
  Rider* riders = static_cast<Rider*>(xcalloc(max_riders, sizeof(Rider)));
  const int gates = 40;
  timing.gate_count = gates;
  timing.gates = static_cast<TimingGate*>(xcalloc(gates, sizeof(TimingGate)));
  timing.sequence = static_cast<int*>(xcalloc(2 * gates, sizeof(int)));
  timing.first_lap_count = timing.normal_lap_count = gates;
  for (int g = 0; g < gates; ++g) {
    timing.gates[g].centre[0] = 100.0f * g;
    timing.gates[g].direction[0] = 1;
    timing.gates[g].radius = 10;
    timing.sequence[g] = timing.sequence[gates + g] = g;
  }
  for (int s = 0; s < max_riders; ++s) {
    riders[s].slot = s;
    session.slots[s].rider = &riders[s];
    session.slots[s].kind = slot_robot;
  }
  for (auto _ : state) {
    for (int s = 0; s < max_riders; ++s) {
      float front[3] = {100.0f * (riders[s].checkpoints_passed % gates) + 1, 0, 0};
      timing_step(s, front);
    }
    race.race_tick++;
  }
  timing_gates_free();
  race_slots_clear();
  memset(&session, 0, sizeof session);
  free(riders);
}
BENCHMARK(BM_TimingStepFullField);

}  // namespace

BENCHMARK_MAIN();
