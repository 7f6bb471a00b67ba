// Physics cost per rider and tick: the whole bike tick against the bare world step it contains.
// Run with the game data for the collision shapes: KV_HOME=build/game build/bench/bike_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact.h"
#include "flat_ground.h"
#include "track/terrain.h"

namespace {

// Keeps the bikes upright with a pure roll torque, standing in for the balance assists.
void hold_upright(Rider* r) {
  dBodyID f = r->body[body_frame];
  const Vec3 x = body_axis(f, 0), fwd = -body_axis(f, 2);
  const dReal* w = dBodyGetAngularVel(f);
  const float roll = std::asin(clampf(x.y, -1, 1));
  const float rate = static_cast<float>(w[0] * fwd.x + w[1] * fwd.y + w[2] * fwd.z);
  const float torque = 4000 * roll + 400 * rate;
  dBodyAddTorque(f, fwd.x * torque, fwd.y * torque, fwd.z * torque);
}

void run(benchmark::State& state, bool rolling) {
  const int count = static_cast<int>(state.range(0));
  constexpr int ticks = 256;
  physics_init();
  FlatGround ground{7};
  std::vector<Rider*> riders;
  for (int i = 0; i < count; ++i) {
    Rider* r = bike_create("crf450(2013)", i, "1", nullptr, nullptr, nullptr, nullptr);
    float p[3];
    bike_body_position(r, body_frame, p);
    bike_translate(r, 20 + 9.0f * static_cast<float>(i % 16) - p[0], 0.05f,
                   400 - 12.0f * static_cast<float>(i / 16) - p[2]);
    if (rolling) {
      for (int b = 0; b < bike_body_count; ++b) dBodySetLinearVel(r->body[b], 0, 0, -20);
      for (int w : {body_front_wheel, body_rear_wheel}) {
        const float radius = r->info.front_wheel.torus_radius + r->info.front_wheel.tyre_radius;
        dBodySetAngularVel(r->body[w], -20 / radius, 0, 0);
      }
    }
    riders.push_back(r);
  }
  double whole = 0, step = 0;
  int tick = 0;
  for (auto _ : state) {
    for (int k = 0; k < ticks; ++k, ++tick) {
      const auto t0 = std::chrono::steady_clock::now();
      for (Rider* r : riders) {
        bike_collide_world(&ground.t, r);
        hold_upright(r);
      }
      const auto t1 = std::chrono::steady_clock::now();
      dWorldStep(world, tick_length);
      const auto t2 = std::chrono::steady_clock::now();
      dJointGroupEmpty(contact_group);
      for (Rider* r : riders) {
        bike_check_finite(r);
        bike_tick(r, tick, 0);
      }
      const auto t3 = std::chrono::steady_clock::now();
      whole += std::chrono::duration<double, std::micro>(t3 - t0).count();
      step += std::chrono::duration<double, std::micro>(t2 - t1).count();
    }
  }
  const double rider_ticks = static_cast<double>(state.iterations()) * ticks * count;
  state.counters["tick_us"] = whole / rider_ticks;
  state.counters["step_us"] = step / rider_ticks;
  state.counters["ratio"] = step > 0 ? whole / step : 0;
  for (Rider* r : riders) bike_free(r);
  physics_shutdown();
}

void BM_BikesResting(benchmark::State& state) { run(state, false); }
void BM_BikesRolling(benchmark::State& state) { run(state, true); }

}  // namespace

BENCHMARK(BM_BikesResting)->Arg(1)->Arg(20)->Arg(80)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BikesRolling)->Arg(1)->Arg(20)->Arg(80)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
