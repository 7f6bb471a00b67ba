// The session state of the main thread: rider slots, the viewed rider, view mode, menus,
// pause, time keeping and the control channels. Other modules read it directly.
#pragma once
#include <cstdint>
#include "core/binding.h"

struct Rider;
struct EngineSound;

constexpr double tick_seconds = 0.0078125;  // 1/128 s, the simulation step
constexpr int ticks_per_second = 128;
constexpr int max_riders = 160;

enum SlotKind : uint8_t { slot_replayed = 0, slot_local = 1, slot_robot = 2 };

enum ViewMode : int {
  rider_view = 0,
  editor_view = 2,
  chase_view = 3,
  track_camera_view = 4,
  title_view = 5,
};

enum Channel : int {
  channel_steer = 0,
  channel_throttle,
  channel_front_brake,
  channel_rear_brake,
  channel_shift,
  channel_clutch,
  channel_dab,
  channel_back_up,
  channel_lean,
  channel_count
};

struct RiderSlot {
  Rider* rider;            // null when the slot is empty
  SlotKind kind;
  int lineup_code;         // requested for the next race start: 0 empty, 1 human, 2..4 robots
  EngineSound* sound;      // engine-sound state, owned by the sound module
};

struct ChannelBinding {
  KeyBinding binding;
  int channel;
  float gain;
  float value;  // 1 while the key is held, or the normalised axis value
};

constexpr int channel_binding_count = 12;
constexpr int command_binding_count = 8;
enum CommandKey : int {
  command_screenshot = 0, command_chat, command_prev_bike, command_next_bike,
  command_skip, command_rewind, command_step, command_pause
};

struct FrameStats {
  double shortest_interval;  // s, starts at 1
  double longest_interval;   // s
  double shortest_budget;    // s
  double longest_budget;     // s
  int histogram[8];          // counter k: intervals below tick_seconds * 2^k
};

struct Session {
  RiderSlot slots[max_riders];
  int view_slot;
  ViewMode view_mode;
  int menu_screen;        // -1 when no menu is open
  bool paused;
  bool quit;
  const char* loaded_track;   // interned folder name, null when no track is loaded
  const char* demo_file;      // the demo named on the command line
  const char* server_address;
  const char* server_password;
  bool connected;             // a race server connection is up (the network module sets it)
  double previous_wall;       // s
  double sim_time;            // game s
  double target_time;         // game s
  double total_game_time;     // game s; console expiry is measured against it
  int64_t ticks_run;          // ticks since start-up (for --quit-after-ticks)
  FrameStats frame_stats;
  float channels[channel_count];
  ChannelBinding channel_bindings[channel_binding_count];
  KeyBinding command_bindings[command_binding_count];
  bool cursor_left_held;
  bool sticky_dab_held;
  float previous_dab;
};

extern Session session;

// Clears the slots and the lineup: every slot empty and replayed; slot 0 gets a robot unless a
// demo file was named on the command line.
void session_reset_slots(Session* s);
// Fills the built-in binding tables with their labels, settings keys and default keys.
void session_init_bindings(Session* s);
