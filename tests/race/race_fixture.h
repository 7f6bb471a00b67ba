// Fixtures of the race tests: a scripted checkpoint course and riders without bodies whose
// crossings the tests fake through the timing step.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "bike/rider.h"
#include "core/memory.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "race/race_internal.h"
#include "track/timing_gates.h"

// Gates in a row along x, 100 ft apart, radius 10, passed toward +x; the first lap and every
// further lap visit gates 0..gates-1, so checkpoint i is gate i mod gates.
struct ScriptedCourse : ::testing::Test {
  int gates = 6;
  Rider* riders = nullptr;  // one record per slot, no bodies

  void SetUp() override {
    memset(&session, 0, sizeof session);
    race = RaceState{};
    race_slots_clear();
    race_hooks = RaceHooks{};
    race.off_course_bias = 10.0f;
    race.off_course_scale = 1.5f;
    race.client_slot = -1;
    riders = static_cast<Rider*>(xcalloc(max_riders, sizeof(Rider)));
    make_course(gates, gates);
    race.race_laps = race.extra_laps = 3;
  }
  void TearDown() override {
    timing_gates_free();
    memset(&session, 0, sizeof session);
    race_slots_clear();
    race_hooks = RaceHooks{};
    free(riders);
  }

  void make_course(int first, int normal) {
    timing_gates_free();
    timing.gate_count = gates;
    timing.gates = static_cast<TimingGate*>(xcalloc(gates, sizeof(TimingGate)));
    for (int g = 0; g < gates; ++g) {
      timing.gates[g].centre[0] = 100.0f * g;
      timing.gates[g].direction[0] = 1;
      timing.gates[g].radius = 10;
    }
    timing.first_lap_count = first;
    timing.normal_lap_count = normal;
    timing.sequence = static_cast<int*>(xcalloc(first + normal, sizeof(int)));
    for (int i = 0; i < first; ++i) timing.sequence[i] = i % gates;
    for (int i = 0; i < normal; ++i) timing.sequence[first + i] = (i % gates) + not_switch_point;
  }

  Rider* occupy(int slot, SlotKind kind = slot_robot) {
    Rider* r = &riders[slot];
    r->slot = slot;
    session.slots[slot].rider = r;
    session.slots[slot].kind = kind;
    return r;
  }

  // The front wheel 1 ft past the gate of checkpoint idx at tick t.
  void pass(int slot, int idx, int t) {
    race.race_tick = t;
    int gate = idx % gates;
    float front[3] = {100.0f * gate + 1, 0, 0};
    timing_step(slot, front);
  }
  // A spot far from every gate.
  void wander(int slot, int t) {
    race.race_tick = t;
    float front[3] = {50, 0, 500};
    timing_step(slot, front);
  }
  // Passes checkpoints from..to (inclusive) spaced by step ticks, starting at t; returns the
  // tick after the last.
  int ride(int slot, int from, int to, int t, int step) {
    for (int i = from; i <= to; ++i, t += step) pass(slot, i, t);
    return t;
  }
  std::vector<int> crossings(int slot) {
    const Array<int>& c = race_slots[slot].crossings;
    return std::vector<int>(c.items, c.items + c.count);
  }
};
