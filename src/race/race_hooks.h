// What the race calls in modules that plug into it (demos, robots, network, sound, loading
// screen, results file, series): each entry may stay null, and then the race does without it.
#pragma once

struct Rider;

// A rider described by a demo or the server: every text may be null.
struct RaceRiderDesc {
  const char* bike;
  const char* number;
  const char* name;
  const char* textures[4];  // body, head, bike, wheels
};

struct RaceHooks {
  // Loading screen: one line of text while the race starts (only with a window).
  void (*loading_text)(const char* text);

  // Racing lines and the auto pilot.
  void (*lines_save_and_clear)();
  void (*lines_load)(int skill);
  void (*lines_prune)();
  void (*lines_reset_pick_ticks)();                        // last-picked tick -1000000
  void (*lines_crossing)(Rider* rider, int slot);          // clear the two sample buffers
  void (*lines_before_crossing)(Rider* rider);             // crash check and sampling
  void (*auto_pilot_step)(Rider* rider, int slot);
  void (*set_personality)(Rider* rider, const char* name);

  // Demos and the state history.
  bool (*demo_load)(const char** track, int* gate_drop_tick);  // the selected demo for playback
  bool (*demo_next_rider)(RaceRiderDesc* out);                 // fills a code-0 slot
  void (*demo_stop)();                                         // stop playback, close recording
  void (*demo_start_recording)(const char* name);              // null name: the normal demo
  void (*history_clear)();
  void (*history_apply)(Rider* rider, int slot, int tick);     // a replayed rider's state
  // Ticks of the latest record before tick and the next one after it; false when none.
  bool (*history_span)(int slot, int tick, int* before, int* after);
  void (*demo_tick)(int tick);                                 // record, then play back
  bool (*hot_lap_ghost_load)(const char* path);                // "fastlap.kvdemo" for playback

  // Network: the server's lineup and per-slot records.
  void (*net_clear)();

  // Engine sound of one slot.
  void (*sound_load)(int slot, Rider* rider);
  void (*sound_release)(int slot);

  // Results file, points series, terrain wear, cameras.
  void (*results_write)();
  void (*series_refresh)();
  void (*series_update)();
  void (*terrain_wear)(Rider* rider);
  void (*chase_camera_reset)();
  unsigned long (*texture_memory)();

  // Profiling: when set, called in place of the world step (it must call physics_step).
  void (*world_step)();
};

extern RaceHooks race_hooks;
