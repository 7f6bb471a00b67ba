// Tests of our generated bike data and the shape files: every named file loads, the fixed
// shapes pass their digest check, damaged shape files are refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "bike/bike_assets.h"
#include "core/console.h"
#include "bike/bike_info.h"
#include "bike/rider_bind.h"
#include "bike/shape.h"
#include "core/digest.h"
#include "resources/data.h"
#include "resources/image.h"
#include "resources/model.h"
#include "test_support.h"

namespace {

// The data roots: an empty home folder over the generated game folder.
struct GameData : DataRootsFixture {
  GameData() {
    setenv("KV_HOME", KV_GAME_DIR, 1);
    data_reset_for_tests();
    shape_cache_clear();
  }
  ~GameData() { shape_cache_clear(); }
};

TEST(BikeData, FixedShapesPassTheirCheckAndAChangedOneFails) {
  GameData data;
  shape_files_check();
  EXPECT_TRUE(shape_files_ok);
  // A home folder shadows the installed data: one changed byte is a mismatch.
  write_file(data.home + "generic_rider.shp", "1\n0 0 0 1 0.5 2500 250\n");
  data_reset_for_tests();
  shape_files_check();
  EXPECT_FALSE(shape_files_ok);
}

TEST(BikeData, EveryRecordsFilesLoad) {
  GameData data;
  for (const BikeInfo& b : bike_info_table) {
    SCOPED_TRACE(b.model_name);
    for (const char* s : {b.frame_shape, b.fork_upper_shape, b.fork_lower_shape, b.swingarm_shape,
                          b.front_wheel_shape, b.rear_wheel_shape, b.rider_shape}) {
      CollisionShape* shape = shape_load(s);
      ASSERT_NE(shape, nullptr) << s;
      EXPECT_GT(shape->bound, 0);
      shape_free(shape);
    }
    for (const char* m : {b.frame_model, b.fork_upper_model, b.fork_lower_model, b.swingarm_model,
                          b.front_wheel_model, b.rear_wheel_model, b.head_model,
                          b.rider_body_model, b.rider_body_fp_model, b.side_plates_model,
                          b.front_plate_model, b.rider_plate_model}) {
      Model* model = model_read(m);
      ASSERT_NE(model, nullptr) << m;
      EXPECT_GT(model->triangle_count, 0) << m;
      const bool skinned = m == b.rider_body_model || m == b.rider_body_fp_model ||
                           m == b.rider_plate_model;
      EXPECT_EQ(model->bone_count, skinned ? rider_bone_count : 0) << m;
      model_free(model);
    }
    for (const char* t : {b.bike_texture, b.wheel_texture, b.rider_texture, b.head_texture}) {
      Image image{};
      char* info = nullptr;
      ASSERT_TRUE(png_read_texture(t, &image, &info)) << t;
      EXPECT_GT(image.width, 0);
      image_free(&image);
      free(info);
    }
  }
}

TEST(BikeData, ShapeFilesWithBadValuesAreRefused) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"1\n0 0 0 1 0.5 2500 250\n", true},
      {"2\n0 0 0 1 0.5 2500 250\n1 0 0 0.5 0.5 2500 0\n", true},
      {"0\n", false},                                          // no spheres
      {"1025\n0 0 0 1 0.5 2500 250\n", false},                 // beyond the limit
      {"-3\n", false},
      {"1\n0 nan 0 1 0.5 2500 250\n", false},                  // non-finite
      {"1\n0 0 0 inf 0.5 2500 250\n", false},
      {"1\n0 0 0 1 0.5 0 0\n", false},                         // k h + c would be 0
      {"1\n0 0 0 1 0.5 2500\n", false},                        // truncated
      {"2\n0 0 0 1 0.5 2500 250\n", false},                    // fewer spheres than counted
      {"x\n", false},
  };
  for (const Case& c : cases) {
    CollisionShape* s = shape_parse(c.text, "test.shp");
    EXPECT_EQ(s != nullptr, c.ok) << c.text;
    shape_free(s);
  }
  CollisionShape* s = shape_parse("2\n3 4 0 1 0.5 2500 250\n0 0 0 0.5 0.5 2500 250\n", "b.shp");
  ASSERT_NE(s, nullptr);
  EXPECT_FLOAT_EQ(s->bound, 6);
  shape_free(s);
}

TEST(BikeAssets, VariantNamesFollowTheTexture) {
  struct Case {
    const char* model;
    const char* texture;
    const char* variant;  // null: the rule does not apply
  };
  const Case cases[] = {
      {"@crf450v2013_frame.vm", "@mybikes/crf-red-1.png", "@crf450v2013_frame-red.vm"},
      {"@crf450v2013_frame.vm", "crf-blue-2.png", "@crf450v2013_frame-blue.vm"},
      {"@crf450v2013_frame.vm", "@my-bikes/crf-red.png", nullptr},  // one '-' in the file part
      {"@crf450v2013_frame", "@crf-red-1.png", nullptr},             // no extension
      {"@crf450v2013_frame.vm", nullptr, nullptr},
      {"@a.b/frame.vm", "x--y.png", "@a.b/frame-.vm"},
  };
  for (const Case& c : cases) {
    char out[256];
    const bool ok = model_variant_name(c.model, c.texture, out, sizeof out);
    EXPECT_EQ(ok, c.variant != nullptr) << c.model << " " << (c.texture ? c.texture : "-");
    if (ok && c.variant) {
      EXPECT_STREQ(out, c.variant);
    }
  }
}

TEST(BikeAssets, PlateColoursFromTheTextureName) {
  uint8_t bg[3], fg[3];
  plate_colours("@bikes/crf[numberbackground:0,0,1][numberforeground:1,1,0].png", bg, fg);
  EXPECT_EQ(bg[0], 0);
  EXPECT_EQ(bg[2], 255);
  EXPECT_EQ(fg[0], 255);
  EXPECT_EQ(fg[1], 255);
  EXPECT_EQ(fg[2], 0);
  plate_colours("@crf[numberbackground:2,-1,0.5][numberforeground:1,x,0].png", bg, fg);
  EXPECT_EQ(bg[0], 255);  // clamped
  EXPECT_EQ(bg[1], 0);
  EXPECT_EQ(bg[2], 127);
  EXPECT_EQ(fg[0], 0);  // a tag that does not parse is ignored
  plate_colours(nullptr, bg, fg);
  EXPECT_EQ(bg[1], 255);
  EXPECT_EQ(fg[1], 0);
}

}  // namespace

namespace {

bool console_has(const std::string& text) {
  for (int i = 0; i < console_ring_size; ++i) {
    const char* l = console_line(i);
    if (l && std::string(l).find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(BikeAssets, MissingVariantFallsBackToTheRecordsDefaults) {
  GameData data;
  physics_init();
  console_clear();
  Rider* r = bike_create("crf450(2013)", 3, "123456789", nullptr, nullptr,
                         "@mybikes/crf-red-1.png", nullptr);
  EXPECT_TRUE(console_has("Warning: Can't load @crf450v2013_frame-red.vm or "
                          "@mybikes/crf450v2013_frame-red.vm"));
  // The chosen texture failed too: the record's texture and plain models stand in.
  EXPECT_NE(r->textures[texture_bike].colour, 0u);
  for (int m = 0; m < rider_model_count; ++m) EXPECT_NE(r->models[m], nullptr) << m;
  for (int s = 0; s < rider_shape_count; ++s) EXPECT_NE(r->shapes[s], nullptr) << s;
  EXPECT_STREQ(r->number, "1234567");
  EXPECT_EQ(r->slot, 3);
  EXPECT_EQ(r->number_plate_texture, 0u);  // no text rendering: no plate yet
  EXPECT_EQ(r->plate_background[0], 255);
  bike_free(r);
  physics_shutdown();
}

}  // namespace
