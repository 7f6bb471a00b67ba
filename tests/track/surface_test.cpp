// Surface types: tileinfo and texturelist parsing, transition codes and the curve lookups.
#include <gtest/gtest.h>

#include <cmath>

#include "resources/stream.h"
#include "track/terrain.h"
#include "track_test_util.h"

namespace {

struct Surfaces : ::testing::Test {
  DataRootsFixture roots;
  Terrain t{};
  void SetUp() override {
    console_clear();
    t.render_method = 2;
    t.tile_types = static_cast<TileType*>(xcalloc(max_tile_types, sizeof(TileType)));
  }
  void TearDown() override { free(t.tile_types); }
  void read_tileinfo(const std::string& text) {
    write_file(roots.install + "tileinfo", text);
    Stream* s = stream_open("@tileinfo", "rb");
    ASSERT_NE(s, nullptr);
    tile_types_read_tileinfo(&t, s);
    stream_close(s);
  }
  void read_texturelist(const std::string& text) {
    write_file(roots.install + "texturelist", text);
    Stream* s = stream_open("@texturelist", "rb");
    ASSERT_NE(s, nullptr);
    tile_types_read_texturelist(&t, s);
    stream_close(s);
  }
};

TEST_F(Surfaces, EmptyFileGivesNoTypesAndNoWarnings) {
  read_tileinfo("");
  EXPECT_EQ(t.tile_type_count, 0);
  EXPECT_FALSE(console_has("warning"));
}

TEST_F(Surfaces, FrictionPointsAreSortedAndInterpolatedInSquaredSpeed) {
  read_tileinfo("friction 0.8 20\nfriction 1.2 5\naddtile\n");
  ASSERT_EQ(t.tile_type_count, 1);
  const TileType& ty = t.tile_types[0];
  EXPECT_FLOAT_EQ(ty.friction[0].coefficient, 1.2f);
  EXPECT_FLOAT_EQ(ty.friction[0].speed, 5.0f);
  EXPECT_FLOAT_EQ(ty.friction[1].coefficient, 0.8f);
  EXPECT_FLOAT_EQ(ty.friction[2].speed, 0.0f);
  EXPECT_FLOAT_EQ(friction_at(&ty, 2.0f * 2.0f), 1.2f);
  EXPECT_FLOAT_EQ(friction_at(&ty, 30.0f * 30.0f), 0.8f);
  EXPECT_FLOAT_EQ(friction_at(&ty, 212.5f), 1.0f);
}

TEST_F(Surfaces, DefaultsAndRollingResistanceInPlainSpeed) {
  read_tileinfo("addtile\nroll_resist 2 6 10\nroll_resist 4 12 20\naddtile\n");
  ASSERT_EQ(t.tile_type_count, 2);
  const TileType& d = t.tile_types[0];
  EXPECT_FLOAT_EQ(friction_at(&d, 100.0f), 1.0f);
  float s = 0, dp = 0;
  roll_resist_at(&d, 3.0f, &s, &dp);
  EXPECT_FLOAT_EQ(s, 5.0f);
  EXPECT_FLOAT_EQ(dp, 15.0f);
  EXPECT_FLOAT_EQ(d.erode[erode_on_speed], 15.0f);
  EXPECT_EQ(d.transition_code, 0);
  roll_resist_at(&t.tile_types[1], 15.0f, &s, &dp);
  EXPECT_FLOAT_EQ(s, 3.0f);
  EXPECT_FLOAT_EQ(dp, 9.0f);
  roll_resist_at(&t.tile_types[1], 50.0f, &s, &dp);
  EXPECT_FLOAT_EQ(s, 4.0f);
  EXPECT_EQ(t.tile_types[1].transition_code, (1 << 16) | (1 << 8));
}

TEST_F(Surfaces, LimitsAndBadValuesWarn) {
  std::string text = "friction 1\nroll_resist 1 2\nfriction inf 3\n";
  for (int k = 1; k <= 9; ++k) text += "friction 1 " + std::to_string(k) + "\n";
  for (int k = 1; k <= 5; ++k) text += "roost count=1\n";
  text += "erode_depth deep\nerode_radius nan\nbogus 1\naddtile\n";
  read_tileinfo(text);
  ASSERT_EQ(t.tile_type_count, 1);
  EXPECT_TRUE(console_has("tileinfo warning: too many friction points"));
  EXPECT_TRUE(console_has("tileinfo warning: too many roost types"));
  EXPECT_TRUE(console_has("tileinfo warning: bad friction parameters"));
  EXPECT_TRUE(console_has("tileinfo warning: bad roll_resist parameters"));
  EXPECT_TRUE(console_has("tileinfo warning: bad erode_depth"));
  EXPECT_TRUE(console_has("tileinfo warning: bad erode_radius"));
  EXPECT_TRUE(console_has("tileinfo warning: Unknown identifier 'bogus'"));
  const TileType& ty = t.tile_types[0];
  EXPECT_FLOAT_EQ(ty.friction[7].speed, 8.0f);
  EXPECT_FLOAT_EQ(ty.erode[erode_depth], 1.0f);
  EXPECT_FLOAT_EQ(ty.erode[erode_radius], 4.0f);
  for (int k = 0; k < roost_kinds_per_tile; ++k) EXPECT_EQ(ty.roost[k].kind, roost_roost);
}

TEST_F(Surfaces, SpeedsAreRaisedAndCoefficientsFloored) {
  read_tileinfo("friction -1 0\nroll_resist -3 -4 -5\naddtile\n");
  const TileType& ty = t.tile_types[0];
  EXPECT_FLOAT_EQ(ty.friction[0].coefficient, 0.0f);
  EXPECT_FLOAT_EQ(ty.friction[0].speed, 9.53674e-07f);
  EXPECT_FLOAT_EQ(ty.roll_resist[0].shallow, 0.0f);
  EXPECT_FLOAT_EQ(ty.roll_resist[0].deep, 0.0f);
  EXPECT_GT(ty.roll_resist[0].speed, 0.0f);
}

TEST_F(Surfaces, RoostTokensQuotesAndColours) {
  read_tileinfo("roost \"texture=@my dirt.png\" count=2.5 splash=1 fade_a=-256 r=300 g=-1 size=big wobble=3\n"
                "roost\naddtile\n");
  const TileType& ty = t.tile_types[0];
  EXPECT_EQ(ty.roost[0].kind, roost_splash);
  EXPECT_FLOAT_EQ(ty.roost[0].count, 2.5f);
  EXPECT_EQ(ty.roost[0].fade_a, -2);
  EXPECT_EQ(ty.roost[0].r, 300 & 0xFF);
  EXPECT_EQ(ty.roost[0].g, 0xFF);
  EXPECT_FLOAT_EQ(ty.roost[0].size, 0.0f);
  EXPECT_TRUE(console_has("tileinfo warning: bad size"));
  EXPECT_TRUE(console_has("tileinfo warning: unknown roost parameter 'wobble=3'"));
  EXPECT_EQ(ty.roost[1].kind, roost_roost);
  EXPECT_FLOAT_EQ(ty.roost[1].fast_angle, 0.19634955f);
  EXPECT_EQ(ty.roost[1].fade_a, -2);
  EXPECT_EQ(ty.roost[2].kind, roost_none);
}

TEST_F(Surfaces, ThreeHundredTilesStopAt256) {
  std::string text;
  for (int k = 0; k < 300; ++k) text += "addtile\n";
  read_tileinfo(text);
  EXPECT_EQ(t.tile_type_count, 256);
}

TEST_F(Surfaces, ErodeValuesThatWouldDivideByZeroAreRefused) {
  read_tileinfo("erode_off_speed 12\nerode_on_speed 12\nerode_lower 80\nerode_upper 80\naddtile\n"
                "erode_off_speed 5\nerode_on_speed 9\naddtile\n");
  EXPECT_TRUE(console_has("erode_on_speed equals erode_off_speed"));
  EXPECT_TRUE(console_has("erode_upper equals erode_lower"));
  const TileType& a = t.tile_types[0];
  EXPECT_NE(a.erode[erode_on_speed], a.erode[erode_off_speed]);
  EXPECT_NE(a.erode[erode_upper], a.erode[erode_lower]);
  EXPECT_FLOAT_EQ(t.tile_types[1].erode[erode_off_speed], 5.0f);
}

TEST_F(Surfaces, TexturelistLines) {
  read_texturelist("dirt.png\n  0.7 3 9 grass.png\r\n0.5 x.png\nlast.png");
  ASSERT_EQ(t.tile_type_count, 4);
  EXPECT_STREQ(t.tile_types[0].texture_name, "@dirt.png");
  EXPECT_FLOAT_EQ(t.tile_types[0].friction[0].coefficient, 1.0f);
  EXPECT_FLOAT_EQ(t.tile_types[0].roll_resist[0].deep, 15.0f);
  EXPECT_STREQ(t.tile_types[1].texture_name, "@grass.png");  // the CR is gone
  EXPECT_FLOAT_EQ(t.tile_types[1].friction[0].coefficient, 0.7f);
  EXPECT_FLOAT_EQ(t.tile_types[1].roll_resist[0].shallow, 3.0f);
  EXPECT_EQ(t.tile_types[1].roost[0].kind, roost_roost);
  EXPECT_EQ(t.tile_types[1].roost[1].kind, roost_none);
  EXPECT_STREQ(t.tile_types[2].texture_name, "@0.5 x.png");
  EXPECT_STREQ(t.tile_types[3].texture_name, "@last.png");
}

TEST_F(Surfaces, TransitionCodesFromNames) {
  const char* names[] = {"dirt.png", "grass.png", "dirt-grass-0001.png", "dirt-alt2.png",
                         "dirt-mud-0001.png", "dirt-grass-01x1.png", "", "/tracks/dirt.png"};
  EXPECT_EQ(tile_transition_code(0, names, 8), 0);
  EXPECT_EQ(tile_transition_code(1, names, 8), (1 << 16) | (1 << 8));
  EXPECT_EQ(tile_transition_code(2, names, 8), (0 << 16) | (1 << 8) | 1);
  EXPECT_EQ(tile_transition_code(3, names, 8), 0);
  EXPECT_EQ(tile_transition_code(4, names, 8), static_cast<int32_t>(0xFFFFFF00u));
  EXPECT_EQ(tile_transition_code(5, names, 8), (1 << 8));
  EXPECT_EQ(tile_transition_code(6, names, 8), (6 << 16) | (6 << 8));
  read_tileinfo("texture @trk/dirt.png\naddtile\ntexture @trk/dirt-alt1.png\naddtile\n");
  EXPECT_STREQ(t.tile_types[0].name, "/dirt.png");
  EXPECT_EQ(t.tile_types[1].transition_code, 0);
}

}  // namespace
