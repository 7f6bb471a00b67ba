// How much game time a frame adds: measured, locked, warped or following the server's clock.
#pragma once

struct Session;

// The wall clock and sleep the budget uses; tests inject their own.
struct FrameClock {
  double (*now)(void* ctx);                 // wall time, s
  void (*sleep)(void* ctx, double seconds);
  void* ctx;
};

struct BudgetInputs {
  double lock_fps;       // 0 = not locked
  bool warp;
  bool headless;         // a fixed 16 ticks, no clock, no sleeping
  bool connected;
  long long server_tick;     // the server's latest tick number
  long long local_tick;
  long long gate_drop_tick;
};

FrameClock frame_clock_system();
// Measures the frame, sleeps when the frame came too early, updates the frame statistics and
// returns the budget in game seconds.
double frame_budget(Session* s, const FrameClock* clock, const BudgetInputs* in);
// Multiplier that lets a connected client catch up with or wait for the server.
double clock_following_factor(long long server_tick, long long local_tick, long long gate_drop_tick);
