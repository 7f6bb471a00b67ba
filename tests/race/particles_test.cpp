// The particle pool and roost emission: bounds, flight and landing, counts and spreads with a
// fixed seed, splash directions, and the same particles from the same seed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/rider.h"
#include "core/memory.h"
#include "core/random.h"
#include "race/particles.h"
#include "race/race.h"
#include "track/track.h"
#include "track/track_objects.h"

namespace {

constexpr float pi = 3.14159265f;

struct Particles : ::testing::Test {
  void SetUp() override {
    Terrain& t = track_terrain;
    t = Terrain{};
    t.size_log2 = 3;
    t.dim = (1 << 4) + 1;
    t.spacing = 2;
    t.tile_size = 4;
    t.extent = 2.0f * (t.dim - 1);
    t.heights = static_cast<float*>(xcalloc(static_cast<size_t>(t.dim) * t.dim, sizeof(float)));
    t.tile_map = static_cast<uint8_t*>(xcalloc(64, 1));
    t.tile_types = static_cast<TileType*>(xcalloc(max_tile_types, sizeof(TileType)));
    t.tile_type_count = 1;
    track_objects.roost_billboard_first = 0;
    for (int i = 0; i < roost_particle_count; ++i) array_push(&track_objects.billboards, Billboard{});
    race = RaceState{};
    particles_reset();
    rng_seed(1234);
  }
  void TearDown() override {
    free(track_terrain.heights);
    free(track_terrain.tile_map);
    free(track_terrain.tile_types);
    track_terrain = Terrain{};
    array_free(&track_objects.billboards);
  }
  RoostKind& kind(int k = 0) { return track_terrain.tile_types[0].roost[k]; }
  RoostKind roost(float count) {
    RoostKind r{};
    r.kind = roost_roost;
    r.texture = 7;
    r.count = count;
    r.slip_threshold = 1;
    r.slow_angle = pi / 2;
    r.fast_angle = pi / 16;
    r.slow_speed = 10;
    r.fast_speed = 100;
    r.size = 0.5f;
    r.vscale = 1;
    r.r = r.g = r.b = 100;
    r.a = 200;
    return r;
  }
  std::vector<const Particle*> active() {
    std::vector<const Particle*> out;
    for (int i = particle_pool.active_head; i >= 0; i = particle_pool.nodes[i].next)
      out.push_back(&particle_pool.nodes[i]);
    return out;
  }
};

// A wheel of radius 1 standing at the origin, riding toward -z at 20 ft/s.
struct Wheel {
  WheelContact contact{};
  WheelMotion motion{};
  explicit Wheel(float spin) {
    motion.centre[1] = 1;
    motion.axle[0] = 1;
    motion.velocity[2] = -20;
    motion.angular[0] = spin;  // -20 rolls; below -20 the tread runs backward at the ground
    contact.depth = 0.05f;
    contact.normal[1] = 1;
    // v + w x r at the bottom (r = (0, -1, 0)): z = -20 - spin
    contact.point_velocity[2] = -20 - spin;
  }
};

TEST_F(Particles, PoolHoldsTwoThousandAndDropsTheRest) {
  RoostKind k = roost(1);
  float p[3] = {1, -5, 1}, v[3] = {0, -1, 0};
  for (int i = 0; i < particle_pool_size; ++i) ASSERT_EQ(particle_spawn(p, v, &k), 1);
  EXPECT_EQ(particle_spawn(p, v, &k), 0);
  EXPECT_EQ(particle_pool.active_count, particle_pool_size);
  EXPECT_EQ(track_objects.billboards.items[5].texture, 7u);
  particles_update();  // all below the ground and falling
  EXPECT_EQ(particle_pool.active_count, 0);
  EXPECT_EQ(track_objects.billboards.items[5].texture, 0u);
  EXPECT_EQ(particle_spawn(p, v, &k), 1);
}

TEST_F(Particles, FlightFadeAndLandingOnlyWhileFalling) {
  RoostKind k = roost(1);
  k.grow = 1.28f;
  k.fade_a = -50;
  float p[3] = {4, -1, 4}, v[3] = {0, 10, 0};  // launched upward from below the surface
  ASSERT_EQ(particle_spawn(p, v, &k), 1);
  const Billboard& b = track_objects.billboards.items[active()[0]->billboard];
  EXPECT_FLOAT_EQ(b.height, 0.5f);
  EXPECT_EQ(b.a, 200);
  int ticks = 0;
  while (particle_pool.active_count > 0 && ticks < 1000) {
    particles_update();
    ++ticks;
    if (particle_pool.active_count > 0) {
      const Particle* q = active()[0];
      // Still below the ground only while it rises.
      if (q->position[1] < 0) {
        EXPECT_GE(q->velocity[1], 0);
      }
    }
  }
  EXPECT_GT(ticks, 40);  // 10 ft/s upward takes 40 ticks to turn
  EXPECT_LT(ticks, 200);
  EXPECT_EQ(b.a, 0);  // faded and clamped
  EXPECT_EQ(b.texture, 0u);
  EXPECT_NEAR(b.height, 0.5f + 0.01f * ticks, 1e-3f);
}

TEST_F(Particles, RateGivesWholeHundredsAndAChanceForTheRest) {
  int seen[12] = {};
  for (int i = 0; i < 400; ++i) {
    EXPECT_EQ(roost_count_for_rate(0), 0);
    EXPECT_EQ(roost_count_for_rate(1000), 10);
    int n = roost_count_for_rate(250);
    ASSERT_TRUE(n == 2 || n == 3) << n;
    seen[n]++;
  }
  EXPECT_GT(seen[2], 100);
  EXPECT_GT(seen[3], 100);
}

TEST_F(Particles, CountFractionGivesTwoOrThreeAndNeverMoreThanN) {
  kind() = roost(2.5f);
  kind().randomize = 0;
  Wheel w(-60);
  int seen[8] = {};
  for (int i = 0; i < 300; ++i) {
    particles_reset();
    roost_emit_wheel(&w.contact, &w.motion, 10, 2 * pi);
    ASSERT_LE(particle_pool.active_count, 3);
    ASSERT_GE(particle_pool.active_count, 2);
    seen[particle_pool.active_count]++;
    particles_reset();
    roost_emit_wheel(&w.contact, &w.motion, 2, 2 * pi);
    ASSERT_EQ(particle_pool.active_count, 2);
  }
  EXPECT_GT(seen[2], 100);
  EXPECT_GT(seen[3], 100);
}

// Angles behind the contact point (toward +z) of emissions of one particle each.
std::vector<float> emission_angles(Particles* f, Wheel& w, float max_spread, int tries) {
  std::vector<float> out;
  for (int i = 0; i < tries; ++i) {
    particles_reset();
    roost_emit_wheel(&w.contact, &w.motion, 1, max_spread);
    for (const Particle* q : f->active()) {
      float y = q->position[1] - w.motion.centre[1], z = q->position[2] - w.motion.centre[2];
      out.push_back(std::atan2(z, -y));
    }
  }
  return out;
}

TEST_F(Particles, RoostSpreadsBySpinAndKeepsToTheWheelsLimit) {
  kind() = roost(1);
  Wheel spinning(-60);  // omega^2 3600: f = 3500 / 9900 of the way from pi/2 to pi/16
  float spread = pi / 2 + (pi / 16 - pi / 2) * (3500.0f / 9900.0f);
  struct Case {
    const char* what;
    Wheel wheel;
    float max_spread;
    float widest;
  };
  const Case cases[] = {
      {"rear, spinning", spinning, 2 * pi, spread},
      {"front, spinning", spinning, pi / 8, pi / 8},
      {"locked and sliding", Wheel(0), 2 * pi, pi / 64},
  };
  for (Case c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<float> a = emission_angles(this, c.wheel, c.max_spread, 400);
    ASSERT_EQ(a.size(), 400u);
    float lo = 10, hi = -10;
    for (float x : a) {
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
    EXPECT_GE(lo, -1e-5f);  // never ahead of the contact
    EXPECT_LE(hi, c.widest + 1e-4f);
    EXPECT_GE(hi, c.widest * 0.95f);
  }
}

TEST_F(Particles, NoRoostBelowTheSlipThresholdOrWithoutContact) {
  kind() = roost(3);
  kind().slip_threshold = 50;
  Wheel w(-60);  // slips at 40 ft/s
  roost_emit_wheel(&w.contact, &w.motion, 10, 2 * pi);
  EXPECT_EQ(particle_pool.active_count, 0);
  kind().slip_threshold = 1;
  w.contact.depth = 0;
  roost_emit_wheel(&w.contact, &w.motion, 10, 2 * pi);
  EXPECT_EQ(particle_pool.active_count, 0);
  kind().kind = roost_none;
  w.contact.depth = 0.1f;
  roost_emit_wheel(&w.contact, &w.motion, 10, 2 * pi);
  EXPECT_EQ(particle_pool.active_count, 0);
}

TEST_F(Particles, SplashThrowsFortyFiveDegreesToEitherSide) {
  kind() = roost(2);
  kind().kind = roost_splash;
  Wheel w(-20);
  race.race_tick = 0;
  roost_emit_wheel(&w.contact, &w.motion, 10, 2 * pi);
  std::vector<const Particle*> a = active();
  ASSERT_EQ(a.size(), 2u);
  int left = 0, right = 0;
  for (const Particle* q : a) {
    EXPECT_NEAR(std::fabs(q->velocity[0]), q->velocity[1], 1e-4f);
    EXPECT_NEAR(q->velocity[2], 0, 1e-5f);
    EXPECT_LE(q->velocity[1], 20 * 0.70710677f + 1e-4f);
    (q->velocity[0] < 0 ? left : right)++;
  }
  EXPECT_EQ(left, 1);
  EXPECT_EQ(right, 1);
}

TEST_F(Particles, SameSeedSameParticles) {
  kind() = roost(2.5f);
  kind().randomize = 3;
  kind().drag = 0.5f;
  kind(1) = roost(1.5f);
  kind(1).kind = roost_splash;
  kind(1).randomize = 2;
  auto run = [&]() {
    rng_seed(99);
    particles_reset();
    Wheel w(-70);
    std::vector<float> out;
    for (int t = 0; t < 50; ++t) {
      race.race_tick = t;
      roost_emit_wheel(&w.contact, &w.motion, 4, 2 * pi);
      particles_update();
    }
    for (const Particle* q : active())
      for (int j = 0; j < 3; ++j) {
        out.push_back(q->position[j]);
        out.push_back(q->velocity[j]);
      }
    return out;
  };
  std::vector<float> a = run(), b = run();
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a, b);
}

}  // namespace
