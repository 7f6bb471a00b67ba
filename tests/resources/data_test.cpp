// Data roots, the file index and archives: precedence, bounds, hostile headers, renames.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/data.h"
#include "resources/stream.h"
#include "test_support.h"

namespace {

std::string archive(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string header, body;
  for (const auto& [name, bytes] : members) {
    header += std::to_string(bytes.size()) + " " + name + "\n";
    body += bytes;
  }
  return header + "-\n" + body;
}

std::string gzip_of(const std::string& data) {
  std::string out(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);  // 31: zlib writes the gzip wrapper
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string read_name(const char* name) {
  Stream* s = stream_open(name, "rb");
  if (!s) return "<none>";
  std::string out;
  int c;
  while ((c = stream_getc(s)) >= 0) out += static_cast<char>(c);
  stream_close(s);
  return out;
}

bool listed(const char* name) {
  for (const char* const* p = data_file_list(); *p; ++p)
    if (strcmp(*p, name) == 0) return true;
  return false;
}

struct DataTest : ::testing::Test {
  DataRootsFixture roots;
};

TEST_F(DataTest, RootsAreHomeThenInstallation) {
  EXPECT_EQ(std::string(data_root(0)), roots.home);
  EXPECT_EQ(std::string(data_root(1)), roots.install);
  EXPECT_EQ(data_root(2), nullptr);
  EXPECT_EQ(data_root(-1), nullptr);
}

TEST_F(DataTest, HomeBeatsInstallationAndLooseBeatsArchive) {
  write_file(roots.home + "config", "home");
  write_file(roots.install + "config", "install");
  write_file(roots.install + "images/sky.png.gz", gzip_of("loose"));
  write_file(roots.install + "aaa.saf", archive({{"images/sky.png", "archived"}, {"only.txt", "member"}}));
  EXPECT_EQ(read_name("@config"), "home");
  EXPECT_EQ(read_name("@images/sky.png"), "loose");
  EXPECT_EQ(read_name("@only.txt"), "member");
  EXPECT_EQ(read_name("@ONLY.TXT"), "member");  // the index ignores case
  EXPECT_TRUE(listed("only.txt"));
  EXPECT_TRUE(listed("config"));
}

TEST_F(DataTest, FirstArchiveInIndexOrderWins) {
  write_file(roots.install + "zzzz.saf", archive({{"shared.txt", "from zzzz"}}));
  write_file(roots.install + "base.saf", archive({{"shared.txt", "from base"}}));
  EXPECT_EQ(read_name("@shared.txt"), "from base");
  // Listed once although two archives hold it.
  int count = 0;
  for (const char* const* p = data_file_list(); *p; ++p) count += strcmp(*p, "shared.txt") == 0;
  EXPECT_EQ(count, 1);
}

TEST_F(DataTest, MemberStreamEndsAtItsSize) {
  write_file(roots.install + "a.saf", archive({{"one", "12345"}, {"two", "abcdefgh"}}));
  Stream* s = stream_open("@one", "rb");
  ASSERT_NE(s, nullptr);
  char buf[64];
  EXPECT_EQ(stream_read(s, buf, sizeof buf), 5u);
  EXPECT_EQ(stream_getc(s), -1);
  EXPECT_EQ(stream_seek(s, 4), 1);
  EXPECT_EQ(stream_getc(s), '5');
  EXPECT_EQ(stream_seek(s, 5), 0);  // at the limit
  stream_close(s);
  EXPECT_EQ(read_name("@two"), "abcdefgh");
}

TEST_F(DataTest, InvalidArchivesContributeNothing) {
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"member line without a number", "3 good\nbad line\n-\nabc"},
      {"negative size", "3 good\n-4 neg\n-\nabc"},
      {"data past the end", "3 good\n400 long\n-\nabcdef"},
      {"no end of header", "3 good\n"},
      {"header line too long", "3 good\n" + std::string(2000, '7') + " x\n-\nabc"},
      {"no separator", "3 good\n5\n-\nabcdefgh"},
  };
  for (const Case& c : cases) {
    data_reset_for_tests();
    write_file(roots.install + "bad.saf", c.bytes);
    EXPECT_FALSE(listed("good")) << c.label;
    EXPECT_EQ(read_name("@good"), "<none>") << c.label;
  }
}

TEST_F(DataTest, HostileNamesAreRefused) {
  write_file(roots.dir.path + "secret.txt", "secret");
  EXPECT_EQ(stream_open("@../../secret.txt", "rb"), nullptr);
  EXPECT_EQ(stream_open("@/etc/passwd", "rb"), nullptr);
  EXPECT_EQ(stream_open("@demos/../../x", "wb"), nullptr);
  EXPECT_EQ(stream_open(("@" + std::string(1100, 'a')).c_str(), "wb"), nullptr);
  char path[1024];
  EXPECT_FALSE(data_resolve_write_path("@a/../../b", path, sizeof path));
  EXPECT_FALSE(data_resolve_write_path(("@" + std::string(600, 'n')).c_str(), path, sizeof path));
  EXPECT_TRUE(data_resolve_write_path("@a/b..c", path, sizeof path));
}

TEST_F(DataTest, WritingGoesToHomeAndCreatesFolders) {
  Stream* s = stream_open("@demos/test.kvdemo", "wb");
  ASSERT_NE(s, nullptr);
  stream_puts(s, "demo");
  stream_close(s);
  EXPECT_EQ(read_file(roots.home + "demos/test.kvdemo"), "demo");
  EXPECT_FALSE(file_exists(roots.install + "demos"));
}

TEST_F(DataTest, RenameReplacesAtomically) {
  write_file(roots.home + "config", "old");
  write_file(roots.home + "config.tmp", "new");
  EXPECT_EQ(data_rename("@config.tmp", "@config"), 1);
  EXPECT_EQ(read_file(roots.home + "config"), "new");
  EXPECT_FALSE(file_exists(roots.home + "config.tmp"));
  // A missing source leaves the destination alone.
  EXPECT_EQ(data_rename("@nothing", "@config"), 0);
  EXPECT_EQ(read_file(roots.home + "config"), "new");
}

TEST_F(DataTest, IndexWalkSkipsLinkedFoldersAndDescribes) {
  write_file(roots.dir.path + "outside/foreign.txt", "x");
  ASSERT_EQ(symlink((roots.dir.path + "outside").c_str(), (roots.install + "link").c_str()), 0);
  ASSERT_EQ(symlink(roots.install.c_str(), (roots.install + "loop").c_str()), 0);
  write_file(roots.install + "tracks/a/desc", "A");
  EXPECT_FALSE(listed("link/foreign.txt"));
  EXPECT_TRUE(listed("tracks/a/desc"));
  char buf[2048];
  bool found = false;
  for (int i = 0; data_describe(i, buf, sizeof buf); ++i)
    if (std::string(buf) == "tracks/a/desc -> " + roots.install + "tracks/a/desc") found = true;
  EXPECT_TRUE(found);
  EXPECT_EQ(data_describe(-1, buf, sizeof buf), 0);
  EXPECT_EQ(data_describe(1 << 20, buf, sizeof buf), 0);
}

TEST(PathJoin, CollapsesSeparators) {
  char* p = path_join("a\\\\b//", "/c");
  EXPECT_STREQ(p, "a/b/c");
  free(p);
  EXPECT_EQ(path_join(nullptr, "x"), nullptr);
}

}  // namespace
