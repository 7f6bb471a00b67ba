// Racing lines: the per-track, per-skill store learned from riders' timing, its file, pruning,
// the line chains the auto pilot follows, and the learning hooks of the timing step.
#pragma once
#include <cstdint>

#include "core/array.h"
#include "core/session.h"

struct Rider;

constexpr int lines_per_slot = 45;
constexpr int lines_kept_at_start = 43;       // so that learning always has room
constexpr int line_no_time = 1000000;         // ticks: "never measured"
constexpr int line_max_samples = 65536;
constexpr int line_cost_modes = 3;            // modes with a chain; mode 3 explores
constexpr int line_counter_cap = 65535;
constexpr int line_sum_cap = 100000000;
constexpr int line_never_picked = -1000000;
constexpr int line_sample_ticks = 32;         // a sample every quarter second

// One sample of a line: frame body position (ft), speed (ft/s, negative when airborne) and
// lean (rad).
struct LineSample {
  float x, y, z, speed, lean;
};
static_assert(sizeof(LineSample) == 20, "the sample is five floats");

// An entry of a slot; sample_count 0 marks a free entry.
struct RacingLine {
  LineSample* samples;
  int sample_count;
  int learned_a, learned_b;  // ticks of the run that made it: its segment, and with the next
  int runs;
  int best_a, best_b;
  int sum_a, sum_b;
  int failures;
  int last_picked;  // race_tick of the last pick
  int line_id;      // process-wide unique; 0 means none
};

struct LineStore {
  int first_switch_count;
  int normal_switch_count;
  int slot_count;                           // first + normal
  RacingLine (*slots)[lines_per_slot];      // slot_count rows, null when there are none
  int* chains[line_cost_modes];             // slot_count line ids each (0 = none)
  int loaded_skill;                         // -1 when nothing was loaded for this track
};

extern LineStore line_store;

// Racing-line state a rider slot carries besides the Rider record.
struct RiderLines {
  Array<LineSample> buffers[2];  // by segment index mod 2
  int cancel_mask;               // bit = segment index mod 2
  int picked_line[4];            // line ids by segment index mod 4 (the auto pilot writes them)
  // The auto pilot's own copy of the line it follows and its position index on it.
  Array<LineSample> path;
  int path_index;
};

extern RiderLines rider_lines[max_riders];

// Outcome of offering a learned run to a slot.
enum LineOffer { line_learned, line_canceled, line_duplicate, line_too_slow, line_no_slot };

// Resizes the store for a track's switch points and empties it (the timing loader's hook).
void lines_create(int first_switch_count, int normal_switch_count);
// Frees every line and the store itself.
void lines_destroy();
// Empties every entry (free values), keeps the slots.
void lines_clear();
// The store's file name for a skill (0 novice, 1 amateur, 2 expert): "lines_novice" and so on.
const char* lines_file_name(int skill);

// Reads a line file into the cleared store; false when the file is missing or refused.
bool lines_load_file(const char* name);
// Writes the store to path through a temporary file renamed over it; false on failure.
bool lines_save_file(const char* path);
// Clears and loads the skill's file of the loaded track, unless that skill is already loaded.
void lines_load(int skill);
// Writes the loaded skill's file under the home folder when learning is on.
void lines_save();
void lines_prune();
void lines_compute_chains();
void lines_reset_pick_ticks();

// Segment index after passing checkpoint_count checkpoints, and its store slot (-1 for none).
int segment_of(int checkpoint_count);
int slot_of(int segment);
// Cost of a line in mode 0..3 (ticks, lower is better).
int64_t line_cost(const RacingLine* line, int mode);
// Index of the weakest line of a slot that may be replaced, -1 when none qualifies.
int lines_eviction_choice(int slot);
// The entry of slot with line id, or null.
RacingLine* lines_find(int slot, int line_id);
int lines_count(int slot);
// Whether line b of the next slot continues the turn where line a ends.
bool lines_connect(const RacingLine* a, const RacingLine* b);
// Centre (x, z) of the circle through three samples' horizontal positions; collinear samples
// put it 1000000 first-step lengths off to the side.
void line_turn_centre(const LineSample& p1, const LineSample& p2, const LineSample& p3, double* cx, double* cz);
// Whether two lines cross in the horizontal plane.
bool lines_cross(const RacingLine* a, const RacingLine* b);
// Offers samples of a run (times a over its segment, b with the next) to a slot.
LineOffer lines_offer(int slot, const LineSample* samples, int count, int a, int b);
// Puts a copy of samples into the first free entry of slot (tests and loaders); its index or -1.
int lines_insert(int slot, const LineSample* samples, int count);

// The timing step's calls: before the crossing test (crash, then sampling) and on a crossing
// (after it is recorded, before checkpoints_passed grows; offset = index - checkpoints_passed).
void lines_on_crash(Rider* rider);
void lines_sample(Rider* rider);
void lines_on_crossing(Rider* rider, int offset);
// Both of the above calls before the crossing test, in their order.
void lines_before_crossing(Rider* rider);
// Empties a slot's buffers and picks (race start).
void rider_lines_reset(int slot);

// Plugs the store and the personalities into the race and the timing loader.
void lines_install_hooks();
