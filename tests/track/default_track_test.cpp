// The generated tracks: the default track keeps what the generator promises and loads cleanly;
// the test tracks load; the track digest covers the bytes the loaders read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "bike/shape.h"
#include "core/digest.h"
#include "core/options.h"
#include "resources/data.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_objects.h"
#include "track_test_util.h"

namespace {

// Points the install root at the generated game folder.
struct GameData : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    // The test tracks are fixtures beside the build; they join the home root for the test.
    for (const char* t : {"testflat", "testslope", "testramp"})
      std::filesystem::copy(std::string(KV_TEST_DATA_DIR) + "/" + t, roots.home + t,
                            std::filesystem::copy_options::recursive);
    setenv("KV_HOME", KV_GAME_DIR, 1);
    data_reset_for_tests();
    console_clear();
  }
  void TearDown() override {
    if (track_name) track_free();
    shape_cache_clear();
  }
};

bool console_clean() {
  for (int i = 0; i < console_ring_size; ++i) {
    const char* l = console_line(i);
    if (!l || !*l) continue;
    for (const char* bad : {"Warning", "warning", "Can't", "Error", "Bad ", "missing"}) {
      if (strstr(l, bad)) {
        ADD_FAILURE() << "console: " << l;
        return false;
      }
    }
  }
  return true;
}

float gate_distance(int a, int b) {
  const TimingGate& ga = timing.gates[a];
  const TimingGate& gb = timing.gates[b];
  return std::hypot(ga.centre[0] - gb.centre[0], ga.centre[2] - gb.centre[2]);
}

TEST_F(GameData, DefaultTrackKeepsThePromisesOfTheGenerator) {
  ASSERT_TRUE(track_load("ridgeback"));
  EXPECT_TRUE(console_clean());
  EXPECT_STREQ(track_display_name, "Ridgeback MX");
  const Terrain& t = track_terrain;
  EXPECT_EQ(t.size_log2, 9);
  EXPECT_FLOAT_EQ(t.spacing, 2.0f);
  EXPECT_FLOAT_EQ(t.extent, 2048.0f);
  EXPECT_GT(t.max_height - t.min_height, 30.0f);

  ASSERT_TRUE(timing_present());
  EXPECT_GE(timing.start_slot_count, 20);
  float lap = 0, climb_lo = 1e9f, climb_hi = -1e9f;
  int gates_in_lap = timing.normal_lap_count;
  for (int k = 0; k < gates_in_lap; ++k) {
    int a = timing.sequence[timing.first_lap_count + k] % not_switch_point;
    int b = timing.sequence[timing.first_lap_count + (k + 1) % gates_in_lap] % not_switch_point;
    float d = gate_distance(a, b);
    EXPECT_LE(d, 150.0f) << "between gates " << a << " and " << b;
    lap += d;
    float h = terrain_height(&t, timing.gates[a].centre[0], timing.gates[a].centre[2]);
    climb_lo = std::min(climb_lo, h);
    climb_hi = std::max(climb_hi, h);
  }
  EXPECT_GE(lap, 4000.0f);
  EXPECT_LE(lap, 5500.0f);
  EXPECT_GT(climb_hi - climb_lo, 25.0f);  // the lap climbs and falls
  EXPECT_EQ(gates_in_lap, timing.gate_count);  // every gate is on the lap once
  EXPECT_GT(timing.first_switch_count, 1);
  EXPECT_GT(timing.normal_switch_count, 1);
  // The first checkpoint lies ahead of the grid on the start straight.
  const StartSlot& slot = timing.slots[0];
  const TimingGate& first = timing.gates[timing.sequence[0] % not_switch_point];
  float ahead = (first.centre[0] - slot.position[0]) * -std::sin(slot.angle) +
                (first.centre[2] - slot.position[2]) * -std::cos(slot.angle);
  EXPECT_GT(ahead, 50.0f);

  // Five surfaces, all on the ground, each with its own grip and drag.
  ASSERT_EQ(t.tile_type_count, 5);
  int used[5] = {};
  for (int k = 0; k < 512 * 512; ++k) used[t.tile_map[k]]++;
  for (int k = 0; k < 5; ++k) {
    EXPECT_GT(used[k], 200) << "tile type " << k;
    for (int j = 0; j < k; ++j) {
      EXPECT_NE(friction_at(&t.tile_types[k], 100.0f), friction_at(&t.tile_types[j], 100.0f));
      float sk, dk, sj, dj;
      roll_resist_at(&t.tile_types[k], 10.0f, &sk, &dk);
      roll_resist_at(&t.tile_types[j], 10.0f, &sj, &dj);
      EXPECT_TRUE(sk != sj || dk != dj);
    }
    EXPECT_NE(t.tile_types[k].roost[0].kind, roost_none);
  }
  // The grid stands on prepared ground.
  EXPECT_EQ(terrain_tile_at(&t, slot.position[0], slot.position[2]), 1);

  // Objects: every statue has its collision shape, the gates are covered by cameras.
  EXPECT_GT(track_objects.statues.count, timing.start_slot_count + 30);
  for (int k = 0; k < track_objects.statues.count; ++k)
    EXPECT_NE(track_objects.statues.items[k].shape, nullptr) << k;
  EXPECT_GT(track_objects.billboards.count - track_objects.first_file_billboard, 100);
  EXPECT_GE(track_objects.cameras.count, 3);
  for (int g = 0; g < timing.gate_count; ++g) EXPECT_GE(track_objects.gate_cameras[g], 0) << g;
  EXPECT_GT(lighting.fog_density, 0.0f);
  EXPECT_STREQ(lighting.sky_names[sky_up], "@ridgeback/sky-u.png");

  // The baked shading is what the wear of the ground would recompute.
  for (int k = 0; k < 4000; ++k) {
    int c = (k * 7919) % t.dim, r = (k * 104729) % t.dim;
    size_t i = static_cast<size_t>(r) * t.dim + c;
    Vec3f n = terrain_vertex_normal(&t, c, r);
    float d = std::clamp(lighting.sun_vector[0] * n.x + lighting.sun_vector[1] * n.y + lighting.sun_vector[2] * n.z, 0.0f, 1.0f);
    float lit = d * (1.0f - static_cast<float>(t.shadow[i]) / 255.0f);
    for (int ch = 0; ch < 3; ++ch) {
      float v = std::clamp(std::trunc((lighting.sun_color[ch] * lit + lighting.ambient[ch]) * 0.5f * 255.0f), 0.0f, 255.0f);
      ASSERT_NEAR(t.shading[3 * i + ch], v, 1.0f) << c << " " << r;
    }
  }
}

TEST_F(GameData, EveryFileTheDefaultTrackNamesExists) {
  // With debugging on, the texture and model caches report every name they cannot open.
  int saved = options.debug_level;
  options.debug_level = 2;
  bool loaded = track_load("ridgeback");
  options.debug_level = saved;
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(console_clean());
  int with_models = 0;
  for (int k = 0; k < track_objects.statues.count; ++k) with_models += track_objects.statues.items[k].model != nullptr;
  EXPECT_EQ(with_models, track_objects.statues.count);
  EXPECT_NE(track_map_texture, 0u);
  for (int k = 0; k < track_terrain.tile_type_count; ++k) EXPECT_NE(track_terrain.tile_types[k].image, nullptr) << k;
}

TEST_F(GameData, DigestCoversTheDigestedFilesInOrder) {
  ASSERT_TRUE(track_load("ridgeback"));
  Digest loaded = track_digest;
  track_free();
  DigestContext ctx;
  digest_begin(&ctx);
  std::string dir = std::string(KV_GAME_DIR) + "/ridgeback/";
  for (const char* f : {"tilemap", "terrain.hf", "terrain.png", "texturelist", "tileinfo", "timing_gates", "statues"}) {
    if (!file_exists(dir + f)) continue;
    std::string bytes = read_file(dir + f);
    digest_update(&ctx, bytes.data(), bytes.size());
  }
  for (const char* shape : {"startgate.shp", "marker.shp", "banner.shp", "tree.shp"}) {
    std::string bytes = read_file(dir + shape);
    digest_update(&ctx, bytes.data(), bytes.size());
  }
  Digest expected = digest_end(&ctx);
  EXPECT_EQ(memcmp(loaded.bytes, expected.bytes, 20), 0);
}

void gzip_file(const std::string& from, const std::string& to) {
  std::string bytes = read_file(from);
  gzFile g = gzopen(to.c_str(), "wb");
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(gzwrite(g, bytes.data(), static_cast<unsigned>(bytes.size())), static_cast<int>(bytes.size()));
  gzclose(g);
}

TEST_F(GameData, PlainAndCompressedCopiesHaveTheSameDigest) {
  std::string src = std::string(KV_TEST_DATA_DIR) + "/testramp/";
  const char* files[] = {"desc", "terrain.hf", "shadingx2.ppm", "tileinfo", "tilemap", "timing_gates"};
  for (const char* f : files) {  // "desc" first: writing it creates the folders
    write_file(roots.home + "plain/" + f, read_file(src + f));
    if (std::string(f) == "desc") write_file(roots.home + "packed/" + f, read_file(src + f));
    else gzip_file(src + f, roots.home + "packed/" + f + ".gz");
  }
  ASSERT_TRUE(track_load("plain"));
  Digest plain = track_digest;
  std::vector<float> heights(track_terrain.heights, track_terrain.heights + track_terrain.dim * track_terrain.dim);
  track_free();
  ASSERT_TRUE(track_load("packed"));
  EXPECT_EQ(memcmp(plain.bytes, track_digest.bytes, 20), 0);
  EXPECT_EQ(heights, std::vector<float>(track_terrain.heights, track_terrain.heights + heights.size()));
  // Any change to a digested file changes the digest.
  track_free();
  write_file(roots.home + "plain/timing_gates", read_file(src + "timing_gates") + "\n");
  ASSERT_TRUE(track_load("plain"));
  EXPECT_NE(memcmp(plain.bytes, track_digest.bytes, 20), 0);
}

TEST_F(GameData, TestTracksLoad) {
  struct Case {
    const char* name;
    float x, z, height;
  };
  const Case cases[] = {{"testflat", 256, 256, 0.0f}, {"testslope", 100, 300, 30.0f}, {"testramp", 256, 200, 4.0f}};
  for (const Case& c : cases) {
    ASSERT_TRUE(track_load(c.name)) << c.name;
    EXPECT_TRUE(console_clean()) << c.name;
    EXPECT_NEAR(terrain_height(&track_terrain, c.x, c.z), c.height, 0.01f) << c.name;
    EXPECT_TRUE(timing_present()) << c.name;
    EXPECT_EQ(timing.start_slot_count, 4) << c.name;
    track_free();
    EXPECT_EQ(track_name, nullptr);
  }
  // Loading over a loaded track replaces it.
  ASSERT_TRUE(track_load("testramp"));
  ASSERT_TRUE(track_load("testflat"));
  EXPECT_STREQ(track_name, "testflat");
  EXPECT_EQ(track_objects.statues.count, 4);
  EXPECT_NEAR(terrain_height(&track_terrain, 256, 200), 0.0f, 0.01f);
}

TEST_F(GameData, AFailedLoadLeavesNothingBehind) {
  std::string src = std::string(KV_TEST_DATA_DIR) + "/testflat/";
  for (const char* f : {"terrain.hf", "shadingx2.ppm", "tileinfo", "timing_gates"})
    write_file(roots.home + "broken/" + f, read_file(src + f));
  EXPECT_FALSE(track_load("broken"));  // no tilemap
  EXPECT_TRUE(console_has("Can't open '@broken/tilemap'"));
  EXPECT_EQ(track_name, nullptr);
  EXPECT_EQ(track_display_name, nullptr);
  EXPECT_EQ(track_terrain.heights, nullptr);
  EXPECT_EQ(track_terrain.tile_types, nullptr);
  EXPECT_EQ(timing.start_slot_count, 0);
  EXPECT_EQ(track_objects.statues.count, 0);
}

}  // namespace
