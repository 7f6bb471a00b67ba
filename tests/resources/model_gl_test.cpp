// Model drawing into a real GL context: display lists, the main pass stopping at reflection
// meshes, the reflection pass, skinning on the processor, immediate mode and the counters.
#include <gtest/gtest.h>
#include <GL/gl.h>

#include <filesystem>
#include <string>

#include "core/options.h"
#include "gl_context_util.h"
#include "render/gl_caps.h"
#include "resources/model.h"
#include "resources/model_gl.h"
#include "test_support.h"

namespace {

const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const float origin[3] = {0, 0, 0};
const float camera[3] = {0, 0, 5};

// A triangle that covers the middle of a [-1, 1] view.
const char* big_triangle =
    "-1 -1 0  0 0 1  0 0\n"
    " 3 -1 0  0 0 1  1 0\n"
    "-1  3 0  0 0 1  0 1\n"
    "0 1 2\n";

class ModelGlTest : public ::testing::Test {
 protected:
  DataRootsFixture roots;

  void SetUp() override {
    if (!test_gl_context_open()) GTEST_SKIP() << "no GL context: " << SDL_GetError();
    gl_capabilities_read();
    model_reset_for_tests();
    options.novertexarrays = false;
    glViewport(0, 0, 32, 32);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
  }
  void TearDown() override {
    model_reset_for_tests();
    options.novertexarrays = false;
  }
  void put(const std::string& name, const std::string& text) { write_file(roots.install + name, text); }
  static void clear() {
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor4f(1, 1, 1, 1);
  }
  static int centre_red() {
    glFinish();
    unsigned char px[4] = {0, 0, 0, 0};
    glReadPixels(16, 16, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    return px[0];
  }
};

TEST_F(ModelGlTest, StaticMeshesGetDisplayListsAndDraw) {
  put("m.vm", "VM1\n8 0 1 1 1 3 1\n" + std::string(big_triangle) + "-1 1 1 1 1 3 1\n" + big_triangle);
  Model* m = model_load("@m.vm");
  ASSERT_NE(m, nullptr);
  model_gl_install();
  EXPECT_NE(m->display_list, 0u);
  EXPECT_TRUE(glIsList(m->display_list));
  EXPECT_EQ(m->next->display_list, 0u);  // reflection meshes change per draw without programs
  clear();
  model_drawn_vertices = model_drawn_triangles = 0;
  model_draw(m, camera, origin, identity);
  EXPECT_GT(centre_red(), 200);
  EXPECT_EQ(model_drawn_vertices, 3);
  EXPECT_EQ(model_drawn_triangles, 1);
  // Models read after the install get their lists at load.
  put("n.vm", "VM1\n8 0 1 1 1 3 1\n" + std::string(big_triangle));
  Model* n = model_load("@n.vm");
  ASSERT_NE(n, nullptr);
  EXPECT_NE(n->display_list, 0u);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ModelGlTest, AReflectionMeshFirstDrawsNothingInTheMainPass) {
  put("r.vm", "VM1\n-1 1 1 0 0 3 1\n" + std::string(big_triangle) + "8 0 1 1 1 3 1\n" + big_triangle);
  Model* m = model_load("@r.vm");
  ASSERT_NE(m, nullptr);
  model_gl_install();
  clear();
  model_drawn_vertices = 0;
  model_draw(m, camera, origin, identity);
  EXPECT_EQ(model_drawn_vertices, 0);
  EXPECT_EQ(centre_red(), 0);
  // The reflection pass draws the reflection mesh only, in its colour, immediate mode too.
  for (bool immediate : {false, true}) {
    options.novertexarrays = immediate;
    clear();
    model_drawn_vertices = 0;
    model_draw_reflection(m, camera, origin, identity);
    EXPECT_EQ(model_drawn_vertices, 3);
    EXPECT_GT(centre_red(), 200) << immediate;
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ModelGlTest, SkinnedDrawMovesTheMeshOnTheProcessor) {
  put("s.vm",
      "VM2 1 x\n8 0 1 1 1 3 1\n"
      "-1 -1 0  0 0 1  0 0  1\n"
      " 3 -1 0  0 0 1  1 0  1\n"
      "-1  3 0  0 0 1  0 1  1\n"
      "0 1 2\n");
  Model* m = model_load("@s.vm");
  ASSERT_NE(m, nullptr);
  model_gl_install();
  EXPECT_EQ(m->display_list, 0u);
  const float bind[1][3] = {{0, 0, 0}};
  const float moved[1][3] = {{-5, 0, 0}};
  const float rot[1][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};
  clear();
  model_draw_skinned(m, camera, origin, identity, bind, moved, rot, 1);
  EXPECT_EQ(centre_red(), 0);  // moved out of view
  EXPECT_FLOAT_EQ(m->positions[0], -6);
  const float home[1][3] = {{0, 0, 0}};
  clear();
  model_draw_skinned(m, camera, origin, identity, bind, home, rot, 1);
  EXPECT_GT(centre_red(), 200);
  clear();
  model_draw_wireframe(m);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(ModelGlTest, SelfLitMeshesRestoreTheLightingKeys) {
  put("l.vm", "VM1\n-2 1 0.5 0.25 0.125 3 1\n" + std::string(big_triangle) + "200 0 1 1 1 3 1\n" + big_triangle);
  Model* m = model_load("@l.vm");
  ASSERT_NE(m, nullptr);
  model_gl_install();
  const float global_ambient[3] = {0.3f, 0.4f, 0.5f}, ambient[3] = {0.1f, 0.2f, 0.3f};
  model_gl_set_light_keys(global_ambient, ambient);
  model_draw(m, camera, origin, identity);
  GLfloat v[4];
  glGetFloatv(GL_LIGHT_MODEL_AMBIENT, v);
  EXPECT_FLOAT_EQ(v[0], 0.3f);
  EXPECT_FLOAT_EQ(v[2], 0.5f);
  EXPECT_FLOAT_EQ(v[3], 1.0f);
  glGetLightfv(GL_LIGHT0, GL_AMBIENT, v);
  EXPECT_FLOAT_EQ(v[1], 0.2f);
  glGetMaterialfv(GL_FRONT, GL_DIFFUSE, v);
  EXPECT_FLOAT_EQ(v[0], 1.0f);
  // The second mesh asked for an exponent GL refuses; it was held at GL's largest.
  glGetMaterialfv(GL_FRONT, GL_SHININESS, v);
  EXPECT_FLOAT_EQ(v[0], 128.0f);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
