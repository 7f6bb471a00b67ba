// Streams: scanning against the C library, gzip edge cases, bounded members, scrambled files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/stream.h"
#include "resources/stream_internal.h"
#include "test_support.h"

namespace {

std::string raw_deflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// A gzip file with the given header flags and optional fields.
std::string gzip(const std::string& data, int flags = 0, const std::string& fields = "") {
  std::string out = "\x1f\x8b\x08";
  out += static_cast<char>(flags);
  out += std::string(6, '\0');
  out += fields;
  out += raw_deflate(data);
  out += le32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))));
  out += le32(static_cast<uint32_t>(data.size()));
  return out;
}

std::string read_all(Stream* s) {
  std::string out;
  char buf[777];
  size_t n;
  while ((n = stream_read(s, buf, sizeof buf)) > 0) out.append(buf, n);
  return out;
}

struct StreamTest : ::testing::Test {
  TempDir dir;
  Stream* open_text(const std::string& text, const char* name = "t.txt") {
    write_file(dir.file(name), text);
    return stream_open(dir.file(name).c_str(), "rb");
  }
};

TEST_F(StreamTest, ScanfAgreesWithTheCLibrary) {
  struct Case {
    const char* input;
    const char* format;
  };
  // Formats with up to three int-like or float conversions, compared field by field.
  const Case cases[] = {
      {"12 34 56", "%d %d %d"},       {"  -7x", "%d"},             {"0x1F 077 10", "%i %i %i"},
      {"ff 17", "%x %o"},             {"123456", "%3d%3d"},        {"1.5 -2e3 .25", "%f %f %f"},
      {"+3.0e-2,4", "%f,%d"},         {"9 8", "%*d %d"},           {"1\n\n\t2", "%d %d"},
      {"0x", "%x"},                   {"077", "%o"},               {"-0", "%i"},
      {"12abc", "%d%n"},              {"3.", "%f"},                {"1e", "%f"},
  };
  for (const Case& c : cases) {
    long long expected[3] = {0, 0, 0};
    long long got[3] = {0, 0, 0};
    std::string fmt = c.format;
    bool floats = fmt.find('f') != std::string::npos;
    int r_expected, r_got;
    Stream* s = open_text(c.input);
    ASSERT_NE(s, nullptr);
    if (floats) {
      float e[3] = {0, 0, 0}, g[3] = {0, 0, 0};
      int ei = 0, gi = 0;
      if (fmt == "%f,%d") {
        r_expected = sscanf(c.input, c.format, &e[0], &ei);
        r_got = stream_scanf(s, "%f,%d", &g[0], &gi);
        EXPECT_EQ(ei, gi) << c.input;
      } else {
        r_expected = sscanf(c.input, c.format, &e[0], &e[1], &e[2]);
        r_got = stream_scanf(s, c.format, &g[0], &g[1], &g[2]);
      }
      for (int i = 0; i < 3; ++i) EXPECT_EQ(e[i], g[i]) << c.input << " field " << i;
    } else {
      int e[3] = {0, 0, 0}, g[3] = {0, 0, 0};
      r_expected = sscanf(c.input, c.format, &e[0], &e[1], &e[2]);
      r_got = stream_scanf(s, c.format, &g[0], &g[1], &g[2]);
      for (int i = 0; i < 3; ++i) {
        expected[i] = e[i];
        got[i] = g[i];
      }
      for (int i = 0; i < 3; ++i) EXPECT_EQ(expected[i], got[i]) << c.input << " / " << c.format << " field " << i;
    }
    // Ours gives -1 where the C library reports a matching failure with no assignment.
    if (r_expected == 0) r_expected = -1;
    EXPECT_EQ(r_got, r_expected) << c.input << " / " << c.format;
    stream_close(s);
  }
}

TEST_F(StreamTest, ScanfStringsSetsAndSizes) {
  Stream* s = open_text("  word rest-of:line\nA]b xyz 7 65536 4294967297 Q");
  char w[32], set[32], neg[32], br[8], c3[4] = {0};
  short h;
  long long ll;
  ASSERT_EQ(stream_scanf(s, "%s %[a-z-]:%[^\n]", w, set, neg), 3);
  EXPECT_STREQ(w, "word");
  EXPECT_STREQ(set, "rest-of");
  EXPECT_STREQ(neg, "line");
  ASSERT_EQ(stream_scanf(s, " %[]A]%3c", br, c3), 2);
  EXPECT_STREQ(br, "A]");
  EXPECT_EQ(std::string(c3, 3), "b x");
  int n = -1;
  ASSERT_EQ(stream_scanf(s, "%*s %hd%n %lld %%", &h, &n, &ll), -1);  // the literal does not match
  EXPECT_EQ(h, 7);
  EXPECT_EQ(ll, 65536);
  EXPECT_EQ(n, 4);  // "yz 7": bytes consumed since the call began
  ASSERT_EQ(stream_scanf(s, "%lld %c", &ll, c3), 2);
  EXPECT_EQ(ll, 4294967297LL);
  EXPECT_EQ(c3[0], 'Q');
  stream_close(s);
}

TEST_F(StreamTest, LiteralMismatchIsMinusOneEvenAfterAssignments) {
  Stream* s = open_text("5;6");
  int a = 0, b = 0;
  EXPECT_EQ(stream_scanf(s, "%d,%d", &a, &b), -1);
  EXPECT_EQ(a, 5);
  EXPECT_EQ(stream_getc(s), ';');  // the mismatching byte is pushed back
  stream_close(s);
  s = open_text("5 x");
  EXPECT_EQ(stream_scanf(s, "%d %d", &a, &b), 1);  // a conversion without input: the count
  stream_close(s);
  s = open_text("x");
  EXPECT_EQ(stream_scanf(s, "%d", &a), -1);  // none assigned
  stream_close(s);
}

TEST_F(StreamTest, ReadIntAndSkipComments) {
  Stream* s = open_text("  abc");
  EXPECT_EQ(stream_read_int(s), INT_MIN);
  EXPECT_EQ(stream_getc(s), 'a');
  stream_close(s);
  s = open_text("  # one\n\t# two\n#\n 5");
  stream_skip_comments(s);
  EXPECT_EQ(stream_peekc(s), '5');
  EXPECT_EQ(stream_read_int(s), 5);
  EXPECT_EQ(stream_read_int(s), INT_MIN);
  stream_close(s);
}

TEST_F(StreamTest, GetsPeekAndPushback) {
  Stream* s = open_text("ab\ncdefgh");
  char buf[4];
  EXPECT_EQ(stream_peekc(s), 'a');
  EXPECT_STREQ(stream_gets(s, buf, sizeof buf), "ab\n");
  EXPECT_STREQ(stream_gets(s, buf, sizeof buf), "cde");
  EXPECT_EQ(stream_peekc(s), 'f');
  char rest[8];
  EXPECT_EQ(stream_read(s, rest, sizeof rest), 3u);  // the peeked byte counts
  EXPECT_EQ(std::string(rest, 3), "fgh");
  EXPECT_EQ(stream_gets(s, buf, sizeof buf), nullptr);
  EXPECT_EQ(stream_getc(s), -1);
  EXPECT_EQ(stream_tell(s), 9);
  EXPECT_EQ(stream_seek(s, 3), 1);
  EXPECT_EQ(stream_getc(s), 'c');
  EXPECT_EQ(stream_seek(s, -1), 0);
  stream_close(s);
}

TEST_F(StreamTest, GzipVariantIsFoundAndInflated) {
  std::string data;
  for (int i = 0; i < 50000; ++i) data += static_cast<char>('a' + (i * 7) % 26);
  write_file(dir.file("big.txt.gz"), gzip(data));
  Stream* s = stream_open(dir.file("big.txt").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(stream_seek(s, 0), 0);  // compressed streams cannot seek
  EXPECT_EQ(read_all(s), data);
  EXPECT_FALSE(stream_error(s));
  stream_close(s);
}

TEST_F(StreamTest, GzipHeaderFieldsAreSkipped) {
  std::string extra = std::string("\x04\x00", 2) + "abcd";
  std::string fields = extra + "name.txt" + std::string(1, '\0') + "comment" + std::string(1, '\0') + "\x12\x34";
  write_file(dir.file("f.gz"), gzip("payload", 4 | 8 | 16 | 2, fields));
  Stream* s = stream_open(dir.file("f").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(read_all(s), "payload");
  EXPECT_FALSE(stream_error(s));
  stream_close(s);
}

TEST_F(StreamTest, BadGzipHeadersFailTheOpen) {
  const std::string good = gzip("x");
  std::string bad_magic = good;
  bad_magic[1] = 0;
  std::string bad_method = good;
  bad_method[2] = 7;
  std::string high_flags = good;
  high_flags[3] = 32;
  const std::string cases[] = {bad_magic, bad_method, high_flags, good.substr(0, 6), ""};
  for (const std::string& c : cases) {
    write_file(dir.file("h.gz"), c);
    EXPECT_EQ(stream_open(dir.file("h").c_str(), "rb"), nullptr);
  }
}

TEST_F(StreamTest, DamagedOrTruncatedGzipIsAnError) {
  std::string data(5000, 'q');
  for (size_t i = 0; i < data.size(); i += 3) data[i] = static_cast<char>('a' + i % 20);
  std::string good = gzip(data);
  std::string bad_crc = good;
  bad_crc[bad_crc.size() - 6] ^= 1;
  std::string bad_size = good;
  bad_size[bad_size.size() - 2] ^= 1;
  std::string truncated = good.substr(0, good.size() / 2);
  std::string no_trailer = good.substr(0, good.size() - 8);
  for (const std::string& c : {bad_crc, bad_size, truncated, no_trailer}) {
    write_file(dir.file("d.gz"), c);
    Stream* s = stream_open(dir.file("d").c_str(), "rb");
    ASSERT_NE(s, nullptr);
    read_all(s);
    EXPECT_TRUE(stream_error(s));
    stream_close(s);
    size_t size = 0;
    EXPECT_EQ(stream_read_all(dir.file("d").c_str(), &size), nullptr);
  }
}

TEST_F(StreamTest, ScrambledVariantsRoundTrip) {
  std::string plain = "tile 0 friction 1.2\nsecond line\n";
  std::string scrambled = plain;
  uint32_t st = scramble_seed;
  scramble_bytes(reinterpret_cast<uint8_t*>(scrambled.data()), scrambled.size(), &st);
  EXPECT_NE(scrambled, plain);
  write_file(dir.file("a.scram"), scrambled);
  Stream* s = stream_open(dir.file("a").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(stream_seek(s, 0), 0);
  EXPECT_EQ(read_all(s), plain);
  stream_close(s);
  // Compressed, then scrambled: descrambled first, then inflated.
  std::string gz = gzip(plain);
  st = scramble_seed;
  scramble_bytes(reinterpret_cast<uint8_t*>(gz.data()), gz.size(), &st);
  write_file(dir.file("b.gz.scram"), gz);
  s = stream_open(dir.file("b").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(read_all(s), plain);
  EXPECT_FALSE(stream_error(s));
  stream_close(s);
}

TEST_F(StreamTest, WritingCreatesFoldersAndPlainStreamsOnly) {
  std::string path = dir.file("deep/er/out.txt");
  Stream* s = stream_open(path.c_str(), "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(stream_putc(s, 'A'));
  EXPECT_TRUE(stream_puts(s, "BC"));
  EXPECT_EQ(stream_write(s, "DE", 2), 2u);
  EXPECT_EQ(stream_printf(s, "%d %.1f\n", 7, 2.5), 6);
  EXPECT_TRUE(stream_flush(s));
  stream_close(s);
  EXPECT_EQ(read_file(path), "ABCDE7 2.5\n");
  s = stream_open(path.c_str(), "rb");
  EXPECT_FALSE(stream_putc(s, 'x'));
  stream_close(s);
}

}  // namespace
