// One race: the start with its lineup and grid, the per-tick update in its fixed order, timing of
// checkpoints and laps, the finish, the standings and the official results.
#pragma once
#include <cstdio>

#include "core/array.h"
#include "core/session.h"

struct Rider;

constexpr int roster_size = 80;
constexpr int max_race_laps = 1000000;
constexpr int hot_lap_start_tick = 38400;  // 300 s: the gate has long fallen

// Lineup codes of a slot at race start.
enum LineupCode : int {
  lineup_empty = 0,
  lineup_local = 1,
  lineup_robot = 2,
  lineup_robot_125 = 3,
  lineup_robot_250 = 4,
  lineup_network = 5,
  lineup_robot_number = 1000,  // + the rider number of a roster entry
};

struct StandingEntry {
  int slot;
  int checkpoints;
  int last_tick;  // tick of the last recorded crossing, 0 when none
};

// Race-owned state of one slot that the Rider record has no room for.
struct RaceSlot {
  Array<int> crossings;   // race_tick per checkpoint index, -1 for a skipped one
  const char* name;       // interned rider name shown in the results
  const char* bike;       // interned bike model name
  const char* team;       // every robot rides for the same team; null for the others
  bool network;           // a network rider (online only)
  int last_receive_tick;  // network riders: tick of the last message from it
  int laps_at_tick_start; // hot-lap mode bookkeeping
};

struct RaceState {
  int race_tick;
  int gate_drop_tick;
  int time_limit_ticks;  // 0 for a lap race
  int extra_laps;
  int race_laps;
  int halfway_lap;
  int false_start_hold;
  float local_grid_position[3];
  bool results_final;
  int best_lap_ticks, last_lap_ticks;
  bool hot_lap_mode;
  bool started;  // a race has been started on a loaded track

  StandingEntry standings[max_riders];
  int standings_count;
  StandingEntry results[max_riders];
  int results_count;

  int roster_order[roster_size];
  int roster_next;  // next unused roster position of this race start
  float gate_values[160];
  float gate_base_orientation[160][9];

  // Online values; offline they stay at their defaults (not online, client slot -1).
  bool online;
  bool has_grid_position;  // false in warmup
  int client_slot;
  float off_course_bias, off_course_scale;
  bool results_printed;

  // The track to race on when no demo decides it: null takes the track menu's selection.
  const char* requested_track;
  bool reload_requested;  // "forcereload": load the track again even when it is the same
  bool hot_lap_recording; // this lap of the player is being recorded into "lastlap.kvdemo"
};

extern RaceState race;
extern RaceSlot race_slots[max_riders];

// Where the official results of a headless run are printed (standard output by default).
extern FILE* race_results_out;

// (Re)starts a race. lineup: 160 codes, or null for hot-lap mode (time trial). load_demo asks
// for the selected demo; record_demo starts recording. laps is the extra lap count; skill picks
// the robots' racing-line file (0 novice, 1 amateur, 2 expert).
void start_race(const int* lineup, bool load_demo, bool record_demo, int time_limit_ticks, int laps,
                int skill);
// The first race start of the program (start-up, once the slots are reset): the session's
// lineup codes with --robots N applied, --laps N (else 1000 laps), no time limit, --record-demo
// and the "skill" setting.
void start_first_race(bool demo_loaded);
// Advances the race by one tick.
void race_tick_step();
// Releases every rider and the track (program shutdown).
void race_shutdown();

// True once the official results are final (--quit-after-race ends the program then).
bool race_results_are_final();
// One line per rider of the official results: position, rider number, name, bike, laps, total
// time and best lap as m:ss.mmm.
void race_print_results(FILE* out);
// m:ss.mmm of whole ticks, computed in integers.
void format_race_time(int ticks, char* out, int size);

// Timing of one rider against the loaded track's checkpoint sequence.
int laps_completed(const Rider* rider);
int lap_ticks(const Rider* rider, int n);
int best_lap(const Rider* rider);
bool has_finished(Rider* rider);
bool is_off_course(const Rider* rider);
bool is_ghost(int slot);
// The index of the checkpoint that ends lap n (n >= 1).
int lap_end_checkpoint(int n);
// Whether checkpoint idx ends a lap.
bool checkpoint_ends_lap(int idx);
// Crossing tick of checkpoint idx of a slot, -1 when it has none.
int crossing_tick(int slot, int idx);
// The timing step of one rider with its front wheel at front[3] (x, y, z).
void timing_step(int slot, const float front[3]);
// Rebuilds the standings, fixes timed race lengths and computes the results once all are done.
void update_standings();
// Standings order: more checkpoints, then earlier last crossing, then the lower slot.
bool standing_before(const StandingEntry& a, const StandingEntry& b);
// The cutting penalty (ticks) of a slot against the current standings.
int cutting_penalty(int slot);

// Robot roster: rider number text, personality and bike of entry i.
struct RosterEntry {
  const char* number;
  const char* personality;
  const char* bike;
  const char* textures[4];  // body, head, bike, wheels; null for the bike's own
};
const RosterEntry* roster_entry(int index);
// Seeds the program generator with race_tick and shuffles race.roster_order.
void roster_shuffle();
// Grid place of lineup index k: x, z and heading (y is left to the terrain).
void grid_place(int k, float* x, float* z, float* heading);
// Stands the bike, reset, at (x, z) facing heading with its frame at height y, lifted in 0.25 ft
// steps until its wheels clear the ground.
void lift_onto_ground(Rider* rider, float x, float y, float z, float heading);
// Maps the four old bike names to current ones; null gives "rm125".
const char* map_bike_name(const char* name);
// Clears the race's per-slot records (not the riders).
void race_slots_clear();
