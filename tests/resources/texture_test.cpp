// The texture cache without a GL context: ids, names, reduction, generations and purge,
// animations, links, the pixel loader and the upload seam.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/options.h"
#include "image_test_util.h"
#include "resources/image.h"
#include "resources/texture.h"
#include "test_support.h"

namespace {

class TextureTest : public ::testing::Test {
 protected:
  DataRootsFixture roots;

  void SetUp() override {
    texture_reset_for_tests();
    model_texture_reduction = 0;
    texture_compress_setting = texture_compress_no;
    options.debug_level = 0;
    console_print("-");
  }
  void TearDown() override {
    texture_reset_for_tests();
    options.debug_level = 0;
  }

  std::string path(const std::string& name) {
    std::string p = roots.install + name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    return p;
  }
  void put(const std::string& name, const std::string& bytes) { write_file(path(name), bytes); }
  void put_png(const std::string& name, int w, int h, int colour, uint8_t value, const char* text = nullptr) {
    const int ch = colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    write_png_file(path(name), w, h, colour, std::vector<uint8_t>(size_t(w) * h * ch, value), text);
  }
  static bool newest_line_has(const char* text) {
    const char* line = console_line(0);
    return line && strstr(line, text);
  }
  static int pending_width(TextureId id, int* height = nullptr, int* channels = nullptr) {
    int w = 0, h = 0, c = 0;
    if (!texture_pending_pixels(id, &w, &h, &c)) return -1;
    if (height) *height = h;
    if (channels) *channels = c;
    return w;
  }
  static int pending_first_byte(TextureId id) {
    const uint8_t* p = texture_pending_pixels(id, nullptr, nullptr, nullptr);
    return p ? p[0] : -1;
  }
};

TEST_F(TextureTest, HeadlessTexturesGetUniqueIdsAndKeepTheirChains) {
  put_png("a.png", 4, 4, PNG_COLOR_TYPE_RGB, 10);
  put_png("b.png", 2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 20);
  TextureId a = texture_load("@a.png"), b = texture_load("@b.png");
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  int h = 0, c = 0;
  EXPECT_EQ(pending_width(a, &h, &c), 4);
  EXPECT_EQ(c, 3);
  EXPECT_EQ(pending_first_byte(b), 20);
  EXPECT_STREQ(texture_name(a), "@a.png");
  EXPECT_EQ(texture_name(0), nullptr);
  EXPECT_EQ(texture_load("@missing.png"), 0u);
  EXPECT_FALSE(newest_line_has("Can't open texture"));
  options.debug_level = 1;
  EXPECT_EQ(texture_load("@missing.png"), 0u);
  EXPECT_TRUE(newest_line_has("Can't open texture \"@missing.png\""));
}

TEST_F(TextureTest, CacheSharesByNameWarnsOnCaseAndTheFirstRequestDecidesReduction) {
  put_png("title.png", 256, 256, PNG_COLOR_TYPE_RGB, 1);
  model_texture_reduction = 1;
  TextureId id = texture_load("!@title.png");
  EXPECT_EQ(pending_width(id), 256);
  EXPECT_EQ(texture_load("@title.png"), id);
  EXPECT_EQ(pending_width(id), 256);
  for (int i = 0; i < 2; i++) {
    console_print("-");
    EXPECT_EQ(texture_load("@TITLE.png"), id);
    EXPECT_TRUE(newest_line_has("Warning: case mismatch on '@TITLE.png'"));
  }
  put_png("other.png", 256, 256, PNG_COLOR_TYPE_RGB, 1);
  EXPECT_EQ(pending_width(texture_load("@other.png")), 128);
}

TEST_F(TextureTest, NonPowerOfTwoIsRescaledThenReduced) {
  put_png("np.png", 300, 200, PNG_COLOR_TYPE_RGB, 1);
  int h = 0;
  TextureId id = texture_load("@np.png");
  EXPECT_EQ(pending_width(id, &h), 512);
  EXPECT_EQ(h, 256);
  EXPECT_TRUE(newest_line_has("Warning: Non power of 2 texture '@np.png'"));
  model_texture_reduction = 4;
  put_png("np2.png", 300, 200, PNG_COLOR_TYPE_RGB, 1);
  id = texture_load("@np2.png");
  EXPECT_EQ(pending_width(id, &h), 256);
  EXPECT_EQ(h, 128);
  // A 256 x 128 texture is never reduced.
  put_png("wide.png", 256, 128, PNG_COLOR_TYPE_RGB, 1);
  EXPECT_EQ(pending_width(texture_load("@wide.png")), 256);
}

TEST_F(TextureTest, PpmAndPredictedFilesLoadAndBrokenOnesFail) {
  put("p.ppm", std::string("P6 2 2 255\n") + std::string(12, '\x07'));
  const uint8_t px[4] = {1, 2, 3, 4};
  put("v.v7", encode_predicted(px, 1, 1, 4, ""));
  put("bad.v7", "V7 2 2\n");
  put("empty.png", "");
  EXPECT_EQ(pending_first_byte(texture_load("@p.ppm")), 7);
  int c = 0;
  TextureId v = texture_load("@v.v7");
  EXPECT_EQ(pending_width(v, nullptr, &c), 1);
  EXPECT_EQ(c, 4);
  EXPECT_EQ(texture_load("@bad.v7"), 0u);
  EXPECT_EQ(texture_load("@empty.png"), 0u);
}

TEST_F(TextureTest, MemoryCountsLevelsAndGenerationsDecideThePurge) {
  put_png("hud.png", 128, 128, PNG_COLOR_TYPE_RGB_ALPHA, 1);
  put_png("track.png", 64, 64, PNG_COLOR_TYPE_RGB, 1);
  TextureId hud = texture_load("@hud.png");
  EXPECT_EQ(texture_memory, 87380);

  texture_generation = 1;
  texture_memory = 0;
  EXPECT_EQ(texture_load("@hud.png"), hud);
  EXPECT_EQ(texture_memory, 0);  // generation 0 stays where it is
  TextureId track = texture_load("@track.png");
  const int64_t track_bytes = int64_t(mip_chain_bytes(64, 64, 3));
  EXPECT_EQ(texture_memory, track_bytes);

  texture_generation = 2;
  texture_memory = 0;
  EXPECT_EQ(texture_load("@track.png"), track);
  EXPECT_EQ(texture_memory, track_bytes);  // it joined the new generation
  texture_purge();
  EXPECT_STREQ(texture_name(track), "@track.png");

  texture_generation = 3;
  options.debug_level = 1;
  texture_purge();
  EXPECT_EQ(texture_name(track), nullptr);
  EXPECT_EQ(texture_pending_pixels(track, nullptr, nullptr, nullptr), nullptr);
  EXPECT_TRUE(newest_line_has("(@track.png)"));
  EXPECT_STREQ(texture_name(hud), "@hud.png");
  // Asked for again, it is read anew.
  EXPECT_NE(texture_load("@track.png"), 0u);
}

std::string anim_file(int frames, int images, int ticks, int loop, const std::string& table,
                      const std::vector<std::string>& parts) {
  std::string out = "ANIM1 " + std::to_string(frames) + " " + std::to_string(images) + " " +
                    std::to_string(ticks) + " " + std::to_string(loop) + "\n" + table + "\n";
  for (const std::string& p : parts) out += p + "\n";
  return out;
}

std::string v7_pixel(uint8_t red) {
  const uint8_t px[4] = {red, 0, 0, 255};
  return encode_predicted(px, 1, 1, 4, "");
}

TEST_F(TextureTest, AnimationFollowsTheTickWithAndWithoutLoop) {
  for (int loop : {0, 1}) {
    const std::string name = "anim" + std::to_string(loop) + ".seq";
    put(name, anim_file(3, 3, 4, loop, "0 1 2", {v7_pixel(10), v7_pixel(20), v7_pixel(30)}));
    TextureId id = texture_load(("@" + name).c_str());
    ASSERT_NE(id, 0u) << loop;
    EXPECT_EQ(pending_first_byte(id), 10);
    texture_anim_restart(id, 100);
    const int ticks[] = {99, 100, 104, 108, 111, 112, 200};
    const int no_loop[] = {10, 10, 20, 30, 30, 30, 30};
    const int looped[] = {10, 10, 20, 30, 30, 10, 20};
    for (int i = 0; i < 7; i++) {
      texture_anim_update(ticks[i]);
      EXPECT_EQ(pending_first_byte(id), loop ? looped[i] : no_loop[i]) << "tick " << ticks[i];
    }
    texture_anim_pause(id);
    texture_anim_update(104);
    EXPECT_EQ(pending_first_byte(id), loop ? 20 : 30);
    texture_anim_restart(id, 104);
    texture_anim_update(104);
    EXPECT_EQ(pending_first_byte(id), 10);
  }
  // An unknown id does nothing.
  texture_anim_restart(12345, 0);
  texture_anim_pause(12345);
}

TEST_F(TextureTest, AnimationMixesPngFramesAndFailsCleanly) {
  put_png("f.png", 1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 77);
  put_png("rgb.png", 1, 1, PNG_COLOR_TYPE_RGB, 1);
  put_png("big.png", 2, 2, PNG_COLOR_TYPE_RGB_ALPHA, 1);
  put("ok.seq", anim_file(2, 2, 1, 1, "1 0", {v7_pixel(5), "PNG  @f.png  "}));
  TextureId id = texture_load("@ok.seq");
  ASSERT_NE(id, 0u);
  EXPECT_EQ(pending_first_byte(id), 77);
  EXPECT_STREQ(texture_name(id), "@ok.seq");

  struct Case {
    const char* file;
    std::string bytes;
    const char* message;  // null: fails without a word
  };
  const std::vector<Case> cases = {
      {"size.seq", anim_file(1, 2, 1, 0, "0", {v7_pixel(1), "PNG @big.png"}), "Width/height mismatch reading .seq"},
      {"depth.seq", anim_file(1, 2, 1, 0, "0", {v7_pixel(1), "PNG @rgb.png"}), "Depth mismatch reading .seq"},
      {"eof.seq", "ANIM1 1 1 1 0 0 PNG", "EOF while reading .seq"},
      {"gone.seq", anim_file(1, 1, 1, 0, "0", {"PNG @nothere.png"}), "Can't read @nothere.png"},
      {"word.seq", anim_file(1, 1, 1, 0, "0", {"JPG x"}), "Error reading .seq frame 0"},
      {"trunc.seq", anim_file(1, 2, 1, 0, "0", {v7_pixel(1), "V7 1 1\n"}), "Error reading .seq frame 1"},
      {"frames.seq", "ANIM1 0 1 1 0\n", nullptr},
      {"table.seq", "ANIM1 1000000000 1 1 0\n0 0", nullptr},
      {"index.seq", anim_file(1, 1, 1, 0, "5", {v7_pixel(1)}), nullptr},
  };
  for (const Case& c : cases) {
    put(c.file, c.bytes);
    console_print("-");
    EXPECT_EQ(texture_load((std::string("@") + c.file).c_str()), 0u) << c.file;
    if (c.message) {
      EXPECT_TRUE(newest_line_has(c.message)) << c.file << ": " << console_line(0);
    }
  }
}

TEST_F(TextureTest, LinksRedirectAndLoopsEndAtWhite) {
  put_png("colors/white.png", 1, 1, PNG_COLOR_TYPE_RGB, 255);
  put_png("real.png", 2, 2, PNG_COLOR_TYPE_RGB, 3);
  put("link.png", "LINK  @real.png \n");
  put("self.png", "LINK @self.png");
  put("a.png", "LINK @b.png");
  put("b.png", "LINK @a.png");
  put("dangling.png", "LINK @nowhere.png");
  const TextureId real = texture_load("@real.png");
  EXPECT_EQ(texture_load("@link.png"), real);
  EXPECT_EQ(texture_load("@link.png"), real);
  const TextureId white = texture_load("@colors/white.png");
  ASSERT_NE(white, 0u);
  EXPECT_EQ(texture_load("@self.png"), white);
  EXPECT_EQ(texture_load("@a.png"), white);
  EXPECT_EQ(texture_load("@b.png"), white);
  EXPECT_EQ(texture_load("@dangling.png"), 0u);
  // Nothing was left behind for the failed link: once its target exists it resolves.
  put_png("nowhere.png", 1, 1, PNG_COLOR_TYPE_RGB, 9);
  EXPECT_EQ(pending_first_byte(texture_load("@dangling.png")), 9);
}

TEST_F(TextureTest, ALinkingWhiteTextureEndsInsteadOfRecursing) {
  put("colors/white.png", "LINK @colors/white.png");
  put("self.png", "LINK @self.png");
  EXPECT_EQ(texture_load("@self.png"), 0u);
  EXPECT_EQ(texture_load("@colors/white.png"), 0u);
  // A long chain of links stops at the depth limit rather than exhausting the stack.
  for (int i = 0; i < 40; i++) put("c" + std::to_string(i) + ".png", "LINK @c" + std::to_string(i + 1) + ".png");
  put_png("c40.png", 1, 1, PNG_COLOR_TYPE_RGB, 1);
  EXPECT_EQ(texture_load("@c0.png"), 0u);
  EXPECT_NE(texture_load("@c30.png"), 0u);
}

TEST_F(TextureTest, PixelLoaderGivesRgbaChainsWithTheirOwnCache) {
  put_png("p.png", 4, 2, PNG_COLOR_TYPE_RGB, 40);
  const uint8_t* px = nullptr;
  int w = 0, h = 0;
  ASSERT_TRUE(texture_pixels_load("@p.png", &px, &w, &h));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  const size_t texels = mip_chain_bytes(4, 2, 1);
  for (size_t i = 0; i < texels; i++) {
    ASSERT_EQ(px[i * 4], 40);
    ASSERT_EQ(px[i * 4 + 3], 255);
  }
  EXPECT_STREQ(texture_pixels_name(px), "@p.png");
  const uint8_t* again = nullptr;
  ASSERT_TRUE(texture_pixels_load("@P.png", &again, &w, &h));
  EXPECT_EQ(again, px);
  EXPECT_TRUE(newest_line_has("Warning: case mismatch on '@P.png'"));
  EXPECT_FALSE(texture_pixels_load("@none.png", &again, &w, &h));

  texture_generation = 1;
  ASSERT_TRUE(texture_pixels_load("@p.png", &again, &w, &h));
  put_png("q.png", 3, 3, PNG_COLOR_TYPE_RGB, 1);
  ASSERT_TRUE(texture_pixels_load("@q.png", &again, &w, &h));
  EXPECT_EQ(w, 4);
  texture_generation = 2;
  texture_purge();
  EXPECT_STREQ(texture_pixels_name(px), "@p.png");  // generation 0
  EXPECT_EQ(texture_pixels_name(again), nullptr);
}

TEST_F(TextureTest, RepeatFlagsComeFromTheName) {
  struct Seen {
    int flags = -1;
  };
  static Seen seen;
  static TextureId next = 900;
  static const TextureUploadOps ops = {
      [] { return next++; },
      [](TextureId, const uint8_t*, int, int, int, int flags) -> int64_t {
        seen.flags = flags;
        return 1;
      },
      [](TextureId, const uint8_t*, int, int, int, int) {},
      [](TextureId) {},
  };
  texture_set_upload_ops(&ops);
  struct Case {
    const char* name;
    int flags;
  };
  const Case cases[] = {
      {"grass-repeat.png", texture_repeat_h | texture_repeat_v},
      {"fence-hrepeat.png", texture_repeat_h},
      {"pole-vrepeat.png", texture_repeat_v},
      {"plain.png", 0},
      {"repeat.png", 0},
  };
  for (const Case& c : cases) {
    put_png(c.name, 2, 2, PNG_COLOR_TYPE_RGB, 1);
    seen.flags = -1;
    ASSERT_NE(texture_load((std::string("@") + c.name).c_str()), 0u);
    EXPECT_EQ(seen.flags, c.flags) << c.name;
  }
  // Compression: the info text's wish, overruled by the setting either way.
  put_png("c.png", 2, 2, PNG_COLOR_TYPE_RGB, 1, "[compress]");
  put_png("d.png", 2, 2, PNG_COLOR_TYPE_RGB, 1);
  const struct {
    int setting;
    const char* name;
    bool compressed;
  } compress[] = {
      {texture_compress_no, "@c.png", false},     {texture_compress_yes, "!@c.png", true},
      {texture_compress_yes, "@d.png", false},    {texture_compress_always, "!@d.png", true},
  };
  for (const auto& c : compress) {
    texture_reset_for_tests();
    texture_set_upload_ops(&ops);
    texture_compress_setting = c.setting;
    ASSERT_NE(texture_load(c.name), 0u);
    EXPECT_EQ((seen.flags & texture_compress) != 0, c.compressed) << c.name << " " << c.setting;
  }
}

struct FakeGl {
  std::vector<std::string> calls;
};
FakeGl fake_gl;

const TextureUploadOps fake_ops = {
    [] { return TextureId(500 + fake_gl.calls.size()); },
    [](TextureId id, const uint8_t*, int w, int h, int, int) -> int64_t {
      fake_gl.calls.push_back("upload " + std::to_string(id) + " " + std::to_string(w) + "x" + std::to_string(h));
      return 1000;
    },
    [](TextureId id, const uint8_t* chain, int, int, int, int) {
      fake_gl.calls.push_back("replace " + std::to_string(id) + " " + std::to_string(chain[0]));
    },
    [](TextureId id) { fake_gl.calls.push_back("destroy " + std::to_string(id)); },
};

TEST_F(TextureTest, InstallingUploadOpsUploadsWhatWasMadeHeadless) {
  fake_gl.calls.clear();
  put_png("a.png", 4, 4, PNG_COLOR_TYPE_RGB, 1);
  put("s.seq", anim_file(2, 2, 1, 1, "0 1", {v7_pixel(1), v7_pixel(2)}));
  const TextureId a = texture_load("@a.png");
  const TextureId s = texture_load("@s.seq");
  const uint8_t plate[4] = {1, 2, 3, 4};
  const TextureId direct = texture_upload(plate, 1, 1, 4, texture_single_level);
  EXPECT_EQ(texture_memory, int64_t(mip_chain_bytes(4, 4, 3)) + 4 + 4);
  texture_set_upload_ops(&fake_ops);
  EXPECT_EQ(fake_gl.calls, (std::vector<std::string>{"upload " + std::to_string(a) + " 4x4",
                                                     "upload " + std::to_string(s) + " 1x1",
                                                     "upload " + std::to_string(direct) + " 1x1"}));
  EXPECT_EQ(texture_memory, 3000);
  EXPECT_EQ(texture_pending_pixels(a, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(texture_load("@a.png"), a);

  put_png("b.png", 2, 2, PNG_COLOR_TYPE_RGB, 1);
  const TextureId b = texture_load("@b.png");
  EXPECT_EQ(b, 503u);
  texture_anim_update(1);
  EXPECT_EQ(fake_gl.calls.back(), "replace " + std::to_string(s) + " 2");
  texture_delete(direct);
  EXPECT_EQ(fake_gl.calls.back(), "destroy " + std::to_string(direct));
  texture_generation = 1;
  texture_purge();  // everything is generation 0
  EXPECT_EQ(fake_gl.calls.back(), "destroy " + std::to_string(direct));
  texture_set_upload_ops(nullptr);
}

TEST(TextureBorder, FullestEdgeCellWins) {
  // 3 x 3 RGB: the edge is mostly red, one texel blue, the centre (not on the edge) green.
  std::vector<uint8_t> px(27);
  for (int i = 0; i < 9; i++) {
    px[i * 3] = 250;
    px[i * 3 + 1] = 0;
    px[i * 3 + 2] = 0;
  }
  px[4 * 3] = 0;
  px[4 * 3 + 1] = 255;
  px[0] = 0;
  px[2] = 255;
  float c[4];
  texture_border_colour(px.data(), 3, 3, 3, c);
  EXPECT_FLOAT_EQ(c[0], 6.0f / 7.0f);
  EXPECT_FLOAT_EQ(c[1], 0);
  EXPECT_FLOAT_EQ(c[2], 0);
  EXPECT_FLOAT_EQ(c[3], 0);
  texture_border_colour(px.data(), 3, 3, 4, c);
  EXPECT_FLOAT_EQ(c[0] + c[1] + c[2] + c[3], 0);
}

}  // namespace
