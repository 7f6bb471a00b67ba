// The log's configuration message, modes, control messages and time stamps; option switches.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/log.h"
#include "test_support.h"

namespace {

struct LogTest : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    unsetenv("VELK_LOGFILE");
    unsetenv("VELK_LOGFILE_FLAGS");
    unsetenv("VELK_OPTIONS");
    velk_log_reset_for_tests();
  }
  void TearDown() override {
    velk_log(nullptr);
    unsetenv("VELK_LOGFILE");
    unsetenv("VELK_LOGFILE_FLAGS");
    unsetenv("VELK_OPTIONS");
    velk_log_reset_for_tests();
  }
};

TEST_F(LogTest, ConfigurationMessageAppendsWithTimeStamps) {
  std::string path = dir.file("log.txt");
  write_file(path, "old line\n");
  velk_log("VELK_LOGFILE=>>%s", path.c_str());
  velk_log("hello %d\n", 42);
  velk_log(nullptr);
  velk_log("after close\n");
  std::string text = read_file(path);
  ASSERT_EQ(text.rfind("old line\n", 0), 0u);
  std::string added = text.substr(9);
  EXPECT_TRUE(lines_have_time_stamps(added)) << text;
  EXPECT_EQ(strip_time_stamps(added), "Logfile \"" + path + "\" opened\nVELK 0.31\nhello 42\n");
}

TEST_F(LogTest, EnvironmentWinsOverTheProgramsChoice) {
  std::string env_path = dir.file("env.txt");
  std::string program_path = dir.file("program.txt");
  setenv("VELK_LOGFILE", env_path.c_str(), 1);
  velk_log("VELK_LOGFILE=%s", program_path.c_str());
  velk_log("line\n");
  velk_log(nullptr);
  EXPECT_FALSE(file_exists(program_path));
  std::string text = read_file(env_path);
  EXPECT_NE(text.find("Logfile \"" + env_path + "\" opened"), std::string::npos);
  EXPECT_EQ(text.find("VELK_LOGFILE="), std::string::npos);
  EXPECT_NE(text.find("] line\n"), std::string::npos);
}

TEST_F(LogTest, FlagsOnlyWhenTheyWrite) {
  std::string path = dir.file("flags.txt");
  write_file(path, "keep\n");
  // "r" would leave the log unwritable: it is ignored and the path's own mode applies.
  setenv("VELK_LOGFILE_FLAGS", "r", 1);
  velk_log("VELK_LOGFILE=>>%s", path.c_str());
  velk_log("x\n");
  velk_log(nullptr);
  std::string text = read_file(path);
  EXPECT_EQ(text.rfind("keep\n", 0), 0u);
  EXPECT_NE(text.find("] x\n"), std::string::npos);
  velk_log_reset_for_tests();
  setenv("VELK_LOGFILE_FLAGS", "w", 1);
  velk_log("VELK_LOGFILE=>>%s", path.c_str());
  velk_log(nullptr);
  EXPECT_EQ(read_file(path).find("keep"), std::string::npos);
}

TEST_F(LogTest, ControlMessagesAreNeverWritten) {
  std::string path = dir.file("ctl.txt");
  velk_log("VELK_LOGFILE=%s", path.c_str());
  velk_log("\x13NOFLUSH");
  velk_log("\x13" "BOGUS");
  velk_log("\x13" "FLUSH");
  velk_log("visible\n");
  velk_log(nullptr);
  std::string text = read_file(path);
  EXPECT_EQ(text.find("FLUSH"), std::string::npos);
  EXPECT_EQ(text.find("BOGUS"), std::string::npos);
  EXPECT_NE(text.find("] visible\n"), std::string::npos);
}

TEST_F(LogTest, NoPathMeansNoLog) {
  EXPECT_EQ(velk_log("nobody hears this\n"), 0);
}

TEST_F(LogTest, OptionSwitches) {
  std::string path = dir.file("opts.txt");
  velk_log("VELK_LOGFILE=%s", path.c_str());
  setenv("VELK_OPTIONS", "[threaded:on][dsnd:maybe][sound-rate:fast][sound-mixahead:250][waveout:off]", 1);
  EXPECT_EQ(velk_option_bool("threaded", 0), 1);
  EXPECT_EQ(velk_option_bool("dsnd", 1), 1);
  EXPECT_EQ(velk_option_bool("waveout", 1), 0);
  EXPECT_EQ(velk_option_bool("dinput", 1), 1);
  EXPECT_EQ(velk_option_int("sound-rate", 22050), 22050);
  EXPECT_EQ(velk_option_int("sound-mixahead", 125), 250);
  EXPECT_EQ(velk_option_int("sound-channels", 16), 16);
  velk_log(nullptr);
  std::string text = read_file(path);
  EXPECT_NE(text.find("unrecognized setting for dsnd\n"), std::string::npos);
  EXPECT_NE(text.find("unrecognized setting for sound-rate\n"), std::string::npos);
}

TEST_F(LogTest, ErrorsAreRememberedAndLogged) {
  std::string path = dir.file("err.txt");
  velk_log("VELK_LOGFILE=%s", path.c_str());
  velk_error("no display");
  EXPECT_STREQ(velk_last_error(), "no display");
  velk_log(nullptr);
  EXPECT_NE(read_file(path).find("] Error: no display\n"), std::string::npos);
}

}  // namespace
