// The racing-line store: learning from riders' runs, the line files, pruning and the chains.
#include "robots/lines.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bike/bike.h"
#include "bike/rider.h"
#include "core/memory.h"
#include "core/options.h"
#include "platform/log.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "resources/data.h"
#include "resources/stream.h"
#include "robots/autopilot.h"
#include "track/timing_gates.h"
#include "track/track.h"

LineStore line_store = {0, 0, 0, nullptr, {nullptr, nullptr, nullptr}, -1};
RiderLines rider_lines[max_riders];

namespace {

int next_line_id = 0;
const char* loaded_track = nullptr;  // track of the loaded skill

const RacingLine free_line = {nullptr,     0, line_no_time, line_no_time, 0, line_no_time, line_no_time, 0, 0, 0,
                              line_never_picked, 0};

bool debugging() { return options.debug_level > 0; }

void free_entry(RacingLine* l) {
  free(l->samples);
  *l = free_line;
}

int new_line_id() {
  if (next_line_id == INT_MAX) next_line_id = 0;  // ids stay positive: 0 is "none"
  return ++next_line_id;
}

bool valid_slot(int slot) { return slot >= 0 && slot < line_store.slot_count; }

float dist2(const LineSample& a, const LineSample& b) {
  float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}

// The eviction score without the lonely-start discount.
int64_t base_score(const RacingLine* l) {
  int64_t runs = l->runs, failures = l->failures;
  if (runs > 0) return l->sum_b / runs + failures * 640 / (runs + failures);
  int64_t s = 5 * static_cast<int64_t>(l->learned_b) / 4;
  return failures > 0 ? s + 640 : s;
}

// Mean time over the segment and the next, for the crossing tie-break.
int64_t line_time(const RacingLine* l) {
  return l->runs > 0 ? l->sum_b / l->runs : l->learned_b;
}

bool is_switch(int checkpoint) {
  return timing_checkpoint_entry(checkpoint) < not_switch_point;
}

bool is_robot(const Rider* r) {
  return r->slot >= 0 && r->slot < max_riders && session.slots[r->slot].kind == slot_robot;
}

// Crossing tick of a checkpoint index; before the first checkpoint the race starts at the drop.
int tick_of(int slot, int k) { return k < 0 ? race.gate_drop_tick : crossing_tick(slot, k); }

// The three latest switch points k0 < k1 < k2 = k with every crossing between them recorded.
bool switch_times(int slot, int k, int* a, int* b) {
  int ks[3] = {k, 0, 0};
  int found = 1, i = k - 1;
  while (found < 3) {
    if (i < 0 || is_switch(i)) ks[found++] = i;
    --i;
  }
  int k0 = ks[2], k1 = ks[1];
  for (int c = std::max(k0, 0); c <= k; ++c)
    if (crossing_tick(slot, c) < 0) return false;
  int64_t t0 = tick_of(slot, k0), t1 = tick_of(slot, k1), t2 = tick_of(slot, k);
  *a = static_cast<int>(std::clamp<int64_t>(t1 - t0, 0, INT_MAX));
  *b = static_cast<int>(std::clamp<int64_t>(t2 - t0, 0, INT_MAX));
  return true;
}

float side(float ax, float az, float bx, float bz, float px, float pz) {
  return (bx - ax) * (pz - az) - (bz - az) * (px - ax);
}

bool steps_cross(const LineSample& a0, const LineSample& a1, const LineSample& b0, const LineSample& b1) {
  float s1 = side(a0.x, a0.z, a1.x, a1.z, b0.x, b0.z), s2 = side(a0.x, a0.z, a1.x, a1.z, b1.x, b1.z);
  float s3 = side(b0.x, b0.z, b1.x, b1.z, a0.x, a0.z), s4 = side(b0.x, b0.z, b1.x, b1.z, a1.x, a1.z);
  return ((s1 < 0 && s2 > 0) || (s1 > 0 && s2 < 0)) && ((s3 < 0 && s4 > 0) || (s3 > 0 && s4 < 0));
}

// Brings loaded counters into the range the arithmetic of scores and costs expects.
void normalise_counters(RacingLine* l) {
  for (int round = 0; round < 16 && (l->sum_b > line_sum_cap || l->runs > line_counter_cap ||
                                     l->failures > line_counter_cap);
       ++round) {
    if (l->runs / 2 != 0) {
      l->sum_a = static_cast<int>(static_cast<int64_t>(l->sum_a / l->runs) * (l->runs / 2));
      l->sum_b = static_cast<int>(static_cast<int64_t>(l->sum_b / l->runs) * (l->runs / 2));
      l->runs /= 2;
    }
    l->failures /= 2;
  }
  l->sum_a = std::min(l->sum_a, line_sum_cap);
  l->sum_b = std::min(l->sum_b, line_sum_cap);
  l->runs = std::min(l->runs, line_counter_cap);
  l->failures = std::min(l->failures, line_counter_cap);
}

void remove_line(int slot, int index) { free_entry(&line_store.slots[slot][index]); }

// The pruning step that removes the line crossed by the most others; false when none is crossed.
bool remove_most_crossed(int slot) {
  RacingLine* row = line_store.slots[slot];
  int crossed[lines_per_slot] = {};
  for (int i = 0; i < lines_per_slot; ++i) {
    if (row[i].sample_count < 2) continue;
    for (int j = 0; j < lines_per_slot; ++j)
      if (j != i && row[j].sample_count >= 2 && lines_cross(&row[i], &row[j])) ++crossed[i];
  }
  int pick = -1;
  for (int i = 0; i < lines_per_slot; ++i) {
    if (crossed[i] == 0) continue;
    if (pick < 0 || crossed[i] > crossed[pick]) {
      pick = i;
      continue;
    }
    if (crossed[i] < crossed[pick]) continue;
    bool runs_i = row[i].runs > 0, runs_p = row[pick].runs > 0;
    if (runs_i != runs_p) {
      if (runs_i) pick = i;
      continue;
    }
    if (line_time(&row[i]) < line_time(&row[pick])) pick = i;
  }
  if (pick < 0) return false;
  remove_line(slot, pick);
  return true;
}

// Minimum-cost connected path over slots [from, to); writes chosen line ids into chain.
double best_path(int from, int to, int mode, int* chain) {
  if (to <= from) return 0;
  int n = to - from;
  // cost per slot and entry, and the entry of the previous slot it came from
  double* cost = static_cast<double*>(xmalloc(sizeof(double) * n * lines_per_slot));
  int* from_entry = static_cast<int*>(xmalloc(sizeof(int) * n * lines_per_slot));
  const double impossible = 1e300;
  for (int s = 0; s < n; ++s) {
    const RacingLine* row = line_store.slots[from + s];
    for (int i = 0; i < lines_per_slot; ++i) {
      double& c = cost[s * lines_per_slot + i];
      from_entry[s * lines_per_slot + i] = -1;
      c = impossible;
      if (row[i].sample_count == 0) continue;
      double own = static_cast<double>(line_cost(&row[i], mode));
      if (s == 0) {
        c = own;
        continue;
      }
      const RacingLine* prev = line_store.slots[from + s - 1];
      for (int j = 0; j < lines_per_slot; ++j) {
        double p = cost[(s - 1) * lines_per_slot + j];
        if (p >= impossible || !lines_connect(&prev[j], &row[i])) continue;
        if (p + own < c) {
          c = p + own;
          from_entry[s * lines_per_slot + i] = j;
        }
      }
    }
  }
  int best = -1;
  for (int i = 0; i < lines_per_slot; ++i) {
    double c = cost[(n - 1) * lines_per_slot + i];
    if (c < impossible && (best < 0 || c < cost[(n - 1) * lines_per_slot + best])) best = i;
  }
  double total = best < 0 ? 0 : cost[(n - 1) * lines_per_slot + best];
  for (int s = n - 1; s >= 0; --s) {
    const RacingLine* l = best >= 0 ? &line_store.slots[from + s][best] : nullptr;
    chain[from + s] = l && l->runs > 4 ? l->line_id : 0;
    if (best >= 0) best = from_entry[s * lines_per_slot + best];
  }
  free(cost);
  free(from_entry);
  return total;
}

bool read_sample(Stream* s, LineSample* out) {
  float v[5];
  if (stream_scanf(s, " [ %f %f %f ] %f %f ", &v[0], &v[1], &v[2], &v[3], &v[4]) != 5) return false;
  *out = LineSample{v[0], v[1], v[2], v[3], v[4]};
  return true;
}

bool sample_finite(const LineSample& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::isfinite(p.speed) &&
         std::isfinite(p.lean);
}

// Learning for a human at a switch point, segment j > 0 just begun.
void learn_human(Rider* r, RiderLines* rl, int idx, int j) {
  int a = 0, b = 0;
  if (!switch_times(r->slot, idx, &a, &b)) return;
  int slot = slot_of(j - 1);
  Array<LineSample>& buf = rl->buffers[(j - 1) & 1];
  LineOffer result;
  if (buf.count == 0 || (rl->cancel_mask & (1 << ((j - 1) & 1))))
    result = line_canceled;
  else
    result = lines_offer(slot, buf.items, buf.count, a, b);
  if (result == line_canceled && debugging()) velk_log("auto pilot: %d canceled\n", slot);
}

// A robot's report on the line it rode through the segment just finished.
void learn_robot(Rider* r, RiderLines* rl, int idx, int j) {
  bool followed = false;
  const Array<LineSample>& path = rl->path;
  if (path.count > 0 && r->body[body_frame]) {
    int p = std::clamp(rl->path_index, 0, path.count - 1);
    const LineSample& s1 = path.items[std::max(p - 1, 0)];
    const LineSample& s2 = path.items[p];
    float f[3], v[3];
    bike_body_position(r, body_frame, f);
    bike_body_velocity(r, body_frame, v);
    float dx = s2.x - s1.x, dy = s2.y - s1.y, dz = s2.z - s1.z;
    float px = f[0] - s1.x, py = f[1] - s1.y, pz = f[2] - s1.z;
    float len2 = dx * dx + dy * dy + dz * dz;
    float d2 = px * px + py * py + pz * pz;
    if (len2 > 0) {
      float t = (px * dx + py * dy + pz * dz) / len2;
      d2 = std::max(0.0f, d2 - t * t * len2);
    }
    float speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    followed = d2 <= 16.0f && (0.9375f * speed <= std::fabs(s1.speed) || 0.9375f * speed <= std::fabs(s2.speed));
  }
  if (followed) {
    int a = 0, b = 0;
    RacingLine* l = lines_find(slot_of(j - 1), rl->picked_line[(j - 1) & 3]);
    if (l && switch_times(r->slot, idx, &a, &b)) {
      l->runs = std::min(l->runs + 1, line_counter_cap);
      l->best_a = std::min(l->best_a, a);
      l->best_b = std::min(l->best_b, b);
      l->sum_a = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(l->sum_a) + a, INT_MAX));
      l->sum_b = static_cast<int>(std::min<int64_t>(static_cast<int64_t>(l->sum_b) + b, INT_MAX));
    }
  } else {
    RacingLine* l = lines_find(slot_of(j), rl->picked_line[j & 3]);
    if (l) l->failures = std::min(l->failures + 1, INT_MAX - 1);
    for (int& p : rl->picked_line) p = 0;
  }
  array_clear(&rl->buffers[0]);
  array_clear(&rl->buffers[1]);
}

// A finishing robot eases off to a quarter of its line's speed by the end of the line.
void slow_down_after_finish(RiderLines* rl) {
  int n = rl->path.count, p = std::clamp(rl->path_index, 0, n);
  for (int k = p; k < n; ++k)
    rl->path.items[k].speed *= 0.25f + 0.75f * static_cast<float>(n - k) / static_cast<float>(n - p);
}

void hook_save() { lines_save(); }
void hook_crossing(Rider* r, int slot) {
  // The race calls before checkpoints_passed grows: the crossing just recorded is the one of
  // this tick, at most a few checkpoints either side.
  int idx = -1;
  for (int u = -3; u <= 2 && idx < 0; ++u) {
    int k = r->checkpoints_passed + u;
    if (k >= 0 && crossing_tick(slot, k) == race.race_tick) idx = k;
  }
  if (idx < 0) return;
  lines_on_crossing(r, idx - r->checkpoints_passed);
}

}  // namespace

void lines_create(int first, int normal) {
  lines_destroy();
  first = std::max(first, 0);
  normal = std::max(normal, 0);
  if (normal == 0) first = 0;  // no lap to repeat: no segments
  line_store.first_switch_count = first;
  line_store.normal_switch_count = normal;
  line_store.slot_count = first + normal;
  if (line_store.slot_count > 0) {
    line_store.slots = static_cast<RacingLine(*)[lines_per_slot]>(
        xmalloc(sizeof(RacingLine) * lines_per_slot * static_cast<size_t>(line_store.slot_count)));
    for (int m = 0; m < line_cost_modes; ++m) {
      line_store.chains[m] = static_cast<int*>(xmalloc(sizeof(int) * static_cast<size_t>(line_store.slot_count)));
      for (int s = 0; s < line_store.slot_count; ++s) line_store.chains[m][s] = 0;
    }
    for (int s = 0; s < line_store.slot_count; ++s)
      for (int i = 0; i < lines_per_slot; ++i) line_store.slots[s][i] = free_line;
  }
}

void lines_destroy() {
  lines_clear();
  free(line_store.slots);
  for (int*& c : line_store.chains) {
    free(c);
    c = nullptr;
  }
  line_store = LineStore{0, 0, 0, nullptr, {nullptr, nullptr, nullptr}, -1};
  loaded_track = nullptr;
}

void lines_clear() {
  for (int s = 0; s < line_store.slot_count; ++s)
    for (int i = 0; i < lines_per_slot; ++i) free_entry(&line_store.slots[s][i]);
  for (int m = 0; m < line_cost_modes; ++m)
    for (int s = 0; s < line_store.slot_count; ++s) line_store.chains[m][s] = 0;
}

const char* lines_file_name(int skill) {
  static const char* const names[] = {"lines_novice", "lines_amateur", "lines_expert"};
  return names[std::clamp(skill, 0, 2)];
}

int segment_of(int checkpoint_count) {
  int first = timing.first_lap_count, normal = timing.normal_lap_count;
  if (!timing_present() || checkpoint_count <= 0 || first <= 0 || normal <= 0) return 0;
  // Whole normal laps are counted at once: the auto pilot asks every tick, races run long.
  int64_t n = 0;
  int head = std::min(checkpoint_count, first);
  for (int k = 0; k < head; ++k) n += is_switch(k);
  if (checkpoint_count > first) {
    int64_t rest = checkpoint_count - first;
    n += rest / normal * timing.normal_switch_count;
    for (int64_t k = 0; k < rest % normal; ++k) n += is_switch(first + static_cast<int>(k));
  }
  return static_cast<int>(std::min<int64_t>(n, INT_MAX));
}

int slot_of(int segment) {
  int first = line_store.first_switch_count, normal = line_store.normal_switch_count;
  if (segment < 0 || normal <= 0) return -1;
  if (segment < first) return segment;
  return first + (segment - first) % normal;
}

int64_t line_cost(const RacingLine* l, int mode) {
  int64_t r = l->runs, f = l->failures;
  double share = r + f > 0 ? static_cast<double>(f) / static_cast<double>(r + f) : 0.0;
  int64_t mean = r > 0 ? l->sum_a / r : 0;
  auto penalty = [&](double k) { return static_cast<int64_t>(640.0 * std::clamp(k * share, 0.0, 1.0)); };
  switch (mode) {
    case 0: return r > 4 ? mean + penalty(1.0) : line_no_time;
    case 1: return r > 4 ? mean + penalty(1.1428572) : line_no_time;
    case 2: return r > 0 ? mean + penalty(4.0) : line_no_time;
    default: {
      if (r + f < 6 || f <= 4 * r) {
        int64_t v = r + 4 * f;
        int bits = 0;
        while (v > 0) {
          ++bits;
          v >>= 1;
        }
        if (bits > 0) bits += 4;
        return 1000 * static_cast<int64_t>(bits);
      }
      return 100000;
    }
  }
}

int lines_count(int slot) {
  if (!valid_slot(slot)) return 0;
  int n = 0;
  for (const RacingLine& l : line_store.slots[slot]) n += l.sample_count > 0;
  return n;
}

RacingLine* lines_find(int slot, int line_id) {
  if (!valid_slot(slot) || line_id == 0) return nullptr;
  for (RacingLine& l : line_store.slots[slot])
    if (l.sample_count > 0 && l.line_id == line_id) return &l;
  return nullptr;
}

int lines_eviction_choice(int slot) {
  if (!valid_slot(slot)) return -1;
  RacingLine* row = line_store.slots[slot];
  int proven = 0;
  for (int i = 0; i < lines_per_slot; ++i)
    if (row[i].sample_count > 0 && row[i].failures < row[i].runs) ++proven;
  int pick = -1;
  int64_t pick_score = 0;
  for (int i = 0; i < lines_per_slot; ++i) {
    const RacingLine& l = row[i];
    if (l.sample_count == 0) continue;
    if (proven <= 22 && l.failures < l.runs) continue;
    int64_t score = base_score(&l);
    bool lonely = true;
    for (int j = 0; j < lines_per_slot && lonely; ++j)
      if (j != i && row[j].sample_count > 0 && dist2(l.samples[0], row[j].samples[0]) < 4.0f) lonely = false;
    if (lonely) score = score * 3 / 4;
    if (pick < 0 || score > pick_score) {
      pick = i;
      pick_score = score;
    }
  }
  return pick;
}

bool lines_cross(const RacingLine* a, const RacingLine* b) {
  for (int i = 0; i + 1 < a->sample_count; ++i)
    for (int j = 0; j + 1 < b->sample_count; ++j)
      if (steps_cross(a->samples[i], a->samples[i + 1], b->samples[j], b->samples[j + 1])) return true;
  return false;
}

void line_turn_centre(const LineSample& p1, const LineSample& p2, const LineSample& p3, double* cx, double* cz) {
  double m1x = (p1.x + p2.x) * 0.5, m1z = (p1.z + p2.z) * 0.5;
  double m2x = (p2.x + p3.x) * 0.5, m2z = (p2.z + p3.z) * 0.5;
  double nx = static_cast<double>(p2.z) - p1.z, nz = static_cast<double>(p1.x) - p2.x;
  double ux = (static_cast<double>(p3.x) - p2.x) * 0.5, uz = (static_cast<double>(p3.z) - p2.z) * 0.5;
  double l = nx * ux + nz * uz;
  if (std::fabs(l) > 1e-6) {
    double t = (ux * (m2x - m1x) + uz * (m2z - m1z)) / l;
    *cx = m1x + nx * t;
    *cz = m1z + nz * t;
  } else {
    *cx = m1x + 1000000.0 * nx;
    *cz = m1z + 1000000.0 * nz;
  }
}

bool lines_connect(const RacingLine* a, const RacingLine* b) {
  if (a->sample_count < 3 || b->sample_count < 2) return false;
  const LineSample& p3 = a->samples[a->sample_count - 1];
  double cx, cz;
  line_turn_centre(a->samples[a->sample_count - 3], a->samples[a->sample_count - 2], p3, &cx, &cz);
  auto hdist = [&](const LineSample& p) { return std::hypot(p.x - cx, p.z - cz); };
  double radius = hdist(p3);
  double d0 = hdist(b->samples[0]), d1 = hdist(b->samples[1]);
  if (d0 < std::max(0.0, radius - 2.5) || d0 > radius + 2.5) return false;
  if (std::fabs(d1 - d0) > 2.0) return false;
  return std::fabs(p3.speed) - std::fabs(b->samples[0].speed) <= 15.0f;
}

int lines_insert(int slot, const LineSample* samples, int count) {
  if (!valid_slot(slot) || count < 1 || count > line_max_samples) return -1;
  RacingLine* row = line_store.slots[slot];
  for (int i = 0; i < lines_per_slot; ++i) {
    if (row[i].sample_count != 0) continue;
    row[i] = free_line;
    row[i].samples = static_cast<LineSample*>(xmalloc(sizeof(LineSample) * static_cast<size_t>(count)));
    memcpy(row[i].samples, samples, sizeof(LineSample) * static_cast<size_t>(count));
    row[i].sample_count = count;
    row[i].line_id = new_line_id();
    return i;
  }
  return -1;
}

LineOffer lines_offer(int slot, const LineSample* samples, int count, int a, int b) {
  if (!valid_slot(slot)) return line_no_slot;
  if (count < 1 || count > line_max_samples) return line_canceled;
  RacingLine* row = line_store.slots[slot];
  for (int i = 0; i < lines_per_slot; ++i) {
    const RacingLine& l = row[i];
    if (l.sample_count != count) continue;
    bool same = true;
    for (int k = 0; k < count && same; ++k)
      same = std::fabs(std::fabs(l.samples[k].speed) - std::fabs(samples[k].speed)) <= 0.0625f &&
             dist2(l.samples[k], samples[k]) <= 0.00390625f;
    if (same) {
      if (debugging()) velk_log("auto pilot: %d rejected (duplicate)\n", slot);
      return line_duplicate;
    }
  }
  int target = -1;
  for (int i = 0; i < lines_per_slot && target < 0; ++i)
    if (row[i].sample_count == 0) target = i;
  if (target < 0) {
    target = lines_eviction_choice(slot);
    if (target < 0) return line_too_slow;  // every line is protected
    if (base_score(&row[target]) < 5 * static_cast<int64_t>(b) / 4) {
      if (debugging()) velk_log("auto pilot: %d rejected (too slow)\n", slot);
      return line_too_slow;
    }
  }
  RacingLine* t = &row[target];
  if (debugging()) {
    double ma = t->runs > 0 ? static_cast<double>(t->sum_a) / t->runs * tick_seconds : 0.0;
    double mb = t->runs > 0 ? static_cast<double>(t->sum_b) / t->runs * tick_seconds : 0.0;
    velk_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n", slot,
             t->learned_a * tick_seconds, t->learned_b * tick_seconds, t->runs, t->failures, ma, mb,
             a * tick_seconds, b * tick_seconds);
  }
  free_entry(t);
  int made = lines_insert(slot, samples, count);  // the target is the first free entry now
  row[made].learned_a = a;
  row[made].learned_b = b;
  return line_learned;
}

bool lines_load_file(const char* name) {
  lines_clear();
  Stream* s = stream_open(name, "rb");
  if (!s) return false;
  int count = 0;
  if (stream_scanf(s, "ct03 %d ", &count) != 1 || count != line_store.slot_count || count <= 0) {
    stream_close(s);
    return false;
  }
  Array<LineSample> samples;
  for (int slot = 0; slot < count; ++slot) {
    int lines = 0;
    if (stream_scanf(s, " %d ", &lines) != 1) break;
    lines = std::max(lines, 0);
    int kept = 0;
    for (int n = 0; n < lines; ++n) {
      RacingLine l = free_line;
      if (stream_scanf(s, " %d %d %d %d %d %d %d %d %d ", &l.sample_count, &l.learned_a, &l.learned_b, &l.runs,
                       &l.best_a, &l.best_b, &l.sum_a, &l.sum_b, &l.failures) != 9)
        break;
      // A count we cannot trust leaves no way to find the next line: the slot ends here.
      if (l.sample_count < 1 || l.sample_count > line_max_samples) break;
      array_clear(&samples);
      bool ok = true;
      for (int k = 0; k < l.sample_count && ok; ++k) {
        LineSample p;
        ok = read_sample(s, &p);
        if (ok) array_push(&samples, p);
      }
      if (!ok) break;
      bool sound = l.learned_a >= 0 && l.learned_b >= 0 && l.runs >= 0 && l.best_a >= 0 && l.best_b >= 0 &&
                   l.sum_a >= 0 && l.sum_b >= 0 && l.failures >= 0;
      for (int k = 0; k < samples.count && sound; ++k) sound = sample_finite(samples.items[k]);
      if (!sound || kept >= lines_per_slot) continue;  // skipped, the file stays in step
      normalise_counters(&l);
      int i = lines_insert(slot, samples.items, samples.count);
      RacingLine& e = line_store.slots[slot][i];
      int id = e.line_id;
      LineSample* own = e.samples;
      e = l;
      e.samples = own;
      e.line_id = id;
      e.last_picked = line_never_picked;
      ++kept;
    }
    if (debugging()) velk_log("%d: %d\n", slot, kept);
  }
  array_free(&samples);
  stream_close(s);
  return true;
}

bool lines_save_file(const char* path) {
  char tmp[4096];
  int n = snprintf(tmp, sizeof tmp, "%s.tmp", path);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof tmp) return false;
  make_folders_for(path);
  Stream* s = stream_open(tmp, "wb");
  if (!s) return false;
  bool ok = stream_printf(s, "ct03 %d\n", line_store.slot_count) > 0;
  for (int slot = 0; slot < line_store.slot_count && ok; ++slot) {
    ok = stream_printf(s, "%d\n", lines_count(slot)) > 0;
    for (const RacingLine& l : line_store.slots[slot]) {
      if (l.sample_count == 0 || !ok) continue;
      ok = stream_printf(s, "%d %d %d %d %d %d %d %d %d\n", l.sample_count, l.learned_a, l.learned_b, l.runs,
                         l.best_a, l.best_b, l.sum_a, l.sum_b, l.failures) > 0;
      for (int k = 0; k < l.sample_count && ok; ++k) {
        const LineSample& p = l.samples[k];
        ok = stream_printf(s, "[%f %f %f] %f %f\n", p.x, p.y, p.z, p.speed, p.lean) > 0;
      }
    }
  }
  ok = stream_flush(s) && !stream_error(s) && ok;
  stream_close(s);
  if (!ok || !data_rename(tmp, path)) {
    remove(tmp);
    return false;
  }
  return true;
}

void lines_load(int skill) {
  skill = std::clamp(skill, 0, 2);
  if (!track_name || line_store.slot_count == 0) return;
  if (line_store.loaded_skill == skill && loaded_track == track_name) return;
  char name[1024];
  snprintf(name, sizeof name, "@%s/%s", track_name, lines_file_name(skill));
  lines_load_file(name);
  line_store.loaded_skill = skill;
  loaded_track = track_name;
}

void lines_save() {
  if (options.learn != 1 || !loaded_track || line_store.loaded_skill < 0 || line_store.slot_count == 0) return;
  char name[1024], path[4096];
  snprintf(name, sizeof name, "@%s/%s", loaded_track, lines_file_name(line_store.loaded_skill));
  if (!data_resolve_write_path(name, path, sizeof path)) return;
  lines_save_file(path);
}

void lines_prune() {
  for (int slot = 0; slot < line_store.slot_count; ++slot) {
    while (lines_count(slot) > lines_kept_at_start) {
      bool removed = remove_most_crossed(slot);
      int weakest = lines_eviction_choice(slot);
      if (weakest >= 0) remove_line(slot, weakest);
      if (!removed && weakest < 0) break;
    }
  }
  lines_compute_chains();
}

void lines_compute_chains() {
  int first = line_store.first_switch_count, total = line_store.slot_count;
  for (int m = 0; m < line_cost_modes && total > 0; ++m) {
    double a = best_path(0, first, m, line_store.chains[m]);
    double b = best_path(first, total, m, line_store.chains[m]);
    if (debugging() && m == 0) {
      velk_log("First lap: %f\n", a * tick_seconds);
      velk_log("Normal lap: %f\n", b * tick_seconds);
    }
  }
}

void lines_reset_pick_ticks() {
  for (int s = 0; s < line_store.slot_count; ++s)
    for (RacingLine& l : line_store.slots[s]) l.last_picked = line_never_picked;
  for (int s = 0; s < max_riders; ++s) rider_lines_reset(s);
}

void rider_lines_reset(int slot) {
  if (slot < 0 || slot >= max_riders) return;
  RiderLines& rl = rider_lines[slot];
  array_clear(&rl.buffers[0]);
  array_clear(&rl.buffers[1]);
  rl.cancel_mask = 0;
  for (int& p : rl.picked_line) p = 0;
  array_clear(&rl.path);
  rl.path_index = 0;
}

void lines_on_crash(Rider* r) {
  if (!r || r->crash_state != 1) return;
  r->crash_state = 2;
  if (!is_robot(r)) return;
  RiderLines& rl = rider_lines[r->slot];
  int seg = segment_of(r->checkpoints_passed);
  auto fail = [&](int segment) {
    if (segment < 0) return;
    RacingLine* l = lines_find(slot_of(segment), rl.picked_line[segment & 3]);
    if (l) l->failures = std::min(l->failures + 1, INT_MAX - 1);
    rl.picked_line[segment & 3] = 0;
  };
  fail(seg);
  if (race.race_tick - r->last_crossing_tick < ticks_per_second) fail(seg - 1);
  for (int& p : rl.picked_line) p = 0;
}

void lines_sample(Rider* r) {
  if (!r || (race.race_tick & (line_sample_ticks - 1)) != 0 || is_robot(r)) return;
  if (r->slot < 0 || r->slot >= max_riders || !r->body[body_frame]) return;
  float p[3], v[3], m[9];
  bike_body_position(r, body_frame, p);
  bike_body_velocity(r, body_frame, v);
  bike_body_rotation(r, body_frame, m);
  float speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (r->wheel[0].depth <= 0 && r->wheel[1].depth <= 0) speed = -speed;
  // Columns of the row-major rotation are the body axes: up is y, forward is -z.
  float up[3] = {m[1], m[4], m[7]};
  float fx = -m[2], fz = -m[8];
  float fl = std::sqrt(fx * fx + fz * fz);
  float lean = 0;
  if (fl > 1e-6f) {
    float sx = -fz / fl, sz = fx / fl;  // horizontal, perpendicular to forward
    lean = std::acos(std::clamp(up[0] * sx + up[2] * sz, -1.0f, 1.0f)) - 1.5707963f;
  }
  int seg = segment_of(r->checkpoints_passed);
  array_push(&rider_lines[r->slot].buffers[seg & 1], LineSample{p[0], p[1], p[2], speed, lean});
}

void lines_before_crossing(Rider* r) {
  lines_on_crash(r);
  lines_sample(r);
}

void lines_on_crossing(Rider* r, int offset) {
  if (!r || r->slot < 0 || r->slot >= max_riders) return;
  RiderLines& rl = rider_lines[r->slot];
  int idx = r->checkpoints_passed + offset;
  int seg = segment_of(r->checkpoints_passed);
  if (r->crash_state != 0) rl.cancel_mask |= 1 << (seg & 1);
  bool robot = is_robot(r);
  if (idx >= 0 && is_switch(idx) && line_store.slot_count > 0) {
    int j = segment_of(idx + 1);
    if (!robot) {
      if (offset == 0) {
        if (j > 0) learn_human(r, &rl, idx, j);
        array_clear(&rl.buffers[(j + 1) & 1]);
        rl.cancel_mask &= ~(1 << ((j + 1) & 1));
      } else {
        array_clear(&rl.buffers[0]);
        array_clear(&rl.buffers[1]);
        rl.cancel_mask = 0;
      }
    } else if (j > 0) {
      learn_robot(r, &rl, idx, j);
    }
  }
  if (robot && race.race_laps > 0 && checkpoint_ends_lap(idx) && idx >= lap_end_checkpoint(race.race_laps))
    slow_down_after_finish(&rl);
  r->crash_state = 0;
}

void lines_install_hooks() {
  timing_racing_lines_create = lines_create;
  race_hooks.lines_save_and_clear = hook_save;
  race_hooks.lines_load = lines_load;
  race_hooks.lines_prune = lines_prune;
  race_hooks.lines_reset_pick_ticks = lines_reset_pick_ticks;
  race_hooks.lines_crossing = hook_crossing;
  race_hooks.lines_before_crossing = lines_before_crossing;
  race_hooks.set_personality = set_personality;
  race_hooks.auto_pilot_step = auto_pilot_step;
}
