// The data roots, the file index over loose files and ".saf" archives, renames, the data check.
#include "resources/data.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/digest.h"
#include "core/memory.h"
#include "platform/log.h"
#include "resources/stream.h"
#include "resources/stream_internal.h"

extern char** environ;

// The expected digest of our "zzzz.saf": produced by the build from the generated archive and
// linked into the game and the tests. The generator itself runs without it.
extern const char* const kv_game_data_digest __attribute__((weak));

namespace {

struct IndexEntry {
  std::string container;
  std::string name;
  std::string lower;  // the name lower-cased, the sort key
  int64_t offset;
  int64_t size;
  int rank;
};

struct DataState {
  bool roots_ready = false;
  std::vector<std::string> roots;
  bool index_ready = false;
  std::vector<IndexEntry> index;
  std::vector<const char*> names;  // de-duplicated, null-terminated
};

DataState& state() {
  static DataState* st = new DataState();
  return *st;
}

std::string normalise(const std::string& in) {
  std::string out;
  for (char c : in) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  return out;
}

std::string lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return out;
}

void build_roots() {
  DataState& st = state();
  if (st.roots_ready) return;
  st.roots_ready = true;
  const char* xdg = getenv("XDG_DATA_HOME");
  const char* home = getenv("HOME");
  if (xdg && xdg[0] == '/') st.roots.push_back(normalise(std::string(xdg) + "/Kelvane/"));
  else if (home && *home) st.roots.push_back(normalise(std::string(home) + "/.local/share/Kelvane/"));
  const char* kv = getenv("KV_HOME");
  if (kv) {
    st.roots.push_back(normalise(std::string(kv) + "/"));
  } else {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
      exe[n] = 0;
      std::string path = exe;
      size_t slash = path.rfind('/');
      st.roots.push_back(normalise(path.substr(0, slash + 1)));
    } else {
      st.roots.push_back("./");
    }
  }
}

bool entry_less(const IndexEntry& a, const IndexEntry& b) {
  int c = a.lower.compare(b.lower);
  if (c != 0) return c < 0;
  return a.rank < b.rank;
}

void walk_root(const std::string& root, int rank, std::vector<IndexEntry>* out) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // Links to folders are never followed: a link loop or a link out of the tree would otherwise
  // walk forever or list foreign files as game data.
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  if (ec) return;
  for (fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    const fs::directory_entry& e = *it;
    std::error_code ec2;
    if (e.is_directory(ec2)) continue;
    if (e.is_symlink(ec2) && fs::is_directory(e.path(), ec2)) continue;
    if (!e.is_regular_file(ec2)) continue;
    std::string full = e.path().string();
    if (full.compare(0, root.size(), root) != 0) continue;
    IndexEntry entry;
    entry.container = full;
    entry.name = full.substr(root.size());
    entry.lower = lower(entry.name);
    entry.offset = 0;
    entry.size = static_cast<int64_t>(e.file_size(ec2));
    if (ec2) continue;
    entry.rank = rank;
    out->push_back(std::move(entry));
  }
}

// Reads a ".saf" header and appends its members; an invalid archive adds none.
void read_archive(const IndexEntry& archive, int rank, std::vector<IndexEntry>* out) {
  FILE* f = fopen(archive.container.c_str(), "rb");
  if (!f) return;
  std::vector<IndexEntry> members;
  std::vector<int64_t> sizes;
  char line[1024];
  bool valid = false;
  for (;;) {
    if (!fgets(line, sizeof line, f)) break;
    size_t n = strlen(line);
    if (n == 0 || line[n - 1] != '\n') break;  // too long, or the end of the file
    line[n - 1] = 0;
    if (strcmp(line, "-") == 0) {
      valid = true;
      break;
    }
    char* end = nullptr;
    errno = 0;
    long long size = strtoll(line, &end, 10);
    if (end == line || errno == ERANGE || size < 0 || *end == 0) break;
    std::string name = normalise(end + 1);
    if (name.empty()) break;
    IndexEntry m;
    m.container = archive.container;
    m.name = name;
    m.lower = lower(name);
    m.size = size;
    m.rank = rank;
    members.push_back(std::move(m));
  }
  if (valid) {
    int64_t offset = static_cast<int64_t>(ftello(f));
    int64_t total = archive.size;
    for (IndexEntry& m : members) {
      m.offset = offset;
      // A member that runs past the end of the archive means the header lies.
      if (m.size > total - offset) {
        valid = false;
        break;
      }
      offset += m.size;
    }
  }
  fclose(f);
  if (!valid) return;
  for (IndexEntry& m : members) out->push_back(std::move(m));
}

void build_index() {
  DataState& st = state();
  if (st.index_ready) return;
  st.index_ready = true;
  build_roots();
  for (size_t r = 0; r < st.roots.size(); ++r) walk_root(st.roots[r], static_cast<int>(r), &st.index);
  std::sort(st.index.begin(), st.index.end(), entry_less);
  size_t loose = st.index.size();
  int archive_number = static_cast<int>(st.roots.size());
  for (size_t i = 0; i < loose; ++i) {
    const IndexEntry& e = st.index[i];
    if (e.lower.size() >= 5 && e.lower.compare(e.lower.size() - 4, 4, ".saf") == 0) {
      IndexEntry copy = e;  // the vector grows while members are added
      read_archive(copy, archive_number++, &st.index);
    }
  }
  std::stable_sort(st.index.begin(), st.index.end(), entry_less);
  const std::string* previous = nullptr;
  for (const IndexEntry& e : st.index) {
    if (previous && *previous == e.lower) continue;
    st.names.push_back(intern_string(e.name.c_str()));
    previous = &e.lower;
  }
  st.names.push_back(nullptr);
}

const IndexEntry* find_first(const std::string& name) {
  DataState& st = state();
  IndexEntry key;
  key.lower = lower(name);
  key.rank = INT_MIN;
  auto it = std::lower_bound(st.index.begin(), st.index.end(), key, entry_less);
  if (it == st.index.end() || it->lower != key.lower) return nullptr;
  return &*it;
}

}  // namespace

Stream* data_index_open(const char* relative_name) {
  build_index();
  static const char* const suffix[] = {"", ".gz", ".scram", ".gz.scram"};
  const IndexEntry* best = nullptr;
  int best_variant = 0;
  for (int v = 0; v < 4; ++v) {
    const IndexEntry* e = find_first(std::string(relative_name) + suffix[v]);
    if (e && (!best || e->rank < best->rank)) {
      best = e;
      best_variant = v;
    }
  }
  if (!best) return nullptr;
  FILE* f = fopen(best->container.c_str(), "rb");
  if (!f) return nullptr;
  if (fseeko(f, static_cast<off_t>(best->offset), SEEK_SET) != 0) {
    fclose(f);
    return nullptr;
  }
  // A loose file found through the index (a case mismatch) has no limit of its own.
  bool loose = best->rank < static_cast<int>(state().roots.size());
  int64_t limit = loose ? -1 : best->size;
  return stream_from_file(f, best->offset, limit, static_cast<StreamVariant>(best_variant), false);
}

const char* data_root(int n) {
  build_roots();
  DataState& st = state();
  if (n < 0 || n >= static_cast<int>(st.roots.size())) return nullptr;
  return st.roots[static_cast<size_t>(n)].c_str();
}

const char* const* data_file_list() {
  build_index();
  return state().names.data();
}

int data_file_count() {
  build_index();
  return static_cast<int>(state().names.size()) - 1;
}

bool data_resolve_write_path(const char* name, char* out, size_t size) {
  if (!name || !out || size == 0) return false;
  std::string path;
  if (name[0] == '@') {
    const char* rel = name + 1;
    if (rel[0] == '/' || rel[0] == '\\' || rel[0] == 0) return false;
    for (const char* p = rel; *p;) {
      const char* e = p;
      while (*e && *e != '/' && *e != '\\') ++e;
      if (e - p == 2 && p[0] == '.' && p[1] == '.') return false;
      p = *e ? e + 1 : e;
    }
    const char* root = data_root(0);
    if (!root) return false;
    path = std::string(root) + rel;
  } else {
    path = name;
  }
  if (path.size() >= size || path.size() > 511) return false;
  memcpy(out, path.c_str(), path.size() + 1);
  return true;
}

int data_rename(const char* from, const char* to) {
  char a[1024], b[1024];
  if (!data_resolve_write_path(from, a, sizeof a) || !data_resolve_write_path(to, b, sizeof b)) return 0;
  // POSIX rename replaces the destination atomically; deleting it first could lose both files.
  return rename(a, b) == 0 ? 1 : 0;
}

int data_describe(int n, char* buffer, size_t size) {
  build_index();
  DataState& st = state();
  if (n < 0 || n >= static_cast<int>(st.index.size()) || !buffer || size == 0) return 0;
  const IndexEntry& e = st.index[static_cast<size_t>(n)];
  snprintf(buffer, size, "%s -> %s", e.name.c_str(), e.container.c_str());
  return 1;
}

void make_folders_for(const char* path) {
  if (!path || strlen(path) >= 1024) return;
  std::string p = path;
  for (size_t i = 1; i < p.size(); ++i) {
    if (p[i] == '/') mkdir(p.substr(0, i).c_str(), 0755);
  }
}

int data_check() {
  const char* home = data_root(0);
  if (home) {
    make_folders_for(home);
    velk_log("VELK_LOGFILE=%slastlog.txt", home);
  }
  const char* expected = &kv_game_data_digest ? kv_game_data_digest : nullptr;
  for (int r = 0; data_root(r); ++r) {
    std::string path = std::string(data_root(r)) + "zzzz.saf";
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) continue;
    DigestContext ctx;
    digest_begin(&ctx);
    uint8_t block[256];
    size_t total = 0;
    while (total < 1048576) {
      size_t got = fread(block, 1, sizeof block, f);
      if (got == 0) break;
      digest_update(&ctx, block, got);
      total += got;
    }
    fclose(f);
    Digest d = digest_end(&ctx);
    if (expected && digest_matches_hex(&d, expected)) return 1;
  }
  return 0;
}

void open_home_folder() {
  const char* home = data_root(0);
  if (!home) return;
  make_folders_for(home);
  std::string path = home;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(path.c_str()), nullptr};
  pid_t pid;
  int r = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
  if (r != 0) console_printf("Can't open '%.900s' (no xdg-open)", path.c_str());
}

void set_working_set() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  unsigned long long total = pages > 0 && page_size > 0
      ? static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(page_size) : 0;
  if (total < 67108864ull) {
    velk_log("Working set left alone - less than 64 MB physical memory\n");
    return;
  }
  if (total > 2147483648ull) total = 2147483648ull;
  unsigned long long maximum = total - 33554432ull;
  unsigned long long minimum = std::min(1073741824ull, maximum);
  velk_log("Setting working set range to %u - %u\n", static_cast<unsigned>(minimum), static_cast<unsigned>(maximum));
  // Linux has no working-set range to set; never claim success.
  velk_log("Working set update failed\n");
}

char* path_join(const char* a, const char* b) {
  if (!a || !b) return nullptr;
  std::string s = normalise(std::string(a) + b);
  return xstrdup(s.c_str());
}

void data_reset_for_tests() {
  DataState& st = state();
  st = DataState();
}
