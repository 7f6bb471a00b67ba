// Shared helpers for the tests: temporary folders, files and environment.
#pragma once
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
struct TempDir {
  std::string path;  // ends in "/"
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string file(const std::string& name) const { return path + name; }
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// True when every line of the text starts with a log time stamp "[h:mm:ss.hh] ".
bool lines_have_time_stamps(const std::string& text);
// The text with every log time stamp removed.
std::string strip_time_stamps(const std::string& text);

// Points the data roots at home/ and install/ for a test (sets XDG_DATA_HOME and KV_HOME and
// forgets the roots and the file index); restores the old environment at the end.
struct DataRootsFixture {
  TempDir dir;
  std::string home;     // root 0: <dir>/xdg/Kelvane/
  std::string install;  // root 1: <dir>/install/
  DataRootsFixture();
  ~DataRootsFixture();
};

// Runs the game executable with arguments and an environment addition; returns the exit status
// and captures standard output and error.
struct ProcessResult {
  int status;
  std::string out;
  std::string err;
};
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env_additions);
