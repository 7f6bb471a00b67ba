// The frame budget: game time never depends on the frame rate, only on whole ticks.
#include "core/frame_budget.h"

#include <algorithm>

#include "core/session.h"
#include "platform/clock.h"

namespace {

double system_now(void*) {
  long s, us;
  velk_time(&s, &us);
  return static_cast<double>(s) + static_cast<double>(us) * 1e-6;
}

void system_sleep(void*, double seconds) {
  if (seconds <= 0) return;
  long s = static_cast<long>(seconds);
  long us = static_cast<long>((seconds - static_cast<double>(s)) * 1e6);
  velk_sleep(s, us);
}

void note_interval(FrameStats* st, double elapsed) {
  st->shortest_interval = std::min(st->shortest_interval, elapsed);
  st->longest_interval = std::max(st->longest_interval, elapsed);
  int k = 0;
  double bound = tick_seconds;
  while (k < 7 && elapsed >= bound) {
    ++k;
    bound *= 2;
  }
  st->histogram[k]++;
}

}  // namespace

FrameClock frame_clock_system() { return FrameClock{system_now, system_sleep, nullptr}; }

double clock_following_factor(long long server_tick, long long local_tick, long long gate_drop_tick) {
  double g = static_cast<double>(server_tick - local_tick - 1) * tick_seconds;
  if (g < 0) return 0.5 + 0.5 * std::clamp(g + 1, 0.0, 1.0);
  if (local_tick >= gate_drop_tick) return 1 + 0.125 * std::clamp(8 * g, 0.0, 1.0);
  return 1 + 3 * std::clamp(g, 0.0, 1.0);
}

double frame_budget(Session* s, const FrameClock* clock, const BudgetInputs* in) {
  double budget;
  if (in->headless) {
    budget = 16 * tick_seconds;
  } else {
    double now = clock->now(clock->ctx);
    double elapsed = now - s->previous_wall;
    note_interval(&s->frame_stats, elapsed);
    if (!in->connected && in->lock_fps > 0) {
      double frame = 1.0 / in->lock_fps;
      if (elapsed < frame) {
        clock->sleep(clock->ctx, frame - elapsed);
        now = clock->now(clock->ctx);
      }
      budget = frame;
      s->previous_wall = now;
    } else if (!in->connected && in->warp) {
      budget = 100 * tick_seconds;
      s->previous_wall = now;
    } else {
      // Never more than 128 frames a second: wait until at least one tick is due.
      while (elapsed < tick_seconds) {
        clock->sleep(clock->ctx, tick_seconds - elapsed);
        now = clock->now(clock->ctx);
        elapsed = now - s->previous_wall;
      }
      budget = std::min(elapsed, 0.125);
      s->previous_wall = now;
      if (in->connected) budget *= clock_following_factor(in->server_tick, in->local_tick, in->gate_drop_tick);
    }
  }
  FrameStats* st = &s->frame_stats;
  if (st->shortest_budget == 0 || budget < st->shortest_budget) st->shortest_budget = budget;
  st->longest_budget = std::max(st->longest_budget, budget);
  return budget;
}
