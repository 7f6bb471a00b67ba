// Shared helpers for the tests.
#include "test_support.h"

#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "resources/data.h"

extern char** environ;

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/kelvane-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  char* made = mkdtemp(buf.data());
  path = made ? std::string(made) + "/" : std::string("/tmp/");
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path.size() > 5) std::filesystem::remove_all(path, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::filesystem::path p(path);
  std::error_code ec;
  std::filesystem::create_directories(p.parent_path(), ec);
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

namespace {
// Length of the time stamp at the start of the line, or 0.
size_t stamp_length(const std::string& line) {
  size_t i = 0;
  if (i >= line.size() || line[i++] != '[') return 0;
  size_t digits = 0;
  while (i < line.size() && isdigit(static_cast<unsigned char>(line[i]))) ++i, ++digits;
  if (!digits) return 0;
  const char* tail = ":dd:dd.dd] ";
  for (const char* t = tail; *t; ++t, ++i) {
    if (i >= line.size()) return 0;
    if (*t == 'd' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != *t) return 0;
  }
  return i;
}
}  // namespace

bool lines_have_time_stamps(const std::string& text) {
  if (text.empty()) return false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (!stamp_length(text.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::string strip_time_stamps(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    out += line.substr(stamp_length(line));
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

namespace {
struct SavedEnv {
  std::string name;
  bool had;
  std::string value;
};
std::vector<SavedEnv> saved;

void save_and_set(const char* name, const std::string& value) {
  const char* old = getenv(name);
  saved.push_back({name, old != nullptr, old ? old : ""});
  setenv(name, value.c_str(), 1);
}
}  // namespace

DataRootsFixture::DataRootsFixture() {
  home = dir.path + "xdg/Kelvane/";
  install = dir.path + "install/";
  std::filesystem::create_directories(home);
  std::filesystem::create_directories(install);
  saved.clear();
  save_and_set("XDG_DATA_HOME", dir.path + "xdg");
  save_and_set("KV_HOME", dir.path + "install");
  data_reset_for_tests();
}

DataRootsFixture::~DataRootsFixture() {
  for (const SavedEnv& e : saved) {
    if (e.had) setenv(e.name.c_str(), e.value.c_str(), 1);
    else unsetenv(e.name.c_str());
  }
  saved.clear();
  data_reset_for_tests();
}

ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env_additions) {
  TempDir io;
  std::string out_path = io.file("out"), err_path = io.file("err");
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    bool replaced = false;
    for (const std::string& add : env_additions) {
      size_t eq = add.find('=');
      if (s.compare(0, eq + 1, add, 0, eq + 1) == 0) replaced = true;
    }
    if (!replaced) env_strings.push_back(s);
  }
  for (const std::string& add : env_additions) {
    if (add.back() != '=' || add.find('=') != add.size() - 1) env_strings.push_back(add);
  }
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  ProcessResult r{-1, "", ""};
  if (posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}
