// The seven programs on Mesa under Xvfb: they build, and what they draw follows their formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/shaders.h"

namespace {

struct Rgba {
  int r, g, b, a;
};

class ShaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!getenv("DISPLAY")) return;
    window = velk_window_open("shaders", 64, 64, 24, 0, 16, 0, 0);
    if (!window) return;
    gl_capabilities_read();
    capable = gl_shader_capable(&gl_caps) && gl_caps.vertex_shader && gl_caps.shader_objects;
    if (capable) built = shaders_build();
  }
  static void TearDownTestSuite() {
    if (!window) return;
    shaders_free();
    velk_window_close(window);
    window = nullptr;
  }
  void SetUp() override {
    if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
    ASSERT_NE(window, nullptr);
    if (!capable) GTEST_SKIP() << "driver without shader programs";
    ASSERT_TRUE(built);
    frame = velk_begin_frame(window);
    ASSERT_NE(frame, nullptr);
    glViewport(0, 0, 64, 64);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glFogf(GL_FOG_DENSITY, 0);
    const float black[4] = {0, 0, 0, 1};
    const float white[4] = {1, 1, 1, 1};
    const float half[4] = {0.5f, 0.5f, 0.5f, 1};
    const float fifth[4] = {0.2f, 0.2f, 0.2f, 1};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, half);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, white);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, fifth);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, half);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 10);
    set_light(0, 0, 1);
    white_tex = texture(255, 255, 255, 255);
    bind(0, white_tex);
  }
  void TearDown() override {
    if (!frame) return;
    shader_use(0);
    for (int unit = 2; unit >= 0; --unit) bind(unit, 0);
    glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    textures.clear();
    velk_end_frame(window);
    frame = nullptr;
  }

  static void set_light(float x, float y, float z) {
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const float p[4] = {x, y, z, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, p);
    glPopMatrix();
  }

  GLuint texture(int r, int g, int b, int a) {
    return texture_image(1, 1, std::vector<unsigned char>{static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                                          static_cast<unsigned char>(b), static_cast<unsigned char>(a)});
  }
  GLuint texture_image(int w, int h, const std::vector<unsigned char>& rgba) {
    GLuint t = 0;
    glGenTextures(1, &t);
    textures.push_back(t);
    // Made on unit 3, which no program samples, so the units under test keep their bindings.
    gl_procs.ActiveTextureARB(GL_TEXTURE3_ARB);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    gl_procs.ActiveTextureARB(GL_TEXTURE0_ARB);
    return t;
  }
  static void bind(int unit, GLuint t) {
    gl_procs.ActiveTextureARB(GL_TEXTURE0_ARB + unit);
    glBindTexture(GL_TEXTURE_2D, t);
    gl_procs.ActiveTextureARB(GL_TEXTURE0_ARB);
  }

  // A quad at eye depth z with a normal, one bone weight set (bone 0, full weight) and
  // texture coordinates s along screen x (or along y when s_along_y).
  static void quad(float x0, float y0, float x1, float y1, float z, float nz, bool s_along_y = false) {
    glBegin(GL_QUADS);
    const float xs[4] = {x0, x1, x1, x0};
    const float ys[4] = {y0, y0, y1, y1};
    const float ss[4] = {0, 1, 1, 0};
    const float ts[4] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
      gl_procs.MultiTexCoord2fARB(GL_TEXTURE0_ARB, s_along_y ? ts[i] : ss[i], s_along_y ? ss[i] : ts[i]);
      gl_procs.MultiTexCoord3fARB(GL_TEXTURE1_ARB, 1, 0, 0);
      gl_procs.MultiTexCoord4fARB(GL_TEXTURE2_ARB, 1, 0, 0, 0);
      gl_procs.MultiTexCoord4fARB(GL_TEXTURE3_ARB, 0, 0, 0, 0);
      glNormal3f(0, 0, nz);
      glColor4f(1, 1, 1, 1);
      glVertex3f(xs[i], ys[i], z);
    }
    glEnd();
  }

  // Pixel at normalised device coordinates (x, y).
  static Rgba pixel(float x, float y) {
    unsigned char p[4] = {0, 0, 0, 0};
    int px = static_cast<int>((x + 1) * 32), py = static_cast<int>((y + 1) * 32);
    glReadPixels(px, py, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return Rgba{p[0], p[1], p[2], p[3]};
  }

  static VelkWindow* window;
  static bool capable, built;
  const VelkFrameSize* frame = nullptr;
  GLuint white_tex = 0;
  std::vector<GLuint> textures;
};

VelkWindow* ShaderTest::window = nullptr;
bool ShaderTest::capable = false;
bool ShaderTest::built = false;

#define EXPECT_NEAR_BYTE(actual, expected) EXPECT_NEAR(actual, expected, 3)

TEST_F(ShaderTest, ProgramsAndSwitchCounting) {
  EXPECT_TRUE(shaders_active());
  for (int slot = 1; slot <= 7; ++slot) {
    EXPECT_NE(shader_program(slot), 0u) << slot;
    for (int other = 1; other < slot; ++other) EXPECT_NE(shader_program(slot), shader_program(other));
  }
  EXPECT_EQ(shader_program(0), 0u);
  EXPECT_EQ(shader_program(8), 0u);
  EXPECT_TRUE(shaders_for_terrain(true));
  EXPECT_FALSE(shaders_for_terrain(false));

  shader_use(0);
  long before = shader_switch_count();
  shader_use(1);
  shader_use(1);
  shader_use(9);
  EXPECT_EQ(shader_current(), 1);
  shader_use(5);
  shader_use(0);
  EXPECT_EQ(shader_switch_count() - before, 3);
}

// ambient 0.2 x 0.5 = 0.1; diffuse 0.5 at n.l = 1: 0.6 in all; facing away only the ambient.
TEST_F(ShaderTest, LitDiffuseAmbientAndFacingAway) {
  shader_use(shader_lit);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  quad(-1, -1, 0, 1, -1, 1);
  quad(0, -1, 1, 1, -1, -1);
  Rgba lit = pixel(-0.5f, 0), away = pixel(0.5f, 0);
  EXPECT_NEAR_BYTE(lit.r, 153);
  EXPECT_NEAR_BYTE(lit.g, 153);
  EXPECT_NEAR_BYTE(away.r, 26);
  EXPECT_NEAR_BYTE(away.b, 26);
}

TEST_F(ShaderTest, LitSpecularOnlyOnTheLitSide) {
  const float quarter[4] = {0.25f, 0.25f, 0.25f, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, quarter);
  shader_use(shader_lit);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  // At the centre the view ray reflects straight back along the light: the full specular term.
  quad(-1, -1, 1, 1, -1, 1);
  EXPECT_NEAR_BYTE(pixel(0.03f, 0.03f).r, 217);
  // Half way out the reflected ray is 26.6 degrees off the light: 0.25 x cos^10.
  EXPECT_NEAR_BYTE(pixel(-0.5f, 0).r, 255 * (0.6 + 0.25 * std::pow(2 / std::sqrt(5.0), 10)));
  glClear(GL_COLOR_BUFFER_BIT);
  quad(-1, -1, 1, 1, -1, -1);
  EXPECT_NEAR_BYTE(pixel(0.03f, 0.03f).r, 26);
}

// Exponential fog per pixel: f = exp(-density * z) with z the window depth over w (0.55 here).
TEST_F(ShaderTest, LitFog) {
  const float red[4] = {1, 0, 0, 1};
  glFogfv(GL_FOG_COLOR, red);
  glFogf(GL_FOG_DENSITY, 1);
  shader_use(shader_lit);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  quad(-1, -1, 1, 1, -1, 1);
  double f = std::exp(-0.55);
  Rgba p = pixel(0.03f, 0.03f);
  EXPECT_NEAR_BYTE(p.r, 255 * ((1 - f) + 0.6 * f));
  EXPECT_NEAR_BYTE(p.g, 255 * 0.6 * f);
  glFogf(GL_FOG_DENSITY, 0);
}

// One bone: the translation moves the quad, and the rotation is used as given (row-major),
// so a quarter turn about z takes +x to +y, not to -y.
TEST_F(ShaderTest, SkinnedBoneMovesAndTurns) {
  const float white[4] = {1, 1, 1, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
  shader_use(shader_lit);
  const float centre[3] = {0, 0, 0};
  const float shift[3] = {0.5f, 0, 0};
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  shader_set_bones(1, centre, shift, identity);
  quad(-0.5f, -0.2f, 0, 0.2f, -1, 1);
  EXPECT_GT(pixel(0.25f, 0).r, 200);
  EXPECT_LT(pixel(-0.25f, 0).r, 10);

  glClear(GL_COLOR_BUFFER_BIT);
  const float none[3] = {0, 0, 0};
  const float quarter_turn[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  shader_set_bones(1, centre, none, quarter_turn);
  quad(0.25f, -0.1f, 0.75f, 0.1f, -1, 1);
  EXPECT_GT(pixel(0, 0.5f).r, 200);
  EXPECT_LT(pixel(0, -0.5f).r, 10);
  EXPECT_LT(pixel(0.5f, 0).r, 10);

  // Back to the fixed transform; an oversized count is clamped, not written past the arrays.
  glClear(GL_COLOR_BUFFER_BIT);
  float many[3 * 12] = {}, many_r[9 * 12] = {};
  shader_set_bones(12, many, many, many_r);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  quad(-0.5f, -0.2f, 0, 0.2f, -1, 1);
  EXPECT_GT(pixel(-0.25f, 0).r, 200);
}

// The angular environment map: the reflected ray turned straight up samples the centre texel.
TEST_F(ShaderTest, EnvironmentMatrixAsGiven) {
  std::vector<unsigned char> img;
  for (int i = 0; i < 9; ++i) {
    bool centre = i == 4;
    img.insert(img.end(), {static_cast<unsigned char>(centre ? 255 : 0), 0,
                           static_cast<unsigned char>(centre ? 0 : 255), 255});
  }
  bind(0, texture_image(3, 3, img));
  // Takes eye +z (the ray reflected back at the viewer) to +y.
  const float to_up[9] = {1, 0, 0, 0, 0, 1, 0, -1, 0};
  shader_set_env_matrix(to_up);
  EXPECT_EQ(shader_current(), 0);
  shader_use(shader_env);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  quad(-1, -1, 1, 1, -1, 1);
  Rgba p = pixel(0.03f, 0.03f);
  EXPECT_GT(p.r, 200);
  EXPECT_LT(p.b, 50);

  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  shader_set_env_matrix(identity);
  shader_use(shader_norm_env);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  // A flat normal map keeps the surface normal: the horizon, not the centre.
  bind(1, texture(128, 128, 255, 255));
  glClear(GL_COLOR_BUFFER_BIT);
  quad(-1, -1, 1, 1, -1, 1);
  p = pixel(0.03f, 0.03f);
  EXPECT_LT(p.r, 50);
  EXPECT_GT(p.b, 200);
}

// The normal map turns the normal away from the light; the specular map's alpha sets the exponent.
TEST_F(ShaderTest, NormalAndSpecularMaps) {
  shader_use(shader_norm_lit);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  bind(1, texture(255, 128, 128, 255));  // tangent space (1, 0, 0): along the tangent
  quad(-1, -1, 1, 1, -1, 1);
  EXPECT_NEAR_BYTE(pixel(0.03f, 0.03f).r, 26);  // n.l = 0: ambient only

  glClear(GL_COLOR_BUFFER_BIT);
  shader_use(shader_norm_spec_lit);
  shader_set_bones(0, nullptr, nullptr, nullptr);
  bind(1, texture(128, 128, 255, 255));
  bind(2, texture(64, 64, 64, 0));  // specular colour 0.25, exponent 0.125
  quad(-1, -1, 1, 1, -1, 1);
  EXPECT_NEAR_BYTE(pixel(0.03f, 0.03f).r, 153 + 64);
}

// The terrain program: light value g scales the diffuse term; the ambient has no light-model part.
TEST_F(ShaderTest, TerrainLightValue) {
  const float ambient[4] = {1, 1, 1, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  set_light(0, 1, 0);
  shader_use(shader_terrain);
  bind(1, texture(128, 255, 128, 255));
  bind(2, texture(0, 0, 0, 0));
  quad(-1, -1, 0, 1, -1, 1);
  bind(1, texture(128, 128, 128, 255));
  quad(0, -1, 1, 1, -1, 1);
  EXPECT_NEAR_BYTE(pixel(-0.5f, 0).g, 153);
  EXPECT_NEAR_BYTE(pixel(0.5f, 0).g, 26 + 0.5 * 128 / 255.0 * 255);
}

// Composing ground normals: a flat tile normal takes the terrain normal underneath, the green
// channel carries the light value, steep results are laid down at 126/128, and tile normals turn
// with the tile texture on screen.
TEST_F(ShaderTest, TerrainNormalsCompose) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 1, 0, 1, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  gl_procs.ActiveTextureARB(GL_TEXTURE1_ARB);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  gl_procs.ActiveTextureARB(GL_TEXTURE0_ARB);
  glMatrixMode(GL_MODELVIEW);
  shader_use(shader_terrain_normals);
  struct Case {
    int tile[3];
    int base[3];
    bool s_along_y;
    int want[3];
  } cases[] = {
      {{128, 128, 255}, {128, 204, 128}, false, {128, 204, 128}},  // flat on flat
      {{128, 128, 255}, {230, 100, 128}, false, {230, 100, 128}},  // flat tile on a slope
      {{128, 128, 255}, {255, 100, 128}, false, {253, 100, 128}},  // laid down at 126/128
      {{230, 128, 150}, {128, 204, 128}, false, {25, 204, 128}},   // tile x is negated
      {{230, 128, 150}, {128, 204, 128}, true, {128, 204, 25}},    // and turned with the texture
  };
  for (const Case& c : cases) {
    bind(0, texture(c.tile[0], c.tile[1], c.tile[2], 255));
    bind(1, texture(c.base[0], c.base[1], c.base[2], 255));
    glClear(GL_COLOR_BUFFER_BIT);
    quad(0, 0, 1, 1, 0, 1, c.s_along_y);
    unsigned char p[4];
    glReadPixels(32, 32, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    EXPECT_NEAR(p[0], c.want[0], 2) << c.tile[0] << " on " << c.base[0];
    EXPECT_NEAR(p[1], c.want[1], 2) << c.tile[0] << " on " << c.base[0];
    EXPECT_NEAR(p[2], c.want[2], 2) << c.tile[0] << " on " << c.base[0];
  }
}

// A broken program fails the whole build, deletes everything and leaves slot 0; a later good
// build works again.
TEST_F(ShaderTest, CompileErrorLeavesShadersOff) {
  ShaderSource broken[shader_slot_count - 1];
  for (int i = 0; i < shader_slot_count - 1; ++i) broken[i] = shader_sources[i];
  broken[2].fragment[0] = "#define MAX_BONE 10\nvoid main() { this is not a shader }\n";
  broken[2].fragment[1] = nullptr;
  shader_use(shader_lit);
  EXPECT_FALSE(shaders_build_from(broken));
  EXPECT_FALSE(shaders_active());
  EXPECT_EQ(shader_current(), 0);
  for (int slot = 0; slot < shader_slot_count; ++slot) EXPECT_EQ(shader_program(slot), 0u);
  shader_use(shader_lit);
  EXPECT_EQ(shader_current(), 0);
  EXPECT_TRUE(shaders_build());
  EXPECT_TRUE(shaders_active());
}

}  // namespace
