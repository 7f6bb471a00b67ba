// The per-slot state history: ordered insertion, interpolation and extrapolation.
#include "demo/state_history.h"

#include <cstring>

#include "core/console.h"

StateHistory state_history;
bool history_exact_only = false;

namespace {

inline int wrap(int i) { return i & (history_size - 1); }

bool valid_slot(int slot) { return slot >= 0 && slot < max_riders; }

// Position of the newest entry with a tick below t, searching back from the head; -1 if none.
int newest_before(const SlotHistory& h, int t) {
  for (int k = 0; k < history_size; ++k) {
    int i = wrap(h.head - k);
    int tick = h.entries[i].tick;
    if (tick < 0) return -1;  // older entries are empty too
    if (tick < t) return i;
  }
  return -1;
}

// The oldest record at or after t, for a rider whose history starts later than t.
int oldest_from(const SlotHistory& h, int t) {
  int best = -1;
  for (int i = 0; i < history_size; ++i) {
    int tick = h.entries[i].tick;
    if (tick >= t && (best < 0 || tick < h.entries[best].tick)) best = i;
  }
  return best;
}

}  // namespace

void clear_history() {
  for (SlotHistory& h : state_history.slots) {
    h.head = 0;
    h.count = 0;
    for (HistoryEntry& e : h.entries) {
      e.tick = -1;
      memset(e.record.bytes, 0, sizeof e.record.bytes);
    }
  }
}

void add_state_to_history(int slot, const StateRecord* record, int tick) {
  if (!valid_slot(slot)) {
    console_print("add_state_to_history: slot out of range");
    return;
  }
  if (!record || tick < 0) return;
  SlotHistory& h = state_history.slots[slot];
  int found = -1;
  for (int k = 0; k < history_size; ++k) {
    int i = wrap(h.head - k);
    if (h.entries[i].tick <= tick) {
      found = i;
      break;
    }
  }
  // Older than every record of a full ring: it would fall out at once.
  if (found < 0) return;
  if (h.entries[found].tick == tick) return;
  for (int j = h.head; j != found; j = wrap(j - 1)) h.entries[wrap(j + 1)] = h.entries[j];
  HistoryEntry& e = h.entries[wrap(found + 1)];
  e.tick = tick;
  e.record = *record;
  h.head = wrap(h.head + 1);
  if (h.count < history_size) h.count++;
}

bool history_sample(int slot, int t, bool exact_only, HistorySample* out) {
  if (!valid_slot(slot) || !out) return false;
  if (t < 0) t = 0;
  const SlotHistory& h = state_history.slots[slot];
  int a = newest_before(h, t);
  if (a < 0) {
    int first = oldest_from(h, t);
    if (first < 0) return false;
    out->before = out->after = out->current = h.entries[first].record;
    out->interval = 1;
    return true;
  }
  if (a == h.head) {
    // Past the newest record: extrapolate along the two newest, never through the ring's
    // oldest or empty entry that follows the head.
    const HistoryEntry& nb = h.entries[a];
    const HistoryEntry& na = h.entries[wrap(a - 1)];
    if (na.tick < 0 || na.tick >= nb.tick || exact_only) {
      out->before = out->after = out->current = nb.record;
      out->interval = 1;
      return true;
    }
    int until = t < nb.tick + history_extrapolate_ticks ? t : nb.tick + history_extrapolate_ticks;
    double f = static_cast<double>(until - na.tick) / (nb.tick - na.tick);
    out->before = na.record;
    out->after = nb.record;
    out->interval = nb.tick - na.tick;
    state_interpolate(&na.record, &nb.record, f, &out->current);
    return true;
  }
  const HistoryEntry& ea = h.entries[a];
  const HistoryEntry& eb = h.entries[wrap(a + 1)];
  out->before = ea.record;
  out->after = eb.record;
  out->interval = eb.tick - ea.tick < 1 ? 1 : eb.tick - ea.tick;
  if (eb.tick == t) {
    out->current = eb.record;
  } else if (exact_only) {
    out->current = ea.record;
  } else {
    double f = static_cast<double>(t - ea.tick) / (eb.tick - ea.tick);
    state_interpolate(&ea.record, &eb.record, f, &out->current);
  }
  return true;
}

void apply_history(Rider* rider, int slot, int tick) {
  HistorySample s;
  if (!rider || !history_sample(slot, tick, history_exact_only, &s)) return;
  unpack_state(rider, &s.before, &s.after, &s.current, s.interval);
}

bool history_span(int slot, int t, int* before, int* after) {
  *before = *after = -1;
  if (!valid_slot(slot)) return false;
  const SlotHistory& h = state_history.slots[slot];
  int a = newest_before(h, t);
  if (a >= 0) {
    *before = h.entries[a].tick;
    if (a != h.head) *after = h.entries[wrap(a + 1)].tick;
  } else {
    int first = oldest_from(h, t);
    if (first >= 0) *after = h.entries[first].tick;
  }
  return *before >= 0 || *after >= 0;
}

bool history_is_stale(int slot, int t) {
  int before, after;
  if (!history_span(slot, t, &before, &after)) return true;
  if (before >= 0 && t - before > history_size) return true;
  if (after >= 0 && after - t > history_size) return true;
  return false;
}

int history_unwritten(int slot, HistoryEntry* out, int max) {
  if (!valid_slot(slot)) return 0;
  const SlotHistory& h = state_history.slots[slot];
  int n = h.count < max ? h.count : max;
  for (int k = 0; k < n; ++k) out[k] = h.entries[wrap(h.head - n + 1 + k)];
  return n;
}
