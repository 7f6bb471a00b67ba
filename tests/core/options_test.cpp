// Command-line parsing: values inline and separate, bad args, clamps, files and "--".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/options.h"

namespace {

struct Parsed {
  OptionsResult result;
  Options o;
  std::string err;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kelvane");
  Parsed p;
  options_set_defaults(&p.o);
  char err[512];
  p.result = options_parse(&p.o, static_cast<int>(args.size()), args.data(), err, sizeof err);
  p.err = err;
  return p;
}

TEST(Options, BadValuesAndOptionsFailWithTheirMessage) {
  struct Case {
    std::vector<const char*> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--bogus"}, "bad option '--bogus'\n"},
      {{"--lock-fps", "abc"}, "Bad arg for --lock-fps\n"},
      {{"--lock-fps=abc"}, "Bad arg for --lock-fps\n"},
      {{"--lod-bias", "nan"}, "Bad arg for --lod-bias\n"},
      {{"--erode", "inf"}, "Bad arg for --erode\n"},
      {{"--texture-detail", "x"}, "Bad arg for --texture-detail\n"},
      {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
      {{"--chase-center", "1;2;3"}, "Bad arg for --chase-center\n"},
      {{"--width", "10"}, "Bad arg for --width\n"},
      {{"--height", "20000"}, "Bad arg for --height\n"},
      {{"--depth", "17"}, "Bad arg for --depth\n"},
      {{"--lock-fps"}, "Bad arg for --lock-fps\n"},        // a value option as the last argument
      {{"--connect"}, "Bad arg for --connect\n"},          // string options too
      {{"--record-audio"}, "Bad arg for --record-audio\n"},
      {{"--quit-after-ticks", "-5"}, "Bad arg for --quit-after-ticks\n"},
      {{"--robots", "161"}, "Bad arg for --robots\n"},
      {{"--warp=1"}, "bad option '--warp=1'\n"},           // no value expected
      {{"demo1.kvdemo", "demo2.kvdemo"}, "Too many files!\n"},
  };
  for (const Case& c : cases) {
    Parsed p = parse(c.args);
    EXPECT_EQ(p.result, options_error) << c.args[0];
    EXPECT_EQ(p.err, c.message) << c.args[0];
  }
}

TEST(Options, ValuesInlineOrSeparateAreTheSame) {
  Parsed a = parse({"--track=hills"});
  Parsed b = parse({"--track", "hills"});
  ASSERT_EQ(a.result, options_ok);
  ASSERT_EQ(b.result, options_ok);
  EXPECT_STREQ(a.o.track, "hills");
  EXPECT_EQ(a.o.track, b.o.track);  // interned
  Parsed c = parse({"--lock-fps=30"});
  Parsed d = parse({"--lock-fps", "30"});
  EXPECT_DOUBLE_EQ(c.o.lock_fps, 30);
  EXPECT_DOUBLE_EQ(d.o.lock_fps, 30);
}

TEST(Options, ClampsAndConversions) {
  Parsed p = parse({"--texture-detail", "9", "--roostfrequency=5000", "--erode", "-3", "--lod-scale", "0",
                    "--fake-lag", "250", "--fake-loss", "300", "--chase-center", "1.5,-2,3e1"});
  ASSERT_EQ(p.result, options_ok);
  EXPECT_EQ(p.o.texture_detail, 4);
  EXPECT_EQ(p.o.ground_texture_detail, 4);
  EXPECT_EQ(p.o.roost_frequency, 1000);
  EXPECT_EQ(p.o.erode, 0);
  EXPECT_DOUBLE_EQ(p.o.lod_scale, 0.000001);
  EXPECT_DOUBLE_EQ(p.o.fake_lag, 0.25);
  EXPECT_EQ(p.o.fake_loss, 100);
  ASSERT_TRUE(p.o.chase_center_given);
  EXPECT_FLOAT_EQ(p.o.chase_center[0], 1.5f);
  EXPECT_FLOAT_EQ(p.o.chase_center[1], -2);
  EXPECT_FLOAT_EQ(p.o.chase_center[2], 30);
  // A later ground detail overrides the combined texture detail for the ground only.
  Parsed q = parse({"--texture-detail", "2", "--ground-texture-detail", "1"});
  EXPECT_EQ(q.o.texture_detail, 2);
  EXPECT_EQ(q.o.ground_texture_detail, 1);
}

TEST(Options, TrackAsLastArgumentMeansNoTrack) {
  Parsed p = parse({"--track"});
  EXPECT_EQ(p.result, options_ok);
  EXPECT_EQ(p.o.track, nullptr);
}

TEST(Options, DoubleDashTakesDashedNamesAsTheFile) {
  Parsed p = parse({"--", "-odd.kvdemo"});
  ASSERT_EQ(p.result, options_ok);
  EXPECT_STREQ(p.o.demo_file, "-odd.kvdemo");
  Parsed q = parse({"-odd.kvdemo"});
  EXPECT_EQ(q.result, options_error);
  EXPECT_EQ(q.err, "bad option '-odd.kvdemo'\n");
  Parsed r = parse({"--"});
  EXPECT_EQ(r.result, options_ok);
  EXPECT_EQ(r.o.demo_file, nullptr);
  // After "--" even an option's name is a file.
  Parsed s = parse({"--", "--warp"});
  EXPECT_FALSE(s.o.warp);
  EXPECT_STREQ(s.o.demo_file, "--warp");
}

TEST(Options, ConnectDropsThePrefixAndCancelsTrack) {
  Parsed a = parse({"--track", "hills", "--connect", "kelvane:race.example:5000"});
  Parsed b = parse({"--connect=race.example:5000"});
  ASSERT_EQ(a.result, options_ok);
  EXPECT_STREQ(a.o.connect, "race.example:5000");
  EXPECT_EQ(a.o.connect, b.o.connect);
  EXPECT_EQ(a.o.track, nullptr);
}

TEST(Options, FlagsAndHeadlessExtras) {
  Parsed p = parse({"--headless", "--quit-after-ticks", "1280", "--debug", "--nolearn", "--warp", "--robots=20",
                    "--laps", "3", "--record-demo", "--quit-after-race"});
  ASSERT_EQ(p.result, options_ok);
  EXPECT_TRUE(p.o.headless);
  EXPECT_EQ(p.o.quit_after_ticks, 1280);
  EXPECT_EQ(p.o.debug_level, 1);
  EXPECT_EQ(p.o.learn, 0);
  EXPECT_TRUE(p.o.warp);
  EXPECT_EQ(p.o.robots, 20);
  EXPECT_EQ(p.o.laps, 3);
  EXPECT_TRUE(p.o.record_demo);
  EXPECT_TRUE(p.o.quit_after_race);
  Parsed d = parse({"--depth", "24", "--width", "64", "--height=16384"});
  ASSERT_EQ(d.result, options_ok);
  EXPECT_EQ(d.o.depth, 24);
  EXPECT_EQ(d.o.width, 64);
  EXPECT_EQ(d.o.height, 16384);
}

}  // namespace
