// Display mode list, full-screen fit and video mode choices, without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/window_modes.h"

namespace {

std::vector<VelkDisplayMode> build(const VelkDisplayMode* desktop, std::vector<VelkDisplayMode> reported) {
  std::vector<VelkDisplayMode> out(reported.size() + 2, VelkDisplayMode{-1, -1, -1, -1});
  int n = velk_build_mode_list(desktop, reported.data(), static_cast<int>(reported.size()), out.data());
  EXPECT_EQ(out[n].width, 0);
  EXPECT_EQ(out[n].height, 0);
  EXPECT_EQ(out[n].depth, 0);
  out.resize(n);
  return out;
}

std::string sizes(const std::vector<VelkDisplayMode>& list) {
  std::string s;
  for (const VelkDisplayMode& m : list)
    s += std::to_string(m.width) + "x" + std::to_string(m.height) + "x" + std::to_string(m.depth) + " ";
  return s;
}

TEST(DisplayModes, DesktopFirstDuplicatesAndOddDepthsDropped) {
  VelkDisplayMode desktop = {1280, 1024, 24, 60};
  auto list = build(&desktop, {{1920, 1080, 24, 60},
                               {1280, 1024, 24, 75},  // the desktop again at another rate
                               {1024, 768, 24, 60},
                               {1024, 768, 24, 85},
                               {800, 600, 12, 60},    // unusable depth
                               {800, 600, 16, 60}});
  EXPECT_EQ(sizes(list), "1280x1024x24 1920x1080x24 1024x768x24 800x600x16 ");
}

TEST(DisplayModes, DesktopWithOddDepthIsNotListed) {
  VelkDisplayMode desktop = {1280, 1024, 30, 60};
  EXPECT_EQ(sizes(build(&desktop, {{1024, 768, 32, 60}, {1024, 768, 32, 60}})), "1024x768x32 ");
  EXPECT_EQ(sizes(build(nullptr, {})), "");
}

TEST(DisplayModes, FullscreenFit) {
  const VelkDisplayMode list[] = {{1280, 1024, 24, 0}, {1024, 768, 24, 0}, {800, 600, 24, 0},
                                  {1920, 1080, 24, 0}, {0, 0, 0, 0}};
  struct Case {
    int w, h, want_w, want_h;
  } cases[] = {
      {1000, 700, 1024, 768},    // smallest waste among those that fit
      {1024, 768, 1024, 768},    // exact
      {1280, 1024, 1280, 1024},  // the desktop itself
      {1100, 800, 1280, 1024},
      {1900, 900, 1920, 1080},
      {2560, 1440, 1280, 1024},  // nothing fits: the desktop
      {0, 0, 1280, 1024},
      {640, 480, 800, 600},
  };
  for (const Case& c : cases) {
    int w = -1, h = -1;
    velk_fullscreen_fit(list, c.w, c.h, 1280, 1024, &w, &h);
    EXPECT_EQ(w, c.want_w) << c.w << "x" << c.h;
    EXPECT_EQ(h, c.want_h) << c.w << "x" << c.h;
  }
  int w = -1, h = -1;
  const VelkDisplayMode empty[] = {{0, 0, 0, 0}};
  velk_fullscreen_fit(empty, 800, 600, 640, 480, &w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
}

TEST(DisplayModes, VideoModeChoicesFollowFirstDepth) {
  const VelkDisplayMode list[] = {{1280, 1024, 24, 0}, {1024, 768, 16, 0}, {800, 600, 24, 0}, {0, 0, 0, 0}};
  VelkVideoModeChoice choices[8];
  int n = velk_video_mode_choices(list, choices, 8);
  ASSERT_EQ(n, 4);
  EXPECT_STREQ(choices[0].name, "Default Fullscreen");
  EXPECT_STREQ(choices[1].name, "Windowed");
  EXPECT_EQ(choices[1].width, 0);
  EXPECT_STREQ(choices[2].name, "1280x1024");
  EXPECT_EQ(choices[2].width, 1280);
  EXPECT_EQ(choices[2].height, 1024);
  EXPECT_STREQ(choices[3].name, "800x600");

  // A short buffer is filled as far as it goes and the full count returned.
  VelkVideoModeChoice two[2];
  EXPECT_EQ(velk_video_mode_choices(list, two, 2), 4);
  const VelkDisplayMode empty[] = {{0, 0, 0, 0}};
  EXPECT_EQ(velk_video_mode_choices(empty, choices, 8), 2);
}

// A system that reports nothing gives an empty list and a 640 by 480 desktop; a source that
// reports hostile values does not leak them into the list.
TEST(DisplayModes, CachedListFromSource) {
  static const VelkModeSource silent = {
      [] { return -1; }, [](int, VelkDisplayMode*) { return false; }, [](VelkDisplayMode*) { return false; }};
  velk_set_display_mode_source(&silent);
  velk_display_modes_reset_for_tests();
  int w = 0, h = 0;
  velk_desktop_size(&w, &h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_EQ(velk_display_modes()[0].width, 0);

  static const VelkModeSource odd = {
      [] { return 4; },
      [](int i, VelkDisplayMode* m) {
        const VelkDisplayMode modes[] = {{1024, 768, 24, 60}, {-5, 768, 24, 60}, {0, 0, 24, 0}, {800, 600, 24, 60}};
        *m = modes[i];
        return true;
      },
      [](VelkDisplayMode* m) {
        *m = VelkDisplayMode{1024, 768, 24, 60};
        return true;
      }};
  velk_set_display_mode_source(&odd);
  velk_display_modes_reset_for_tests();
  const VelkDisplayMode* list = velk_display_modes();
  std::vector<VelkDisplayMode> got;
  for (const VelkDisplayMode* m = list; m->width != 0; ++m) got.push_back(*m);
  EXPECT_EQ(sizes(got), "1024x768x24 800x600x24 ");
  EXPECT_EQ(velk_display_modes(), list);  // cached
  velk_desktop_size(&w, &h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  int n = 0;
  const VelkVideoModeChoice* choices = velk_video_mode_list(&n);
  const char* const* names = velk_video_mode_names(&n);
  ASSERT_EQ(n, 4);
  EXPECT_STREQ(names[3], "800x600");
  EXPECT_EQ(names[3], choices[3].name);
  EXPECT_EQ(choices[3].height, 600);

  velk_set_display_mode_source(nullptr);
  velk_display_modes_reset_for_tests();
}

}  // namespace
