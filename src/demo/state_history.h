// Per slot a ring of tick-stamped state records: what replayed riders are shown from, and the
// buffer the demo recorder writes from.
#pragma once
#include "core/session.h"
#include "demo/state_record.h"

constexpr int history_size = 128;
constexpr int history_extrapolate_ticks = 64;  // 0.5 s beyond the newest record

struct HistoryEntry {
  int tick;  // -1 = empty
  StateRecord record;
};

struct SlotHistory {
  HistoryEntry entries[history_size];
  int head;   // newest entry
  int count;  // records not yet written to the demo, 0..128
};

struct StateHistory {
  SlotHistory slots[max_riders];
};

extern StateHistory state_history;

// Every slot: head 0, count 0, all ticks -1, all records zero.
void clear_history();
// Inserted in tick order; a tick already present is ignored.
void add_state_to_history(int slot, const StateRecord* record, int tick);

// The records to show at tick: before and after with their distance, and the blend.
struct HistorySample {
  StateRecord before, after, current;
  int interval;  // ticks from before to after, at least 1
};
// False when the slot has no record at all. exact_only: the blend is never interpolated
// (records without a known layout).
bool history_sample(int slot, int tick, bool exact_only, HistorySample* out);
// Sets a replayed rider from its history at tick (tick < 0 counts as 0).
void apply_history(Rider* rider, int slot, int tick);
// Ticks of the latest record before tick and the next one at or after it (-1 when none).
// False when the slot has neither.
bool history_span(int slot, int tick, int* before, int* after);
// A replayed rider whose history does not reach within one second of tick.
bool history_is_stale(int slot, int tick);

// The slot's unwritten records, oldest first, at most max; count is left unchanged.
int history_unwritten(int slot, HistoryEntry* out, int max);
// Playing a version 4 demo: records are applied as they are, never blended.
extern bool history_exact_only;
