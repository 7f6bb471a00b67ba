// Tests of demo files: header round trips and checks, the block chain, playback and seeking,
// the backups rotation and the "namedemo" rule.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "demo/demo.h"
#include "resources/data.h"
#include "test_support.h"

namespace {

bool any_track(const char* name) { return strcmp(name, "ridgeback") == 0; }

struct Block {
  int tick;
  int type;
  std::string payload;
};

std::string entry(int rider, int tick, uint8_t fill) {
  std::string e(44, static_cast<char>(fill));
  e[0] = static_cast<char>(rider);
  for (int i = 0; i < 4; ++i) e[1 + i] = static_cast<char>(static_cast<uint32_t>(tick) >> (8 * i));
  e[5 + 18] = static_cast<char>(fill | 1);
  return e;
}

DemoHeader two_riders() {
  DemoHeader h = {};
  h.rider_count = 2;
  h.time_limit_ticks = 0;
  h.extra_laps = 2;
  h.gate_drop_tick = 1800;
  strcpy(h.track, "ridgeback");
  strcpy(h.riders[0].bike, "rm125");
  strcpy(h.riders[0].number, "7");
  strcpy(h.riders[0].name, "Ann");
  strcpy(h.riders[1].bike, "cr250");
  strcpy(h.riders[1].body_texture, "blue");
  strcpy(h.riders[1].number, "42");
  return h;
}

void write_demo(const char* name, const DemoHeader& h, const std::vector<Block>& blocks) {
  DemoWriter w;
  ASSERT_TRUE(demo_writer_open(&w, name));
  ASSERT_TRUE(demo_write_header(&w, &h));
  for (const Block& b : blocks)
    ASSERT_TRUE(demo_write_block(&w, b.tick, b.type, b.payload.data(), static_cast<uint32_t>(b.payload.size())));
  ASSERT_TRUE(demo_writer_close(&w));
}

struct Collected {
  std::vector<std::string> entries;
  std::vector<std::string> messages;
};

void collect_entry(void* c, int rider, int tick, const StateRecord* r) {
  std::string e(1, static_cast<char>(rider));
  for (int i = 0; i < 4; ++i) e += static_cast<char>(static_cast<uint32_t>(tick) >> (8 * i));
  e.append(reinterpret_cast<const char*>(r->bytes), state_record_size);
  static_cast<Collected*>(c)->entries.push_back(e);
}
void collect_message(void* c, int, const char* text) { static_cast<Collected*>(c)->messages.push_back(text); }

// Sixteen ticks apart, with lengths that vary so the chain means something.
std::vector<Block> many_blocks(int count) {
  std::vector<Block> blocks;
  for (int k = 0; k < count; ++k) {
    std::string payload;
    for (int e = 0; e < 1 + k % 3; ++e) payload += entry(e % 2, k * 16 - 4 * e, static_cast<uint8_t>(k));
    blocks.push_back({k * 16, demo_block_states, payload});
    if (k % 5 == 4) blocks.push_back({k * 16, demo_block_message, "hello " + std::to_string(k)});
  }
  return blocks;
}

class DemoFileTest : public ::testing::Test {
 protected:
  DataRootsFixture roots;
  std::string home_file(const std::string& name) { return roots.home + name; }
  void SetUp() override {
    clear_history();
    console_clear();
  }
  void TearDown() override {
    demo_stop_playback();
    demo_stop_recording();
  }
};

}  // namespace

TEST_F(DemoFileTest, SyntheticDemoIsLoadedAndReEmittedByteForByte) {
  std::vector<Block> blocks = many_blocks(12);
  blocks.push_back({200, 9, "future block type"});
  write_demo("@demos/a.kvdemo", two_riders(), blocks);
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, "@demos/a.kvdemo", any_track), demo_loaded);
  EXPECT_EQ(r.header.version, 6);
  EXPECT_EQ(r.header.extra_laps, 2);
  EXPECT_EQ(r.header.gate_drop_tick, 1800);
  EXPECT_STREQ(r.header.riders[1].body_texture, "blue");
  EXPECT_STREQ(r.header.riders[0].name, "Ann");
  std::vector<Block> again;
  DemoBlockHeader h;
  while (demo_peek_block(&r, &h)) {
    Collected c;
    DemoBlockSink sink = {&c, collect_entry, collect_message};
    ASSERT_TRUE(demo_read_block(&r, &sink));
    std::string payload;
    for (const std::string& e : c.entries) payload += e;
    for (const std::string& m : c.messages) payload += m;
    if (h.type != demo_block_states && h.type != demo_block_message) payload = "future block type";
    again.push_back({h.tick, h.type, payload});
  }
  DemoHeader header = r.header;
  demo_reader_close(&r);
  write_demo("@demos/b.kvdemo", header, again);
  EXPECT_EQ(read_file(home_file("demos/a.kvdemo")), read_file(home_file("demos/b.kvdemo")));
  EXPECT_FALSE(file_exists(home_file("demos/a.kvdemo.tmp")));
}

TEST_F(DemoFileTest, HeaderTextIsCleanedSoTheDemoLoadsAgain) {
  DemoHeader h = two_riders();
  std::string long_name(100, 'x');
  strcpy(h.riders[0].bike, "rm|125\nx");
  snprintf(h.riders[0].name, sizeof h.riders[0].name, "%s", "bad\nname\x01|");
  char big[200];
  snprintf(big, sizeof big, "%s", long_name.c_str());
  demo_clean_text(h.riders[1].name, big);
  write_demo("@demos/c.kvdemo", h, {});
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, "@demos/c.kvdemo", any_track), demo_loaded);
  EXPECT_STREQ(r.header.riders[0].bike, "rm125x");
  EXPECT_STREQ(r.header.riders[0].name, "badname");
  EXPECT_EQ(strlen(r.header.riders[1].name), 63u);
  demo_reader_close(&r);
}

TEST_F(DemoFileTest, HeadersAreValidated) {
  struct Case {
    const char* text;
    DemoLoadResult result;
  } cases[] = {
      {"KV06 1 0 3 100\nridgeback\nrm125||||\n7\nAnn\n\n", demo_loaded},
      {"KV05 1 0 3\nridgeback\nrm125||||\n7\n", demo_loaded},
      {"KV04 1 0 3 100\nridgeback\nrm125||||\n7\n", demo_old_version},
      {"KV07 1 0 3 100\nridgeback\n", demo_bad_header},
      {"KV06 161 0 3 100\nridgeback\n", demo_bad_header},
      {"KV06 -1 0 3 100\nridgeback\n", demo_bad_header},
      {"KV06 0 -5 3 100\nridgeback\n", demo_bad_header},
      {"KV06 0 0 1000001 100\nridgeback\n", demo_bad_header},
      {"KV06 0 0 -1 100\nridgeback\n", demo_bad_header},
      {"KV06 0\nridgeback\n", demo_bad_header},
      {"KV06 0 0 3 100\nnowhere\n", demo_unknown_track},
      {"KV06 0 0 3 100\nridgeback", demo_bad_header},              // no "\n"
      {"KV06 1 0 3 100\nridgeback\nrm125||||\n7\nAnn\n", demo_bad_header},  // no empty line
      {"KV06 1 0 3 100\nridgeback\nrm125||||\n7\n", demo_bad_header},       // truncated rider
      {"", demo_bad_header},
  };
  for (const Case& c : cases) {
    write_file(home_file("demos/h.kvdemo"), c.text);
    DemoReader r;
    EXPECT_EQ(demo_reader_open(&r, "@demos/h.kvdemo", any_track), c.result) << c.text;
    demo_reader_close(&r);
  }
  // A line longer than 1023 characters fails the load.
  write_file(home_file("demos/h.kvdemo"), "KV06 0 0 3 100\n" + std::string(1100, 'r') + "\n");
  DemoReader r;
  EXPECT_EQ(demo_reader_open(&r, "@demos/h.kvdemo", nullptr), demo_bad_header);
  // A missing gate drop is 14 s.
  write_file(home_file("demos/h.kvdemo"), "KV06 0 0 3\nridgeback\n");
  ASSERT_EQ(demo_reader_open(&r, "@demos/h.kvdemo", any_track), demo_loaded);
  EXPECT_EQ(r.header.gate_drop_tick, 14 * 128);
  EXPECT_STREQ(r.header.track, "ridgeback");
  demo_reader_close(&r);
}

TEST_F(DemoFileTest, VersionFourIsRefusedOnTheConsole) {
  write_file(home_file("demos/old.kvdemo"), "KV04 1 0 3 100\nridgeback\nrm125||||\n7\n");
  EXPECT_FALSE(demo_load("@demos/old.kvdemo", false, any_track));
  ASSERT_NE(console_line(0), nullptr);
  EXPECT_NE(strstr(console_line(0), "version 4"), nullptr);
}

TEST_F(DemoFileTest, LengthChainWalkedBackMatchesTheForwardOffsets) {
  write_demo("@demos/w.kvdemo", two_riders(), many_blocks(30));
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, "@demos/w.kvdemo", any_track), demo_loaded);
  std::vector<int64_t> positions;
  std::vector<int> ticks;
  DemoBlockHeader h;
  while (demo_peek_block(&r, &h)) {
    positions.push_back(r.position);
    ticks.push_back(h.tick);
    ASSERT_TRUE(demo_read_block(&r, nullptr));
  }
  // Back from the end, one target at a time, to the newest block at or before each tick.
  for (int k = static_cast<int>(ticks.size()) - 1; k >= 0; --k) {
    ASSERT_TRUE(demo_walk_back(&r, ticks[k]));
    size_t expect = 0;
    for (size_t j = 0; j < ticks.size(); ++j)
      if (ticks[j] <= ticks[k] && positions[j] <= r.position) expect = j;
    EXPECT_EQ(r.position, positions[expect]) << "tick " << ticks[k];
    ASSERT_TRUE(demo_peek_block(&r, &h));
    EXPECT_EQ(h.tick, ticks[expect]);
  }
  // And forward again from there reads the same blocks.
  ASSERT_TRUE(demo_walk_back(&r, 0));
  EXPECT_EQ(r.position, positions[0]);
  size_t n = 0;
  while (demo_peek_block(&r, &h)) {
    EXPECT_EQ(r.position, positions[n]);
    ASSERT_TRUE(demo_read_block(&r, nullptr));
    ++n;
  }
  EXPECT_EQ(n, positions.size());
  demo_reader_close(&r);
}

TEST_F(DemoFileTest, TruncatedBlocksAndOddLengthsEndOrSkipCleanly) {
  std::vector<Block> blocks = {
      {0, demo_block_states, entry(0, 0, 1)},
      {16, demo_block_states, entry(0, 16, 2) + "odd"},  // not a multiple of 44: skipped
      {32, demo_block_states, entry(0, 32, 3) + entry(1, 32, 3)},
  };
  write_demo("@demos/t.kvdemo", two_riders(), blocks);
  std::string bytes = read_file(home_file("demos/t.kvdemo"));
  DemoReader r;
  Collected c;
  DemoBlockSink sink = {&c, collect_entry, collect_message};
  ASSERT_EQ(demo_reader_open(&r, "@demos/t.kvdemo", any_track), demo_loaded);
  while (demo_read_block(&r, &sink)) {
  }
  EXPECT_EQ(c.entries.size(), 3u);
  demo_reader_close(&r);
  // Cut inside the last block's second entry: reading stops there and goes no further.
  write_file(home_file("demos/t.kvdemo"), bytes.substr(0, bytes.size() - 20));
  c = {};
  ASSERT_EQ(demo_reader_open(&r, "@demos/t.kvdemo", any_track), demo_loaded);
  int read = 0;
  while (demo_read_block(&r, &sink)) ++read;
  EXPECT_EQ(read, 2);
  EXPECT_TRUE(r.ended);
  DemoBlockHeader h;
  EXPECT_FALSE(demo_peek_block(&r, &h));
  demo_reader_close(&r);
}

TEST_F(DemoFileTest, PlaybackReadsHalfASecondAheadAndSkipsBadIndices) {
  std::vector<Block> blocks;
  for (int k = 0; k < 20; ++k) {
    std::string p = entry(0, 100 + 16 * k, 5) + entry(1, 100 + 16 * k, 6) + entry(2, 100 + 16 * k, 7) +
                    entry(200, 100 + 16 * k, 8);
    blocks.push_back({100 + 16 * k, demo_block_states, p});
  }
  blocks.insert(blocks.begin() + 3, {148, demo_block_message, "Server says hi"});
  write_demo("@demos/p.kvdemo", two_riders(), blocks);
  ASSERT_TRUE(demo_load("@demos/p.kvdemo", false, any_track));
  const DemoRiderDesc* d;
  int index;
  ASSERT_TRUE(demo_next_rider(&d, &index));
  EXPECT_EQ(index, 0);
  EXPECT_STREQ(d->number, "7");
  ASSERT_TRUE(demo_next_rider(&d, &index));
  EXPECT_FALSE(demo_next_rider(&d, &index));
  demo_assign_slot(0, 4);  // rider 1 has no slot: its entries are skipped
  int tick = 0;
  demo_play_tick(&tick);
  EXPECT_EQ(tick, 100);  // the first block sets the race clock
  int before, after;
  ASSERT_TRUE(history_span(4, 100 + 64, &before, &after));
  EXPECT_EQ(before, 148);
  EXPECT_EQ(after, 164);
  EXPECT_FALSE(history_span(4, 100 + 65, &before, &after) && after > 164);
  for (int s = 0; s < max_riders; ++s) {
    if (s != 4) {
      EXPECT_EQ(state_history.slots[s].entries[state_history.slots[s].head].tick, -1) << s;
    }
  }
  bool saw = false;
  for (int i = 0; i < 10; ++i)
    if (console_line(i) && strcmp(console_line(i), "Server says hi") == 0) saw = true;
  EXPECT_TRUE(saw);

  // Seeking back re-reads: clear the history and play from tick 150.
  tick = 400;
  demo_play_tick(&tick);
  ASSERT_TRUE(demo_seek_to(150));
  clear_history();
  tick = 150;
  demo_play_tick(&tick);
  EXPECT_EQ(tick, 150);
  ASSERT_TRUE(history_span(4, 150, &before, &after));
  EXPECT_EQ(before, 148);
  ASSERT_TRUE(history_span(4, 90, &before, &after));
  EXPECT_EQ(after, 100);  // the walk went back to a block before the target
}

TEST_F(DemoFileTest, HotLapGhostStartsNow) {
  write_demo("@demos/g.kvdemo", two_riders(), {{500, demo_block_states, entry(0, 500, 1)}});
  ASSERT_TRUE(demo_load("@demos/g.kvdemo", true, any_track));
  demo_assign_slot(0, 1);
  int tick = 38400;
  demo_play_tick(&tick);
  EXPECT_EQ(tick, 38400);
  int before, after;
  ASSERT_TRUE(history_span(1, 38400, &before, &after));
  EXPECT_EQ(after, 38400);
}

TEST_F(DemoFileTest, VersionFiveRecordsPlayTickByTickAndSeekByOffset) {
  std::string text = "KV05 2 0 3 100\nridgeback\nrm125||||\n7\ncr250||||\n8\n";
  for (int t = 1; t <= 50; ++t)
    for (int i = 0; i < 2; ++i) text += entry(0, 0, static_cast<uint8_t>(t)).substr(5);
  text += std::string(10, 'x');  // a torn last record set
  write_file(home_file("demos/v5.kvdemo"), text);
  ASSERT_TRUE(demo_load("@demos/v5.kvdemo", false, any_track));
  demo_assign_slot(0, 0);
  demo_assign_slot(1, 3);
  int tick = 0;
  demo_play_tick(&tick);
  int before, after;
  ASSERT_TRUE(history_span(3, 8, &before, &after));
  EXPECT_EQ(after, 8);
  EXPECT_FALSE(history_span(3, 9, &before, &after) && after > 8);
  ASSERT_TRUE(demo_seek_to(40));
  clear_history();
  tick = 60;
  demo_play_tick(&tick);
  ASSERT_TRUE(history_span(0, 45, &before, &after));
  EXPECT_EQ(before, 44);
  EXPECT_EQ(state_history.slots[0].entries[state_history.slots[0].head].tick, 50);
  EXPECT_EQ(state_history.slots[0].entries[state_history.slots[0].head].record.bytes[0], 50);
  EXPECT_EQ(demo_playback.sound_volume[3], 0.0f);  // past the end: the engine is silent
}

TEST_F(DemoFileTest, RecordingWritesCountedRecordsEverySixteenTicks) {
  DemoHeader h = two_riders();
  int slots[2] = {0, 5};
  ASSERT_TRUE(demo_start_recording(&h, slots, 2, nullptr, 0));
  StateRecord rec = {};
  rec.bytes[18] = 1;
  for (int t = 1; t <= 32; ++t) {
    // The slots are empty, so nothing is packed: feed their histories as a network would.
    if (t % 4 == 0) {
      rec.bytes[0] = static_cast<uint8_t>(t);
      add_state_to_history(5, &rec, t);
    }
    demo_record_tick(t, false);
  }
  demo_record_message(33, "chat line");
  demo_stop_recording();
  EXPECT_FALSE(file_exists(home_file("demos/default.kvdemo.tmp")));
  DemoReader r;
  ASSERT_EQ(demo_reader_open(&r, demo_default_name, any_track), demo_loaded);
  EXPECT_EQ(r.header.rider_count, 2);
  std::vector<int> block_ticks;
  Collected c;
  DemoBlockSink sink = {&c, collect_entry, collect_message};
  DemoBlockHeader bh;
  while (demo_peek_block(&r, &bh)) {
    block_ticks.push_back(bh.tick);
    ASSERT_TRUE(demo_read_block(&r, &sink));
  }
  EXPECT_EQ(block_ticks, (std::vector<int>{16, 32, 33}));
  ASSERT_EQ(c.entries.size(), 8u);
  EXPECT_EQ(c.entries[0][0], 1);  // rider index of slot 5
  EXPECT_EQ(static_cast<uint8_t>(c.entries[0][5]), 4);
  EXPECT_EQ(c.messages, (std::vector<std::string>{"chat line"}));
  demo_reader_close(&r);
}

TEST_F(DemoFileTest, BackupsRotateOnlyExistingFiles) {
  std::filesystem::create_directories(home_file("demos"));
  write_file(home_file("demos/default.kvdemo"), "current");
  write_file(home_file("demos/default00.kvdemo"), "zero");
  write_file(home_file("demos/default01.kvdemo"), "one");
  write_file(home_file("demos/default02.kvdemo"), "two");
  demo_rotate_backups(3);
  EXPECT_FALSE(file_exists(home_file("demos/default.kvdemo")));
  EXPECT_EQ(read_file(home_file("demos/default00.kvdemo")), "current");
  EXPECT_EQ(read_file(home_file("demos/default01.kvdemo")), "zero");
  EXPECT_EQ(read_file(home_file("demos/default02.kvdemo")), "one");
  EXPECT_FALSE(file_exists(home_file("demos/default03.kvdemo")));
  // A gap: number 00 is missing, so nothing moves into 01.
  std::filesystem::remove(home_file("demos/default00.kvdemo"));
  write_file(home_file("demos/default.kvdemo"), "new");
  demo_rotate_backups(3);
  EXPECT_EQ(read_file(home_file("demos/default00.kvdemo")), "new");
  EXPECT_FALSE(file_exists(home_file("demos/default01.kvdemo")));
  EXPECT_EQ(read_file(home_file("demos/default02.kvdemo")), "zero");
  // No backups: the default stays where it is until the new recording replaces it.
  write_file(home_file("demos/default.kvdemo"), "kept");
  demo_rotate_backups(0);
  EXPECT_EQ(read_file(home_file("demos/default.kvdemo")), "kept");
}

TEST_F(DemoFileTest, NamedDemoGetsItsSuffixAndTakesTheRecording) {
  struct Case {
    const char* name;
    bool ok;
    const char* stored;
  } cases[] = {
      {"race1", true, "race1.kvdemo"},
      {"race2.kvdemo", true, "race2.kvdemo"},
      {"race.kvdemo.bak", true, "race.kvdemo.bak.kvdemo"},
      {"../up", false, ""},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    demo_set_name(nullptr);
    EXPECT_EQ(demo_set_name(c.name), c.ok) << c.name;
    EXPECT_STREQ(demo_recording.name, c.stored) << c.name;
  }
  demo_set_name("mine");
  DemoHeader h = two_riders();
  ASSERT_TRUE(demo_start_recording(&h, nullptr, 0, nullptr, 0));
  demo_stop_recording();
  demo_set_name(nullptr);
  EXPECT_TRUE(file_exists(home_file("demos/mine.kvdemo")));
  EXPECT_FALSE(file_exists(home_file("demos/default.kvdemo")));
}

TEST_F(DemoFileTest, ARecordingThatCannotBeCreatedSaysSo) {
  // "demos" is a plain file: no folder can hold the recording.
  write_file(home_file("demos"), "in the way");
  DemoHeader h = two_riders();
  EXPECT_FALSE(demo_start_recording(&h, nullptr, 0, nullptr, 0));
  ASSERT_NE(console_line(0), nullptr);
  EXPECT_NE(strstr(console_line(0), "Can't create demo file"), nullptr);
  EXPECT_FALSE(demo_recording.active);
}
