// Cost of the riding steps per rider and tick (steering model, assists, engine and brakes)
// against the whole bike tick, for riders under way on flat ground with the player's setup.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/contact.h"
#include "bike/engine.h"
#include "bike/setup.h"
#include "core/setup_file.h"
#include "flat_ground.h"
#include "track/terrain.h"

namespace {

// What the riding steps change outside the joints they make.
struct Saved {
  dReal force[bike_body_count][3], torque[bike_body_count][3];
  Rider copy;
  void save(const Rider* r) {
    copy = *r;
    for (int b = 0; b < bike_body_count; ++b)
      for (int k = 0; k < 3; ++k) {
        force[b][k] = dBodyGetForce(r->body[b])[k];
        torque[b][k] = dBodyGetTorque(r->body[b])[k];
      }
  }
  void restore(Rider* r) const {
    *r = copy;
    for (int b = 0; b < bike_body_count; ++b) {
      dBodySetForce(r->body[b], force[b][0], force[b][1], force[b][2]);
      dBodySetTorque(r->body[b], torque[b][0], torque[b][1], torque[b][2]);
    }
  }
};

void BM_RidingSteps(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  constexpr int ticks = 256;
  physics_init();
  FlatGround ground{5};
  BikeSetup setup;
  setup_set_defaults(&setup);
  setup_stability_preset(&setup, setup.stability);
  setup.arcade = 0;
  std::vector<Rider*> riders;
  for (int i = 0; i < count; ++i) {
    Rider* r = bike_create("crf450(2013)", i, "1", nullptr, nullptr, nullptr, nullptr);
    setup_apply(r, &setup, 0);
    float p[3];
    bike_body_position(r, body_frame, p);
    bike_translate(r, 20 + 9.0f * static_cast<float>(i % 16) - p[0], 0.05f,
                   400 - 12.0f * static_cast<float>(i / 16) - p[2]);
    r->control.clutch = 1;
    r->control.throttle = 0.5f;
    r->control.steer = (i % 3 - 1) * 0.05f;
    riders.push_back(r);
  }
  std::vector<Saved> saved(riders.size());
  double riding = 0, whole = 0;
  int tick = 0;
  for (auto _ : state) {
    for (int k = 0; k < ticks; ++k, ++tick) {
      for (Rider* r : riders) rider_contact_step(&ground.t, r, tick);
      physics_step();
      // The riding steps once more on their own, timed; what they change is put back so the
      // ride itself goes on as the bike tick alone makes it.
      for (size_t i = 0; i < riders.size(); ++i) saved[i].save(riders[i]);
      const auto t0 = std::chrono::steady_clock::now();
      for (Rider* r : riders) {
        bike_steering_and_balance(r);
        bike_auto_shift(r);
        bike_engine_step(r);
        bike_brakes(r);
        bike_front_wheel_damping(r);
        bike_dab_and_align(r);
      }
      const auto t1 = std::chrono::steady_clock::now();
      for (size_t i = 0; i < riders.size(); ++i) saved[i].restore(riders[i]);
      for (Rider* r : riders) {
        bike_check_finite(r);
        bike_tick(r, tick, 0);
      }
      const auto t2 = std::chrono::steady_clock::now();
      riding += std::chrono::duration<double, std::micro>(t1 - t0).count();
      whole += std::chrono::duration<double, std::micro>(t2 - t1).count();
    }
  }
  const double rider_ticks = static_cast<double>(state.iterations()) * ticks * count;
  state.counters["riding_us"] = riding / rider_ticks;
  state.counters["bike_tick_us"] = whole / rider_ticks;
  for (Rider* r : riders) bike_free(r);
  physics_shutdown();
}

}  // namespace

BENCHMARK(BM_RidingSteps)->Arg(1)->Arg(20)->Arg(160)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
