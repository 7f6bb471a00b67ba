// The game as a process: exit statuses and messages of start-up, and a short headless run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const std::string game = std::string(KV_GAME_DIR) + "/kelvane";

struct StartupTest : ::testing::Test {
  TempDir home;
  std::vector<std::string> env() const {
    return {"HOME=" + home.path, "XDG_DATA_HOME=", "KV_HOME=", "VELK_LOGFILE=", "SDL_VIDEODRIVER=dummy"};
  }
  ProcessResult run(std::vector<std::string> args, std::vector<std::string> extra = {}) {
    args.insert(args.begin(), game);
    std::vector<std::string> e = env();
    e.insert(e.end(), extra.begin(), extra.end());
    return run_process(args, e);
  }
};

TEST_F(StartupTest, BadCommandLinesExitWithStatusOne) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--bogus"}, "bad option '--bogus'\n"},
      {{"--lock-fps", "abc"}, "Bad arg for --lock-fps\n"},
      {{"one.kvdemo", "two.kvdemo"}, "Too many files!\n"},
      {{"--headless", "--quit-after-ticks"}, "Bad arg for --quit-after-ticks\n"},
  };
  for (const Case& c : cases) {
    ProcessResult r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err, c.message) << c.args[0];
  }
}

TEST_F(StartupTest, MissingGameDataIsReportedWithStatusOne) {
  TempDir empty;
  ProcessResult r = run({"--headless"}, {"KV_HOME=" + empty.path});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Problem starting Kelvane"), std::string::npos);
  EXPECT_NE(r.err.find("Can't find game data"), std::string::npos);
}

TEST_F(StartupTest, OpenHomeCreatesTheFolderAndExits) {
  ProcessResult r = run({"--open-home"}, {"PATH=/nonexistent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(file_exists(home.path + ".local/share/Kelvane"));
}

TEST_F(StartupTest, HeadlessRunLeavesATimeStampedLog) {
  ProcessResult r = run({"--headless", "--track", "ridgeback", "--quit-after-ticks", "1280"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = read_file(home.path + ".local/share/Kelvane/lastlog.txt");
  EXPECT_TRUE(lines_have_time_stamps(log)) << log;
  EXPECT_EQ(strip_time_stamps(log).rfind("Logfile \"", 0), 0u) << log;
  EXPECT_NE(log.find("] VELK 0.31\n"), std::string::npos);
  EXPECT_NE(log.find("] Finished deallocating bikes\n"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(StartupTest, SettingsSurviveAStartAndQuit) {
  std::string config = home.path + ".local/share/Kelvane/config";
  write_file(config, "laps=7\nthrottle_key=(30)a\nfov=95\n");
  ProcessResult r = run({"--headless", "--track", "ridgeback", "--quit-after-ticks", "16", "--width", "800"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = read_file(config);
  EXPECT_NE(text.find("laps=7.000000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("fov=95.000000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("throttle_key="), std::string::npos) << text;
  EXPECT_NE(text.find("xres=800\n"), std::string::npos) << text;  // an option that stores into a setting
  EXPECT_NE(text.find("track=ridgeback\n"), std::string::npos) << text;
  EXPECT_FALSE(file_exists(config + ".tmp"));
}

}  // namespace
