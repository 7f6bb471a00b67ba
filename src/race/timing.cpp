// Checkpoint crossings, laps, the finish, standings, official results with the cutting penalty,
// and the off-course and ghost rules.
#include <algorithm>
#include <cmath>

#include "bike/rider.h"
#include "core/session.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "race/race_internal.h"
#include "track/timing_gates.h"

namespace {

constexpr int no_one_reference_ticks = 60 * ticks_per_second;

bool timing_usable() { return timing_present() && timing.normal_lap_count > 0; }

Rider* slot_rider(int slot) {
  if (slot < 0 || slot >= max_riders) return nullptr;
  return session.slots[slot].rider;
}

// The recorded crossing tick, or -1 when the checkpoint was skipped or never reached.
int tick_at(int slot, long long idx) {
  if (slot < 0 || slot >= max_riders || idx < 0) return -1;
  const Array<int>& c = race_slots[slot].crossings;
  if (idx >= c.count) return -1;
  return c.items[idx];
}

bool gate_passed(int checkpoint, const float front[3]) {
  int entry = timing_checkpoint_entry(checkpoint);
  int gate = entry >= not_switch_point ? entry - not_switch_point : entry;
  if (gate < 0 || gate >= timing.gate_count) return false;
  const TimingGate& g = timing.gates[gate];
  float dx = front[0] - g.centre[0];
  float dz = front[2] - g.centre[2];
  if (dx * dx + dz * dz > g.radius * g.radius) return false;
  return dx * g.direction[0] + dz * g.direction[2] >= 0;
}

// E: the checkpoint that ends lap race_laps, 0 for a race of no laps.
long long finish_checkpoint() {
  if (race.race_laps <= 0) return 0;
  return static_cast<long long>(timing.first_lap_count) +
         static_cast<long long>(race.race_laps - 1) * timing.normal_lap_count - 1;
}

int laps_of_count(int checkpoints) {
  if (!timing_usable() || checkpoints < timing.first_lap_count) return 0;
  return (checkpoints - timing.first_lap_count) / timing.normal_lap_count + 1;
}

int leader_slot() { return race.standings_count > 0 ? race.standings[0].slot : -1; }

bool local_left_out() { return race.online && !race.has_grid_position; }

// The time over checkpoints s..i when every crossing from s to i is recorded (s < 0 counts
// from tick 0); -1 otherwise.
long long clean_stretch(int slot, long long s, long long i) {
  long long start = s < 0 ? 0 : tick_at(slot, s);
  if (start < 0) return -1;
  for (long long k = std::max<long long>(s + 1, 0); k <= i; ++k)
    if (tick_at(slot, k) < 0) return -1;
  long long d = tick_at(slot, i) - start;
  return d >= 0 ? d : -1;
}

long long reference_ticks(long long s, long long i) {
  const int F = timing.first_lap_count, N = timing.normal_lap_count;
  long long sum = 0, riders = 0;
  for (int e = 0; e < race.standings_count; ++e) {
    int slot = race.standings[e].slot;
    if (local_left_out() && session.slots[slot].kind == slot_local) continue;
    if (s < F) {
      long long d = clean_stretch(slot, s, i);
      if (d >= 0) {
        sum += d;
        riders++;
      }
      continue;
    }
    long long s0 = F + (s - F) % N;
    long long len = i - s;
    long long total = 0, laps = 0;
    const Rider* r = slot_rider(slot);
    int passed = r ? r->checkpoints_passed : 0;
    for (long long a = s0; a + len < passed; a += N) {
      long long d = clean_stretch(slot, a, a + len);
      if (d >= 0) {
        total += d;
        laps++;
      }
    }
    if (laps > 0) {
      sum += total / laps;
      riders++;
    }
  }
  return riders > 0 ? sum / riders : no_one_reference_ticks;
}

bool everyone_done() {
  if (race.standings_count == 0) return false;
  for (int e = 0; e < race.standings_count; ++e) {
    int slot = race.standings[e].slot;
    Rider* r = slot_rider(slot);
    if (!r) continue;
    if (has_finished(r)) continue;
    SlotKind kind = session.slots[slot].kind;
    if (kind == slot_local) {
      if (local_left_out()) continue;
      return false;
    }
    const RaceSlot& rs = race_slots[slot];
    bool silent = race.online && rs.network && slot != race.client_slot &&
                  (race.race_tick - rs.last_receive_tick) >= ticks_per_second;
    if (!silent) return false;
  }
  return true;
}

void compute_results() {
  const int F = timing.first_lap_count, N = timing.normal_lap_count;
  race.results_count = 0;
  for (int slot = 0; slot < max_riders; ++slot) {
    Rider* r = slot_rider(slot);
    if (!r) continue;
    StandingEntry e{slot, r->checkpoints_passed, r->last_crossing_tick};
    long long p = cutting_penalty(slot);
    long long t = best_lap(r);
    if (t > 0 && p > t) {
      while (p > t && e.checkpoints > F) {
        p -= t;
        e.checkpoints -= N;
      }
    }
    e.last_tick = static_cast<int>(std::min<long long>(e.last_tick + p, 0x7FFFFFFF));
    race.results[race.results_count++] = e;
  }
  std::sort(race.results, race.results + race.results_count, standing_before);
  if (race.results_count > 0) {
    Rider* first = slot_rider(race.results[0].slot);
    if (first && first->finished && race_hooks.results_write) race_hooks.results_write();
  }
  race.results_final = true;
  if (race_hooks.series_update) race_hooks.series_update();
}

// Timed race: the length becomes finite once the time is up.
void fix_timed_length() {
  long long expiry = static_cast<long long>(race.gate_drop_tick) + race.time_limit_ticks;
  Rider* leader = slot_rider(leader_slot());
  if (race.halfway_lap == max_race_laps &&
      race.race_tick >= race.gate_drop_tick + static_cast<long long>(race.time_limit_ticks) / 2)
    race.halfway_lap = (leader ? laps_completed(leader) : 0) + 1;
  if (race.race_tick < expiry) return;
  int l = (leader ? laps_completed(leader) : 0) - 1;
  long long k = l <= 0 ? 1 : std::min(l, race.race_laps);
  for (;;) {
    long long idx = k == 0 ? 0 : lap_end_checkpoint(static_cast<int>(k));
    long long earliest = -1;
    for (int e = 0; e < race.standings_count; ++e) {
      int t = tick_at(race.standings[e].slot, idx);
      if (t >= 0 && (earliest < 0 || t < earliest)) earliest = t;
    }
    if (earliest < 0) return;
    if (earliest >= expiry) break;
    race.race_laps = static_cast<int>(
        std::min<long long>(std::max<long long>(race.race_laps, k + race.extra_laps + 1), max_race_laps));
    k++;
  }
  race.race_laps = static_cast<int>(std::min<long long>(race.race_laps, k + race.extra_laps));
}

}  // namespace

int crossing_tick(int slot, int idx) { return tick_at(slot, idx); }

int lap_end_checkpoint(int n) {
  long long v = static_cast<long long>(timing.first_lap_count) +
                static_cast<long long>(n - 1) * timing.normal_lap_count - 1;
  return static_cast<int>(std::clamp<long long>(v, -1, 0x7FFFFFFF));
}

bool checkpoint_ends_lap(int idx) {
  if (!timing_usable()) return false;
  long long k = static_cast<long long>(idx) + 1 - timing.first_lap_count;
  return k >= 0 && k % timing.normal_lap_count == 0;
}

int laps_completed(const Rider* r) { return r ? laps_of_count(r->checkpoints_passed) : 0; }

int lap_ticks(const Rider* r, int n) {
  if (!r || n < 1 || !timing_usable()) return 0;
  int end = tick_at(r->slot, lap_end_checkpoint(n));
  int start = n == 1 ? race.gate_drop_tick : tick_at(r->slot, lap_end_checkpoint(n - 1));
  if (end < 0 || start < 0) return 0;
  return end - start;
}

int best_lap(const Rider* r) {
  int best = 0;
  int laps = laps_completed(r);
  for (int n = 2; n <= laps; ++n) {
    int t = lap_ticks(r, n);
    if (t > 0 && (best == 0 || t < best)) best = t;
  }
  return best;
}

bool has_finished(Rider* r) {
  if (!r || race.hot_lap_mode) return false;
  if (r->finished) return true;
  int leader = leader_slot();
  if (leader < 0 || !timing_usable()) return false;
  // In a race of no laps the leader's finish is the first lap line, not checkpoint 0: the
  // field would otherwise be done as soon as it left the grid.
  long long e = race.race_laps > 0 ? finish_checkpoint() : lap_end_checkpoint(1);
  if (e < 0 || race.standings[0].checkpoints <= e) return false;
  int d = tick_at(leader, e);
  if (d < 0) return false;
  int laps = laps_completed(r);
  int f = laps == 0 ? 0 : lap_end_checkpoint(laps);
  int t = tick_at(r->slot, f);
  if (t >= 0 && t >= d) {
    r->finished = true;
    return true;
  }
  return false;
}

bool standing_before(const StandingEntry& a, const StandingEntry& b) {
  if (a.checkpoints != b.checkpoints) return a.checkpoints > b.checkpoints;
  if (a.last_tick != b.last_tick) return a.last_tick < b.last_tick;
  return a.slot < b.slot;
}

void timing_step(int slot, const float front[3]) {
  Rider* r = slot_rider(slot);
  if (!r || !timing_usable() || r->finished) return;
  if (race_hooks.lines_before_crossing) race_hooks.lines_before_crossing(r);
  static const int offsets[] = {-3, -2, 0, 1, 2};
  bool gap_seen = false;
  for (int u : offsets) {
    long long idx = static_cast<long long>(r->checkpoints_passed) + u;
    if (idx < 0 || idx >= 0x7FFFFFFF) continue;
    int recorded = tick_at(slot, idx);
    if (recorded < 0) gap_seen = true;
    if (!gate_passed(static_cast<int>(idx), front)) {
      // A lap line cannot be jumped: nothing beyond an unpassed one counts.
      if (checkpoint_ends_lap(static_cast<int>(idx)) && recorded < 0) break;
      continue;
    }
    if (u < 0 && !gap_seen) continue;  // merely touching a checkpoint behind
    Array<int>& c = race_slots[slot].crossings;
    while (c.count <= idx) array_push(&c, -1);
    c.items[idx] = race.race_tick;
    r->last_crossing_tick = race.race_tick;
    if (race_hooks.lines_crossing) race_hooks.lines_crossing(r, slot);
    r->checkpoints_passed = static_cast<int>(idx) + 1;
    // Hot laps have no end: each lap restarts at the lap line, so nobody ever finishes.
    if (checkpoint_ends_lap(static_cast<int>(idx)) && !r->finished && !race.hot_lap_mode) {
      long long e = finish_checkpoint();
      bool leader_done = race.standings_count > 0 && race.standings[0].checkpoints > e;
      if (leader_done || laps_completed(r) >= race.race_laps) r->finished = true;
    }
    update_standings();
    break;
  }
}

void update_standings() {
  race.standings_count = 0;
  for (int slot = 0; slot < max_riders; ++slot) {
    const Rider* r = session.slots[slot].rider;
    if (!r) continue;
    race.standings[race.standings_count++] = StandingEntry{slot, r->checkpoints_passed, r->last_crossing_tick};
  }
  std::sort(race.standings, race.standings + race.standings_count, standing_before);
  if (race.time_limit_ticks > 0) fix_timed_length();
  if (!race.results_final && !race.hot_lap_mode && timing_usable() && everyone_done()) {
    compute_results();
    race_results_became_final();
  }
}

int cutting_penalty(int slot) {
  if (!timing_usable() || slot < 0 || slot >= max_riders) return 0;
  const Array<int>& c = race_slots[slot].crossings;
  long long penalty = 0;
  int run = 0;
  for (int i = 0; i < c.count; ++i) {
    if (c.items[i] < 0) {
      run++;
      continue;
    }
    if (run > 0) {
      long long s = static_cast<long long>(i) - run - 1;
      long long start = s < 0 ? 0 : c.items[s];
      long long actual = c.items[i] - start;
      long long expected = reference_ticks(s, i) + ticks_per_second;
      if (expected > actual) penalty += expected - actual;
    }
    run = 0;
  }
  return static_cast<int>(std::min<long long>(penalty, 0x7FFFFFFF));
}

bool off_course_active() {
  if (race.standings_count <= 1) return false;
  return (race.race_tick - race.gate_drop_tick) * tick_seconds >= race.off_course_bias;
}

// Out of contention: finished, never passed a checkpoint, or slow on one of the last segments.
bool out_of_contention(const Rider* r) {
  if (!r) return true;
  if (r->finished) return true;
  int n = r->checkpoints_passed;
  if (n <= 0) return true;
  for (int m = std::max(1, n - 3); m <= n; ++m) {
    int prev = -1;
    for (int k = m - 1; k >= std::max(0, m - 3) && prev < 0; --k) prev = tick_at(r->slot, k);
    if (prev < 0) prev = race.gate_drop_tick;
    int next = -1;
    for (int k = m; k <= n - 1 && next < 0; ++k) next = tick_at(r->slot, k);
    if (next < 0) next = race.race_tick;
    int ref = -1;
    for (int e = 0; e < race.standings_count; ++e) {
      const StandingEntry& s = race.standings[e];
      if (s.checkpoints <= m) break;
      int a = tick_at(s.slot, m - 1), b = tick_at(s.slot, m);
      if (a >= 0 && b >= 0) {
        ref = b - a;
        break;
      }
    }
    if (ref < 0) continue;
    if (race.off_course_scale * ref * tick_seconds + race.off_course_bias + prev * tick_seconds <=
        next * tick_seconds)
      return true;
  }
  return false;
}

bool is_off_course(const Rider* r) { return off_course_active() && out_of_contention(r); }

bool is_ghost(int slot) {
  if (slot < 0 || slot >= max_riders) return true;
  const RiderSlot& s = session.slots[slot];
  if (!s.rider) return true;
  if (local_left_out() && s.kind == slot_local && slot != race.client_slot) return true;
  if (s.kind == slot_local || s.kind == slot_robot) return false;
  int before = 0, after = 0;
  bool reach = race_hooks.history_span && race_hooks.history_span(slot, race.race_tick, &before, &after);
  if (!reach || race.race_tick - before > ticks_per_second || after - race.race_tick > ticks_per_second)
    return true;
  Rider* own = slot_rider(race.client_slot);
  if (!race.online || !own) return false;
  const RaceSlot& rs = race_slots[slot];
  if (slot != race.client_slot && race.race_tick - rs.last_receive_tick >= ticks_per_second) return true;
  if (off_course_active()) {
    if (out_of_contention(own)) return false;
    if (out_of_contention(s.rider)) return true;
  }
  return false;
}
