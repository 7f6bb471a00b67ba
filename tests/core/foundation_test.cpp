// Shared helpers: digests, the random generator, interned strings, arrays, console lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/array.h"
#include "core/console.h"
#include "core/digest.h"
#include "core/memory.h"
#include "core/random.h"
#include "core/session.h"

namespace {

TEST(Digest, PublishedVectors) {
  struct Case {
    std::string text;
    const char* hex;
  };
  const Case cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {std::string(1000000, 'a'), "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
  for (const Case& c : cases) {
    Digest d = digest_of(c.text.data(), c.text.size());
    char hex[41];
    digest_hex(&d, hex);
    EXPECT_STREQ(hex, c.hex) << c.text.substr(0, 20);
    std::string upper = c.hex;
    for (char& ch : upper) ch = static_cast<char>(toupper(ch));
    EXPECT_TRUE(digest_matches_hex(&d, upper.c_str()));
  }
  // Fed in pieces, the digest is the same.
  DigestContext ctx;
  digest_begin(&ctx);
  digest_update(&ctx, "message ", 8);
  digest_update(&ctx, "digest", 6);
  Digest d = digest_end(&ctx);
  EXPECT_TRUE(digest_matches_hex(&d, "5d0689ef49d2fae572b881b123a85ffa21595f36"));
  EXPECT_FALSE(digest_matches_hex(&d, "5d0689ef"));
}

TEST(Random, Mt19937AndUniform) {
  rng_seed(5489u);
  uint32_t v = 0;
  for (int i = 0; i < 10000; ++i) v = rng_next();
  EXPECT_EQ(v, 4123659995u);
  rng_seed(0);
  for (int i = 0; i < 1000; ++i) {
    double u = rng_uniform();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
  // Reseeding repeats the sequence: race starts reseed with race_tick.
  rng_seed(77);
  uint32_t a = rng_next();
  rng_seed(77);
  EXPECT_EQ(rng_next(), a);
  rng_seed(77);
  EXPECT_EQ(rng_uniform(), static_cast<double>(a & 0x7FFFFFFFu) / 2147483648.0);
}

TEST(InternString, EqualTextsShareOnePointer) {
  std::string a = "rabbithill", b = "rabbit";
  b += "hill";
  const char* pa = intern_string(a.c_str());
  EXPECT_EQ(pa, intern_string(b.c_str()));
  EXPECT_NE(pa, a.c_str());
  EXPECT_NE(pa, intern_string("Rabbithill"));
  EXPECT_EQ(intern_string(nullptr), nullptr);
}

TEST(Array, StartsAtSixteenAndDoubles) {
  Array<int> a;
  array_push(&a, 1);
  EXPECT_EQ(a.capacity, 16);
  for (int i = 2; i <= 17; ++i) array_push(&a, i);
  EXPECT_EQ(a.capacity, 32);
  EXPECT_EQ(a.count, 17);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(a.items[i], i + 1);
  array_free(&a);
  EXPECT_EQ(a.items, nullptr);
}

TEST(Console, LinesExpireOneAtATime) {
  console_clear();
  console_message_lines = 5;
  session.total_game_time = 10;
  for (int i = 0; i < 7; ++i) console_printf("line %d", i);
  EXPECT_EQ(console.visible, 5);
  EXPECT_STREQ(console_line(0), "line 6");
  EXPECT_STREQ(console_line(6), "line 0");
  EXPECT_DOUBLE_EQ(console.expiry, 12);
  console_update_expiry(11.9);
  EXPECT_EQ(console.visible, 5);
  console_update_expiry(12.1);
  EXPECT_EQ(console.visible, 4);
  EXPECT_DOUBLE_EQ(console.expiry, 17);
  console_update_expiry(12.2);  // once per expiry, not once per frame
  EXPECT_EQ(console.visible, 4);
  for (double t = 17.1; t < 40; t += 5) console_update_expiry(t);
  EXPECT_EQ(console.visible, 0);
  // A long line is cut to the ring's width; the trailing newline is not kept.
  console_print((std::string(300, 'x') + "\n").c_str());
  EXPECT_EQ(strlen(console_line(0)), static_cast<size_t>(console_line_chars));
  console_print("done\n");
  EXPECT_STREQ(console_line(0), "done");
}

TEST(Session, BindingsAndSlotsStartAsDocumented) {
  Session s{};
  session_init_bindings(&s);
  EXPECT_STREQ(s.channel_bindings[0].binding.settings_key, "left_key");
  EXPECT_STREQ(s.channel_bindings[8].binding.default_key, "right ctrl");
  EXPECT_EQ(s.channel_bindings[10].gain, -1);
  EXPECT_EQ(s.channel_bindings[11].channel, channel_lean);
  EXPECT_STREQ(s.command_bindings[command_rewind].default_key, "\\");
  EXPECT_STREQ(s.command_bindings[command_pause].settings_key, "pause_key");
  session_reset_slots(&s);
  EXPECT_EQ(s.slots[0].lineup_code, 2);
  EXPECT_EQ(s.slots[1].lineup_code, 0);
  s.demo_file = "x.kvdemo";
  session_reset_slots(&s);
  EXPECT_EQ(s.slots[0].lineup_code, 0);
}

}  // namespace
