// Start-up, the main loop with its fixed 1/128 s tick, and the shutdown order.
#include "core/game.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/bindings.h"
#include "core/console.h"
#include "core/frame_budget.h"
#include "core/frontend.h"
#include "core/memory.h"
#include "core/options.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/track_list.h"
#include "bike/bike.h"
#include "bike/control.h"
#include "bike/engine.h"
#include "bike/rider.h"
#include "bike/shape.h"
#include "demo/demo_race.h"
#include "race/race.h"
#include "robots/lines.h"
#include "track/track.h"
#include "track/track_assets.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/window_modes.h"
#include "resources/data.h"
#include "resources/model.h"
#include "resources/texture.h"

Frontend frontend;
bool cpu_has_mmx = false;

namespace {

// What start-up created, so that shutdown releases only that, in reverse.
struct Created {
  bool window;
  bool audio;
  FILE* record_audio;
  bool bindings;
};
Created created;

void close_devices_for_exit() {
  if (created.audio && frontend.audio_close) frontend.audio_close();
  created.audio = false;
  if (created.window && frontend.window_destroy) frontend.window_destroy();
  created.window = false;
}

bool menu_freezes_game() {
  return session.menu_screen >= 0 && session.view_slot >= 0 && session.view_slot < max_riders &&
         session.slots[session.view_slot].kind == slot_local && !session.connected;
}

// The event rules of the main loop: menus, pause and step; the rest comes with its module.
void handle_event(void*, int code, int pressed, bool captured) {
  if (captured || !pressed) return;
  if (code == fixed_keys.esc && code != 0) {
    session.menu_screen = session.menu_screen < 0 ? 0 : -1;
    return;
  }
  if (session.menu_screen >= 0) {
    if (!session.loaded_track) session.view_mode = title_view;
    return;
  }
  if (session.view_mode == title_view) return;
  const KeyBinding* keys = session.command_bindings;
  if (code == keys[command_pause].key_code && keys[command_pause].key_code && !session.connected) {
    session.paused = !session.paused;
  } else if (code == keys[command_step].key_code && keys[command_step].key_code && session.paused) {
    if (session.loaded_track) race_tick_step();
  }
}

// The channels drive the player's rider; sticky dab and the clutch's engage rate live here.
void apply_channels(Rider* r) {
  const float* ch = session.channels;
  float steer = ch[channel_steer];
  if (settings.setup.reverse_steering) steer = -steer;
  control_set_steer(r, steer);
  control_set_front_brake(r, ch[channel_front_brake]);
  control_set_rear_brake(r, ch[channel_rear_brake]);
  control_set_throttle(r, ch[channel_throttle]);
  control_set_lean(r, ch[channel_lean]);
  control_set_back_up(r, ch[channel_back_up]);
  float dab = ch[channel_dab];
  if (settings.setup.sticky_dab) {
    if (session.previous_dab < 0.5f && dab >= 0.5f) session.sticky_dab_held = !session.sticky_dab_held;
    session.previous_dab = dab;
    dab = session.sticky_dab_held ? 1.0f : 0.0f;
  }
  control_set_dab(r, dab);
  // The lever is fully in at 0.875; letting it out takes at least a quarter second.
  float target = std::clamp(1.0f - ch[channel_clutch] * 8.0f / 7.0f, 0.0f, 1.0f);
  float current = r->control.clutch;
  control_set_clutch(r, target > current ? std::min(target, current + 4.0f * static_cast<float>(tick_seconds)) : target);
  float shift = ch[channel_shift];
  shift_request(r, shift > 0.5f ? 1 : shift < -0.5f ? -1 : 0);
}

// One binary PPM frame on standard output, top row first.
void record_video_frame(const FrameSize& size) {
  if (!frontend.read_frame || size.width <= 0 || size.height <= 0) return;
  size_t row = static_cast<size_t>(size.width) * 3;
  unsigned char* rgb = static_cast<unsigned char*>(malloc(row * static_cast<size_t>(size.height)));
  if (!rgb) return;  // no frame this time; the game goes on
  if (frontend.read_frame(size.width, size.height, rgb)) {
    printf("P6\n%d %d\n255\n", size.width, size.height);
    for (int y = size.height - 1; y >= 0; --y) fwrite(rgb + row * static_cast<size_t>(y), 1, row, stdout);
    fflush(stdout);
  }
  free(rgb);
}

void run_one_tick(double due_wall, bool last) {
  uint64_t due_ms = static_cast<uint64_t>(std::llround(due_wall * 1000.0));
  input_tick(&session, game_input, due_ms, last, handle_event, nullptr);
  // Offline, an open menu over the local rider freezes the game.
  if (menu_freezes_game()) return;
  if (session.menu_screen < 0 && session.loaded_track && session.view_slot >= 0 && session.view_slot < max_riders) {
    RiderSlot& viewed = session.slots[session.view_slot];
    if (viewed.kind == slot_local && viewed.rider) apply_channels(viewed.rider);
  }
  if (!session.loaded_track && session.view_mode != editor_view) session.view_mode = title_view;
  if (session.connected) session.paused = false;
  if (!session.paused && session.loaded_track) race_tick_step();
}

bool quit_requested() {
  if (session.quit) return true;
  if (options.quit_after_race && race_results_are_final()) return true;
  return options.quit_after_ticks >= 0 && session.ticks_run >= options.quit_after_ticks;
}

// Options that store into a setting are written back with the settings at exit.
void options_into_settings() {
  if (options.width > 0) settings.xres = options.width;
  if (options.height > 0) settings.yres = options.height;
  if (options.draw_fps >= 0) settings.draw_fps = options.draw_fps;
  if (options.draw_time >= 0) settings.draw_time = options.draw_time;
  if (options.draw_ping >= 0) settings.draw_ping = options.draw_ping;
}

// Options that replace a derived renderer value for this session only.
void options_into_derived() {
  if (options.texture_detail >= 0) derived_values.model_texture_reduction = options.texture_detail;
  if (options.ground_texture_detail >= 0) derived_values.ground_texture_reduction = options.ground_texture_detail;
  if (options.roost_frequency >= 0) derived_values.roost_rate = options.roost_frequency;
  if (options.detail >= 0) derived_values.ground_detail_scale = options.detail;
  model_texture_reduction = derived_values.model_texture_reduction;
}

void shutdown_all() {
  // The network goodbye and the series standings come with their modules.
  lines_save();
  // The recording closes while the riders still exist; then riders, track and physics go.
  demo_shutdown();
  race_shutdown();
  physics_shutdown();
  session.loaded_track = nullptr;
  if (created.bindings) {
    bindings_close_axes(&session);
    fixed_keys_close();
  }
  if (created.audio && frontend.audio_close) frontend.audio_close();
  created.audio = false;
  if (created.record_audio) fclose(created.record_audio);
  created.record_audio = nullptr;
  if (created.window && frontend.window_destroy) frontend.window_destroy();
  created.window = false;
  // The track menu's selection is remembered for the next start.
  if (track_list.selected >= 0) settings.track = track_list.tracks[track_list.selected].folder;
  settings_write();
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
  bindings_reset_defaults(&session);
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

  // 4. The fixed shape files: a mismatch only matters to a race server, which is told.
  shape_files_check();

  // 5. Video modes for the settings; the processor (the software ground composition wants MMX).
  int mode_count = 0;
  const char* const* mode_names = velk_video_mode_names(&mode_count);
  settings_set_video_modes(mode_names, mode_count);
  cpu_has_mmx = __builtin_cpu_supports("mmx");
  if (!cpu_has_mmx) velk_log("This CPU does not have MMX!\n");

  // 6.-7. Defaults with the stability and Compatibility presets; the texture choice lists.
  settings_set_defaults(&settings);
  texture_lists_build_all(&settings.setup);

  // 9.-10. The settings file and the renderer's working values.
  settings_read();
  settings_derive(&settings, &derived_values);

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
  options_into_settings();
  options_into_derived();
  track_settings_from_options(&options);
  track_settings.detail_threshold = static_cast<float>(derived_values.ground_detail_scale);
  model_lod_scale = options.lod_scale_given ? options.lod_scale : derived_values.model_lod_scale;
  model_lod_bias = options.lod_bias_given ? options.lod_bias : derived_values.model_lod_bias;
  model_reflections = derived_values.reflections;
  texture_compress_setting = derived_values.texture_compression;
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
  track_list_select(&track_list, options.track ? options.track : settings.track ? settings.track : "rabbithill");

  int exit_status = 0;

  // 15. The window and the GL context: "Windowed" is choice 1, every other choice full screen.
  if (frontend.window_create) {
    bool windowed = settings.video_mode == 1;
    int w = 0, h = 0;
    if (windowed) {
      w = settings.xres;
      h = settings.yres;
    } else {
      int n = 0;
      const VelkVideoModeChoice* modes = velk_video_mode_list(&n);
      if (settings.video_mode > 1 && settings.video_mode < n) {
        w = modes[settings.video_mode].width;
        h = modes[settings.video_mode].height;
      }
    }
    if (!frontend.window_create("Kelvane", w, h, options.depth, !windowed, options.zdepth)) {
      velk_log(nullptr);
      return 1;
    }
    created.window = true;
  }

  // 16. Audio, unless silent; a failure leaves the game silent.
  if (options.record_audio) created.record_audio = fopen(options.record_audio, "wb");
  if (!options.nosound && !headless && frontend.audio_open) created.audio = frontend.audio_open();

  bool start_ok = true;
  if (created.window) {
    // 17. Wait until the window can be drawn: about 10 s, then give up through shutdown.
    FrameSize size{};
    int tries = 0;
    FrameClock clock = frame_clock_system();
    while (!frontend.begin_frame(&size)) {
      if (++tries >= 162) {
        start_ok = false;
        break;
      }
      if (frontend.pump_events) frontend.pump_events();
      clock.sleep(clock.ctx, 1.0 / 16);
    }
    // 18.-21. GL capabilities, state, fonts and HUD textures, then the first swap.
    if (start_ok && frontend.init_gl && !frontend.init_gl()) start_ok = false;
    if (start_ok && !frontend.end_frame()) start_ok = false;
    if (!start_ok) exit_status = 1;
  }

  // 22. The pointer axes, the bindings and the fixed menu keys.
  if (start_ok) {
    fixed_keys_resolve(game_input);
    bindings_resolve(&session, game_input);
    created.bindings = true;
  }

  // 24. The physics world; the riders' finish check is the race's.
  physics_init();
  control_finish_hook = has_finished;

  // 25.-27. The demo named on the command line, the slots, the first race start.
  demo_install_race_hooks();
  lines_install_hooks();
  if (options.demo_file) demo_selected_name = options.demo_file;
  session_reset_slots(&session);
  session.loaded_track = nullptr;
  if (start_ok && (options.track || options.demo_file)) start_first_race(options.demo_file != nullptr);
  if (!session.loaded_track) session.view_mode = title_view;

  // 28. The main loop.
  FrameClock clock = frame_clock_system();
  session.previous_wall = clock.now(clock.ctx);
  while (start_ok && !quit_requested()) {
    FrameSize size{};
    if (created.window && frontend.begin_frame(&size)) {
      if (settings.video_mode == 1) {
        settings.xres = size.width < 64 ? 64 : size.width > 16384 ? 16384 : size.width;
        settings.yres = size.height < 64 ? 64 : size.height > 16384 ? 16384 : size.height;
      }
      if (frontend.draw_frame) frontend.draw_frame(&size);
      if (options.record_video && !session.paused && session.view_mode != title_view) record_video_frame(size);
      if (!frontend.end_frame()) {
        exit_status = 1;
        break;
      }
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

  shutdown_all();
  return exit_status;
}
