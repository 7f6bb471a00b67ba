// The frame budget and the tick loop with an injected clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/frame_budget.h"
#include "core/game.h"
#include "core/options.h"
#include "core/session.h"

namespace {

struct FakeClock {
  double now = 100.0;
  double slept = 0;
  int sleeps = 0;
};

double fake_now(void* ctx) { return static_cast<FakeClock*>(ctx)->now; }
void fake_sleep(void* ctx, double seconds) {
  auto* c = static_cast<FakeClock*>(ctx);
  c->now += seconds;
  c->slept += seconds;
  c->sleeps++;
}

struct BudgetTest : ::testing::Test {
  FakeClock fake;
  FrameClock clock{fake_now, fake_sleep, &fake};
  void SetUp() override {
    options_set_defaults(&options);
    memset(&session, 0, sizeof session);
    session.frame_stats.shortest_interval = 1.0;
    session.previous_wall = fake.now;
  }
  // One frame that took `frame` seconds of work; returns the ticks it ran.
  int frame(double work, const BudgetInputs& in) {
    fake.now += work;
    double budget = frame_budget(&session, &clock, &in);
    session.target_time += budget;
    return game_run_ticks(fake.now);
  }
};

TEST_F(BudgetTest, SlowFrameIsCappedAtSixteenTicks) {
  BudgetInputs in{};
  EXPECT_EQ(frame(1.0, in), 16);
  EXPECT_DOUBLE_EQ(session.sim_time, 0.125);
  EXPECT_EQ(session.frame_stats.histogram[7], 1);
}

TEST_F(BudgetTest, FastFrameWaitsForOneTick) {
  BudgetInputs in{};
  EXPECT_EQ(frame(0.003, in), 1);
  EXPECT_NEAR(fake.slept, tick_seconds - 0.003, 1e-12);
  EXPECT_EQ(session.frame_stats.histogram[0], 1);
}

TEST_F(BudgetTest, LockedFrameRateKeepsWithinOneTickOfItsTime) {
  BudgetInputs in{};
  in.lock_fps = 30;
  for (int n = 1; n <= 300; ++n) {
    int ticks = frame(0.001, in);
    EXPECT_TRUE(ticks == 4 || ticks == 5) << "frame " << n << " ran " << ticks;
    EXPECT_LE(std::fabs(session.sim_time - n / 30.0), tick_seconds + 1e-9) << "frame " << n;
  }
}

TEST_F(BudgetTest, WarpRunsOneHundredTicks) {
  BudgetInputs in{};
  in.warp = true;
  EXPECT_EQ(frame(0.001, in), 100);
  EXPECT_EQ(fake.sleeps, 0);
}

TEST_F(BudgetTest, HeadlessRunsSixteenTicksWithoutTheClock) {
  BudgetInputs in{};
  in.headless = true;
  EXPECT_EQ(frame(0, in), 16);
  EXPECT_EQ(frame(0, in), 16);
  EXPECT_EQ(fake.sleeps, 0);
}

TEST(ClockFollowing, FactorByServerDistance) {
  // Local ahead of the server: slow down to at least half speed.
  EXPECT_DOUBLE_EQ(clock_following_factor(100, 100, 0), 0.5 + 0.5 * (1 - tick_seconds));
  EXPECT_DOUBLE_EQ(clock_following_factor(0, 1000, 0), 0.5);
  // Behind after the gate drop: at most 1/8 faster.
  EXPECT_DOUBLE_EQ(clock_following_factor(1000, 0, 0), 1.125);
  EXPECT_DOUBLE_EQ(clock_following_factor(101, 100, 0), 1.0);
  // Before the gate drop the client may catch up four times as fast.
  EXPECT_DOUBLE_EQ(clock_following_factor(1000, 0, 5000), 4.0);
}

}  // namespace
