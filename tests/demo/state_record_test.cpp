// Tests of the packed state record and of the per-slot state history.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/console.h"
#include "demo/state_history.h"
#include "demo/state_record.h"
#include "track/terrain.h"

namespace {

constexpr double pi = 3.14159265358979323846;

PackRange test_range() { return {1024.0f, 0.0f, 100.0f, 1.0f, 0.5f}; }

StatePose hand_made_pose() {
  StatePose p = {};
  p.position[0] = 512;
  p.position[1] = 25;
  p.position[2] = 0;
  p.orientation[0] = 1;
  p.steering = 0;
  p.swingarm = -0.25;
  p.fork = 0;
  p.rider_offset[1] = 2;
  p.rider_orientation[2] = 1;
  p.wheel_angle[0] = 0;
  p.wheel_angle[1] = pi / 2;
  p.gear = 3;
  p.dab = true;
  p.throttle_level = 10;
  p.down_level = -1;
  p.rpm = 8192;
  return p;
}

std::string hex(const StateRecord& r) {
  std::string s;
  char b[4];
  for (uint8_t v : r.bytes) {
    snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

uint32_t u24(const StateRecord& r, int at) {
  return r.bytes[at] | (r.bytes[at + 1] << 8) | (r.bytes[at + 2] << 16);
}

StateRecord record_at(double x, double z) {
  StatePose p = hand_made_pose();
  p.position[0] = x;
  p.position[2] = z;
  PackRange range = test_range();
  StateRecord r;
  state_encode(&p, &range, &r);
  return r;
}

}  // namespace

TEST(StateRecord, HandMadePosePacksToGoldenBytes) {
  PackRange range = test_range();
  StatePose p = hand_made_pose();
  StateRecord r;
  state_encode(&p, &range, &r);
  EXPECT_EQ(hex(r),
            "FFFF7F" "FFFF3F" "000000" "FFFFFF7FFF7FFF7F" "7F" "7F" "FE" "FF7FFF8FFF7F"
            "FF7FFF7FFFFFFF7F" "7F" "BF" "AB" "FF3F");
}

TEST(StateRecord, UnpackThenPackIsByteIdentical) {
  PackRange range = test_range();
  uint32_t seed = 12345;
  for (int n = 0; n < 2000; ++n) {
    StateRecord r;
    for (uint8_t& b : r.bytes) {
      seed = seed * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(seed >> 24);
    }
    r.bytes[18] |= 1;  // every record written carries the marker bit
    if (n == 0) memset(r.bytes, 0xFF, sizeof r.bytes);
    if (n == 1) {
      memset(r.bytes, 0, sizeof r.bytes);
      r.bytes[18] = 1;
    }
    StatePose p;
    state_decode(&r, &range, &p);
    StateRecord again;
    state_encode(&p, &range, &again);
    ASSERT_EQ(hex(r), hex(again)) << "record " << n;
  }
}

TEST(StateRecord, OutOfRangeValuesClampAndMarkerBitIsSet) {
  PackRange range = test_range();
  struct Case {
    double steering, position_x, wheel;
    int steering_byte;
    uint32_t x;
  } cases[] = {
      {2.0, -50, 0, 255, 0},                // beyond full lock: clamped, not wrapped
      {-2.0, 5000, 0, 0, 16777215},
      {NAN, NAN, NAN, 0, 0},                // a broken state still packs
  };
  for (const Case& c : cases) {
    StatePose p = hand_made_pose();
    p.steering = c.steering;
    p.position[0] = c.position_x;
    p.wheel_angle[0] = c.wheel;
    StateRecord r;
    state_encode(&p, &range, &r);
    EXPECT_EQ(r.bytes[17], c.steering_byte);
    EXPECT_EQ(u24(r, 0), c.x);
    EXPECT_EQ(r.bytes[18] & 1, 1);
  }
  // Knocked down: level in the high bits, 7 in the low bits; the wheel angle wraps.
  StatePose p = hand_made_pose();
  p.down_level = 20;
  p.dab = false;
  p.wheel_angle[0] = 2 * pi;  // a full turn is the same as none
  StateRecord r;
  state_encode(&p, &range, &r);
  EXPECT_EQ(r.bytes[36], 0xF7);
  EXPECT_EQ(r.bytes[34], 127);
  StatePose d;
  state_decode(&r, &range, &d);
  EXPECT_EQ(d.down_level, 15);
}

TEST(StateRecord, FlatTerrainPacksHeightsWithOneFootRange) {
  Terrain t = {};
  t.extent = 512;
  t.min_height = 7;
  t.max_height = 7;
  PackRange r = pack_range_for(&t, 1, 1);
  EXPECT_EQ(r.height_range, 1.0f);
  EXPECT_EQ(r.min_height, 7.0f);
  StatePose p = hand_made_pose();
  p.position[1] = 7.5;
  StateRecord rec;
  state_encode(&p, &r, &rec);
  EXPECT_EQ(u24(rec, 3), 8388607u);
}

TEST(StateRecord, InterpolationBlendsAndOnlyPositionsExtrapolate) {
  StateRecord a = record_at(100, 100), b = record_at(200, 100);
  a.bytes[17] = 0;
  b.bytes[17] = 200;
  StateRecord half, twice;
  state_interpolate(&a, &b, 0.5, &half);
  state_interpolate(&a, &b, 2.0, &twice);
  double step = 1024.0 / 16777215;
  EXPECT_NEAR(u24(half, 0) * step, 150, 0.01);
  EXPECT_NEAR(u24(twice, 0) * step, 300, 0.01);
  EXPECT_EQ(half.bytes[17], 100);
  EXPECT_EQ(twice.bytes[17], 200);  // held at the newer record
  EXPECT_EQ(twice.bytes[18] & 1, 1);
}

TEST(StateRecord, QuaternionsBlendTheShortWay) {
  PackRange range = test_range();
  StatePose p = hand_made_pose();
  StateRecord a, b;
  state_encode(&p, &range, &a);
  p.orientation[0] = -1;  // the same rotation with the opposite sign
  state_encode(&p, &range, &b);
  StateRecord m;
  state_interpolate(&a, &b, 0.5, &m);
  StatePose d;
  state_decode(&m, &range, &d);
  EXPECT_NEAR(std::fabs(d.orientation[0]), 1.0, 1e-3);
}

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override { clear_history(); }
  void add(int slot, int tick, double x) {
    StateRecord r = record_at(x, 10);
    add_state_to_history(slot, &r, tick);
  }
  double x_at(int slot, int tick) {
    HistorySample s;
    EXPECT_TRUE(history_sample(slot, tick, false, &s));
    return u24(s.current, 0) * (1024.0 / 16777215);
  }
};

TEST_F(HistoryTest, LateInsertsKeepTickOrderAndDuplicatesAreIgnored) {
  add(3, 8, 108);
  add(3, 16, 116);
  add(3, 12, 112);  // late
  add(3, 12, 500);  // same tick again: ignored
  add(3, 4, 104);   // older than all
  const SlotHistory& h = state_history.slots[3];
  EXPECT_EQ(h.entries[h.head].tick, 16);
  EXPECT_EQ(h.count, 4);
  int ticks[4];
  for (int k = 0; k < 4; ++k) ticks[k] = h.entries[(h.head - 3 + k) & 127].tick;
  EXPECT_EQ(ticks[0], 4);
  EXPECT_EQ(ticks[1], 8);
  EXPECT_EQ(ticks[2], 12);
  EXPECT_EQ(ticks[3], 16);
  EXPECT_NEAR(x_at(3, 12), 112, 0.01);
  EXPECT_NEAR(x_at(3, 10), 110, 0.01);
}

TEST_F(HistoryTest, ExtrapolationStopsAfter64TicksAndTheRiderGoesStale) {
  for (int t = 0; t <= 40; t += 4) add(0, t, 100 + t);
  EXPECT_NEAR(x_at(0, 72), 172, 0.02);
  EXPECT_NEAR(x_at(0, 104), 204, 0.02);   // 64 ticks beyond the newest
  EXPECT_NEAR(x_at(0, 400), 204, 0.02);   // frozen there
  EXPECT_FALSE(history_is_stale(0, 40 + 128));
  EXPECT_TRUE(history_is_stale(0, 40 + 129));
  EXPECT_TRUE(history_is_stale(5, 10));   // nothing recorded
  int before, after;
  EXPECT_TRUE(history_span(0, 20, &before, &after));
  EXPECT_EQ(before, 16);
  EXPECT_EQ(after, 20);
}

TEST_F(HistoryTest, ExtrapolationOfAFullRingUsesTheTwoNewestRecords) {
  // 200 records wrap the ring; the entry after the head is the oldest kept (far behind).
  for (int t = 0; t < 200; ++t) add(1, t, t < 199 ? 100 : 110);
  EXPECT_NEAR(x_at(1, 200), 120, 0.02);
  EXPECT_EQ(state_history.slots[1].count, 128);
}

TEST_F(HistoryTest, OneRecordOrAFutureRecordIsShownAsItIs) {
  add(2, 50, 300);
  EXPECT_NEAR(x_at(2, 10), 300, 0.01);
  EXPECT_NEAR(x_at(2, 90), 300, 0.01);
  HistorySample s;
  EXPECT_FALSE(history_sample(4, 10, false, &s));
}

TEST_F(HistoryTest, ExactOnlyNeverBlends) {
  add(0, 0, 100);
  add(0, 10, 200);
  HistorySample s;
  ASSERT_TRUE(history_sample(0, 5, true, &s));
  EXPECT_NEAR(u24(s.current, 0) * (1024.0 / 16777215), 100, 0.01);
}

TEST_F(HistoryTest, SlotsOutOfRangeAreRefusedOnTheConsole) {
  for (int slot : {160, 1000, -1}) {
    console_clear();
    add(slot, 4, 100);
    ASSERT_NE(console_line(0), nullptr);
    EXPECT_STREQ(console_line(0), "add_state_to_history: slot out of range");
  }
}

TEST_F(HistoryTest, UnwrittenRecordsComeOldestFirst) {
  for (int t = 4; t <= 16; t += 4) add(7, t, t);
  HistoryEntry out[history_size];
  ASSERT_EQ(history_unwritten(7, out, history_size), 4);
  EXPECT_EQ(out[0].tick, 4);
  EXPECT_EQ(out[3].tick, 16);
}
