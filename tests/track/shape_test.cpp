// Collision shape files: valid shapes, hostile counts and values, and independent copies.
#include <gtest/gtest.h>

#include "bike/shape.h"
#include "track_test_util.h"

namespace {

TEST(ShapeParse, ReadsSpheresAndTheirBound) {
  CollisionShape* s = shape_parse("2\n1 2 2 0.5 0.8 2500 250\n0 0 -1 1 1 100 0\n", "@a.shp");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->sphere_count, 2);
  EXPECT_FLOAT_EQ(s->spheres[0].centre[1], 2.0f);
  EXPECT_FLOAT_EQ(s->spheres[0].friction, 0.8f);
  EXPECT_FLOAT_EQ(s->spheres[1].stiffness, 100.0f);
  EXPECT_FLOAT_EQ(s->bound, 3.5f);
  EXPECT_STREQ(s->name, "@a.shp");
  shape_free(s);
}

TEST(ShapeParse, RefusesMalformedFiles) {
  const char* bad[] = {
      "",
      "x",
      "0\n",
      "-3\n",
      "1025\n",
      "99999999999999999999\n",
      "2\n1 2 2 0.5 0.8 2500 250\n",           // fewer spheres than counted
      "1\n1 2 2 0.5 0.8 2500\n",                // one value short
      "1\nnan 2 2 0.5 0.8 2500 250\n",
      "1\n1 2 inf 0.5 0.8 2500 250\n",
      "1\n1 2 2 0.5 0.8 0 0\n",                 // the soft contact would divide by zero
      "1\n1 2 2 0.5 0.8 -5 250\n",
      "1\n1 2 2 0.5 0.8 100 -1\n",
      "1\n1 2 2 -0.5 0.8 100 1\n",
      "1\n3e38 3e38 3e38 1 1 100 1\n",          // the bound overflows
  };
  for (const char* text : bad) EXPECT_EQ(shape_parse(text, "@b.shp"), nullptr) << text;
}

TEST(ShapeLoad, CachedShapesGiveIndependentCopies) {
  DataRootsFixture roots;
  write_file(roots.install + "c.shp", "1 0 0 0 1 1 2500 250");
  CollisionShape* a = shape_load("@c.shp");
  ASSERT_NE(a, nullptr);
  a->spheres[0].radius = 9.0f;
  write_file(roots.install + "c.shp", "garbage");
  CollisionShape* b = shape_load("@c.shp");  // from the cache, untouched by the first copy
  ASSERT_NE(b, nullptr);
  EXPECT_FLOAT_EQ(b->spheres[0].radius, 1.0f);
  EXPECT_NE(b->world_centres, nullptr);
  EXPECT_EQ(shape_load("@missing.shp"), nullptr);
  EXPECT_EQ(shape_load(nullptr), nullptr);
  shape_free(a);
  shape_free(b);
  shape_cache_clear();
}

}  // namespace
