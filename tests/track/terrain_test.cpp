// Terrain queries on the checkerboard split, loading the height field and saving it again.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <limits>

#include "resources/data.h"
#include "resources/image.h"
#include "track/terrain.h"
#include "track/track.h"
#include "track_test_util.h"

namespace {

struct QueryTerrain : ::testing::Test {
  Terrain t{};
  void SetUp() override { make_terrain(&t, 7, 2.0f); }
  void TearDown() override { terrain_free(&t); }
};

TEST_F(QueryTerrain, DiagonalsAlternateInACheckerboard) {
  // Even cell (0, 0) splits along (0,0)-(1,1): a raised (1,0) lifts only the triangle below it.
  height_at(&t, 1, 0) = 1.0f;
  EXPECT_FLOAT_EQ(terrain_height(&t, 0.75f * 2, 0.25f * 2), 0.5f);
  EXPECT_FLOAT_EQ(terrain_height(&t, 0.25f * 2, 0.75f * 2), 0.0f);
  // Odd cell (1, 0) splits along (2,0)-(1,1): (1,0) is the right-angle corner of its first triangle.
  EXPECT_FLOAT_EQ(terrain_height(&t, 1.25f * 2, 0.25f * 2), 0.5f);
  EXPECT_FLOAT_EQ(terrain_height(&t, 1.75f * 2, 0.75f * 2), 0.0f);
  // Odd cell (0, 1): a raised (0,1) lifts its first triangle (0,1),(1,1),(0,2).
  height_at(&t, 1, 0) = 0.0f;
  height_at(&t, 0, 1) = 2.0f;
  EXPECT_FLOAT_EQ(terrain_height(&t, 0.25f * 2, 1.25f * 2), 1.0f);
  EXPECT_FLOAT_EQ(terrain_height(&t, 0.75f * 2, 1.75f * 2), 0.0f);
}

TEST_F(QueryTerrain, PointsOnTheDiagonalBelongToTheFirstTriangle) {
  height_at(&t, 1, 0) = 1.0f;  // tilts only the first triangle of even cell (0, 0)
  Vec3f on = terrain_face_normal(&t, 1.0f, 1.0f);
  EXPECT_NE(on.x, 0.0f);
  Vec3f off = terrain_face_normal(&t, 0.5f, 1.5f);
  EXPECT_FLOAT_EQ(off.x, 0.0f);
  EXPECT_FLOAT_EQ(off.z, 0.0f);
  // Odd cell (1, 0): its diagonal point (1.5, 0.5) in samples belongs to the triangle of (1, 0).
  Vec3f odd = terrain_face_normal(&t, 3.0f, 1.0f);
  EXPECT_NE(odd.x, 0.0f);
}

TEST_F(QueryTerrain, BorderExtendsFlatAndHostileCoordinatesAreClamped) {
  for (int r = 0; r < t.dim; ++r)
    for (int c = 0; c < t.dim; ++c) height_at(&t, c, r) = 0.25f * static_cast<float>(r) + 0.125f * static_cast<float>(c);
  EXPECT_FLOAT_EQ(terrain_height(&t, -50.0f, 9.0f), terrain_height(&t, 0.0f, 9.0f));
  EXPECT_FLOAT_EQ(terrain_height(&t, t.extent + 80.0f, 9.0f), terrain_height(&t, t.extent, 9.0f));
  EXPECT_FLOAT_EQ(terrain_height(&t, 7.0f, -3.0f), terrain_height(&t, 7.0f, 0.0f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float v : {nan, inf, -inf, 1e30f, -1e30f}) {
    float h = terrain_height(&t, v, v);
    EXPECT_TRUE(std::isfinite(h)) << v;
    Vec3f n = terrain_face_normal(&t, v, 3.0f);
    EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << v;
    int tile = terrain_tile_at(&t, v, v);
    EXPECT_EQ(tile, 0);
  }
  EXPECT_FLOAT_EQ(terrain_height(&t, 1e30f, 1e30f), height_at(&t, t.dim - 1, t.dim - 1));
}

TEST_F(QueryTerrain, NormalsOnFlatAndSlopedGround) {
  Vec3f f = terrain_face_normal(&t, 5.3f, 7.1f);
  EXPECT_FLOAT_EQ(f.x, 0.0f);
  EXPECT_FLOAT_EQ(f.y, 4.0f);  // spacing squared
  EXPECT_FLOAT_EQ(f.z, 0.0f);
  Vec3f v = terrain_vertex_normal(&t, 10, 10);
  EXPECT_FLOAT_EQ(v.y, 1.0f);
  // The plane h = 0.5 x rises along +x: its normal leans towards -x.
  for (int r = 0; r < t.dim; ++r)
    for (int c = 0; c < t.dim; ++c) height_at(&t, c, r) = 0.5f * 2.0f * static_cast<float>(c);
  for (float z : {1.0f, 2.5f, 3.9f}) {
    Vec3f s = terrain_face_normal(&t, 5.3f, z);
    EXPECT_FLOAT_EQ(s.x, -2.0f);
    EXPECT_FLOAT_EQ(s.y, 4.0f);
    EXPECT_NEAR(s.z, 0.0f, 1e-5f);
  }
  Vec3f vn = terrain_vertex_normal(&t, 10, 10);
  EXPECT_NEAR(vn.x, -0.5f / std::sqrt(1.25f), 1e-5f);
  EXPECT_NEAR(vn.y, 1.0f / std::sqrt(1.25f), 1e-5f);
  EXPECT_NEAR(vn.z, 0.0f, 1e-5f);
}

TEST_F(QueryTerrain, TileLookupUsesTwoCellTiles) {
  int side = 1 << t.size_log2;
  t.tile_map[0] = 3;
  t.tile_map[1] = 4;
  t.tile_map[side] = 5;
  t.tile_map[side * side - 1] = 6;
  EXPECT_EQ(terrain_tile_at(&t, 3.9f, 3.9f), 3);  // tile side is 4 ft
  EXPECT_EQ(terrain_tile_at(&t, 4.0f, 0.0f), 4);
  EXPECT_EQ(terrain_tile_at(&t, 0.0f, 4.1f), 5);
  EXPECT_EQ(terrain_tile_at(&t, -10.0f, -10.0f), 3);
  EXPECT_EQ(terrain_tile_at(&t, t.extent + 10, t.extent), 6);
}

struct TerrainFiles : ::testing::Test {
  DataRootsFixture roots;
  std::string dir;
  Terrain t{};
  void SetUp() override {
    dir = roots.install + "t/";
    console_clear();
  }
  void TearDown() override { terrain_free(&t); }
};

TEST_F(TerrainFiles, InlineHeightsScaleToTheRange) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 100.0f, 65535));
  write_track_basics(dir, 7);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  EXPECT_EQ(t.dim, 257);
  EXPECT_FLOAT_EQ(t.extent, 512.0f);
  EXPECT_FLOAT_EQ(t.heights[0], 100.0f);
  EXPECT_FLOAT_EQ(t.heights[257 * 257 - 1], 100.0f);
  EXPECT_EQ(t.shading[0], 100);  // shading.ppm is halved
  EXPECT_EQ(t.change_counter, 1);
}

TEST_F(TerrainFiles, InlineHeightsEqualPngHeights) {
  int n = 7, dim = 257;
  std::string block = hf_header(n, 2.0f, -10.0f, 30.0f) + ":";
  std::vector<uint16_t> samples(static_cast<size_t>(dim) * dim);
  for (int k = 0; k < dim * dim; ++k) {
    samples[k] = static_cast<uint16_t>((k * 7919u) & 0xFFFF);
    block.push_back(static_cast<char>(samples[k] & 0xFF));
    block.push_back(static_cast<char>(samples[k] >> 8));
  }
  write_file(dir + "terrain.hf", block);
  write_track_basics(dir, n);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  std::vector<float> inline_heights(t.heights, t.heights + dim * dim);
  terrain_free(&t);

  write_file(dir + "terrain.hf", hf_header(n, 2.0f, -10.0f, 30.0f));
  ASSERT_TRUE(png_write_grey16((dir + "terrain.png").c_str(), samples.data(), dim, dim));
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  for (int k = 0; k < dim * dim; k += 97) ASSERT_EQ(t.heights[k], inline_heights[k]) << k;
}

TEST_F(TerrainFiles, SmallPngRepeatsItsLastColumnAndRow) {
  std::vector<uint16_t> samples(128 * 128);
  for (int r = 0; r < 128; ++r)
    for (int c = 0; c < 128; ++c) samples[r * 128 + c] = static_cast<uint16_t>(c * 256 + r);
  write_file(dir + "terrain.hf", hf_header(7, 2.0f, 0.0f, 65535.0f));
  ASSERT_TRUE(png_write_grey16((dir + "terrain.png").c_str(), samples.data(), 128, 128));
  write_track_basics(dir, 7);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  EXPECT_FLOAT_EQ(t.heights[0 * 257 + 200], 127.0f * 256.0f);        // column 200 repeats 127
  EXPECT_FLOAT_EQ(t.heights[150 * 257 + 3], 3.0f * 256.0f + 127.0f);  // row 150 repeats 127
}

TEST_F(TerrainFiles, BadHeightFieldsAreRefused) {
  write_track_basics(dir, 7);
  struct Case {
    const char* what;
    std::string hf;
    const char* message;
  };
  std::string short_block = hf_inline(7, 2.0f, 0.0f, 10.0f, 100);
  short_block.resize(short_block.size() - 3);
  const Case cases[] = {
      {"n = 6 breaks the LOD windows", hf_inline(6, 2.0f, 0.0f, 10.0f, 0), "Bad height field parameters"},
      {"n = 13", hf_header(13, 2.0f, 0.0f, 10.0f), "Bad height field parameters"},
      {"zero spacing", hf_header(7, 0.0f, 0.0f, 10.0f) + ":", "Bad height field parameters"},
      {"negative spacing", hf_header(7, -2.0f, 0.0f, 10.0f) + ":", "Bad height field parameters"},
      {"non-finite range", "7 2 nan 10\n:", "Bad height field parameters"},
      {"three numbers", "7 2 0\n", "Bad height field parameters"},
      {"short inline block", short_block, "Error reading heights"},
      {"no inline block and no terrain.png", hf_header(7, 2.0f, 0.0f, 10.0f), "Can't open '@t/terrain.png'"},
  };
  for (const Case& c : cases) {
    console_clear();
    write_file(dir + "terrain.hf", c.hf);
    EXPECT_FALSE(terrain_load(&t, "@t", 1)) << c.what;
    EXPECT_TRUE(console_has(c.message)) << c.what;
    EXPECT_EQ(t.heights, nullptr) << c.what;  // a failed load leaves nothing behind
  }
}

TEST_F(TerrainFiles, TileMapIsClampedAndAShortOneFilledWithTypeZero) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 1.0f, 0));
  write_track_basics(dir, 7, "addtile\naddtile\naddtile\n");
  write_file(dir + "tilemap", std::string("\x01\x02\x07\xff", 4));
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  EXPECT_EQ(t.tile_type_count, 3);
  EXPECT_EQ(t.tile_map[0], 1);
  EXPECT_EQ(t.tile_map[1], 2);
  EXPECT_EQ(t.tile_map[2], 2);
  EXPECT_EQ(t.tile_map[3], 2);
  EXPECT_EQ(t.tile_map[4], 0);
  EXPECT_EQ(t.tile_map[128 * 128 - 1], 0);
}

TEST_F(TerrainFiles, ATrackWithoutTileTypesIsRefused) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 1.0f, 0));
  write_track_basics(dir, 7, "texture @x.png\n");
  EXPECT_FALSE(terrain_load(&t, "@t", 1));
  EXPECT_TRUE(console_has("Track has no tile types"));
  remove((dir + "tileinfo").c_str());
  console_clear();
  EXPECT_FALSE(terrain_load(&t, "@t", 1));
  EXPECT_TRUE(console_has("Can't open '@t/texturelist'"));
}

TEST_F(TerrainFiles, ShadingPrefersTheHalfIntensityFileAndChecksSizes) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 1.0f, 0));
  write_track_basics(dir, 7);
  write_file(dir + "shadingx2.ppm", ppm(257, 257, 77));
  write_file(dir + "shadows.pgm", "P5\n257 257\n255\n" + std::string(257 * 257, '\x05'));
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  EXPECT_EQ(t.shading[5], 77);
  EXPECT_EQ(t.shadow[7], 250);
  terrain_free(&t);
  write_file(dir + "shadingx2.ppm", ppm(256, 257, 77));
  EXPECT_FALSE(terrain_load(&t, "@t", 1));
  EXPECT_TRUE(console_has("Bad shading dimensions (256x257)"));
  remove((dir + "shadingx2.ppm").c_str());
  write_file(dir + "shadows.pgm", "P5\n257 3\n255\n" + std::string(257 * 3, '\x05'));
  EXPECT_FALSE(terrain_load(&t, "@t", 1));
  write_file(dir + "shadows.pgm", "P5\n257 257\n255\n" + std::string(10, '\x05'));
  EXPECT_FALSE(terrain_load(&t, "@t", 1));
  EXPECT_TRUE(console_has("Error reading shadows"));
}

TEST_F(TerrainFiles, SaveAndReloadKeepHeightsWithinOneStepOfTheRange) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 1.0f, 0));
  write_track_basics(dir, 7);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  for (int r = 0; r < t.dim; ++r)
    for (int c = 0; c < t.dim; ++c)
      height_at(&t, c, r) = 40.0f * std::sin(0.02f * static_cast<float>(c)) + 0.03f * static_cast<float>(r) - 7.0f;
  t.tile_map[5] = 0;
  std::vector<float> before(t.heights, t.heights + t.dim * t.dim);
  ASSERT_TRUE(terrain_save(&t, "@t"));
  float range = t.max_height - t.min_height;
  terrain_free(&t);
  // Saved files land in the home root, which wins over the install root.
  EXPECT_TRUE(file_exists(roots.home + "t/terrain.png"));
  EXPECT_FALSE(file_exists(roots.home + "t/terrain.png.tmp"));
  write_file(roots.home + "t/tileinfo", "addtile\n");
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  for (size_t k = 0; k < before.size(); k += 31) ASSERT_NEAR(t.heights[k], before[k], range / 65535.0f * 1.01f) << k;
}

TEST_F(TerrainFiles, AFailedSaveIsReportedAndLeavesNoTemporaryFiles) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 0.0f, 1.0f, 0));
  write_track_basics(dir, 7);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  // A plain file where the track folder should be: nothing can be created inside it.
  write_file(roots.home + "t", "not a folder");
  EXPECT_FALSE(terrain_save(&t, "@t"));
  EXPECT_TRUE(console_has("Can't open 'terrain.hf'"));
  remove((roots.home + "t").c_str());
  // A folder in the way of the tile map: everything before it is written, then the save stops.
  ASSERT_EQ(mkdir((roots.home + "t").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((roots.home + "t/tilemap").c_str(), 0755), 0);
  console_clear();
  EXPECT_FALSE(terrain_save(&t, "@t"));
  EXPECT_TRUE(console_has("Can't open 'tilemap'"));
  EXPECT_TRUE(file_exists(roots.home + "t/shadingx2.ppm"));
  EXPECT_FALSE(file_exists(roots.home + "t/tilemap.tmp"));
}

TEST_F(TerrainFiles, SavingAFlatTerrainWritesZeros) {
  write_file(dir + "terrain.hf", hf_inline(7, 2.0f, 5.0f, 5.0f, 1234));
  write_track_basics(dir, 7);
  ASSERT_TRUE(terrain_load(&t, "@t", 1));
  ASSERT_TRUE(terrain_save(&t, "@t"));
  uint16_t* samples = nullptr;
  int w = 0, h = 0;
  ASSERT_TRUE(png_read_grey16((roots.home + "t/terrain.png").c_str(), &samples, &w, &h));
  EXPECT_EQ(w, 257);
  EXPECT_EQ(samples[0], 0);
  EXPECT_EQ(samples[w * h - 1], 0);
  free(samples);
}

}  // namespace
