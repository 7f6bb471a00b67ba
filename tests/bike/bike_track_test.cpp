// Bikes on real data: the default track's start grid and a full grid of resting bikes.
#include <cmath>
#include <cstdlib>

#include "bike_fixture.h"
#include "resources/data.h"
#include "test_support.h"
#include "track/timing_gates.h"
#include "track/track.h"

namespace {

struct TrackPhysics : PhysicsTest {
  DataRootsFixture roots;
  void SetUp() override {
    setenv("KV_HOME", KV_GAME_DIR, 1);
    data_reset_for_tests();
    shape_cache_clear();
    PhysicsTest::SetUp();
  }
  void TearDown() override {
    PhysicsTest::TearDown();
    if (track_name) track_free();
    shape_cache_clear();
  }
};

// On a start slot: turned to its heading, wheels just above the ground under the frame.
void place_on_slot(Rider* r, const Terrain* t, const StartSlot& s) {
  bike_rotate(r, 0, 1, 0, s.angle);
  float f[3];
  bike_body_position(r, body_frame, f);
  float lowest = 1e30f;
  for (int w = 0; w < 2; ++w) {
    float c[3];
    bike_body_position(r, w ? body_rear_wheel : body_front_wheel, c);
    const float ground = terrain_height(t, c[0] - f[0] + s.position[0], c[2] - f[2] + s.position[2]);
    lowest = std::min(lowest, c[1] - r->wheel[w].torus_radius - r->wheel[w].tyre_radius - ground);
  }
  bike_translate(r, s.position[0] - f[0], 0.05f - lowest, s.position[2] - f[2]);
}

TEST_F(TrackPhysics, BikeDroppedOnTheStartGridComesToRestOnItsWheels) {
  ASSERT_TRUE(track_load("ridgeback"));
  ASSERT_GT(timing.start_slot_count, 0);
  Rider* r = add("crf450(2013)");
  for (CollisionShape* s : r->shapes) ASSERT_NE(s, nullptr);
  r->assists.auto_dab = true;  // "Dab When Stopped", as the default setup has it
  place_on_slot(r, &track_terrain, timing.slots[0]);
  int touched = 0;
  for (int tick = 0; tick < 8 * 128; ++tick) {
    touched = bike_collide_world(&track_terrain, r);
    physics_step();
    bike_tick(r, tick, 1 << 20);  // the gate has not dropped: standing still is no crash
  }
  float v[3], rot[9];
  bike_body_velocity(r, body_frame, v);
  bike_body_rotation(r, body_frame, rot);
  EXPECT_LT(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 0.1f);
  EXPECT_GT(rot[4], 0.95f);  // standing, not lying
  EXPECT_EQ(touched, part_front_wheel | part_rear_wheel);  // nothing but the tyres
  EXPECT_EQ(r->crash_state, 0);
  EXPECT_LT(bike_fork_position(r), 0);
}

TEST_F(TrackPhysics, FullGridOfBikesStaysFiniteForAMinute) {
  TestTerrain ground(7, 2, 3, 0.02f, 0.01f);
  const char* models[] = {"crf450(2013)", "yz250f(2013)", "cr125", "rs50cr", "250sx(2012)"};
  for (int i = 0; i < 160; ++i) {
    Rider* r = add(models[i % 5]);
    const float x = 40 + 7.0f * static_cast<float>(i % 16), z = 40 + 10.0f * static_cast<float>(i / 16);
    place_on_flat(r, x, terrain_height(&ground.t, x, z), z, 0.1f * static_cast<float>(i % 7));
  }
  // Without the balance assists most of them fall over: lying bikes are the harder case.
  // The full minute takes minutes under the sanitizers; KV_LONG_TESTS=1 runs it.
  const int seconds = getenv("KV_LONG_TESTS") ? 60 : 15;
  for (int tick = 0; tick < seconds * 128; ++tick) {
    for (Rider* r : riders) bike_collide_world(&ground.t, r);
    physics_step();
    for (Rider* r : riders) {
      EXPECT_FALSE(bike_check_finite(r)) << "slot " << r->slot << " tick " << tick;
      bike_tick(r, tick, 0);
    }
    if (HasFailure()) break;
  }
  for (Rider* r : riders) {
    float p[3];
    bike_body_position(r, body_frame, p);
    EXPECT_GT(p[1], terrain_height(&ground.t, p[0], p[2]));
  }
}

}  // namespace
