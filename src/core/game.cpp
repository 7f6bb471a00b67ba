// Start-up, the main loop with its fixed 1/128 s tick, and the shutdown order.
#include "core/game.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/console.h"
#include "core/frame_budget.h"
#include "core/frontend.h"
#include "core/memory.h"
#include "core/options.h"
#include "core/session.h"
#include "core/track_list.h"
#include "platform/log.h"
#include "resources/data.h"

Frontend frontend;
bool cpu_has_mmx = false;

namespace {

// What start-up created, so that shutdown releases only that, in reverse.
struct Created {
  bool window;
  bool audio;
  FILE* record_audio;
};
Created created;

constexpr int audio_readback_chunk = 690;  // tick_seconds * 88320 samples

void close_devices_for_exit() {
  if (created.audio && frontend.audio_close) frontend.audio_close();
  created.audio = false;
  if (created.window && frontend.window_destroy) frontend.window_destroy();
  created.window = false;
}

// Clears the channels and sums the bindings into them (inputs arrive through the bindings).
void update_channels() {
  for (float& c : session.channels) c = 0;
  for (const ChannelBinding& b : session.channel_bindings) session.channels[b.channel] += b.gain * b.value;
}

void race_tick_step() {
  // The race module fills this when it lands; until then the tick only counts.
}

void run_one_tick(double due_wall, bool last) {
  (void)due_wall;
  (void)last;
  update_channels();
  // Offline, an open menu over the local rider freezes the game.
  if (session.menu_screen >= 0 && session.view_slot >= 0 &&
      session.slots[session.view_slot].kind == slot_local && !session.connected)
    return;
  if (!session.loaded_track && session.view_mode != editor_view) session.view_mode = title_view;
  if (session.connected) session.paused = false;
  if (!session.paused && session.loaded_track) race_tick_step();
}

bool quit_requested() {
  if (session.quit) return true;
  return options.quit_after_ticks >= 0 && session.ticks_run >= options.quit_after_ticks;
}

void shutdown_all(bool had_track) {
  (void)had_track;
  // The network goodbye, series standings and learned lines come with their modules.
  velk_log("Deallocating bikes\n");
  for (RiderSlot& slot : session.slots) slot.rider = nullptr;
  velk_log("Finished deallocating bikes\n");
  session.loaded_track = nullptr;
  if (created.audio && frontend.audio_close) frontend.audio_close();
  created.audio = false;
  if (created.record_audio) fclose(created.record_audio);
  created.record_audio = nullptr;
  if (created.window && frontend.window_destroy) frontend.window_destroy();
  created.window = false;
  track_list_free(&track_list);
  velk_log(nullptr);
}

// "--headless" decides whether a window layer exists at all, before the options are parsed.
bool argv_has_headless(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) return false;
    if (strcmp(argv[i], "--headless") == 0) return true;
  }
  return false;
}

}  // namespace

int game_run_ticks(double now_wall) {
  int ticks = 0;
  while (session.sim_time < session.target_time && !quit_requested()) {
    session.sim_time += tick_seconds;
    double due = now_wall - (session.target_time - session.sim_time);
    bool last = due >= now_wall;
    run_one_tick(due, last);
    session.ticks_run++;
    ++ticks;
  }
  return ticks;
}

int game_main(int argc, char** argv, bool (*install_frontend)(Frontend* f)) {
  // 1. Initial option values.
  options_set_defaults(&options);
  memset(&session, 0, sizeof session);
  session.view_slot = 0;
  session.view_mode = rider_view;
  session.frame_stats.shortest_interval = 1.0;
  session_init_bindings(&session);
  set_out_of_memory_hook(close_devices_for_exit);

  // 2. Console; standard output carries binary video frames, so no text translation on it.
  console_clear();

  // The window layer comes first so that even "Can't find game data" shows in a box and the
  // display modes are known before the settings are read. A headless run has none at all.
  bool headless = argv_has_headless(argc, argv) || !install_frontend || !install_frontend(&frontend);
  if (headless) frontend = Frontend{};

  // 3. The game data and the log.
  if (!data_check()) {
    velk_message_box("Problem starting Kelvane", "Can't find game data\n");
    velk_log(nullptr);
    return 1;
  }

  // 5. The processor: the software ground composition wants MMX.
  cpu_has_mmx = __builtin_cpu_supports("mmx");
  if (!cpu_has_mmx) velk_log("This CPU does not have MMX!\n");

  // 4.-10. Shape files, presets, texture lists, lighting defaults, settings: with their modules.

  // 11. The command line.
  char err[1100];
  if (options_parse(&options, argc, argv, err, sizeof err) != options_ok) {
    fputs(err, stderr);
    velk_log(nullptr);
    return 1;
  }
  if (options.nommx && cpu_has_mmx) {
    velk_log("Ignoring MMX\n");
    cpu_has_mmx = false;
  }
  if (options.open_home) {
    open_home_folder();
    velk_log(nullptr);
    return 0;
  }
  session.demo_file = options.demo_file;
  session.server_address = options.connect;
  session.server_password = options.password;
  session.menu_screen = options.connect ? -1 : 0;

  // 12. Tracks and demos.
  track_list_build(&track_list, options.debug_level);
  if (track_list.track_count == 0) {
    fputs("No tracks found\n", stderr);
    velk_log(nullptr);
    return 1;
  }

  // 14. The track menu's selection.
  track_list_select(&track_list, options.track ? options.track : "rabbithill");

  int exit_status = 0;

  // 15. The window and the GL context.
  if (frontend.window_create) {
    bool windowed = false;
    int w = options.width > 0 ? options.width : 640, h = options.height > 0 ? options.height : 480;
    if (!frontend.window_create("Kelvane", windowed ? w : 0, windowed ? h : 0, options.depth, !windowed, options.zdepth)) {
      velk_log(nullptr);
      return 1;
    }
    created.window = true;
  }

  // 16. Audio, unless silent; a failure leaves the game silent.
  if (options.record_audio) {
    created.record_audio = fopen(options.record_audio, "wb");
  }
  if (!options.nosound && !headless && frontend.audio_open) created.audio = frontend.audio_open();

  bool start_ok = true;
  if (created.window) {
    // 17. Wait until the window can be drawn: about 10 s, then give up through shutdown.
    FrameSize size{};
    int tries = 0;
    while (!frontend.begin_frame(&size)) {
      if (++tries >= 162) {
        start_ok = false;
        break;
      }
      if (frontend.pump_events) frontend.pump_events();
      FrameClock clock = frame_clock_system();
      clock.sleep(clock.ctx, 1.0 / 16);
    }
    // 18.-21. GL capabilities, state, fonts and HUD textures, then the first swap.
    if (start_ok && frontend.init_gl && !frontend.init_gl()) start_ok = false;
    if (start_ok && !frontend.end_frame()) start_ok = false;
    if (!start_ok) exit_status = 1;
  }

  // 22.-24. Bindings, scratch lists, the physics world: with their modules.

  // 25.-27. The demo named on the command line, the slots, the first race start.
  session_reset_slots(&session);
  const char* track_to_load = options.track;
  if (start_ok && track_to_load) {
    if (track_list_find(&track_list, track_to_load) >= 0) {
      session.loaded_track = intern_string(track_to_load);
    } else {
      console_printf("Can't open '%.950s'", track_to_load);
    }
  }
  if (!session.loaded_track) session.view_mode = title_view;

  // 28. The main loop.
  FrameClock clock = frame_clock_system();
  session.previous_wall = clock.now(clock.ctx);
  while (start_ok && !quit_requested()) {
    FrameSize size{};
    bool drawn = false;
    if (created.window && frontend.begin_frame(&size)) {
      if (frontend.draw_frame) frontend.draw_frame(&size);
      drawn = true;
    }
    if (drawn && !frontend.end_frame()) {
      exit_status = 1;
      break;
    }
    if (frontend.pump_events) frontend.pump_events();
    if (created.audio && frontend.audio_update) frontend.audio_update();
    BudgetInputs in{};
    in.lock_fps = options.lock_fps;
    in.warp = options.warp;
    in.headless = headless;
    in.connected = session.connected;
    double budget = frame_budget(&session, &clock, &in);
    session.target_time += budget;
    session.total_game_time += budget;
    game_run_ticks(headless ? session.previous_wall : clock.now(clock.ctx));
    if (session.view_mode != title_view) console_update_expiry(session.total_game_time);
  }

  shutdown_all(session.loaded_track != nullptr);
  return exit_status;
}
