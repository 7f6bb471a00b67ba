// The game under a display: a window opens, GL is logged, and recorded video frames carry the
// clear colour.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(StartupWindow, RecordsVideoFramesOfTheClearColour) {
  if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
  TempDir home;
  write_file(home.path + ".local/share/Kelvane/config", "video_mode=Windowed\n");
  std::vector<std::string> args = {std::string(KV_GAME_DIR) + "/kelvane", "--track", "ridgeback",
                                   "--record-video", "--nosound", "--width", "96", "--height", "64",
                                   "--quit-after-ticks", "64"};
  ProcessResult r = run_process(args, {"HOME=" + home.path, "XDG_DATA_HOME=", "KV_HOME=", "VELK_LOGFILE="});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = read_file(home.path + ".local/share/Kelvane/lastlog.txt");
  for (const char* line : {"] GL_VENDOR: ", "] GL_RENDERER: ", "] GL_VERSION: ", "] GL_EXTENSIONS: "})
    EXPECT_NE(log.find(line), std::string::npos) << line;
  // One or more "P6" frames; the first pixel of the first is (50, 153, 204).
  ASSERT_EQ(r.out.compare(0, 3, "P6\n"), 0) << r.out.substr(0, 40);
  size_t header_end = r.out.find("255\n");
  ASSERT_NE(header_end, std::string::npos);
  int w = 0, h = 0;
  ASSERT_EQ(sscanf(r.out.c_str(), "P6\n%d %d\n", &w, &h), 2);
  EXPECT_GT(w, 0);
  EXPECT_GT(h, 0);
  size_t pixels = header_end + 4;
  ASSERT_GE(r.out.size(), pixels + 3);
  EXPECT_EQ(static_cast<unsigned char>(r.out[pixels]), 50);
  EXPECT_EQ(static_cast<unsigned char>(r.out[pixels + 1]), 153);
  EXPECT_EQ(static_cast<unsigned char>(r.out[pixels + 2]), 204);
}

}  // namespace
