// Demo recording and playback of one race: the recorder writes every new history record, the
// player reads blocks half a second ahead into the history, and seeking walks the file.
#pragma once
#include "demo/demo_file.h"
#include "demo/state_history.h"

constexpr const char* demo_default_name = "@demos/default.kvdemo";
constexpr int demo_max_backups = 100;

struct DemoRecording {
  DemoWriter writer;
  bool active;
  int rider_count;
  int slots[max_riders];  // slot of each recorded rider, in slot order
  char name[256];         // "namedemo": the file name the demo is moved to when it stops
};

struct DemoPlayback {
  DemoReader reader;
  bool active;
  int slot_of[max_riders];   // assigned slot of each demo rider, -1 when none
  int riders_handed_out;     // demo riders given to lineup slots at the race start
  int tick_offset;           // added to every played tick (hot-lap ghosts start now)
  int first_block_tick;      // -1 before the first states block is read
  bool hot_lap;
  float sound_volume[max_riders];  // 1 when a slot's record of the tick was read, else 0
};

extern DemoRecording demo_recording;
extern DemoPlayback demo_playback;

// The "@demos/defaultNN.kvdemo" names shift up by one (N = backups, clamped 0..100) and the
// current default becomes number 00. Only existing files move, by POSIX rename.
void demo_rotate_backups(int backups);
// Starts writing the header of the given riders (slots in order). file: null for the normal
// demo (with the backups rotation), else a data name such as "@track/lastlap.kvdemo".
bool demo_start_recording(const DemoHeader* header, const int* slots, int count, const char* file,
                          int backups);
// Closes the file into place; with a "namedemo" name the default demo then moves there.
void demo_stop_recording();
// "namedemo": the name gets ".kvdemo" unless it ends with it; null or "" forgets it. False when
// the name holds a folder separator or is too long.
bool demo_set_name(const char* name);
// After every race tick (and with flush at the race start and at hot-lap lap changes): local
// and robot riders add a record every 4 ticks, a block is written every 16.
void demo_record_tick(int race_tick, bool flush);
// A console message from the server while recording.
void demo_record_message(int race_tick, const char* text);

// Opens a demo for playback (console line on failure). track_installed may be null.
bool demo_load(const char* name, bool hot_lap, bool (*track_installed)(const char*));
void demo_stop_playback();
// The next demo rider for a lineup slot of code 0; false when all are handed out.
bool demo_next_rider(const DemoRiderDesc** out, int* rider_index);
void demo_assign_slot(int rider_index, int slot);
// After every race tick: reads what is due into the history. race_tick may be set by the
// first block (not in hot-lap mode, where the tick offset moves the ghost instead).
void demo_play_tick(int* race_tick);
// Repositions the reader so that playback from tick target on reads everything again.
bool demo_seek_to(int target_tick);
