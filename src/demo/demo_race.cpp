// The race's view of the demo module: hooks for the race start and tick, and seeking.
#include "demo/demo_race.h"

#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "core/console.h"
#include "core/options.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/track_list.h"
#include "demo/demo.h"
#include "demo/demo_seams.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "track/track.h"

const char* demo_selected_name = nullptr;

namespace {

bool flush_next = false;        // the first record tick of a recording flushes
bool results_flushed = false;   // the tick the results became final was flushed
bool assignment_pending = false;  // handed-out demo riders still need their slots
int handed_out[max_riders];     // rider indices in the order the race took them
int handed_out_count = 0;
char playing_name[1100];

bool track_installed(const char* name) { return track_list_find(&track_list, name) >= 0; }

const char* playback_name() {
  if (demo_selected_name) return demo_selected_name;
  if (session.demo_file) return session.demo_file;
  return demo_default_name;
}

bool load(const char* name, bool hot_lap) {
  handed_out_count = 0;
  assignment_pending = false;
  snprintf(playing_name, sizeof playing_name, "%s", name);
  if (!demo_load(name, hot_lap, track_installed)) return false;
  assignment_pending = true;
  return true;
}

bool hook_demo_load(const char** track, int* gate_drop_tick) {
  if (!load(playback_name(), false)) return false;
  const DemoHeader& h = demo_playback.reader.header;
  *track = h.track;
  *gate_drop_tick = h.gate_drop_tick;
  return true;
}

bool hook_hot_lap_ghost_load(const char* path) { return path && load(path, true); }

bool hook_demo_next_rider(RaceRiderDesc* out) {
  const DemoRiderDesc* d;
  int index;
  if (!demo_next_rider(&d, &index)) return false;
  handed_out[handed_out_count++] = index;
  *out = RaceRiderDesc{};
  out->bike = d->bike[0] ? d->bike : nullptr;
  out->number = d->number;
  out->name = d->name[0] ? d->name : nullptr;
  const char* t[4] = {d->body_texture, d->head_texture, d->bike_texture, d->wheels_texture};
  for (int i = 0; i < 4; ++i) out->textures[i] = t[i][0] ? t[i] : nullptr;
  return true;
}

// The race fills code-0 slots in slot order from the handed-out riders; a rider that could not
// be created leaves its slot empty, so the rider numbers keep the pairing right.
void assign_slots() {
  assignment_pending = false;
  int next = 0;
  for (int s = 0; s < max_riders && next < handed_out_count; ++s) {
    const RiderSlot& slot = session.slots[s];
    if (!slot.rider || slot.kind != slot_replayed) continue;
    for (int k = next; k < handed_out_count; ++k) {
      const DemoRiderDesc& d = demo_playback.reader.header.riders[handed_out[k]];
      if (strncmp(slot.rider->number, d.number, sizeof slot.rider->number) == 0) {
        demo_assign_slot(handed_out[k], s);
        next = k + 1;
        break;
      }
    }
  }
}

void stop_recording_flushed() {
  if (!demo_recording.active) return;
  demo_record_tick(race.race_tick, true);
  demo_stop_recording();
}

void hook_demo_stop() {
  demo_stop_playback();
  assignment_pending = false;
  stop_recording_flushed();
}

bool recorded_kind(const RiderSlot& s) {
  if (!s.rider) return false;
  if (!race.online) return s.kind == slot_local || s.kind == slot_robot;
  if (race.has_grid_position) return true;
  return s.kind == slot_replayed || s.kind == slot_robot;
}

void hook_demo_start_recording(const char* name) {
  if (!name && demo_playback.active && strcmp(playing_name, demo_default_name) == 0) {
    console_print("Can't record and play from same file - recording disabled");
    return;
  }
  static DemoHeader h;
  memset(&h, 0, sizeof h);
  h.time_limit_ticks = race.time_limit_ticks;
  h.extra_laps = race.extra_laps;
  h.gate_drop_tick = race.gate_drop_tick;
  demo_clean_text(h.track, session.loaded_track);
  int slots[max_riders];
  int n = 0;
  for (int s = 0; s < max_riders; ++s) {
    const RiderSlot& slot = session.slots[s];
    if (!recorded_kind(slot)) continue;
    DemoRiderDesc& d = h.riders[n];
    const Rider* r = slot.rider;
    demo_clean_text(d.bike, race_slots[s].bike ? race_slots[s].bike : r->info.model_name);
    demo_clean_text(d.number, r->number);
    demo_clean_text(d.name, race_slots[s].name);
    slots[n++] = s;
  }
  h.rider_count = n;
  if (demo_start_recording(&h, slots, n, name, settings.demo_backups)) {
    flush_next = true;
    results_flushed = race.results_final;
  }
}

void hook_history_apply(Rider* rider, int slot, int tick) { apply_history(rider, slot, tick); }

bool hook_history_span(int slot, int tick, int* before, int* after) {
  return history_span(slot, tick, before, after);
}

void hook_history_clear() {
  clear_history();
  // Called again once the track is loaded: the packing range is frozen for the whole race.
  if (track_terrain.heights) demo_freeze_pack_range(&track_terrain);
}

void hook_demo_tick(int) {
  if (demo_recording.active) {
    // The tick the results become final is flushed too: a run that ends there (or a shutdown
    // that releases the riders before the recording closes) still has the finishing records.
    bool final_now = race.results_final && !results_flushed;
    if (final_now) results_flushed = true;
    demo_record_tick(race.race_tick, flush_next || final_now);
    flush_next = false;
  }
  if (demo_playback.active) {
    if (assignment_pending) {
      assign_slots();
      // A played race keeps the recorded length, so that it finishes as the recorded one did.
      if (!demo_playback.hot_lap) {
        const DemoHeader& h = demo_playback.reader.header;
        race.time_limit_ticks = h.time_limit_ticks;
        race.extra_laps = h.extra_laps;
        if (h.time_limit_ticks == 0) {
          race.race_laps = h.extra_laps;
          race.halfway_lap = (h.extra_laps + 1) / 2;
        } else {
          race.race_laps = race.halfway_lap = max_race_laps;
        }
      }
    }
    demo_play_tick(&race.race_tick);
  }
}

// Every crossing after the target tick is forgotten, so rewinding re-opens checkpoints.
void drop_crossings_after(int target) {
  for (int s = 0; s < max_riders; ++s) {
    Rider* r = session.slots[s].rider;
    Array<int>& c = race_slots[s].crossings;
    int keep = 0;
    for (int i = 0; i < c.count; ++i)
      if (c.items[i] >= 0 && c.items[i] <= target) keep = i + 1;
    if (c.count > keep) c.count = keep;
    if (!r) continue;
    r->checkpoints_passed = keep;
    r->last_crossing_tick = keep > 0 ? c.items[keep - 1] : 0;
    r->finished = false;
  }
}

}  // namespace

void demo_install_race_hooks() {
  race_hooks.demo_load = hook_demo_load;
  race_hooks.demo_next_rider = hook_demo_next_rider;
  race_hooks.demo_stop = hook_demo_stop;
  race_hooks.demo_start_recording = hook_demo_start_recording;
  race_hooks.history_clear = hook_history_clear;
  race_hooks.history_apply = hook_history_apply;
  race_hooks.history_span = hook_history_span;
  race_hooks.demo_tick = hook_demo_tick;
  race_hooks.hot_lap_ghost_load = hook_hot_lap_ghost_load;
  if (!demo_apply_state_hook) demo_apply_state_hook = bike_apply_state;
}

bool demo_is_playing() { return demo_playback.active; }

void demo_shutdown() {
  demo_stop_playback();
  stop_recording_flushed();
}

void demo_seek(double seconds) {
  if (!demo_playback.active || demo_recording.active || !std::isfinite(seconds)) return;
  for (const RiderSlot& s : session.slots)
    if (s.rider && s.kind != slot_replayed) return;
  double ticks = seconds / tick_seconds;
  if (ticks > demo_max_ticks) ticks = demo_max_ticks;
  if (ticks < -demo_max_ticks) ticks = -demo_max_ticks;
  if (seconds > 0 && (demo_playback.reader.header.version == 6 || options.accurate_skip)) {
    int target = race.race_tick + static_cast<int>(ticks);
    while (race.race_tick < target && demo_playback.active) race_tick_step();
    return;
  }
  double t = std::trunc(race.race_tick + ticks - 1);
  int target = t < 0 ? 0 : static_cast<int>(t);
  if (!demo_seek_to(target)) return;
  drop_crossings_after(target);
  race.results_final = false;
  update_standings();
  race.race_tick = target;
  clear_history();
  demo_play_tick(&race.race_tick);
  race_tick_step();
}
