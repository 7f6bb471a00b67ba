// Track objects: statue orientation encodings, bins, billboards, lighting and cameras.
#include <gtest/gtest.h>

#include <cmath>

#include "bike/shape.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_assets.h"
#include "track/track_objects.h"
#include "track_test_util.h"

namespace {

struct Objects : ::testing::Test {
  DataRootsFixture roots;
  void SetUp() override {
    console_clear();
    make_terrain(&track_terrain, 7, 2.0f);
    track_objects_init();
    lighting_reset();
  }
  void TearDown() override {
    track_objects_free();
    terrain_free(&track_terrain);
    shape_cache_clear();
  }
  std::string put(const std::string& name, const std::string& text) {
    write_file(roots.install + name, text);
    return "@" + name;
  }
};

TEST_F(Objects, StatueAngleEncodings) {
  // A slope rising along +x: h = 0.5 x.
  for (int r = 0; r < track_terrain.dim; ++r)
    for (int c = 0; c < track_terrain.dim; ++c) height_at(&track_terrain, c, r) = 1.0f * static_cast<float>(c);
  int facing = statue_add(100, 2, 100, 4.0f, nullptr, nullptr, nullptr);
  int upright = statue_add(100, 0, 100, -7.0f, nullptr, nullptr, nullptr);
  int leaning = statue_add(100, 0, 100, 0.5f, nullptr, nullptr, nullptr);
  const Statue& f = track_objects.statues.items[facing];
  EXPECT_FLOAT_EQ(f.face_distance, 16.0f);
  EXPECT_FLOAT_EQ(f.orientation[0], 1.0f);
  EXPECT_FLOAT_EQ(f.orientation[4], 1.0f);
  EXPECT_FLOAT_EQ(f.orientation[8], 1.0f);
  EXPECT_FLOAT_EQ(f.y, 52.0f);
  const Statue& u = track_objects.statues.items[upright];
  EXPECT_FLOAT_EQ(u.face_distance, 0.0f);
  EXPECT_FLOAT_EQ(u.orientation[3], 0.0f);  // up row is (0, 1, 0)
  EXPECT_FLOAT_EQ(u.orientation[4], 1.0f);
  EXPECT_NEAR(u.orientation[0], std::cos(-7.0f), 1e-6f);
  EXPECT_NEAR(u.orientation[2], -std::sin(-7.0f), 1e-6f);
  const Statue& l = track_objects.statues.items[leaning];
  EXPECT_NEAR(l.orientation[3], -0.5f / std::sqrt(1.25f), 1e-5f);  // leans with the ground
  EXPECT_NEAR(l.orientation[4], 1.0f / std::sqrt(1.25f), 1e-5f);
}

TEST_F(Objects, StatuesKeepTheirNamesAndBinsCoverTheirCircles) {
  std::string shape = put("post.shp", "1\n0 1 0\n2 0.5 1000 10\n");
  float e = track_terrain.extent;  // 512 ft: bins cover 64..448 in steps of 48
  std::string file = "[500 0 500] 0 @none.vm @none.png " + shape.substr(0) + "\n" +
                     "[10 0 1000] 0 null null " + shape + "\n" +
                     "[112 0 112] 0 null null " + shape + "\n" +
                     "[300 0 300] 0 null null @missing.shp\n";
  statues_read(put("statues", file).c_str());
  ASSERT_EQ(track_objects.statues.count, 4);
  EXPECT_EQ(track_objects.statues.items[0].model, nullptr);
  EXPECT_EQ(track_objects.statues.items[0].texture, 0u);  // no model, no texture
  EXPECT_NE(track_objects.statues.items[0].shape, nullptr);
  EXPECT_FLOAT_EQ(track_objects.statues.items[0].shape->bound, 3.0f);
  EXPECT_TRUE(console_has("Warning: missing shape file @missing.shp"));
  statue_bins_rebuild();
  EXPECT_EQ(statue_bin_index(-1e9f, e), 0);
  EXPECT_EQ(statue_bin_index(1e9f, e), 7);
  // The corner statue falls into the corner bin (column 0, row 7).
  ASSERT_EQ(track_objects.statue_bins[7 * 8 + 0].count, 1);
  EXPECT_EQ(track_objects.statue_bins[7 * 8 + 0].items[0], 1);
  // A circle across the line at 112 ft lies in bins 0 and 1 along both axes.
  for (int b : {0, 1, 8, 9}) {
    bool found = false;
    for (int k = 0; k < track_objects.statue_bins[b].count; ++k) found |= track_objects.statue_bins[b].items[k] == 2;
    EXPECT_TRUE(found) << b;
  }
  // The statue without a shape is in no bin.
  for (const Array<int>& bin : track_objects.statue_bins)
    for (int k = 0; k < bin.count; ++k) EXPECT_NE(bin.items[k], 3);
  ASSERT_TRUE(statues_save("@trk"));
  std::string saved = read_file(roots.home + "trk/statues");
  EXPECT_NE(saved.find("@none.vm @none.png @post.shp"), std::string::npos);
  EXPECT_NE(saved.find("null null @missing.shp"), std::string::npos);
}

TEST_F(Objects, BillboardColourPrefixes) {
  billboards_read(put("billboards", "[1 2 3] 4 0.5 #ff0000#@flag.png\n[5 0 5] 1 1 #00ff00#\n"
                                    "[6 0 6] 2 2 @tree.png\n[7 0 7] 2 2 #zz0000#@odd.png\n").c_str());
  const Array<Billboard>& b = track_objects.billboards;
  ASSERT_EQ(b.count, 4);
  EXPECT_EQ(b.items[0].r, 255);
  EXPECT_EQ(b.items[0].g, 0);
  EXPECT_STREQ(b.items[0].texture_name, "@flag.png");
  EXPECT_FLOAT_EQ(b.items[0].y, 2.0f);
  EXPECT_FLOAT_EQ(b.items[0].y_offset, 2.0f);
  EXPECT_EQ(b.items[1].g, 255);
  EXPECT_EQ(b.items[1].r, 0);
  EXPECT_EQ(b.items[1].texture_name, nullptr);
  EXPECT_STREQ(b.items[3].texture_name, "#zz0000#@odd.png");
  ASSERT_TRUE(billboards_save("@trk"));
  EXPECT_EQ(read_file(roots.home + "trk/billboards"),
            "[1.000000 2.000000 3.000000] 4.000000 0.500000 #ff0000#@flag.png\n"
            "[6.000000 0.000000 6.000000] 2.000000 2.000000 @tree.png\n"
            "[7.000000 0.000000 7.000000] 2.000000 2.000000 #zz0000#@odd.png\n");
}

TEST_F(Objects, LightingKeysClampsAndUnknownLines) {
  lighting_read(put("lighting", "near_plane 2.0\nfar_plane 0.1\nsun_vector [ 0 0 0 ]\n"
                                "fog [ 0.5 0.6 0.7 ] 0.002\nsky_n @n.ppm\n"
                                "flare_element [ 1 2 ] [ 1 1 1 ] 3 @f.png\nflare_point [ 1 2 3 ]\n"
                                "sun_colour [ 1 0 0 ]\nambient [ 0.1 0.1 0.1 ]\n").c_str());
  EXPECT_FLOAT_EQ(lighting.near_plane, 0.875f);
  EXPECT_FLOAT_EQ(lighting.far_plane, 0.875f);
  EXPECT_NEAR(lighting.sun_vector[1], 1.0f / std::sqrt(3.0f), 1e-6f);  // a zero vector keeps the default
  EXPECT_FLOAT_EQ(lighting.fog_density, 0.002f);
  EXPECT_STREQ(lighting.sky_names[sky_north], "@n.ppm");
  EXPECT_STREQ(lighting.sky_names[sky_east], "@sky-e.ppm");
  EXPECT_STREQ(lighting.sky_names[sky_env], "@sky-env.ppm");
  ASSERT_EQ(lighting.flares.count, 1);
  EXPECT_EQ(lighting.flares.items[0].element_count, 1);
  EXPECT_TRUE(console_has("Error reading lighting: Unknown identifier 'sun_colour'"));
  EXPECT_FLOAT_EQ(lighting.ambient[0], 0.5f);  // lines after the unknown one are ignored

  std::string nine = "";
  for (int k = 0; k < 9; ++k) nine += "flare_element [ 1 2 ] [ 1 1 1 ] 3 @f.png\n";
  lighting_read(put("lighting", "far_plane 2000\n" + nine + "flare_vector [ 0 1 0 ]\nflare_element [ 1 2 ] [ 1 1 1 ] 3 @f.png\n").c_str());
  ASSERT_EQ(lighting.flares.count, 1);
  EXPECT_EQ(lighting.flares.items[0].element_count, 8);
  EXPECT_TRUE(lighting.flares.items[0].at_infinity);
  EXPECT_FLOAT_EQ(lighting.far_plane, 2000.0f);
}

float fog_seen = -1.0f;
void record_fog(const float*, float density) { fog_seen = density; }

TEST_F(Objects, EveryLoadAppliesFogEvenWithoutALightingFile) {
  track_graphics.set_fog = record_fog;
  lighting_read(put("lighting", "fog [ 1 1 1 ] 0.01\n").c_str());
  EXPECT_FLOAT_EQ(fog_seen, 0.01f);
  lighting_read("@no_such_lighting");
  EXPECT_FLOAT_EQ(fog_seen, 0.0f);
  track_graphics.set_fog = nullptr;
}

TEST_F(Objects, CamerasAndGateTable) {
  height_at(&track_terrain, 5, 5) = 0.0f;
  cameras_read(put("cameras", "gate 3 5 x 7\nfov -45\naddcamera 10 6 10\naddcamera 20 6 20\ngate 9 300 1\n").c_str());
  ASSERT_EQ(track_objects.cameras.count, 2);
  EXPECT_FLOAT_EQ(track_objects.cameras.items[0].fov, 45.0f);
  EXPECT_FLOAT_EQ(track_objects.cameras.items[1].fov, 90.0f);
  EXPECT_FLOAT_EQ(track_objects.cameras.items[0].y, 6.0f);
  EXPECT_EQ(track_objects.gate_cameras[3], 0);
  EXPECT_EQ(track_objects.gate_cameras[5], 0);
  EXPECT_EQ(track_objects.gate_cameras[7], -1);  // the list ended at "x"
  EXPECT_EQ(track_objects.gate_cameras[9], -1);  // no camera came after it
  EXPECT_EQ(track_objects.gate_cameras[1], -1);  // the list ended at 300
}

TEST_F(Objects, FlaggersReadInParts) {
  write_file(roots.install + "t/flaggers",
             "[1 0 1] [5 0 1] 6 0.5 2\n@s0.png @s1.png @s2.png @s3.png @s4.png\n"
             "[9 0 9] 6 0.5 @l0.png @l1.png @l2.png @l3.png\n"
             "[20 0 20] 6 0.5 -4 1 2 99 @m.png @ma.png\n");
  timing.gate_count = 3;
  flaggers_read("@t/flaggers");
  const Flaggers& f = track_objects.flaggers;
  EXPECT_TRUE(f.has_start);
  EXPECT_FLOAT_EQ(f.start.walk_seconds, 2.0f);
  EXPECT_TRUE(f.has_lap);
  ASSERT_EQ(f.marshals.count, 1);
  EXPECT_EQ(f.marshals.items[0].gates[0], -1);
  EXPECT_EQ(f.marshals.items[0].gates[3], 2);
  EXPECT_EQ(track_objects.billboards.count, 3);
  track_objects_init();
  write_file(roots.install + "t/flaggers", "[1 0 1] [5 0 1] 6 0.5 0\n@s0.png @s1.png @s2.png @s3.png @s4.png\n");
  flaggers_read("@t/flaggers");
  EXPECT_TRUE(track_objects.flaggers.has_start);
  EXPECT_FLOAT_EQ(track_objects.flaggers.start.walk_seconds, 1.0f);  // no walk of zero seconds
  EXPECT_FALSE(track_objects.flaggers.has_lap);
  timing.gate_count = 0;
}

}  // namespace
