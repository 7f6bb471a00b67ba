// Texture uploads into a real GL context: headless textures on install, levels, wrapping,
// filters, border colour, animation frames and deletion.
#include <gtest/gtest.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <png.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gl_context_util.h"
#include "image_test_util.h"
#include "render/gl_caps.h"
#include "resources/image.h"
#include "resources/texture.h"
#include "resources/texture_gl.h"
#include "test_support.h"

namespace {

class TextureGlTest : public ::testing::Test {
 protected:
  DataRootsFixture roots;

  void SetUp() override {
    if (!test_gl_context_open()) GTEST_SKIP() << "no GL context: " << SDL_GetError();
    gl_capabilities_read();
    texture_reset_for_tests();
  }
  void TearDown() override {
    texture_reset_for_tests();
  }
  std::string put_png(const std::string& name, int w, int h, int colour, const std::vector<uint8_t>& px) {
    std::string p = roots.install + name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    write_png_file(p, w, h, colour, px);
    return p;
  }
  static GLint param(TextureId id, GLenum name) {
    GLint v = 0;
    glBindTexture(GL_TEXTURE_2D, id);
    glGetTexParameteriv(GL_TEXTURE_2D, name, &v);
    glBindTexture(GL_TEXTURE_2D, 0);
    return v;
  }
  static std::vector<uint8_t> level(TextureId id, int k, int w, int h, int channels) {
    std::vector<uint8_t> out(size_t(w) * h * channels);
    glBindTexture(GL_TEXTURE_2D, id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, k, channels == 4 ? GL_RGBA : GL_RGB, GL_UNSIGNED_BYTE, out.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return out;
  }
};

std::vector<uint8_t> gradient(int w, int h, int channels) {
  std::vector<uint8_t> px(size_t(w) * h * channels);
  for (size_t i = 0; i < px.size(); i++) px[i] = uint8_t(i * 7);
  return px;
}

TEST_F(TextureGlTest, HeadlessTexturesReachTheContextWithEveryLevel) {
  const std::string file = put_png("g.png", 5, 3, PNG_COLOR_TYPE_RGB, gradient(5, 3, 3));
  const TextureId id = texture_load("@g.png");
  ASSERT_NE(id, 0u);
  EXPECT_FALSE(glIsTexture(id));
  texture_gl_install();
  ASSERT_TRUE(glIsTexture(id));
  // 5 x 3 became 8 x 4; the levels are the ones computed on the processor.
  Image ref{};
  ASSERT_TRUE(png_read_texture(file.c_str(), &ref, nullptr));
  ASSERT_TRUE(image_make_pow2(&ref));
  size_t offset = 0;
  int w = 8, h = 4;
  for (int k = 0; k < 4; k++) {
    std::vector<uint8_t> got = level(id, k, w, h, 3);
    EXPECT_EQ(0, memcmp(got.data(), ref.pixels + offset, got.size())) << "level " << k;
    offset += got.size();
    w = w > 1 ? w / 2 : 1;
    h = h > 1 ? h / 2 : 1;
  }
  image_free(&ref);
  EXPECT_EQ(texture_memory, int64_t(mip_chain_bytes(8, 4, 3)));
  EXPECT_EQ(param(id, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_NEAREST);
  EXPECT_EQ(param(id, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  EXPECT_EQ(param(id, GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureGlTest, FlagsChooseWrappingFiltersAndBorder) {
  texture_gl_install();
  put_png("grass-repeat.png", 4, 4, PNG_COLOR_TYPE_RGB_ALPHA, gradient(4, 4, 4));
  put_png("rail-hrepeat.png", 4, 4, PNG_COLOR_TYPE_RGB, std::vector<uint8_t>(48, 250));
  const TextureId both = texture_load("@grass-repeat.png");
  const TextureId h = texture_load("@rail-hrepeat.png");
  ASSERT_NE(both, 0u);
  EXPECT_TRUE(glIsTexture(both));
  EXPECT_EQ(param(both, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(param(both, GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(param(h, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(param(h, GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
  GLfloat border[4];
  glBindTexture(GL_TEXTURE_2D, h);
  glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_FLOAT_EQ(border[0], 6.0f / 7.0f);
  EXPECT_FLOAT_EQ(border[3], 0);

  const uint8_t plate[4 * 4 * 4] = {};
  const TextureId single = texture_upload(plate, 4, 4, 4, texture_single_level);
  EXPECT_EQ(param(single, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
  texture_delete(single);
  EXPECT_FALSE(glIsTexture(single));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureGlTest, AnimationFramesReplaceTheLevels) {
  texture_gl_install();
  std::string seq = "ANIM1 2 2 1 1\n0 1\n";
  for (uint8_t red : {uint8_t(40), uint8_t(90)}) {
    std::vector<uint8_t> px(2 * 2 * 4, 255);
    for (int t = 0; t < 4; t++) px[t * 4] = red;
    seq += encode_predicted(px.data(), 2, 2, 4, "") + "\n";
  }
  write_file(roots.install + "a.seq", seq);
  const TextureId id = texture_load("@a.seq");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(level(id, 0, 2, 2, 4)[0], 40);
  texture_anim_update(1);
  EXPECT_EQ(level(id, 0, 2, 2, 4)[0], 90);
  EXPECT_EQ(level(id, 1, 1, 1, 4)[0], 90);
  texture_generation = 1;
  texture_purge();
  EXPECT_TRUE(glIsTexture(id));  // generation 0 stays
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(TextureGlTest, CompressedLevelsCountTheSizeTheDriverReports) {
  texture_gl_install();
  texture_compress_setting = texture_compress_always;
  put_png("c.png", 64, 64, PNG_COLOR_TYPE_RGB, gradient(64, 64, 3));
  const TextureId id = texture_load("@c.png");
  texture_compress_setting = texture_compress_no;
  ASSERT_NE(id, 0u);
  glBindTexture(GL_TEXTURE_2D, id);
  GLint compressed = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_COMPRESSED, &compressed);
  if (!compressed || gl_caps.version_major < 2) {
    glBindTexture(GL_TEXTURE_2D, 0);
    GTEST_SKIP() << "the driver stores no compressed textures";
  }
  int64_t reported = 0;
  for (int k = 0, s = 64; s >= 1; k++, s /= 2) {
    GLint size = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, k, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &size);
    reported += size;
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_EQ(texture_memory, reported);
  EXPECT_LT(texture_memory, int64_t(mip_chain_bytes(64, 64, 3)));
}

}  // namespace
