// Image readers and writers: PngSuite conformance, mip chains, PPM/PGM/predicted headers and
// hostile input, custom mip layouts and the PNG writers.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "image_test_util.h"
#include "resources/image.h"
#include "resources/stream.h"
#include "test_support.h"

namespace {

std::string suite_dir() { return std::string(KV_SHARED_DIR) + "/testdata/pngsuite/"; }

std::vector<int> read_json_numbers(const std::string& path) {
  std::string text = read_file(path);
  std::vector<int> out;
  for (size_t i = 0; i < text.size();) {
    if (isdigit(static_cast<unsigned char>(text[i]))) {
      out.push_back(atoi(text.c_str() + i));
      while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) i++;
    } else {
      i++;
    }
  }
  return out;
}

bool newest_console_line_is(const char* text) {
  const char* line = console_line(0);
  return line && strstr(line, text) != nullptr;
}

// Every PngSuite image with reference pixels decodes to them (16-bit samples by their high byte,
// as stripping keeps it); every deliberately corrupt one is refused without harm.
TEST(PngSuite, TextureReaderMatchesReferencePixels) {
  if (!std::filesystem::exists(suite_dir() + "png")) GTEST_SKIP() << "PngSuite not present";
  int checked = 0, refused = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite_dir() + "png")) {
    const std::string file = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    const std::string stem = file.substr(0, file.size() - 4);
    Image img{};
    char* info = nullptr;
    const bool ok = png_read_texture(entry.path().c_str(), &img, &info);
    if (file[0] == 'x') {
      EXPECT_FALSE(ok) << file;
      refused++;
      if (ok) image_free(&img);
      free(info);
      continue;
    }
    ASSERT_TRUE(ok) << file;
    const std::string json = suite_dir() + "json/" + stem + ".json";
    const bool sixteen = stem.find("16") != std::string::npos;
    if (file_exists(json)) {
      std::vector<int> ref = read_json_numbers(json);
      ASSERT_EQ(ref.size(), size_t(img.width) * img.height * 4) << file;
      bool ref_has_alpha = false;
      for (size_t i = 3; i < ref.size(); i += 4) ref_has_alpha |= ref[i] != (sixteen ? 65535 : 255);
      if (ref_has_alpha) {
        EXPECT_EQ(img.channels, 4) << file;
      }
      int mismatches = 0;
      for (size_t t = 0; t < size_t(img.width) * img.height; t++) {
        for (int c = 0; c < 4; c++) {
          int want = ref[t * 4 + c];
          if (sixteen) want >>= 8;
          int got = c < img.channels ? img.pixels[t * img.channels + c] : 255;
          if (want != got) mismatches++;
        }
      }
      EXPECT_EQ(mismatches, 0) << file;
      checked++;
    }
    // The chain after level 0 must be consistent with a chain built from level 0 alone, unless
    // the image asks for max alpha or its own levels.
    if (!info) {
      std::vector<uint8_t> copy(img.pixels, img.pixels + mip_chain_bytes(img.width, img.height, img.channels));
      mip_chain_build(copy.data(), img.width, img.height, img.channels, false);
      EXPECT_EQ(0, memcmp(copy.data(), img.pixels, copy.size())) << file;
    }
    free(info);
    image_free(&img);
  }
  EXPECT_GT(checked, 150);
  EXPECT_GE(refused, 13);
}

TEST(PngSuite, Grey16ReaderMatchesGreyImages) {
  if (!std::filesystem::exists(suite_dir() + "png")) GTEST_SKIP() << "PngSuite not present";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite_dir() + "png")) {
    const std::string file = entry.path().filename().string();
    uint16_t* samples = nullptr;
    int w = 0, h = 0;
    const bool ok = png_read_grey16(entry.path().c_str(), &samples, &w, &h);
    if (file[0] == 'x') {
      EXPECT_FALSE(ok) << file;
      free(samples);
      continue;
    }
    ASSERT_TRUE(ok) << file;
    // Grey colour types (0 and 4), not the ones whose grey comes from colour weighting.
    const bool grey = file.size() > 6 && (file[4] == '0' || file[4] == '4') && file[5] == 'g';
    const std::string json = suite_dir() + "json/" + file.substr(0, file.size() - 4) + ".json";
    if (grey && file_exists(json)) {
      std::vector<int> ref = read_json_numbers(json);
      ASSERT_EQ(ref.size(), size_t(w) * h * 4) << file;
      const bool sixteen = file.find("16") != std::string::npos;
      int mismatches = 0;
      for (size_t t = 0; t < size_t(w) * h; t++)
        if (samples[t] != (sixteen ? ref[t * 4] : ref[t * 4] * 257)) mismatches++;
      EXPECT_EQ(mismatches, 0) << file;
      checked++;
    }
    free(samples);
  }
  EXPECT_GT(checked, 20);
}

// ---- mip chains ----

TEST(MipChain, SizesCoverEveryLevelDownToOne) {
  EXPECT_EQ(mip_chain_bytes(1, 1, 4), 4u);
  EXPECT_EQ(mip_chain_bytes(128, 128, 4), 87380u);
  EXPECT_EQ(mip_chain_bytes(4, 1, 3), (4u + 2 + 1) * 3);
  // 5 x 3 -> 2 x 1 -> 1 x 1
  EXPECT_EQ(mip_chain_bytes(5, 3, 1), 15u + 2 + 1);
}

struct MipCase {
  const char* what;
  int w, h, channels;
  bool max_alpha;
  std::vector<uint8_t> level0;
  std::vector<uint8_t> level1;
};

TEST(MipChain, LevelsFollowTheAlphaWeightingRules) {
  const std::vector<MipCase> cases = {
      {"pair, weighted colour, mean alpha", 2, 1, 4, false, {200, 0, 0, 0, 100, 0, 0, 255}, {100, 0, 0, 127}},
      {"pair, max alpha", 2, 1, 4, true, {200, 0, 0, 0, 100, 0, 0, 255}, {100, 0, 0, 255}},
      {"vertical pair", 1, 2, 4, false, {10, 20, 30, 51, 50, 60, 70, 204}, {42, 52, 62, 127}},
      {"pair, all opaque: plain mean", 2, 1, 4, false, {9, 0, 0, 255, 2, 0, 0, 255}, {5, 0, 0, 255}},
      {"pair, all clear: plain mean", 2, 1, 4, false, {9, 7, 0, 0, 2, 0, 0, 0}, {5, 3, 0, 0}},
      {"block, weighted",
       2, 2, 4, false,
       {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0},
       {255, 0, 0, 63}},
      {"block, sum 1020 plain mean",
       2, 2, 4, false,
       {1, 2, 3, 255, 2, 3, 4, 255, 3, 4, 5, 255, 6, 7, 8, 255},
       {3, 4, 5, 255}},
      {"block, max alpha", 2, 2, 4, true, {0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 3, 0, 0, 0, 4}, {0, 0, 0, 9}},
      {"rgb block, plain mean", 2, 2, 3, false, {0, 0, 0, 4, 4, 4, 8, 8, 8, 3, 3, 3}, {3, 3, 3}},
      // An odd side loses its last column: 3 x 2 uses only the first 2 x 2 block.
      {"odd width drops last column", 3, 2, 3, false, {4, 0, 0, 8, 0, 0, 99, 99, 99, 4, 0, 0, 8, 0, 0, 99, 99, 99},
       {6, 0, 0}},
  };
  for (const MipCase& c : cases) {
    std::vector<uint8_t> chain(mip_chain_bytes(c.w, c.h, c.channels), 0xEE);
    memcpy(chain.data(), c.level0.data(), c.level0.size());
    mip_chain_build(chain.data(), c.w, c.h, c.channels, c.max_alpha);
    std::vector<uint8_t> got(chain.begin() + c.level0.size(), chain.begin() + c.level0.size() + c.level1.size());
    EXPECT_EQ(got, c.level1) << c.what;
  }
}

TEST(MipChain, RescalesToPowersOfTwoAndDropsLevels) {
  Image img{3, 2, 3, static_cast<uint8_t*>(malloc(mip_chain_bytes(3, 2, 3)))};
  for (int i = 0; i < 6; i++) memset(img.pixels + i * 3, i * 10, 3);
  mip_chain_build(img.pixels, 3, 2, 3, false);
  ASSERT_TRUE(image_make_pow2(&img));
  EXPECT_EQ(img.width, 4);
  EXPECT_EQ(img.height, 2);
  // Nearest sampling: x' = floor(x * 3 / 4) -> 0, 0, 1, 2.
  const uint8_t row0[4] = {0, 0, 10, 20};
  for (int x = 0; x < 4; x++) EXPECT_EQ(img.pixels[x * 3], row0[x]);
  EXPECT_EQ(img.pixels[(4 + 3) * 3], 50);
  image_free(&img);

  // 512 x 256: one level goes, then the short side is no longer above 128.
  Image big{512, 256, 4, static_cast<uint8_t*>(calloc(mip_chain_bytes(512, 256, 4), 1))};
  big.pixels[mip_chain_bytes(512, 256, 4) - 1] = 77;  // the 1 x 1 level's alpha
  image_drop_levels(&big, 4);
  EXPECT_EQ(big.width, 256);
  EXPECT_EQ(big.height, 128);
  EXPECT_EQ(big.pixels[mip_chain_bytes(256, 128, 4) - 1], 77);
  image_free(&big);
}

// ---- PPM, PGM and predicted images ----

struct ReadResult {
  bool ok;
  Image img;
};

ReadResult read_ppm_bytes(const std::string& bytes, bool pgm = false) {
  TempDir dir;
  write_file(dir.file("x"), bytes);
  Stream* s = stream_open(dir.file("x").c_str(), "rb");
  ReadResult r{false, {}};
  if (!s) return r;
  r.ok = pgm ? image_read_pgm(s, &r.img) : image_read_ppm(s, &r.img);
  stream_close(s);
  return r;
}

TEST(Ppm, ReadsBinaryAndDecimalWithScaling) {
  ReadResult r = read_ppm_bytes(std::string("P6\n# made by hand\n2 1\n255\n") + std::string("\x01\x02\x03\xfa\xfb\xfc", 6));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.img.width, 2);
  EXPECT_EQ(r.img.channels, 3);
  EXPECT_EQ(r.img.pixels[3], 0xfa);
  EXPECT_EQ(r.img.pixels[6], (1 + 0xfa) >> 1);  // level 1
  image_free(&r.img);

  r = read_ppm_bytes("P3 1 2 15\n# comment between samples\n15 0 7\n# and another\n1 2 3\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.img.pixels[0], 255);
  EXPECT_EQ(r.img.pixels[2], 7 * 255 / 15);
  EXPECT_EQ(r.img.pixels[5], 3 * 255 / 15);
  image_free(&r.img);

  r = read_ppm_bytes("P5 2 2 255\n" + std::string("\x00\x40\x80\xff", 4), true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.img.channels, 1);
  EXPECT_EQ(r.img.pixels[3], 0xff);
  image_free(&r.img);

  r = read_ppm_bytes("P2 1 1 3 2\n", true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.img.pixels[0], 170);
  image_free(&r.img);
}

TEST(Ppm, RefusesBadHeadersAndTruncatedData) {
  const char* cases[] = {
      "P6\n",                                  // nothing after the magic
      "P6 2\n",                                // no height
      "P6 2 2\n",                              // no maximum
      "P6 -2 2 255\n",                         // negative width
      "P6 2 2 0\n",                            // zero maximum
      "P6 0 2 255\n",                          // empty image
      "P6 2 2 255\nabc",                       // truncated samples
      "P6 100000 100000 255\n",                // oversized
      "P6 40000 2 255\n",                      // one side too long
      "P6 99999999999 1 255\n",                // overflowing number
      "P3 1 1 255 1 2\n",                      // decimal samples missing
      "P4 1 1\n",                              // not a colour magic
  };
  for (const char* c : cases) {
    ReadResult r = read_ppm_bytes(c);
    EXPECT_FALSE(r.ok) << c;
    if (r.ok) image_free(&r.img);
  }
  ReadResult r = read_ppm_bytes("P6 1 1 255\nabc", true);
  EXPECT_FALSE(r.ok);
}

TEST(Predicted, RoundTripsThroughThePredictor) {
  const int w = 7, h = 5;
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  uint32_t x = 12345;
  for (auto& b : rgba) {
    x = x * 1103515245u + 12345u;
    b = uint8_t(x >> 24);
  }
  for (int channels : {3, 4}) {
    for (int stored : {3, 4}) {
      std::string file = encode_predicted(rgba.data(), w, h, stored, "# a comment\n");
      TempDir dir;
      write_file(dir.file("p"), file);
      Stream* s = stream_open(dir.file("p").c_str(), "rb");
      char magic[16];
      ASSERT_EQ(stream_scanf(s, "%15s", magic), 1);
      Image img{};
      ASSERT_TRUE(image_read_predicted(s, magic, channels, &img)) << stored << " " << channels;
      stream_close(s);
      ASSERT_EQ(img.width, w);
      ASSERT_EQ(img.height, h);
      for (int t = 0; t < w * h; t++) {
        for (int c = 0; c < 3; c++) ASSERT_EQ(img.pixels[t * channels + c], rgba[t * 4 + c]) << t;
        if (channels == 4) {
          ASSERT_EQ(img.pixels[t * 4 + 3], stored == 4 ? rgba[t * 4 + 3] : 0);
        }
      }
      image_free(&img);
    }
  }
}

TEST(Predicted, RefusesBadHeadersAndTruncation) {
  const uint8_t px[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::string good = encode_predicted(px, 2, 1, 4, "");
  const std::vector<std::string> cases = {
      "V7",
      "V7 2",
      "V7 -1 1 ",
      "V7 0 1 ",
      "V7 50000 50000 ",
      "V7 2 1",                 // no separator
      good.substr(0, good.size() - 1),
  };
  for (const std::string& c : cases) {
    TempDir dir;
    write_file(dir.file("p"), c);
    Stream* s = stream_open(dir.file("p").c_str(), "rb");
    char magic[16];
    ASSERT_EQ(stream_scanf(s, "%15s", magic), 1);
    Image img{};
    EXPECT_FALSE(image_read_predicted(s, magic, 4, &img)) << c;
    stream_close(s);
  }
}

TEST(ReadByName, RgbAndRgbaChooseTheirReaders) {
  TempDir dir;
  const uint8_t px[4] = {10, 20, 30, 40};
  write_file(dir.file("a.v7"), encode_predicted(px, 1, 1, 4, ""));
  write_file(dir.file("b.v6"), encode_predicted(px, 1, 1, 3, ""));
  write_file(dir.file("c.ppm"), std::string("P6 1 1 255\n") + "\x05\x06\x07");
  write_file(dir.file("d.txt"), "hello");
  write_png_file(dir.file("e.png"), 1, 1, PNG_COLOR_TYPE_RGB, {9, 8, 7});

  Image img{};
  ASSERT_TRUE(image_read_rgb(dir.file("a.v7").c_str(), &img));
  EXPECT_EQ(img.channels, 3);
  EXPECT_EQ(img.pixels[2], 30);
  image_free(&img);
  ASSERT_TRUE(image_read_rgb(dir.file("c.ppm").c_str(), &img));
  EXPECT_EQ(img.pixels[0], 5);
  image_free(&img);
  EXPECT_FALSE(image_read_rgb(dir.file("d.txt").c_str(), &img));
  EXPECT_FALSE(image_read_rgb(dir.file("e.png").c_str(), &img));

  ASSERT_TRUE(image_read_rgba(dir.file("e.png").c_str(), &img));
  EXPECT_EQ(img.channels, 4);
  EXPECT_EQ(img.pixels[0], 9);
  EXPECT_EQ(img.pixels[3], 255);
  image_free(&img);
  ASSERT_TRUE(image_read_rgba(dir.file("b.v6").c_str(), &img));
  EXPECT_EQ(img.pixels[3], 0);
  image_free(&img);
  ASSERT_TRUE(image_read_rgba(dir.file("a.v7").c_str(), &img));
  EXPECT_EQ(img.pixels[3], 40);
  image_free(&img);
  EXPECT_FALSE(image_read_rgba(dir.file("c.ppm").c_str(), &img));
}

// ---- PNG text, custom mips and writing ----

TEST(PngTexture, InfoTextJoinsChunksAndCompanionFile) {
  TempDir dir;
  write_png_file(dir.file("t.png"), 2, 2, PNG_COLOR_TYPE_RGB_ALPHA, std::vector<uint8_t>(16, 100), "[compress]",
                 "[mip_max_alpha]");
  write_file(dir.file("t.png.info"), "[extra]\n");
  Image img{};
  char* info = nullptr;
  ASSERT_TRUE(png_read_texture(dir.file("t.png").c_str(), &img, &info));
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info, "[compress][mip_max_alpha][extra]\n");
  free(info);
  image_free(&img);
}

TEST(PngTexture, MaxAlphaKeyChangesTheLevels) {
  TempDir dir;
  const std::vector<uint8_t> px = {0, 0, 0, 0, 0, 0, 0, 200};
  write_png_file(dir.file("m.png"), 2, 1, PNG_COLOR_TYPE_RGB_ALPHA, px, "[mip_max_alpha]");
  write_png_file(dir.file("n.png"), 2, 1, PNG_COLOR_TYPE_RGB_ALPHA, px);
  Image a{}, b{};
  ASSERT_TRUE(png_read_texture(dir.file("m.png").c_str(), &a, nullptr));
  ASSERT_TRUE(png_read_texture(dir.file("n.png").c_str(), &b, nullptr));
  EXPECT_EQ(a.pixels[11], 200);
  EXPECT_EQ(b.pixels[11], 100);
  image_free(&a);
  image_free(&b);
}

TEST(PngTexture, CustomMipLayoutIsCopiedOut) {
  TempDir dir;
  // 64 x 96: each level's texels carry the level number, elsewhere 255.
  const int w = 64, full = 96, h = 64;
  std::vector<uint8_t> px(size_t(w) * full * 3, 255);
  auto fill = [&](int x0, int y0, int lw, int lh, uint8_t v) {
    for (int y = y0; y < y0 + lh; y++)
      for (int x = x0; x < x0 + lw; x++) memset(&px[(size_t(y) * w + x) * 3], v, 3);
  };
  fill(0, 0, 64, 64, 0);
  fill(0, 64, 32, 32, 1);
  int y = h;
  for (int k = 2, s = 16; k <= 6; k++, s /= 2) {
    fill(32, y, s, s, uint8_t(k));
    y += s;
  }
  write_png_file(dir.file("c.png"), w, full, PNG_COLOR_TYPE_RGB, px, "[mip_custom]");
  Image img{};
  ASSERT_TRUE(png_read_texture(dir.file("c.png").c_str(), &img, nullptr));
  EXPECT_EQ(img.width, 64);
  EXPECT_EQ(img.height, 64);
  size_t offset = 0;
  for (int k = 0, s = 64; s >= 1; k++, s /= 2) {
    bool all = true;
    for (size_t i = 0; i < size_t(s) * s * 3; i++) all &= img.pixels[offset + i] == k;
    EXPECT_TRUE(all) << "level " << k;
    offset += size_t(s) * s * 3;
  }
  image_free(&img);

  write_png_file(dir.file("d.png"), 64, 100, PNG_COLOR_TYPE_RGB, std::vector<uint8_t>(64 * 100 * 3, 9), "[mip_custom]");
  ASSERT_TRUE(png_read_texture(dir.file("d.png").c_str(), &img, nullptr));
  EXPECT_TRUE(newest_console_line_is("Warning: Invalid height for custom MIP map in"));
  EXPECT_EQ(img.height, 100);
  image_free(&img);

  // 64 x 3: the height is valid, but the small levels would run below the image; refused as
  // invalid and computed instead.
  console_print("-");
  write_png_file(dir.file("e.png"), 64, 3, PNG_COLOR_TYPE_RGB, std::vector<uint8_t>(64 * 3 * 3, 9), "[mip_custom]");
  ASSERT_TRUE(png_read_texture(dir.file("e.png").c_str(), &img, nullptr));
  EXPECT_TRUE(newest_console_line_is("Warning: Invalid height for custom MIP map in"));
  EXPECT_EQ(img.height, 3);
  image_free(&img);
}

TEST(PngTexture, RefusesWhatIsNotPng) {
  TempDir dir;
  write_file(dir.file("a.png"), "not a png at all");
  std::string sig = "\x89PNG\r\n\x1a\n";
  write_file(dir.file("b.png"), sig);
  write_png_file(dir.file("c.png"), 4, 4, PNG_COLOR_TYPE_RGB, std::vector<uint8_t>(48, 1));
  std::string whole = read_file(dir.file("c.png"));
  write_file(dir.file("d.png"), whole.substr(0, whole.size() - 20));
  Image img{};
  for (const char* f : {"a.png", "b.png", "d.png", "missing.png"})
    EXPECT_FALSE(png_read_texture(dir.file(f).c_str(), &img, nullptr)) << f;
  uint16_t* s = nullptr;
  int w, h;
  EXPECT_FALSE(png_read_grey16(dir.file("d.png").c_str(), &s, &w, &h));
}

TEST(PngWrite, Grey16AndRgbRoundTrip) {
  TempDir dir;
  const uint16_t grey[6] = {0, 1, 256, 4660, 65534, 65535};
  ASSERT_TRUE(png_write_grey16(dir.file("g.png").c_str(), grey, 3, 2));
  uint16_t* back = nullptr;
  int w = 0, h = 0;
  ASSERT_TRUE(png_read_grey16(dir.file("g.png").c_str(), &back, &w, &h));
  ASSERT_EQ(w, 3);
  ASSERT_EQ(h, 2);
  EXPECT_EQ(0, memcmp(back, grey, sizeof grey));
  free(back);

  // Rows come bottom-up, as read back from the screen.
  const uint8_t rgb[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ASSERT_TRUE(png_write_rgb(dir.file("sub/c.png").c_str(), rgb, 2, 2));
  Image img{};
  ASSERT_TRUE(png_read_texture(dir.file("sub/c.png").c_str(), &img, nullptr));
  EXPECT_EQ(img.pixels[0], 7);
  EXPECT_EQ(img.pixels[6], 1);
  image_free(&img);
  EXPECT_FALSE(file_exists(dir.file("sub/c.png.tmp")));

  // An 8-bit grey image widens 255 to 65535.
  write_png_file(dir.file("e.png"), 2, 1, PNG_COLOR_TYPE_GRAY, {255, 1});
  ASSERT_TRUE(png_read_grey16(dir.file("e.png").c_str(), &back, &w, &h));
  EXPECT_EQ(back[0], 65535);
  EXPECT_EQ(back[1], 257);
  free(back);

  write_file(dir.file("blocker"), "x");
  EXPECT_FALSE(png_write_rgb(dir.file("blocker/x.png").c_str(), rgb, 2, 2));
  EXPECT_FALSE(png_write_rgb(dir.file("z.png").c_str(), rgb, 0, 2));
}

}  // namespace
